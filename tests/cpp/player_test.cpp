#include "rules/player.hpp"

#include <gtest/gtest.h>

#include "test_helpers.hpp"

namespace tornquil {
namespace {

using namespace tornquil::testing;
using V = CardValue;

Player player_holding(Hand hand) { return Player{PlayerId{0}, hand}; }

Hand hand_after_removing(Hand hand, const Hand& removed) {
  Player player = player_holding(hand);
  player.remove_from_hand(removed);
  return player.hand;
}

const Hand three_cards{spade(V::Five), heart(V::King), club(V::Two)};

TEST(PlayerId, LastSeatPassesToSeatZero) {
  EXPECT_EQ(PlayerId{3}.next_id(4), PlayerId{0});
  EXPECT_EQ(PlayerId{1}.next_id(3), PlayerId{2});
}

TEST(PlayerId, OnePlayerAlwaysPassesToHimself) { EXPECT_EQ(PlayerId{0}.next_id(1), PlayerId{0}); }

TEST(RemoveFromHand, CardNotInTheHandIsIgnored) {
  EXPECT_EQ(hand_after_removing(three_cards, {diamond(V::Five)}), three_cards);
}

TEST(RemoveFromHand, EmptyListLeavesTheHand) {
  EXPECT_EQ(hand_after_removing(three_cards, {}), three_cards);
}

TEST(RemoveFromHand, AllTheCardsEmptyTheHand) {
  EXPECT_TRUE(hand_after_removing(three_cards, three_cards).empty());
}

TEST(RemoveFromHand, RemainingCardsKeepTheirOrder) {
  EXPECT_EQ(hand_after_removing(three_cards, {heart(V::King)}),
            (Hand{spade(V::Five), club(V::Two)}));
  const Hand long_hand{spade(V::Ace), heart(V::Two), club(V::Three), diamond(V::Four),
                       spade(V::Six)};
  EXPECT_EQ(hand_after_removing(long_hand, {diamond(V::Four), spade(V::Ace), diamond(V::Nine)}),
            (Hand{heart(V::Two), club(V::Three), spade(V::Six)}));
}

TEST(RemoveFromHand, OneJesterPlayedFromTwoLeavesTheOther) {
  const Hand both_jesters{jester_card, spade(V::Four), jester_card};
  EXPECT_EQ(hand_after_removing(both_jesters, {jester_card}), (Hand{spade(V::Four), jester_card}));
}

TEST(RemoveFromHand, CardNamedTwiceRemovesTwoCopies) {
  const Hand both_jesters{jester_card, spade(V::Four), jester_card};
  EXPECT_EQ(hand_after_removing(both_jesters, {jester_card, jester_card}), (Hand{spade(V::Four)}));
}

TEST(RemoveFromHand, CardNamedTwiceButHeldOnceRemovesOnlyThatCard) {
  EXPECT_EQ(hand_after_removing(three_cards, {club(V::Two), club(V::Two)}),
            (Hand{spade(V::Five), heart(V::King)}));
}

TEST(TotalHandValue, KingAndJesterAreWorthTwenty) {
  EXPECT_EQ(player_holding({heart(V::King), jester_card}).total_hand_value(), 20);
}

TEST(TotalHandValue, EmptyHandIsWorthNothing) {
  EXPECT_EQ(player_holding({}).total_hand_value(), 0);
}

TEST(Hand, NinthCardIsAnInternalFault) {
  Hand hand;
  for (int value = 1; value <= 8; ++value) hand.push_back(spade(static_cast<V>(value)));
  EXPECT_THROW(hand.push_back(spade(V::Nine)), InternalFault);
}

TEST(PlayerText, PlayerIdIsTheIndexInParentheses) { EXPECT_EQ(plain(PlayerId{2}), "PlayerId(2)"); }

TEST(PlayerText, PlayerIsARecordOfIdAndHand) {
  EXPECT_EQ(plain(Player{PlayerId{0}, {spade(V::Five), heart(V::King)}}),
            "Player { id: PlayerId(0), hand: [\u26605, \u2665K] }");
  EXPECT_EQ(plain(Player{PlayerId{3}, {}}), "Player { id: PlayerId(3), hand: [] }");
}

}  // namespace
}  // namespace tornquil
