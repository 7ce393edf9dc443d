// The solver's position keys: equal positions meet whatever the order of their hands, and every
// field that decides the future tells positions apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "solver/discard_children.hpp"
#include "solver/position_key.hpp"
#include "solver/search.hpp"
#include "state_builder.hpp"

namespace tornquil::solver {
namespace {

using namespace tornquil::testing;

State<2> base_position() {
  return StateBuilder<2>()
      .hand(0, "5c 2s Ad 9h")
      .hand(1, "3h 7s")
      .castle({enemy("Ks"), enemy("Qd", 12, 5)})
      .tavern("4c 6d 8s 10h")
      .discard_pile("2h 3c 5s")
      .attack_cards("7c 4s")
      .phase(ActionType::discard(10))
      .turn(1)
      .level(7)
      .build();
}

TEST(PositionKey, HandsInAnotherOrderMeet) {
  State<2> reordered = base_position();
  reordered.players[0].hand = hand("9h Ad 5c 2s");
  EXPECT_EQ(position_key(reordered), position_key(base_position()));
}

TEST(PositionKey, CardsLeftBehindPastTheEndOfAPileAreNotKeyed) {
  State<2> drawn = base_position();
  drawn.table.tavern_deck.pop_back();  // the popped card's bytes stay in the slot
  State<2> built = base_position();
  built.table.tavern_deck = cards("4c 6d 8s");
  EXPECT_EQ(position_key(drawn), position_key(built));
}

// A sequence of the state (a pile, the castle deck) is keyed in fixed blocks, a short one read
// whole and masked and the end of a longer one read again with the block before it. For every
// length from `shortest` the key of the first items of `all` must equal that of `all` cut to
// that length (nothing left past the end counts), differ from every shorter one's, and change
// with each of the `variations` of those items (`vary(items, i)` makes the i-th).
template <typename Sequence, typename KeyOf, typename Vary>
void expect_keyed_by_every_length(const Sequence& all, std::size_t shortest, KeyOf key_of,
                                  Vary vary) {
  std::vector<PositionKey> keys;
  for (std::size_t length = shortest; length <= all.size(); ++length) {
    Sequence built;
    for (std::size_t i = 0; i < length; ++i) built.push_back(all[i]);
    Sequence cut = all;
    cut.resize_down(length);  // the rest stays past the end
    const PositionKey key = key_of(built);
    EXPECT_EQ(key_of(cut), key) << length << " items";
    for (const PositionKey& shorter : keys) EXPECT_FALSE(key == shorter) << length << " items";
    keys.push_back(key);
    for (std::size_t i = 0; i + 1 < length; ++i) {
      Sequence varied = built;
      vary(varied, i);
      EXPECT_FALSE(key_of(varied) == key) << length << " items, variation " << i;
    }
  }
}

// Piles of every length, told apart by every swap of two neighbours.
TEST(PositionKey, PilesOfEveryLengthAreKeyedByTheirCardsInOrderAndNothingPastTheirEnd) {
  const Pile deck = cards("As 2s 3s 4s 5s 6s 7s 8s 9s 10s Ah 2h 3h 4h 5h 6h 7h 8h 9h 10h");
  const auto key_with_discards = [](const Pile& pile) {
    State<2> state = base_position();
    state.table.discard_pile = pile;
    return position_key(state);
  };
  expect_keyed_by_every_length(deck, 0, key_with_discards,
                               [](Pile& pile, std::size_t i) { std::swap(pile[i], pile[i + 1]); });
}

// Castle decks of every depth, told apart by damage to any enemy below the current one.
TEST(PositionKey, CastleDecksOfEveryDepthAreKeyedByTheirEnemiesAndNothingPastTheirEnd) {
  CastleDeck all;
  for (const char* code :
       {"Kh", "Kd", "Ks", "Kc", "Qh", "Qd", "Qs", "Qc", "Jh", "Jd", "Js", "Jc"}) {
    all.push_back(enemy(code));
  }
  const auto key_with_castle = [](const CastleDeck& castle) {
    State<2> state = base_position();
    state.table.castle_deck = castle;
    return position_key(state);
  };
  expect_keyed_by_every_length(all, 1, key_with_castle,
                               [](CastleDeck& castle, std::size_t i) { castle[i].take_damage(1); });
}

TEST(PositionKey, EveryFieldThatDecidesTheFutureTellsPositionsApart) {
  const std::vector<std::pair<std::string, std::function<void(State<2>&)>>> changes = {
      {"tavern order", [](State<2>& s) { s.table.tavern_deck = cards("6d 4c 8s 10h"); }},
      {"discard order", [](State<2>& s) { s.table.discard_pile = cards("3c 2h 5s"); }},
      {"attack order", [](State<2>& s) { s.table.attack_cards = cards("4s 7c"); }},
      {"a card to the other hand",
       [](State<2>& s) {
         s.players[0].hand = hand("5c 2s Ad");
         s.players[1].hand = hand("3h 7s 9h");
       }},
      {"hands swapped", [](State<2>& s) { std::swap(s.players[0].hand, s.players[1].hand); }},
      {"a card from the tavern to the discard pile",
       [](State<2>& s) { s.table.discard_pile.push_back(s.table.tavern_deck.pop_back()); }},
      {"random seed", [](State<2>& s) { ++s.rng_seed; }},
      {"yields in a row", [](State<2>& s) { s.times_yielded = 1; }},
      {"seat to move", [](State<2>& s) { s.has_turn = PlayerId{0}; }},
      {"discard amount", [](State<2>& s) { s.action_type = ActionType::discard(11); }},
      {"phase", [](State<2>& s) { s.action_type = ActionType::play_cards(); }},
      {"level", [](State<2>& s) { s.level = 8; }},
      {"enemy health", [](State<2>& s) { s.table.castle_deck.back().take_damage(1); }},
      {"enemy attack", [](State<2>& s) { s.table.castle_deck.back().decrease_attack(1); }},
      {"enemy jester", [](State<2>& s) { s.table.castle_deck.back().apply_jester(); }},
      {"enemies below", [](State<2>& s) { s.table.castle_deck[0] = enemy("Kh"); }},
  };
  std::vector<PositionKey> keys{position_key(base_position())};
  for (const auto& [name, change] : changes) {
    State<2> changed = base_position();
    change(changed);
    const PositionKey key = position_key(changed);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      EXPECT_FALSE(key == keys[i]) << name << " meets change " << i;
    }
    keys.push_back(key);
  }
}

TEST(PositionKey, CountsOfPlayersTellEqualLookingPositionsApart) {
  const State<1> one = StateBuilder<1>().hand(0, "5c").castle({enemy("Js")}).build();
  State<2> two = StateBuilder<2>().hand(0, "5c").castle({enemy("Js")}).build();
  two.max_hand_size = one.max_hand_size;
  EXPECT_FALSE(position_key(one) == position_key(two));
}

// The keys the solver derives from a parent's (a table key kept across a move, a discard's key
// made without applying it) against keys computed afresh, at every step of random games.
template <std::size_t N>
void derived_keys_agree_over_random_games(std::uint64_t seed) {
  std::mt19937_64 random(seed);
  int discard_positions = 0;
  for (int game = 0; game < 30; ++game) {
    State<N> state = State<N>::create(random());
    while (true) {
      const std::vector<Action> actions = state.get_action_space();
      const PositionKey table = table_key(state);
      std::array<SeatScan, N> seats;
      for (std::size_t seat = 0; seat < N; ++seat)
        seats[seat] = scan_seat(state.players[seat].hand);
      for (const Action& action : actions) {
        GameStatus<N> status = state.take_action(action);
        const auto* child = std::get_if<State<N>>(&status);
        if (child == nullptr) continue;
        if (keeps_table_key(state, *child, action)) {
          ASSERT_EQ(table_key(*child), table) << text(state) << " " << text(action);
        }
        // The hands scanned anew only where they may have changed.
        const HandsScan<N> reused = scan_hands(*child, state, seats);
        ASSERT_EQ(position_key(table_key(*child), *child, reused.codes), position_key(*child));
        ASSERT_EQ(reused.worth, hands_worth(*child, kOrderWeights));
        ASSERT_EQ(reused.summary.value, summarise_hands(*child).value);
        ASSERT_EQ(reused.summary.diamonds, summarise_hands(*child).diamonds);
      }
      if (state.action_type.kind() == ActionType::Kind::Discard) {
        ++discard_positions;
        const DiscardChildren<N> discards(state, table);
        std::size_t absorbing = 0;
        for (unsigned mask = 1; mask < discards.subsets(); ++mask) {
          if (!discards.absorbs(mask)) continue;
          ++absorbing;
          const Action discard =
              action::Discard{cards_at<max_hand_capacity>(state.current_hand(), mask)};
          ASSERT_NE(std::find(actions.begin(), actions.end(), discard), actions.end());
          const State<N> child = std::get<State<N>>(state.take_action(discard));
          ASSERT_EQ(discards.key(mask), position_key(child)) << text(state) << " " << mask;
          EXPECT_EQ(discards.score(mask), move_score(state, child, discard));
          EXPECT_EQ(discards.cannot_win(mask), cannot_win(child));
        }
        ASSERT_EQ(absorbing, actions.size()) << text(state);
      }
      GameStatus<N> status = state.take_action(actions[random() % actions.size()]);
      if (std::holds_alternative<GameResult>(status)) break;
      state = std::get<State<N>>(status);
    }
  }
  EXPECT_GT(discard_positions, 10);
}

TEST(PositionKey, KeysDerivedFromTheParentAgreeWithKeysComputedAfresh) {
  derived_keys_agree_over_random_games<1>(1);
  derived_keys_agree_over_random_games<2>(2);
  derived_keys_agree_over_random_games<3>(3);
  derived_keys_agree_over_random_games<4>(4);
}

}  // namespace
}  // namespace tornquil::solver
