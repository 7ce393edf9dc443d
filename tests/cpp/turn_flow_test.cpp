#include <gtest/gtest.h>

#include "rules/state.hpp"
#include "state_builder.hpp"

namespace tornquil {
namespace {

using testing::after;
using testing::change_player;
using testing::discard;
using testing::enemy;
using testing::play;
using testing::result_of;
using testing::StateBuilder;
using testing::text;
using testing::yield_turn;

TEST(NewGame, DealsFullHandsAndLeavesTheRestInTheTavernDeck) {
  const State<4> four = State<4>::create(11);
  for (const Player& player : four.players) EXPECT_EQ(player.hand.size(), 5U);
  EXPECT_EQ(four.table.tavern_deck.size(), 42U - 20U);
  const State<1> solo = State<1>::create(11);
  EXPECT_EQ(solo.players[0].hand.size(), 8U);
  EXPECT_EQ(solo.table.tavern_deck.size(), 32U);
  EXPECT_EQ(solo.max_hand_size, 8);
  EXPECT_EQ(State<2>::create(11).max_hand_size, 7);
  EXPECT_EQ(State<3>::create(11).max_hand_size, 6);
  EXPECT_EQ(four.max_hand_size, 5);
}

TEST(NewGame, FightsTheJacksFirstAndTheKingsLast) {
  const State<3> state = State<3>::create(5);
  const CastleDeck& castle = state.table.castle_deck;
  ASSERT_EQ(castle.size(), 12U);
  for (std::size_t i = 0; i < 12; ++i) {
    const CardValue expected = i < 4 ? CardValue::King : i < 8 ? CardValue::Queen : CardValue::Jack;
    EXPECT_EQ(castle[i].card().value, expected) << i;
  }
}

TEST(NewGame, StartsWithSeatZeroToPlayAndNothingWon) {
  const State<2> state = State<2>::create(3);
  EXPECT_EQ(state.has_turn, PlayerId{0});
  EXPECT_EQ(state.action_type, ActionType::play_cards());
  EXPECT_EQ(state.times_yielded, 0U);
  EXPECT_FALSE(state.has_ended.has_value());
  EXPECT_EQ(state.reward(), 0);
  EXPECT_EQ(GameResult::max_score(), 12);
}

TEST(NewGame, SameSeedGivesEqualStatesDownToTheRngSeed) {
  EXPECT_EQ(State<3>::create(123456789), State<3>::create(123456789));
  EXPECT_EQ(State<3>::create(1).rng_seed, State<3>::create(1).rng_seed);
  EXPECT_NE(State<3>::create(1), State<3>::create(2));
}

TEST(NewGame, UnseededGamesDiffer) {
  EXPECT_NE(State<2>::create(std::nullopt), State<2>::create(std::nullopt));
}

TEST(Display, ShowsThePlayerToMoveTheirHandAndTheEnemy) {
  EXPECT_EQ(State<4>::create(9).display_text().substr(0, 20), "Player: PlayerId(0)\n");
  const State<2> no_enemy = StateBuilder<2>().hand(0, "2s").turn(1);
  EXPECT_EQ(no_enemy.display_text(), "Player: PlayerId(1)\nHand:   []\nEnemy:  None");
}

// Player 0 can absorb the Jack's attack twice; the Jack itself is far from defeat.
State<2> two_players_against_a_jack() {
  return StateBuilder<2>().hand(0, "10s 8h 6d").hand(1, "9d 7c 3c").castle({enemy("Jh")}).level(2);
}

TEST(Yield, EveryPlayerYieldingInARowLoses) {
  const State<2> discarding = after(two_players_against_a_jack(), yield_turn());
  EXPECT_EQ(discarding.action_type, ActionType::discard(10));
  const State<2> second = after(discarding, discard("10s"));
  EXPECT_EQ(second.has_turn, PlayerId{1});
  EXPECT_EQ(second.times_yielded, 1U);  // a discard does not reset the count
  EXPECT_EQ(result_of(second, yield_turn()), GameResult::lost(2));
}

TEST(Yield, YieldsPassingTheTurnAgainstAnAttackOfZeroStillLose) {
  const State<2> state = StateBuilder<2>().hand(0, "2s").hand(1, "3s").castle({enemy("Jc", 5, 10)});
  const State<2> second = after(state, yield_turn());
  EXPECT_EQ(second.has_turn, PlayerId{1});
  EXPECT_EQ(second.action_type, ActionType::play_cards());
  EXPECT_EQ(result_of(second, yield_turn()), GameResult::lost(0));
}

TEST(Yield, APlayBetweenYieldsResetsTheCount) {
  State<2> state = after(after(two_players_against_a_jack(), yield_turn()), discard("10s"));
  state = after(state, play("3c"));
  EXPECT_EQ(state.times_yielded, 0U);
  state = after(state, discard("9d 7c"));
  EXPECT_EQ(state.has_turn, PlayerId{0});
  EXPECT_EQ(after(state, yield_turn()).times_yielded, 1U);
}

TEST(Yield, SoloYieldLosesAtOnce) {
  const State<1> state = StateBuilder<1>().hand(0, "10s 10h").castle({enemy("Qh")}).level(5);
  EXPECT_EQ(result_of(state, yield_turn()), GameResult::lost(5));
}

TEST(Yield, ChangePlayerResetsTheCount) {
  const State<3> state =
      StateBuilder<3>().phase(ActionType::jester()).yielded(2).castle({enemy("Js")});
  EXPECT_EQ(after(state, change_player(1)).times_yielded, 0U);
}

TEST(ChangePlayer, GivesTheTurnToTheChosenSeat) {
  const State<4> state =
      StateBuilder<4>().turn(2).phase(ActionType::jester()).castle({enemy("Js")});
  const State<4> to_self = after(state, change_player(2));
  EXPECT_EQ(to_self.has_turn, PlayerId{2});
  EXPECT_EQ(to_self.action_type, ActionType::play_cards());
  EXPECT_EQ(after(state, change_player(0)).has_turn, PlayerId{0});
}

TEST(Discard, CardsLeaveTheGameAndTheTurnPasses) {
  const State<3> state = StateBuilder<3>()
                             .hand(2, "Ks 4h 9c")
                             .turn(2)
                             .phase(ActionType::discard(12))
                             .discard_pile("3d")
                             .castle({enemy("Jd")});
  const State<3> next = after(state, discard("4h 9c"));
  EXPECT_EQ(text(next.players[2].hand), "[♠K]");
  EXPECT_EQ(text(next.table.discard_pile), "[♦3]");
  EXPECT_EQ(next.has_turn, PlayerId{0});
  EXPECT_EQ(next.action_type, ActionType::play_cards());
}

TEST(Discard, RemovesOneHandCopyPerNamedCard) {
  const State<4> state = StateBuilder<4>()
                             .hand(1, "jester 2s jester")
                             .turn(1)
                             .phase(ActionType::discard(0))
                             .castle({enemy("Jd")});
  EXPECT_EQ(text(after(state, discard("jester")).players[1].hand), "[♠2, Jester]");
}

TEST(TakeAction, LeavesTheStateItWasGivenUnchanged) {
  const State<2> state = two_players_against_a_jack();
  const State<2> copy = state;
  (void)state.take_action(play("10s"));
  EXPECT_EQ(state, copy);
}

TEST(LastEnemy, DefeatingTheTwelfthEnemyLeavesAGameInProgress) {
  const State<2> state = StateBuilder<2>().hand(0, "10c 2s").castle({enemy("Kd", 20)}).level(11);
  const State<2> next = after(state, play("10c"));
  EXPECT_TRUE(next.table.castle_deck.empty());
  EXPECT_EQ(next.level, 12);
  EXPECT_EQ(next.reward(), 12);
  EXPECT_EQ(next.has_turn, PlayerId{0});
  EXPECT_EQ(next.action_type, ActionType::play_cards());
  EXPECT_EQ(next.display_text(), "Player: PlayerId(0)\nHand:   [♠2]\nEnemy:  None");
}

TEST(LastEnemy, AnyPlayAfterTheTwelfthEnemyWins) {
  const State<2> state = StateBuilder<2>().hand(0, "2s Ah Kd").level(12);
  EXPECT_EQ(result_of(state, play("2s")), GameResult::won());
  EXPECT_EQ(result_of(state, testing::animal_combo("Ah", "Kd")), GameResult::won());
  // A yield that is not the last in a row plays the empty list, which wins as well.
  EXPECT_EQ(result_of(state, yield_turn()), GameResult::won());
}

TEST(LastEnemy, SoloYieldAfterTheTwelfthEnemyLosesAtLevelTwelve) {
  const State<1> state = StateBuilder<1>().hand(0, "2s").level(12);
  EXPECT_EQ(result_of(state, yield_turn()), GameResult::lost(12));
  EXPECT_EQ(result_of(state, play("2s")), GameResult::won());
}

}  // namespace
}  // namespace tornquil
