#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "base/error.hpp"
#include "rules/attack_actions.hpp"
#include "rules/state.hpp"
#include "state_builder.hpp"

namespace tornquil {
namespace {

using testing::StateBuilder;
using testing::text;

std::string attack_list(std::string_view hand) {
  return text(StateBuilder<1>().hand(0, hand).build().get_action_space());
}

std::string discard_list(std::string_view hand, std::uint8_t amount) {
  return text(StateBuilder<1>()
                  .hand(0, hand)
                  .phase(ActionType::discard(amount))
                  .build()
                  .get_action_space());
}

std::size_t count_of(const std::vector<Action>& actions, std::size_t kind) {
  std::size_t count = 0;
  for (const Action& action : actions) count += action.index() == kind ? 1 : 0;
  return count;
}

std::vector<Action> combos_of(std::string_view hand) {
  std::vector<Action> combos;
  for (const Action& action : StateBuilder<1>().hand(0, hand).build().get_action_space()) {
    if (std::holds_alternative<action::Combo>(action)) combos.push_back(action);
  }
  return combos;
}

TEST(AttackActions, EmptyHandCanOnlyYield) { EXPECT_EQ(attack_list(""), "[Yield]"); }

TEST(AttackActions, ListSinglesThenAnimalCombosThenSameValueCombosThenYield) {
  EXPECT_EQ(attack_list("5c 2s Ad 2h 2c"),
            "[Play(♣5), Play(♠2), Play(♦A), Play(♥2), Play(♣2), "
            "AnimalCombo(♦A, ♣5), AnimalCombo(♦A, ♠2), AnimalCombo(♦A, ♥2), AnimalCombo(♦A, ♣2), "
            "Combo([♠2, ♥2]), Combo([♠2, ♣2]), Combo([♥2, ♣2]), Combo([♠2, ♥2, ♣2]), Yield]");
}

TEST(AttackActions, TwoAcesPairOnceWithTheHigherSuitFirst) {
  const std::string expected = "AnimalCombo(♥A, ♠A), Yield]";
  EXPECT_EQ(attack_list("As Ah"), "[Play(♠A), Play(♥A), " + expected);
  EXPECT_EQ(attack_list("Ah As"), "[Play(♥A), Play(♠A), " + expected);
}

TEST(AttackActions, AcePairsWithAnyCardButAJester) {
  EXPECT_EQ(attack_list("Ac jester Kd"),
            "[Play(♣A), Play(Jester), Play(♦K), AnimalCombo(♣A, ♦K), Yield]");
}

TEST(AttackActions, EveryAcePairsWithEveryOtherCard) {
  EXPECT_EQ(attack_list("Ad 9s Ac"),
            "[Play(♦A), Play(♠9), Play(♣A), AnimalCombo(♦A, ♠9), "
            "AnimalCombo(♣A, ♦A), AnimalCombo(♣A, ♠9), Yield]");
}

TEST(AttackActions, ThreeFoursOrThreeFivesComboOnlyInPairs) {
  EXPECT_EQ(text(combos_of("4s 4h 4d")), "[Combo([♠4, ♥4]), Combo([♠4, ♦4]), Combo([♥4, ♦4])]");
  EXPECT_EQ(text(combos_of("5s 5h 5c")), "[Combo([♠5, ♥5]), Combo([♠5, ♣5]), Combo([♥5, ♣5])]");
}

TEST(AttackActions, TwoFivesMakeATotalOfExactlyTen) {
  EXPECT_EQ(text(combos_of("5d 9c 5h")), "[Combo([♦5, ♥5])]");
}

TEST(AttackActions, FourTwosComboInPairsTriplesAndAllFour) {
  const std::vector<Action> combos = combos_of("2s 2h 2d 2c");
  ASSERT_EQ(combos.size(), 6U + 4U + 1U);
  EXPECT_EQ(text(combos[6]), "Combo([♠2, ♥2, ♦2])");
  EXPECT_EQ(text(combos.back()), "Combo([♠2, ♥2, ♦2, ♣2])");
}

TEST(AttackActions, FourThreesComboInPairsAndTriplesOnly) {
  const std::vector<Action> combos = combos_of("3s 3h 3d 3c");
  ASSERT_EQ(combos.size(), 6U + 4U);
  EXPECT_EQ(text(combos.back()), "Combo([♥3, ♦3, ♣3])");
}

TEST(AttackActions, CombosOfDifferentValuesComeInValueOrder) {
  EXPECT_EQ(text(combos_of("5s 3h 5c 3d 2s 2h")),
            "[Combo([♠2, ♥2]), Combo([♥3, ♦3]), Combo([♠5, ♣5])]");
}

TEST(AttackActions, SixesAndHigherNeverCombo) {
  EXPECT_TRUE(combos_of("6s 6h 7s 7h 10c 10d Js Jh").empty());
}

TEST(AttackActions, YieldIsOfferedAfterEveryEarlierYield) {
  const State<4> state = StateBuilder<4>().hand(0, "3s").yielded(3);
  EXPECT_EQ(text(state.get_action_space()), "[Play(♠3), Yield]");
}

TEST(AttackActions, ListTheHandOfThePlayerToMove) {
  const State<2> state = StateBuilder<2>().hand(0, "3s").hand(1, "9h").turn(1);
  EXPECT_EQ(text(state.get_action_space()), "[Play(♥9), Yield]");
}

TEST(DiscardActions, ListEverySubsetWorthTheAmountBySizeThenPosition) {
  EXPECT_EQ(discard_list("2s 3h Kc", 5),
            "[Discard([♣K]), Discard([♠2, ♥3]), Discard([♠2, ♣K]), Discard([♥3, ♣K]), "
            "Discard([♠2, ♥3, ♣K])]");
}

TEST(DiscardActions, FullEightCardHandAtAmountZeroListsAllSubsets) {
  const State<1> state =
      StateBuilder<1>().hand(0, "As 2s 3s 4s 5s 6s 7s 8s").phase(ActionType::discard(0));
  const std::vector<Action> actions = state.get_action_space();
  ASSERT_EQ(actions.size(), 255U);
  EXPECT_EQ(text(actions.front()), "Discard([♠A])");
  EXPECT_EQ(text(actions[8]), "Discard([♠A, ♠2])");
  EXPECT_EQ(text(actions.back()), "Discard([♠A, ♠2, ♠3, ♠4, ♠5, ♠6, ♠7, ♠8])");
}

TEST(DiscardActions, JestersAloneAbsorbOnlyAnAmountOfZero) {
  EXPECT_EQ(discard_list("jester", 0), "[Discard([Jester])]");
  EXPECT_EQ(discard_list("jester 2c", 1), "[Discard([♣2]), Discard([Jester, ♣2])]");
}

TEST(DiscardActions, WholeHandIsTheOnlyChoiceWhenItIsExactlyEnough) {
  EXPECT_EQ(discard_list("4h 6d", 10), "[Discard([♥4, ♦6])]");
}

TEST(JesterActions, SoloGameGivesTheTurnOnlyToItsPlayer) {
  const State<1> state = StateBuilder<1>().phase(ActionType::jester());
  EXPECT_EQ(text(state.get_action_space()), "[ChangePlayer(PlayerId(0))]");
}

TEST(JesterActions, FourPlayerGameListsEverySeatInOrderWhoeverPlayedTheJester) {
  const State<4> state = StateBuilder<4>().hand(2, "5c").turn(2).phase(ActionType::jester());
  EXPECT_EQ(text(state.get_action_space()),
            "[ChangePlayer(PlayerId(0)), ChangePlayer(PlayerId(1)), ChangePlayer(PlayerId(2)), "
            "ChangePlayer(PlayerId(3))]");
}

TEST(ActionSpace, EndedStateStillListsItsPhase) {
  const State<3> state = StateBuilder<3>().hand(0, "2s 2h").ended(GameResult::lost(4));
  EXPECT_EQ(text(state.get_action_space()), "[Play(♠2), Play(♥2), Combo([♠2, ♥2]), Yield]");
  const State<1> discarding =
      StateBuilder<1>().hand(0, "9d").phase(ActionType::discard(9)).ended(GameResult::won());
  EXPECT_EQ(text(discarding.get_action_space()), "[Discard([♦9])]");
}

TEST(ActionSpace, FilledBufferMatchesTheReturnedList) {
  ActionBuffer buffer;
  buffer.push_back(action::Yield{});  // left over from an earlier state, must be cleared
  const State<2> state = StateBuilder<2>().hand(0, "Ah 2s 2c 5d 5s jester Qc");
  state.fill_action_space(buffer);
  const std::vector<Action> list = state.get_action_space();
  EXPECT_EQ(std::vector<Action>(buffer.begin(), buffer.end()), list);
  EXPECT_EQ(count_of(list, 1), 5U);  // the ace with every card but the jester
}

// A hand of `size` cards drawn from every card of the game, both jesters included.
Hand random_hand(std::mt19937& engine, std::size_t size) {
  std::vector<Card> deck{jester_card, jester_card};
  for (const CardSuit suit :
       {CardSuit::Spades, CardSuit::Hearts, CardSuit::Diamonds, CardSuit::Clubs}) {
    for (int value = 1; value <= 13; ++value) deck.push_back({suit, static_cast<CardValue>(value)});
  }
  std::shuffle(deck.begin(), deck.end(), engine);
  Hand hand;
  for (std::size_t i = 0; i < size; ++i) hand.push_back(deck[i]);
  return hand;
}

void expect_unlisted_attacks_to_be_the_listed_ones(const Hand& hand) {
  State<1> state = StateBuilder<1>().build();
  state.players[0].hand = hand;
  const std::vector<Action> listed = state.get_action_space();
  const AttackActions unlisted(hand);
  ASSERT_EQ(unlisted.size(), listed.size()) << text(listed);
  for (std::size_t i = 0; i < listed.size(); ++i) {
    EXPECT_EQ(unlisted[i], listed[i]) << "position " << i << " of " << text(listed);
  }
}

TEST(UnlistedAttacks, EveryPositionHoldsTheListedAction) {
  // Hands rich in aces and in Twos to Fives, where the counted groups are largest.
  for (const std::string_view hand :
       {"", "jester", "As Ah Ad Ac", "2s 2h 2d 2c", "3s 3h 3d 3c 5s 5h 5d 5c",
        "As 2s 2h 2d 2c 4s 4h jester", "Ah Ac jester jester Kd", "5c 2s Ad 2h 2c"}) {
    expect_unlisted_attacks_to_be_the_listed_ones(testing::hand(hand));
  }
  std::mt19937 engine(20261209);
  for (int round = 0; round < 3000; ++round) {
    expect_unlisted_attacks_to_be_the_listed_ones(random_hand(engine, round % 9));
  }
}

TEST(UnlistedAttacks, PositionPastTheEndIsAnInternalFault) {
  const Hand hand = testing::hand("2s 2h As");
  const AttackActions attacks(hand);
  ASSERT_EQ(attacks.size(), 7U);  // three plays, two animal combos, one combo, the yield
  EXPECT_THROW((void)attacks[7], InternalFault);
  EXPECT_THROW((void)attacks[1000], InternalFault);
}

}  // namespace
}  // namespace tornquil
