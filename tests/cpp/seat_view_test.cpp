#include "rules/seat_view.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <variant>
#include <vector>

#include "players/random_player.hpp"
#include "state_builder.hpp"

namespace tornquil {
namespace {

using testing::card;
using testing::enemy;
using testing::hand;
using testing::StateBuilder;

constexpr PlayerId seat0{0};

// Three players, seat 0 to move: the Jc on top of the tavern deck was killed exactly, and seat 2
// drew a Qd that had been placed the same way.
StateBuilder<3> three_seat_table() {
  StateBuilder<3> builder;
  builder.castle({enemy("Kh"), enemy("Ks"), enemy("Qc"), enemy("Qh"), enemy("Js"), enemy("Jd", 7)})
      .discard_pile("4c 9h")
      .attack_cards("3d 4d")
      .hand(0, "2s 5h 7c")
      .turn(0)
      .phase(ActionType::play_cards());
  return builder;
}

State<3> three_seat_state() {
  return three_seat_table()
      .tavern("Ah 6s 8d jester Jc")
      .hand(1, "2h 3c 9s")
      .hand(2, "Qd 10c 5d")
      .build();
}

// The same public table and counts, the hidden cards and the castle's hidden order arranged
// otherwise, and another random seed.
State<3> three_seat_state_rearranged() {
  State<3> state =
      three_seat_table()
          .tavern("10c 9s jester Ah Jc")
          .hand(1, "5d 8d 6s")
          .hand(2, "3c Qd 2h")
          .castle({enemy("Ks"), enemy("Kh"), enemy("Qh"), enemy("Qc"), enemy("Js"), enemy("Jd", 7)})
          .build();
  state.rng_seed = 987654321;
  return state;
}

using CardCounts = std::array<int, 5 * 14>;

template <std::size_t N>
CardCounts card_counts(const State<N>& state) {
  CardCounts counts{};
  const auto add = [&](const auto& cards) {
    for (const Card c : cards)
      ++counts[static_cast<std::size_t>(c.suit) * 14 + static_cast<std::size_t>(c.value)];
  };
  add(state.table.tavern_deck);
  add(state.table.discard_pile);
  add(state.table.attack_cards);
  for (const Player& player : state.players) add(player.hand);
  for (const Enemy& e : state.table.castle_deck) {
    ++counts[static_cast<std::size_t>(e.card().suit) * 14 +
             static_cast<std::size_t>(e.card().value)];
  }
  return counts;
}

// What a world must share with the state it was drawn from. Equal views cover every public fact,
// the counts and the seat's hand; the rest are checked on their own, since the view is made by the
// code under test.
template <std::size_t N>
void expect_consistent(const State<N>& state, const State<N>& world, PlayerId seat) {
  EXPECT_EQ(card_counts(world), card_counts(state)) << "cards appeared or vanished";
  EXPECT_EQ(world.players[seat.index], state.players[seat.index]);
  EXPECT_EQ(world.table.discard_pile, state.table.discard_pile);
  if (!state.table.castle_deck.empty()) {
    EXPECT_EQ(world.table.castle_deck.back(), state.table.castle_deck.back());
  }
  for (std::size_t i = 0; i < state.table.castle_deck.size(); ++i) {
    EXPECT_EQ(world.table.castle_deck[i].card().value, state.table.castle_deck[i].card().value)
        << "an enemy left its group at " << i;
  }
  EXPECT_EQ(seat_view(world, seat), seat_view(state, seat)) << "the seat could tell them apart";
  if (seat == state.has_turn) {
    EXPECT_EQ(world.get_action_space(), state.get_action_space());
  }
}

TEST(SeatView, StatesDifferingOnlyInHiddenFactsLookAlikeAndGiveTheSameWorlds) {
  const State<3> state = three_seat_state();
  const State<3> other = three_seat_state_rearranged();
  ASSERT_NE(state, other);
  EXPECT_EQ(seat_view(state, seat0), seat_view(other, seat0));
  for (std::uint64_t seed = 0; seed < 50; ++seed) {
    StdRng first = StdRng::seed_from_u64(seed);
    StdRng second = StdRng::seed_from_u64(seed);
    EXPECT_EQ(sample_world(state, seat0, first), sample_world(other, seat0, second))
        << "seed " << seed;
    EXPECT_EQ(first, second) << "the draws used differ, seed " << seed;
  }
}

TEST(SeatView, EveryPublicFactAndTheSeatsOwnHandTellStatesApart) {
  const State<3> state = three_seat_state();
  const auto differs = [&](const State<3>& changed) {
    return seat_view(changed, seat0) != seat_view(state, seat0);
  };
  State<3> changed = state;
  changed.players[0].hand = hand("2s 5h 6s");  // a card swapped with the tavern deck
  changed.table.tavern_deck = testing::cards("Ah 7c 8d jester Jc");
  EXPECT_TRUE(differs(changed));
  changed = state;  // the placed Jack lower in the deck
  changed.table.tavern_deck = testing::cards("Ah 6s Jc jester 8d");
  EXPECT_TRUE(differs(changed));
  changed = state;  // the drawn Queen in the other hand
  changed.players[1].hand = hand("2h 3c Qd");
  changed.players[2].hand = hand("9s 10c 5d");
  EXPECT_TRUE(differs(changed));
  changed = state;  // one card moved from a hand to the deck: the counts differ
  changed.players[1].hand = hand("2h 3c");
  changed.table.tavern_deck = testing::cards("9s Ah 6s 8d jester Jc");
  EXPECT_TRUE(differs(changed));
  changed = state;
  changed.table.castle_deck.back().take_damage(1);
  EXPECT_TRUE(differs(changed));
  changed = state;  // the current enemy swapped with the Jack below it
  std::swap(changed.table.castle_deck[4], changed.table.castle_deck[5]);
  EXPECT_TRUE(differs(changed));
  changed = state;
  changed.table.discard_pile = testing::cards("4c 9s");
  changed.players[1].hand = hand("2h 3c 9h");
  EXPECT_TRUE(differs(changed));
  // Seen from seat 1, seat 0's cards are the hidden ones and seat 1's are not.
  changed = state;
  changed.players[0].hand = hand("5h 2s 9s");
  changed.players[1].hand = hand("2h 3c 7c");
  EXPECT_NE(seat_view(changed, PlayerId{1}), seat_view(state, PlayerId{1}));
  changed.players[1].hand = state.players[1].hand;
  changed.table.tavern_deck = testing::cards("Ah 6s 8d jester Jc");
  changed.players[0].hand = hand("7c 5h 2s");
  changed.players[1].hand = hand("2h 3c 9s");
  EXPECT_EQ(seat_view(changed, PlayerId{1}), seat_view(state, PlayerId{1}));
}

TEST(SampleWorld, KeepsCardsCountsPublicFactsAndTheSeatsHandAlongRandomGames) {
  const auto games = [](auto tag) {
    constexpr std::size_t N = decltype(tag)::value;
    StdRng sampling = StdRng::seed_from_u64(N);
    for (std::uint64_t game = 0; game < 6; ++game) {
      RandomPlayer player(game);
      State<N> state = State<N>::create(100 + game);
      for (int step = 0; step < 300; ++step) {
        for (std::size_t seat = 0; seat < N; ++seat) {
          expect_consistent(state, sample_world(state, PlayerId{seat}, sampling), PlayerId{seat});
          if (::testing::Test::HasFailure()) {
            FAIL() << N << " players, game " << game << ", step " << step << ", seat " << seat;
          }
        }
        GameStatus<N> status = state.take_action(player.play(state));
        if (std::holds_alternative<GameResult>(status)) break;
        state = std::get<State<N>>(status);
      }
    }
  };
  games(std::integral_constant<std::size_t, 1>{});
  games(std::integral_constant<std::size_t, 2>{});
  games(std::integral_constant<std::size_t, 3>{});
  games(std::integral_constant<std::size_t, 4>{});
}

TEST(SampleWorld, PubliclyPlacedRoyalsStayWhereTheyAre) {
  const State<3> state = three_seat_state();
  StdRng sampling = StdRng::seed_from_u64(3);
  for (int i = 0; i < 200; ++i) {
    const State<3> world = sample_world(state, seat0, sampling);
    EXPECT_EQ(world.table.tavern_deck.back(), card("Jc"));
    EXPECT_EQ(world.players[2].hand[0], card("Qd"));
    expect_consistent(state, world, seat0);
  }
}

TEST(SampleWorld, MovesEveryHiddenFactAcrossSamples) {
  const State<2> state = State<2>::create(21);
  StdRng sampling = StdRng::seed_from_u64(5);
  const Hand other_hand = state.players[1].hand;
  std::vector<Card> unseen(state.table.tavern_deck.begin(), state.table.tavern_deck.end());
  unseen.insert(unseen.end(), other_hand.begin(), other_hand.end());
  std::vector<bool> reached_other_hand(unseen.size(), false);
  std::vector<bool> reached_top(unseen.size(), false);
  bool castle_moved = false;
  bool seed_moved = false;
  for (int i = 0; i < 400; ++i) {
    const State<2> world = sample_world(state, seat0, sampling);
    for (std::size_t u = 0; u < unseen.size(); ++u) {
      const Hand& h = world.players[1].hand;
      if (std::find(h.begin(), h.end(), unseen[u]) != h.end()) reached_other_hand[u] = true;
      if (world.table.tavern_deck.back() == unseen[u]) reached_top[u] = true;
    }
    // Below the current Jack: the other three Jacks and both higher groups.
    for (std::size_t e = 0; e + 1 < state.table.castle_deck.size(); ++e) {
      castle_moved = castle_moved || world.table.castle_deck[e] != state.table.castle_deck[e];
    }
    seed_moved = seed_moved || world.rng_seed != state.rng_seed;
  }
  for (std::size_t u = 0; u < unseen.size(); ++u) {
    EXPECT_TRUE(reached_other_hand[u]) << "unseen card " << u << " never dealt to the other seat";
    EXPECT_TRUE(reached_top[u]) << "unseen card " << u << " never on top of the tavern deck";
  }
  EXPECT_TRUE(castle_moved);
  EXPECT_TRUE(seed_moved);
}

TEST(SampleWorld, WithNothingHiddenOnlyTheSeedIsDrawn) {
  // One seat and an empty tavern deck: the seat sees every card; the last enemy has no group.
  State<1> state = testing::StateBuilder<1>()
                       .castle({enemy("Kc", 12)})
                       .hand(0, "3s 9d")
                       .discard_pile("Ah 2c")
                       .phase(ActionType::play_cards())
                       .build();
  StdRng sampling = StdRng::seed_from_u64(8);
  const State<1> world = sample_world(state, seat0, sampling);
  State<1> expected = state;
  expected.rng_seed = world.rng_seed;
  EXPECT_EQ(world, expected);
  EXPECT_NE(sample_world(state, seat0, sampling).rng_seed, world.rng_seed);
}

}  // namespace
}  // namespace tornquil
