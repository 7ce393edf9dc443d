// The checks both fuzz drivers rely on: a driver that books the wrong cards or waves a fault
// through would let a broken rule pass unseen, and one that flags the rules' own trust in their
// caller would drown real findings.
#include "rules_invariants.hpp"

#include <gtest/gtest.h>

#include "rules/state.hpp"
#include "state_builder.hpp"

namespace tornquil {
namespace {

using invariants::GameWatch;
using testing::card;

// Applies `action` after booking it; the game must go on.
template <std::size_t N>
std::optional<std::string> step(State<N>& state, GameWatch<N>& watch, const Action& action,
                                bool listed) {
  watch.record(state, action, listed);
  EXPECT_FALSE(state.apply_action_in_place(action));
  return watch.check_state(state);
}

TEST(GameWatch, BooksCardsAnActionInventsOrDiscardsSoThatTheRulesTrustPasses) {
  State<2> state = State<2>::create(7);
  GameWatch<2> watch(state);
  const Hand hand = state.current_player().hand;
  // A card no hand holds goes onto the table all the same.
  EXPECT_EQ(step(state, watch, action::Play{card("Ks")}, false), std::nullopt);
  // A discard naming one held card and one not takes only the held one.
  state.action_type = ActionType::discard(1);
  EXPECT_EQ(step(state, watch, action::Discard{Hand{hand[1], card("Kh")}}, false), std::nullopt);
  // A combo naming one held card twice takes one copy and invents the other.
  const Card held = state.current_player().hand[0];
  EXPECT_EQ(step(state, watch, action::Combo{ComboCards{held, held}}, false), std::nullopt);
}

TEST(GameWatch, CatchesCardsThatAppearOrVanishAndOverfullHands) {
  const State<3> dealt = State<3>::create(11);
  const GameWatch<3> watch(dealt);
  EXPECT_EQ(watch.check_state(dealt), std::nullopt);

  State<3> vanished = dealt;
  (void)vanished.table.tavern_deck.pop_back();
  EXPECT_EQ(watch.check_state(vanished), "cards appeared or vanished");

  State<3> duplicated = dealt;
  duplicated.table.discard_pile.push_back(duplicated.players[0].hand[0]);
  EXPECT_EQ(watch.check_state(duplicated), "cards appeared or vanished");

  State<3> overfull = dealt;
  overfull.players[1].hand.push_back(overfull.table.tavern_deck.pop_back());
  EXPECT_EQ(watch.check_state(overfull), "a hand holds more than its size");
}

TEST(GameWatch, AllowsOnlyTheFaultsTheRulesAreEntitledTo) {
  const State<2> state = State<2>::create(3);
  GameWatch<2> watch(state);
  EXPECT_EQ(watch.check_has_actions(true), "a reachable state has no action");

  watch.record(state, action::Yield{}, true);
  EXPECT_EQ(watch.judge_fault(invariants::damage_limit),
            "a listed action faulted: That's a lot of damage!");

  watch.record(state, action::Play{state.current_player().hand[0]}, false);
  EXPECT_EQ(watch.judge_fault(invariants::damage_limit), std::nullopt);
  EXPECT_EQ(watch.judge_fault("boom"), "an unlisted action faulted: boom");
  EXPECT_NE(watch.judge_fault(invariants::not_a_seat), std::nullopt);
  EXPECT_NE(watch.judge_fault(invariants::pile_overflow), std::nullopt);
  // Once off the list, a phase without actions is the caller's doing.
  EXPECT_EQ(watch.check_has_actions(true), std::nullopt);

  watch.record(state, action::ChangePlayer{PlayerId{2}}, false);
  EXPECT_EQ(watch.judge_fault(invariants::not_a_seat), std::nullopt);
}

TEST(GameWatch, AllowsAPileToOverflowOnlyOnceActionsInventedMoreCardsThanTheDeckHolds) {
  const State<1> state = State<1>::create(5);
  GameWatch<1> watch(state);
  const Action invented = action::AnimalCombo{card("Kc"), card("Kc")};
  watch.record(state, invented, false);
  EXPECT_NE(watch.judge_fault(invariants::pile_overflow), std::nullopt);  // 52 + 2 cards
  watch.record(state, invented, false);
  EXPECT_EQ(watch.judge_fault(invariants::pile_overflow), std::nullopt);  // 56 cards
}

}  // namespace
}  // namespace tornquil
