#include <gtest/gtest.h>

#include <algorithm>

#include "rules/state.hpp"
#include "state_builder.hpp"

namespace tornquil {
namespace {

using testing::after;
using testing::combo;
using testing::enemy;
using testing::play;
using testing::result_of;
using testing::StateBuilder;
using testing::text;
using testing::yield_turn;

std::string enemy_text(const State<1>& state) { return text(*state.current_enemy()); }

template <std::size_t Capacity>
std::vector<std::string> sorted_texts(const CardList<Capacity>& cards) {
  std::vector<std::string> texts;
  for (const Card card : cards) texts.push_back(text(card));
  std::sort(texts.begin(), texts.end());
  return texts;
}

TEST(Immunity, HeartsDoNotHealAgainstAJackOfHearts) {
  const State<1> state =
      StateBuilder<1>().hand(0, "8h 10s").castle({enemy("Jh")}).discard_pile("2c 3c").tavern("4c");
  const State<1> next = after(state, play("8h"));
  EXPECT_EQ(enemy_text(next), "Enemy { card: ♥J, health: 12, attack: 10, jester_applied: false }");
  EXPECT_EQ(text(next.table.discard_pile), "[♣2, ♣3]");
  EXPECT_EQ(text(next.table.tavern_deck), "[♣4]");
  EXPECT_EQ(next.rng_seed, state.rng_seed);  // no random step was taken
}

TEST(Immunity, ClubsDoNotDoubleAgainstAJackOfClubs) {
  const State<1> state = StateBuilder<1>().hand(0, "5c 10s").castle({enemy("Jc")});
  EXPECT_EQ(after(state, play("5c")).current_enemy()->health(), 15);
}

TEST(Immunity, DiamondsDrawNothingAgainstAJackOfDiamonds) {
  const State<1> state =
      StateBuilder<1>().hand(0, "3d 10s").castle({enemy("Jd")}).tavern("4c 5c 6c");
  const State<1> next = after(state, play("3d"));
  EXPECT_EQ(text(next.players[0].hand), "[♠10]");
  EXPECT_EQ(next.table.tavern_deck.size(), 3U);
}

TEST(Clubs, DoubleTheDamageButNotTheOtherPowers) {
  const State<1> state = StateBuilder<1>().hand(0, "5c 10h").castle({enemy("Js")});
  EXPECT_EQ(enemy_text(after(state, play("5c"))),
            "Enemy { card: ♠J, health: 10, attack: 10, jester_applied: false }");
}

TEST(Spades, LowerTheAttackOnceByTheWholeSumOfTheCombo) {
  const State<1> state = StateBuilder<1>().hand(0, "5s 5c 10h").castle({enemy("Qh")});
  const State<1> next = after(state, combo("5s 5c"));
  EXPECT_EQ(enemy_text(next), "Enemy { card: ♥Q, health: 10, attack: 5, jester_applied: false }");
  EXPECT_EQ(next.action_type, ActionType::discard(5));
}

TEST(Spades, NeverLowerTheAttackBelowZero) {
  const State<1> state = StateBuilder<1>().hand(0, "9s").castle({enemy("Jc", 0, 5)});
  EXPECT_EQ(after(state, play("9s")).current_enemy()->attack_value(), 0);
}

TEST(Defeat, ExactKillPutsTheEnemyOnTopOfTheTavernDeck) {
  const State<2> state = StateBuilder<2>()
                             .hand(1, "5s 5c 2d")
                             .turn(1)
                             .castle({enemy("Qd"), enemy("Jh")})
                             .tavern("3h")
                             .discard_pile("7d")
                             .level(1);
  const State<2> next = after(state, combo("5s 5c"));
  EXPECT_EQ(text(next.table.tavern_deck), "[♥3, ♥J]");
  EXPECT_EQ(text(next.table.discard_pile), "[♦7, ♠5, ♣5]");
  EXPECT_TRUE(next.table.attack_cards.empty());
  EXPECT_EQ(text(*next.current_enemy()),
            "Enemy { card: ♦Q, health: 30, attack: 15, jester_applied: false }");
  EXPECT_EQ(next.level, 2);
  EXPECT_EQ(next.has_turn, PlayerId{1});
  EXPECT_EQ(next.action_type, ActionType::play_cards());
}

TEST(Defeat, OverkillDiscardsTheEnemyAndThenTheAttackCards) {
  const State<2> state = StateBuilder<2>()
                             .hand(0, "10c")
                             .castle({enemy("Kh"), enemy("Js", 4)})
                             .attack_cards("4h")
                             .discard_pile("2d")
                             .tavern("6h");
  const State<2> next = after(state, play("10c"));
  EXPECT_EQ(text(next.table.discard_pile), "[♦2, ♠J, ♥4, ♣10]");
  EXPECT_EQ(text(next.table.tavern_deck), "[♥6]");
  EXPECT_EQ(next.current_enemy()->card(), testing::card("Kh"));
  EXPECT_EQ(next.level, 1);
  EXPECT_EQ(next.has_turn, PlayerId{0});
  EXPECT_EQ(next.action_type, ActionType::play_cards());
}

TEST(Jester, LetsTheSpadesBlockedByAQueenOfSpadesTakeEffect) {
  const State<4> state = StateBuilder<4>()
                             .hand(3, "jester 2h")
                             .turn(3)
                             .castle({enemy("Qs", 10)})
                             .attack_cards("3s 7s");
  const State<4> next = after(state, play("jester"));
  EXPECT_EQ(text(*next.current_enemy()),
            "Enemy { card: ♠Q, health: 20, attack: 5, jester_applied: true }");
  EXPECT_EQ(next.action_type, ActionType::jester());
  EXPECT_EQ(next.has_turn, PlayerId{3});
  EXPECT_EQ(text(next.players[3].hand), "[♥2]");
  EXPECT_EQ(text(next.table.attack_cards), "[♠3, ♠7, Jester]");
}

TEST(Jester, DoesNotCountSpadesTwiceAgainstAnEnemyItAlreadyReached) {
  const State<4> state = StateBuilder<4>()
                             .hand(0, "jester")
                             .castle({enemy("Qs", 12, 12, true)})
                             .attack_cards("3s 7s jester 2s");
  EXPECT_EQ(after(state, play("jester")).current_enemy()->attack_value(), 3);
}

TEST(Jester, LeavesTheAttackOfAJackOfClubsAlone) {
  const State<3> state =
      StateBuilder<3>().hand(0, "jester").castle({enemy("Jc", 3, 3)}).attack_cards("3s");
  EXPECT_EQ(text(*after(state, play("jester")).current_enemy()),
            "Enemy { card: ♣J, health: 17, attack: 7, jester_applied: true }");
}

TEST(Jester, SparesAnEmptyHandTheCounterAttack) {
  const State<3> state = StateBuilder<3>().hand(1, "jester").turn(1).castle({enemy("Kc")});
  const State<3> next = after(state, play("jester"));
  EXPECT_EQ(next.action_type, ActionType::jester());
  EXPECT_EQ(next.has_turn, PlayerId{1});
}

TEST(Jester, PlayingOneKeepsTheOtherInTheHand) {
  const State<4> state = StateBuilder<4>().hand(0, "jester 4d jester").castle({enemy("Jh")});
  EXPECT_EQ(text(after(state, play("jester")).players[0].hand), "[♦4, Jester]");
}

TEST(Jester, OpensTheEnemyToItsOwnSuitAfterwards) {
  const State<1> state = StateBuilder<1>().hand(0, "5c 10h").castle({enemy("Jc", 0, 0, true)});
  EXPECT_EQ(after(state, play("5c")).current_enemy()->health(), 10);
}

TEST(Diamonds, DealFromSeatZeroAndSkipFullHands) {
  const State<3> state = StateBuilder<3>()
                             .hand(0, "2c")
                             .hand(1, "As 2s 3s 4s 5s 6s")
                             .hand(2, "4d 9h")
                             .turn(2)
                             .castle({enemy("Js")})
                             .tavern("8c Ah Ac Ad Kc");
  const State<3> next = after(state, play("4d"));
  EXPECT_EQ(text(next.players[0].hand), "[♣2, ♣K, ♥A]");
  EXPECT_EQ(text(next.players[1].hand), "[♠A, ♠2, ♠3, ♠4, ♠5, ♠6]");
  EXPECT_EQ(text(next.players[2].hand), "[♥9, ♦A, ♣A]");
  EXPECT_EQ(text(next.table.tavern_deck), "[♣8]");
}

TEST(Diamonds, DrawNothingWhenEveryHandIsFull) {
  // A played card leaves its player's hand first, so only a play of cards the player does not
  // hold can meet nothing but full hands.
  const State<2> state = StateBuilder<2>()
                             .hand(0, "2s 3s 4s 5s 6s 7s 8s")
                             .hand(1, "2h 3h 4h 5h 6h 7h 8h")
                             .castle({enemy("Jc")})
                             .tavern("Ad 2d 3d");
  const GameStatus<2> status = State<2>(state).play_cards(testing::hand("2d"));
  ASSERT_TRUE(std::holds_alternative<State<2>>(status));
  const State<2>& next = std::get<State<2>>(status);
  EXPECT_EQ(next.table.tavern_deck, state.table.tavern_deck);
  EXPECT_EQ(next.players, state.players);
}

TEST(Diamonds, StopAtTheHandLimit) {
  // Seat 1 is full, so the second card falls to seat 0, and then nobody has room.
  const State<2> state = StateBuilder<2>()
                             .hand(0, "4d 2s 3s 4s 5s 6s")
                             .hand(1, "2h 3h 4h 5h 6h 7h 8h")
                             .castle({enemy("Qc")})
                             .tavern("Ac 2c 3c 4c 5c");
  const State<2> next = after(state, play("4d"));
  EXPECT_EQ(text(next.players[0].hand), "[♠2, ♠3, ♠4, ♠5, ♠6, ♣5, ♣4]");
  EXPECT_EQ(text(next.table.tavern_deck), "[♣A, ♣2, ♣3]");
}

TEST(Diamonds, StopWhenTheTavernDeckRunsOut) {
  const State<1> state = StateBuilder<1>().hand(0, "9d").castle({enemy("Kh")}).tavern("Kc 10c");
  const State<1> next = after(state, play("9d"));
  EXPECT_EQ(text(next.players[0].hand), "[♣10, ♣K]");
  EXPECT_TRUE(next.table.tavern_deck.empty());
}

TEST(Diamonds, DealtCardsCountTowardsAbsorbingTheCounterAttack) {
  const State<1> state =
      StateBuilder<1>().hand(0, "5d").castle({enemy("Js")}).tavern("9h 2h 3c 3s 3h 3d");
  const State<1> next = after(state, play("5d"));
  EXPECT_EQ(text(next.players[0].hand), "[♦3, ♥3, ♠3, ♣3, ♥2]");
  EXPECT_EQ(next.action_type, ActionType::discard(10));
}

TEST(Hearts, ReturnDiscardedCardsUnderTheTavernDeck) {
  const State<1> state = StateBuilder<1>()
                             .hand(0, "3h 10s")
                             .castle({enemy("Js")})
                             .discard_pile("2c 4c 6c 8c 10c")
                             .tavern("9d");
  const State<1> next = after(state, play("3h"));
  ASSERT_EQ(next.table.discard_pile.size(), 2U);
  ASSERT_EQ(next.table.tavern_deck.size(), 4U);
  EXPECT_EQ(text(next.table.tavern_deck.back()), "♦9");
  Pile all = next.table.discard_pile;
  for (std::size_t i = 0; i < 3; ++i) all.push_back(next.table.tavern_deck[i]);
  EXPECT_EQ(sorted_texts(all), sorted_texts(state.table.discard_pile));
  EXPECT_NE(next.rng_seed, state.rng_seed);
}

TEST(Hearts, WithAnEmptyDiscardPileChangeOnlyTheRngSeed) {
  const State<1> state = StateBuilder<1>().hand(0, "3h 10s").castle({enemy("Js")}).tavern("9d");
  State<1> next = after(state, play("3h"));
  State<1> advanced = state;
  (void)advanced.get_rng();
  EXPECT_EQ(next.rng_seed, advanced.rng_seed);
  next.rng_seed = state.rng_seed;
  const State<1> expected = StateBuilder<1>()
                                .hand(0, "10s")
                                .castle({enemy("Js", 3)})
                                .tavern("9d")
                                .attack_cards("3h")
                                .phase(ActionType::discard(10));
  EXPECT_EQ(text(next), text(expected));
}

TEST(Hearts, HealBeforeDiamondsDraw) {
  const State<1> state =
      StateBuilder<1>().hand(0, "2h 2d").castle({enemy("Js")}).discard_pile("7c 8c 9c 10c");
  const State<1> next = after(state, combo("2h 2d"));
  EXPECT_EQ(sorted_texts(next.players[0].hand), sorted_texts(testing::hand("7c 8c 9c 10c")));
}

TEST(CounterAttack, AHandWorthExactlyTheAttackMustDiscard) {
  const State<1> state = StateBuilder<1>().hand(0, "2c 6h 4s").castle({enemy("Jh")});
  EXPECT_EQ(after(state, play("2c")).action_type, ActionType::discard(10));
  const State<1> short_by_one =
      StateBuilder<1>().hand(0, "2c 6h 3s").castle({enemy("Jh")}).level(3);
  EXPECT_EQ(result_of(short_by_one, play("2c")), GameResult::lost(3));
}

TEST(CounterAttack, ComparesWithTheAttackAfterThisPlaysSpades) {
  const State<1> state = StateBuilder<1>().hand(0, "8s 2h").castle({enemy("Jd")});
  EXPECT_EQ(after(state, play("8s")).action_type, ActionType::discard(2));
}

TEST(CounterAttack, AnAttackOfZeroPassesTheTurnWithoutADiscard) {
  const State<3> yielding = StateBuilder<3>().hand(2, "4h").turn(2).castle({enemy("Jh", 0, 10)});
  const State<3> after_yield = after(yielding, yield_turn());
  EXPECT_EQ(after_yield.has_turn, PlayerId{0});
  EXPECT_EQ(after_yield.action_type, ActionType::play_cards());
  EXPECT_EQ(text(after_yield.players[2].hand), "[♥4]");

  const State<3> playing = StateBuilder<3>().hand(0, "10s").castle({enemy("Jc")});
  const State<3> after_play = after(playing, play("10s"));
  EXPECT_EQ(after_play.has_turn, PlayerId{1});
  EXPECT_EQ(after_play.action_type, ActionType::play_cards());
}

TEST(CounterAttack, AYieldFacesTheFullAttack) {
  const State<2> state = StateBuilder<2>().hand(0, "9h").castle({enemy("Jh", 5)}).level(1);
  EXPECT_EQ(result_of(state, yield_turn()), GameResult::lost(1));
}

TEST(EmptyCastle, APlayOfAnySuitWins) {
  for (const char* code : {"5s", "5h", "5d", "5c", "jester"}) {
    const State<2> state =
        StateBuilder<2>().hand(0, code).discard_pile("3c").tavern("4c").level(12);
    EXPECT_EQ(result_of(state, play(code)), GameResult::won()) << code;
  }
}

TEST(EmptyCastle, PowersApplyBeforeTheWin) {
  State<2> state = StateBuilder<2>().hand(0, "2d").tavern("4c 6c").level(12);
  EXPECT_EQ(state.play_cards_in_place(testing::hand("2d")), GameResult::won());
  EXPECT_EQ(text(state.players[0].hand), "[♣6]");
  EXPECT_EQ(text(state.players[1].hand), "[♣4]");
}

}  // namespace
}  // namespace tornquil
