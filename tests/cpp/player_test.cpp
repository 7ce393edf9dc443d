#include "rules/player.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

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

// Card by card, as the rule reads: the first copy in hand order of each named card, if any.
Hand removed_one_by_one(const Hand& hand, const Hand& named) {
  std::vector<Card> remaining(hand.begin(), hand.end());
  for (const Card card : named) {
    const auto match = std::find(remaining.begin(), remaining.end(), card);
    if (match != remaining.end()) remaining.erase(match);
  }
  Hand result;
  for (const Card card : remaining) result.push_back(card);
  return result;
}

TEST(RemoveFromHand, AnyHandLosesExactlyWhatRemovingCardByCardTakes) {
  // Few distinct cards, so that hands hold repeats and named cards are often held.
  const std::vector<Card> pool{jester_card, spade(V::Two), heart(V::Two), club(V::Ace),
                               diamond(V::King)};
  std::mt19937 engine(7);
  const auto some_cards = [&](std::size_t most) {
    Hand cards;
    const std::size_t size = engine() % (most + 1);
    for (std::size_t i = 0; i < size; ++i) cards.push_back(pool[engine() % pool.size()]);
    return cards;
  };
  for (int round = 0; round < 20000; ++round) {
    // Some hands shrunk first, so that cards lie past their end as in a game.
    Hand hand = some_cards(max_hand_capacity);
    hand.resize_down(std::min<std::size_t>(hand.size(), engine() % (max_hand_capacity + 1)));
    const Hand named = some_cards(max_hand_capacity);
    const Hand after = hand_after_removing(hand, named);
    const Hand expected = removed_one_by_one(hand, named);
    ASSERT_EQ(after, expected) << plain(hand) << " less " << plain(named);
    // The bytes too, since the solver keys and compares them: a hand that lost nothing is left
    // alone, and one that lost cards has emptied slots past its end.
    const Hand& expected_bytes = after.size() == hand.size() ? hand : expected;
    ASSERT_EQ(std::memcmp(static_cast<const void*>(&after),
                          static_cast<const void*>(&expected_bytes), sizeof(Hand)),
              0)
        << plain(hand) << " less " << plain(named);
  }
}

TEST(RemoveFromHand, SlotsPastTheHandAreNotCards) {
  // Shrinking a hand leaves its old cards in the slots past its end; a named card that sits only
  // there is not held.
  Hand hand{spade(V::Four), jester_card, heart(V::Queen)};
  hand.resize_down(1);
  EXPECT_EQ(hand_after_removing(hand, {jester_card, heart(V::Queen)}), (Hand{spade(V::Four)}));
  Hand full;
  for (int value = 1; value <= 8; ++value) full.push_back(club(static_cast<V>(value)));
  EXPECT_EQ(hand_after_removing(full, {club(V::Eight), club(V::Ace)}).size(), 6U);
  EXPECT_EQ(hand_after_removing(full, {club(V::Eight)}).back(), club(V::Seven));
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
