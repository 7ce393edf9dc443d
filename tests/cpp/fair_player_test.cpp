#include "players/fair_player.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "rules/seat_view.hpp"
#include "state_builder.hpp"

namespace tornquil {
namespace {

using testing::enemy;
using testing::StateBuilder;
using testing::text;

FairSettings repeatable(std::uint64_t iterations) {
  FairSettings settings;
  settings.iterations = iterations;
  settings.seconds = std::nullopt;
  settings.threads = 1;
  settings.seed = 11;
  return settings;
}

template <std::size_t N>
std::vector<RankedAction> ranking_of(const State<N>& state, std::uint64_t iterations = 400) {
  FairPlayer player(repeatable(iterations));
  (void)player.play(state);
  return *player.ranked_actions();
}

bool same(const std::vector<RankedAction>& a, const std::vector<RankedAction>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!(a[i].action == b[i].action) || a[i].visits != b[i].visits) return false;
  }
  return true;
}

// Two states of each player count and phase that the seat to move cannot tell apart (the other
// hands, the tavern deck's order, the enemies to come and the seed differ), and a third that
// differs in something it sees. The player's decisions and rankings agree on the first two and
// differ on the third: it reads no hidden card, and the test would see it if it did.
template <std::size_t N>
void expect_fair(const char* name, const State<N>& state, const State<N>& hidden_changed,
                 const State<N>& visible_changed) {
  SCOPED_TRACE(name);
  ASSERT_EQ(seat_view(state, state.has_turn), seat_view(hidden_changed, state.has_turn));
  ASSERT_NE(seat_view(state, state.has_turn), seat_view(visible_changed, state.has_turn));
  const auto ranking = ranking_of(state);
  EXPECT_TRUE(same(ranking, ranking_of(hidden_changed))) << "the hidden cards changed its search";
  EXPECT_FALSE(same(ranking, ranking_of(visible_changed))) << "it ignored what it sees";
}

TEST(FairPlayer, DecidesAlikeWhateverTheHiddenCardsAreInEveryPhase) {
  {
    // Two players, seat 0 to play.
    StateBuilder<2> table;
    table.castle({enemy("Kh"), enemy("Qs"), enemy("Qd"), enemy("Jc", 5)})
        .discard_pile("4c 9h")
        .hand(0, "2s 5h 7c 8d 3d");
    State<2> a = StateBuilder<2>(table).hand(1, "2h 3c 9s 6d").tavern("Ah 6s 8h 10c").build();
    State<2> b = StateBuilder<2>(table).hand(1, "8h 10c Ah 6s").tavern("9s 6d 2h 3c").build();
    b.table.castle_deck[1] = enemy("Qd");
    b.table.castle_deck[2] = enemy("Qs");
    b.rng_seed = 99;
    State<2> c = a;
    c.table.castle_deck.back().take_damage(3);
    expect_fair("two players, play", a, b, c);
  }
  {
    // Three players, seat 1 discarding to absorb 9.
    StateBuilder<3> table;
    table.castle({enemy("Ks"), enemy("Jh", 4)})
        .hand(1, "5s 4h 3c 9d 2s")
        .turn(1)
        .phase(ActionType::discard(9));
    const State<3> a =
        StateBuilder<3>(table).hand(0, "6c 7h").hand(2, "jester 8s").tavern("10d 2c 3h").build();
    State<3> b =
        StateBuilder<3>(table).hand(0, "3h 2c").hand(2, "10d 8s").tavern("jester 7h 6c").build();
    b.rng_seed = 5;
    State<3> c = a;
    c.action_type = ActionType::discard(7);
    expect_fair("three players, discard", a, b, c);
  }
  {
    // Four players, seat 2 choosing who goes after its jester.
    StateBuilder<4> table;
    table.castle({enemy("Kd"), enemy("Qc", 0, 0, true)})
        .hand(2, "5d 9c")
        .turn(2)
        .phase(ActionType::jester());
    const State<4> a = StateBuilder<4>(table)
                           .hand(0, "2h 3h 4h")
                           .hand(1, "6s")
                           .hand(3, "7d 8d")
                           .tavern("9h 10h Ac")
                           .build();
    const State<4> b = StateBuilder<4>(table)
                           .hand(0, "9h 10h Ac")
                           .hand(1, "8d")
                           .hand(3, "6s 4h")
                           .tavern("2h 3h 7d")
                           .build();
    State<4> c = a;
    c.players[2].hand = testing::hand("5d 10s");
    expect_fair("four players, jester", a, b, c);
  }
  {
    // One player: only the tavern deck's order and the enemies to come are hidden.
    StateBuilder<1> table;
    table.castle({enemy("Kc"), enemy("Ks"), enemy("Jd", 12)}).hand(0, "2s 5h 7c 8d 3d 9s");
    const State<1> a = StateBuilder<1>(table).tavern("Ah 6s 8h 10c 4d").build();
    const State<1> b = StateBuilder<1>(table)
                           .tavern("10c 4d Ah 8h 6s")
                           .castle({enemy("Ks"), enemy("Kc"), enemy("Jd", 12)})
                           .build();
    State<1> c = a;
    c.players[0].hand = testing::hand("2s 5h 7c 8d 3d 10s");
    c.table.tavern_deck = testing::cards("Ah 6s 8h 9s 4d");
    expect_fair("one player, play", a, b, c);
  }
}

TEST(FairPlayer, RanksEveryDistinctMoveWithEveryIteration) {
  const State<2> state = State<2>::create(1000);
  const auto ranking = ranking_of(state, 3000);
  std::uint64_t visits = 0;
  for (const RankedAction& entry : ranking) visits += entry.visits;
  EXPECT_EQ(visits, 3000U);
  ActionBuffer listed;
  state.fill_action_space(listed);
  EXPECT_EQ(ranking.size(), listed.size());
  for (std::size_t i = 1; i < ranking.size(); ++i) {
    EXPECT_GE(ranking[i - 1].visits, ranking[i].visits);
  }
}

TEST(FairPlayer, SecondsBoundAHugeBudgetOnSeveralThreads) {
  FairSettings settings;
  settings.iterations = std::uint64_t{1} << 60;
  settings.seconds = 0.2;
  settings.threads = 3;
  FairPlayer player(settings);
  const auto start = std::chrono::steady_clock::now();
  (void)player.play(State<3>::create(1001));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.5);
  EXPECT_GT(player.ranked_actions()->front().visits, 0U);
}

TEST(FairPlayer, ACheckThatThrowsEndsTheDecisionAndThePlayerDecidesAgainAfterwards) {
  FairSettings settings = repeatable(std::uint64_t{1} << 60);
  settings.threads = 2;
  settings.seconds = 30;
  FairPlayer player(settings);
  const State<2> state = State<2>::create(1002);
  int checks = 0;
  const DecisionCheck check = [&] {
    if (++checks == 3) throw std::runtime_error("interrupted");
  };
  EXPECT_THROW((void)player.play(state, check), std::runtime_error);
  EXPECT_FALSE(player.ranked_actions().has_value());
  FairPlayer quick(repeatable(200));
  EXPECT_NO_THROW((void)quick.play(state));
}

TEST(FairPlayer, TakesAnOnlyMoveWithoutSearching) {
  const State<1> state = StateBuilder<1>()
                             .castle({enemy("Kc"), enemy("Jd")})
                             .hand(0, "3s")
                             .phase(ActionType::discard(2))
                             .build();
  FairPlayer player(repeatable(1U << 30));
  EXPECT_EQ(text(player.play(state)), "Discard([♠3])");
  EXPECT_EQ(player.ranked_actions()->front().visits, 0U);
}

}  // namespace
}  // namespace tornquil
