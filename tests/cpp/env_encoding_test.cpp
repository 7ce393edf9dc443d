#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "env/encoding.hpp"
#include "state_builder.hpp"

namespace tornquil::testing {
namespace {

using env::action_at;
using env::action_index;
using L = env::ObservationLayout;

TEST(EnvCardIds, NumberEveryCardOnceAndTheJesterLast) {
  std::set<std::size_t> seen;
  for (std::size_t id = 0; id < env::card_ids; ++id) {
    EXPECT_EQ(env::card_id(env::card_of_id(id)), id);
    seen.insert(env::card_id(env::card_of_id(id)));
  }
  EXPECT_EQ(seen.size(), env::card_ids);
  EXPECT_EQ(env::card_id(card("As")), 0U);
  EXPECT_EQ(env::card_id(card("Kc")), 51U);
  EXPECT_EQ(env::card_id(jester_card), env::jester_id);
  EXPECT_EQ(env::royal_id(card("Js")), 0U);
  EXPECT_EQ(env::royal_id(card("Kc")), 11U);
  EXPECT_THROW((void)env::royal_id(card("10c")), InternalFault);
}

// Every index that a rich hand can form names an action that maps back to that index.
TEST(EnvActionIndices, RoundTripForEveryIndexAHandCanForm) {
  const Hand rich = hand("2s 2h 2d 2c As Ah Kc jester");
  std::size_t formed = 0;
  for (std::size_t index = 0; index < env::action_count; ++index) {
    const std::optional<Action> action = action_at(index, rich);
    if (!action) continue;
    ++formed;
    EXPECT_EQ(action_index(*action, rich), index) << text(*action);
  }
  // 53 plays, 208 animal combos, the 11 combos of four Twos, yield, 255 discards, 4 seats.
  EXPECT_EQ(formed, 53U + 208U + 11U + 1U + 255U + 4U);
}

TEST(EnvActionIndices, CombosKeepTheHandsOrderAndNeedEveryNamedSuit) {
  const Hand held = hand("3c 5s 3h");
  const std::size_t hearts_and_clubs = env::combo_block.first + (3 - 2) * 16 + 0b1010;
  EXPECT_EQ(action_at(hearts_and_clubs, held), std::optional<Action>(combo("3c 3h")));
  EXPECT_EQ(action_at(hearts_and_clubs + 1, held), std::nullopt);  // a Three of spades too
}

TEST(EnvActionIndices, ADiscardOfBothJestersTakesTheirFirstPositions) {
  const Hand held = hand("jester 4s jester");
  EXPECT_EQ(action_index(discard("jester"), held), env::discard_block.first + 0b001 - 1);
  EXPECT_EQ(action_index(discard("jester jester"), held), env::discard_block.first + 0b101 - 1);
  EXPECT_THROW((void)action_index(discard("5s"), held), InternalFault);
}

TEST(EnvActionIndices, TheMaskIsTheRulesActionList) {
  const StateEnum state(StateBuilder<2>().hand(0, "2s 2h As 9d").castle({enemy("Jc")}).build());
  std::set<std::string> from_mask;
  const auto mask = env::legal_mask(state);
  for (std::size_t index = 0; index < env::action_count; ++index) {
    if (mask[index]) from_mask.insert(text(*env::legal_action_at(state, index)));
  }
  std::set<std::string> from_rules;
  for (const Action& action : state.get_action_space()) from_rules.insert(text(action));
  EXPECT_EQ(from_mask, from_rules);
}

float at(const std::vector<float>& observation, std::size_t offset) { return observation[offset]; }

TEST(EnvObservation, ARoyalOnTheTavernDeckKeepsItsDepthFromTheTop) {
  // The tavern deck lists its cards from the bottom: ♥Q is third from the top.
  const StateEnum state(
      StateBuilder<1>().hand(0, "4s").tavern("2c Qh 7d 8d").castle({enemy("Jc")}).build());
  const std::vector<float> seen = env::observe(state, 0, env::Information::Own);
  EXPECT_EQ(at(seen, L::tavern_royals + env::royal_id(card("Qh"))), 3.0F);
  EXPECT_EQ(at(seen, L::tavern_royals + env::royal_id(card("Jc"))), 0.0F);
  EXPECT_EQ(at(seen, L::tavern_size), 4.0F);
}

TEST(EnvObservation, CardsNowhereOnTheTableHaveLeftTheGame) {
  const StateEnum state(StateBuilder<1>()
                            .hand(0, "4s")
                            .tavern("2c")
                            .discard_pile("5h")
                            .attack_cards("6h")
                            .castle({enemy("Jc")})
                            .build());
  const std::vector<float> seen = env::observe(state, 0, env::Information::Own);
  float gone = 0;
  for (std::size_t id = 0; id < env::card_ids; ++id) gone += at(seen, L::out_of_game + id);
  // 52 cards less the five in place; a one-player game has no jester.
  EXPECT_EQ(gone, 47.0F);
  EXPECT_EQ(at(seen, L::out_of_game + env::card_id(card("4s"))), 0.0F);
  EXPECT_EQ(at(seen, L::out_of_game + env::card_id(card("Jc"))), 0.0F);
  EXPECT_EQ(at(seen, L::out_of_game + env::card_id(card("Kc"))), 1.0F);  // its castle is gone too
  EXPECT_EQ(at(seen, L::out_of_game + env::jester_id), 0.0F);
}

TEST(EnvObservation, ResamplingKeepsTheSeatsViewAndEveryCard) {
  const StateEnum state(
      StateBuilder<3>()
          .hand(0, "4s 5s")
          .hand(1, "6h 7h Qd")
          .hand(2, "8c 9c")
          .tavern("2c 3c Kd 10d")
          .castle({enemy("Ks"), enemy("Kh"), enemy("Qs"), enemy("Qh"), enemy("Jc")})
          .build());
  const StateEnum other = env::resample_hidden(state, 0, 5);
  EXPECT_EQ(env::observe(other, 0, env::Information::Own),
            env::observe(state, 0, env::Information::Own));
  const auto& before = std::get<State<3>>(state.variant());
  const auto& after = std::get<State<3>>(other.variant());
  EXPECT_EQ(after.players[0], before.players[0]);
  EXPECT_EQ(after.players[1].hand[0], card("Qd"));  // a royal's place is public
  EXPECT_EQ(after.table.tavern_deck[2], card("Kd"));
  EXPECT_EQ(after.table.castle_deck.back(), before.table.castle_deck.back());
  std::multiset<std::string> cards_before;
  std::multiset<std::string> cards_after;
  for (std::size_t seat = 1; seat < 3; ++seat) {
    for (const Card card : before.players[seat].hand) cards_before.insert(text(card));
    for (const Card card : after.players[seat].hand) cards_after.insert(text(card));
  }
  for (const Card card : before.table.tavern_deck) cards_before.insert(text(card));
  for (const Card card : after.table.tavern_deck) cards_after.insert(text(card));
  EXPECT_EQ(cards_after, cards_before);
  for (std::size_t i = 0; i + 1 < after.table.castle_deck.size(); ++i) {
    EXPECT_EQ(after.table.castle_deck[i].card().value, before.table.castle_deck[i].card().value);
  }
}

// Were the hidden cards shuffled from their true order, anyone who knows the seed could undo the
// permutation and read them: a resampled state must come from the seat's view alone.
TEST(EnvObservation, ResamplingDependsOnlyOnWhatTheSeatSees) {
  StateBuilder<3> table;
  table.hand(0, "4s 5s").castle({enemy("Ks"), enemy("Kh"), enemy("Qs"), enemy("Qh"), enemy("Jc")});
  StateBuilder<3> other_table = table;
  const StateEnum state(table.hand(1, "6h 7h Qd").hand(2, "8c 9c").tavern("2c 3c Kd 10d").build());
  State<3> rearranged =
      other_table.hand(1, "9c Qd 2c")
          .hand(2, "10d 6h")
          .tavern("8c 7h Kd 3c")
          .castle({enemy("Kh"), enemy("Ks"), enemy("Qh"), enemy("Qs"), enemy("Jc")})
          .build();
  rearranged.rng_seed = 77;
  const StateEnum other(rearranged);
  ASSERT_NE(other, state);
  for (std::uint64_t seed = 0; seed < 20; ++seed) {
    EXPECT_EQ(env::resample_hidden(other, 0, seed), env::resample_hidden(state, 0, seed));
  }
  EXPECT_NE(env::resample_hidden(state, 0, 1), env::resample_hidden(state, 0, 2));
}

}  // namespace
}  // namespace tornquil::testing
