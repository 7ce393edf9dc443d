// Long runs that find what short tests miss: many games, many threads, a very large tree.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdio>
#include <fstream>

#include "game_search/search_settings.hpp"
#include "players/game_driver.hpp"
#include "players/mcts_player.hpp"
#include "search/manager.hpp"
#include "tree_checks.hpp"

namespace tornquil {
namespace {

template <std::size_t N>
void play_random_games(std::uint64_t first_seed, int games) {
  StdRng choices = StdRng::seed_from_u64(first_seed);
  for (int game = 0; game < games; ++game) {
    StateEnum state(State<N>::create(first_seed + static_cast<std::uint64_t>(game)));
    int steps = 0;
    const GameOutcome outcome = play_to_end(state, [&](const StateEnum& now) {
      if (++steps > 5000) fault("a random game did not end");
      const auto& inner = std::get<State<N>>(now.variant());
      for (const Player& player : inner.players) {
        if (player.hand.size() > inner.max_hand_size) fault("a hand holds too many cards");
      }
      const auto actions = now.get_action_space();
      if (actions.empty()) fault("a state of a running game offers no action");
      return actions[uniform_index(choices, static_cast<std::uint32_t>(actions.size()))];
    });
    ASSERT_TRUE(std::holds_alternative<GameResult>(outcome));
  }
}

TEST(Stress, HundredThousandRandomGamesOverEveryPlayerCountEnd) {
  play_random_games<1>(1'000'000, 25'000);
  play_random_games<2>(2'000'000, 25'000);
  play_random_games<3>(3'000'000, 25'000);
  play_random_games<4>(4'000'000, 25'000);
}

TEST(Stress, DecisionsOnEightAndSixteenThreadsCountEveryPlayout) {
  for (const std::size_t threads : {8U, 16U}) {
    MCTSPlayer player(20'000, threads, threads == 8, 0);
    (void)player.play(State<3>::create(threads));
    std::uint64_t visits = 0;
    for (const RankedAction& entry : *player.ranked_actions()) visits += entry.visits;
    EXPECT_EQ(visits, 20'000U) << threads << " threads";
  }
}

std::size_t resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  std::size_t resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

TEST(Stress, MillionPlayoutTreeAddsUpAndIsFreedAfterwards) {
  [[maybe_unused]] const std::size_t resident_before = resident_bytes();
  [[maybe_unused]] const std::size_t in_use_before = mallinfo2().uordblks;
  [[maybe_unused]] std::size_t resident_with_tree = 0;
  {
    auto mcts = new_game_search<2, false>(State<2>::create(99), policy_from_number(0));
    mcts.playout_n_parallel(1'000'000, 2);
    std::uint64_t visits = 0;
    for (const auto& edge : mcts.tree().root_node().moves()) {
      visits += edge.visits();
      ASSERT_NE(edge.child(), nullptr);
    }
    EXPECT_EQ(visits, 1'000'000U);
    testing::expect_edges_count_every_playout_below(mcts.tree().root_node().node());
    resident_with_tree = resident_bytes();
  }
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // The sanitizers keep their own heaps, which hand the tree pages that earlier tests freed and
  // which none of these figures describes.
  EXPECT_GT(resident_with_tree, resident_before + (64U << 20)) << "the tree should be large";
  EXPECT_LE(mallinfo2().uordblks, in_use_before + (1U << 20));
  malloc_trim(0);
  EXPECT_LT(resident_bytes(), resident_before + (64U << 20));
#endif
}

}  // namespace
}  // namespace tornquil
