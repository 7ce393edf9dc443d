// The Hearts shuffle drawn once for many moves from one position, and the taking of the shuffled
// cards in one go: both must leave exactly the bytes the plain rules leave, since the solver keys
// and compares what they make.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "rules/state.hpp"
#include "state_builder.hpp"

namespace tornquil {
namespace {

using testing::cards;

template <typename T>
bool same_bytes(const T& a, const T& b) {
  return std::memcmp(static_cast<const void*>(&a), static_cast<const void*>(&b), sizeof(T)) == 0;
}

// Every action of every position of `games` random games, applied with one draw kept for the
// whole run and without: the draw is stale for most positions and fresh for the Hearts plays
// after the first from each.
template <std::size_t N>
void expect_draws_change_nothing(int games) {
  HeartsDraw draw;
  std::uint64_t random = 0x9E3779B97F4A7C15ULL * N;
  std::size_t hearts_plays = 0;
  for (int game = 0; game < games; ++game) {
    State<N> state = State<N>::create(static_cast<std::uint64_t>(game) + 100 * N);
    for (int step = 0; step < 400; ++step) {
      const std::vector<Action> actions = state.get_action_space();
      for (const Action& action : actions) {
        State<N> plain = state;
        State<N> drawn = state;
        const std::optional<GameResult> plain_result = plain.apply_action_in_place(action);
        const std::optional<GameResult> drawn_result = drawn.apply_action_in_place(action, &draw);
        ASSERT_EQ(plain_result, drawn_result);
        if (plain_result) continue;  // the state is left part-way: nothing to compare
        ASSERT_EQ(plain, drawn);
        ASSERT_TRUE(same_bytes(plain, drawn)) << "players " << N << ", game " << game;
        hearts_plays += plain.rng_seed != state.rng_seed ? 1 : 0;
      }
      random = random * 6364136223846793005ULL + 1442695040888963407ULL;
      if (state.apply_action_in_place(actions[(random >> 33) % actions.size()])) break;
    }
  }
  EXPECT_GT(hearts_plays, 100U) << "the games must draw often for the comparison to mean much";
}

TEST(HeartsDraw, LeavesTheStatesOfThePlainRulesForEveryActionOfRandomGames) {
  expect_draws_change_nothing<1>(500);
  expect_draws_change_nothing<2>(500);
  expect_draws_change_nothing<3>(500);
  expect_draws_change_nothing<4>(500);
}

// A draw kept from another position must not be used for a pile it was not drawn for, however
// close: the same cards in another order, one card fewer, or another seed.
TEST(HeartsDraw, DrawsAgainForAnotherSeedOrPile) {
  const Pile first = cards("2c 4c 6c 8c 10c 3h");
  Pile reordered = cards("4c 2c 6c 8c 10c 3h");
  Pile shorter = first;
  (void)shorter.pop_back();  // the card stays past the end, as a popped card does
  struct Case {
    const char* what;
    std::uint64_t seed;
    Pile pile;
  };
  for (const Case& next : {Case{"the same", 5, first}, Case{"reordered", 5, reordered},
                           Case{"shorter", 5, shorter}, Case{"another seed", 6, first}}) {
    HeartsDraw draw;
    Pile warm = first;
    (void)draw.shuffle(5, warm);
    Pile drawn = next.pile;
    const std::uint64_t drawn_seed = draw.shuffle(next.seed, drawn);
    Pile plain = next.pile;
    StdRng rng = StdRng::seed_from_u64(next.seed);
    const std::uint64_t plain_seed = rng.next_u64();
    shuffle(rng, plain);
    EXPECT_EQ(drawn_seed, plain_seed) << next.what;
    EXPECT_TRUE(same_bytes(drawn, plain)) << next.what;
  }
}

// Taking the shuffled cards in one go writes every slot the card-by-card moves write, for every
// split of the pile and every size of the tavern deck below which they go.
TEST(HealFromShuffledDiscard, WritesTheBytesOfTakingCardByCard) {
  const Pile deck = cards("As 2s 3s 4s 5s 6s 7s 8s 9s 10s Ah 2h 3h 4h 5h 6h 7h 8h 9h 10h");
  for (std::size_t discarded = 0; discarded <= 10; ++discarded) {
    for (std::size_t tavern = 0; tavern <= 10; ++tavern) {
      for (std::size_t wanted = 0; wanted <= discarded + 2; ++wanted) {
        Table table;
        for (std::size_t i = 0; i < 20; ++i) table.tavern_deck.push_back(deck[i]);
        table.tavern_deck.resize_down(tavern);  // leftovers past the end, as in a game
        for (std::size_t i = 0; i < discarded; ++i) table.discard_pile.push_back(deck[19 - i]);
        Table card_by_card = table;
        for (std::size_t taken = 0; taken < wanted && !card_by_card.discard_pile.empty(); ++taken) {
          card_by_card.tavern_deck.insert(0, card_by_card.discard_pile.pop_back());
        }
        table.heal_from_shuffled_discard(wanted);
        ASSERT_TRUE(same_bytes(table, card_by_card))
            << discarded << " discarded, " << tavern << " in the tavern deck, " << wanted
            << " wanted";
      }
    }
  }
}

}  // namespace
}  // namespace tornquil
