#include "rules/card.hpp"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

#include "test_helpers.hpp"

namespace tornquil {
namespace {

using namespace tornquil::testing;
using V = CardValue;

TEST(AttackValue, RoyalsAreWorthTenFifteenAndTwenty) {
  EXPECT_EQ(attack_value(spade(V::Jack)), 10);
  EXPECT_EQ(attack_value(heart(V::Queen)), 15);
  EXPECT_EQ(attack_value(club(V::King)), 20);
}

TEST(AttackValue, JesterIsWorthNothingAndAceOne) {
  EXPECT_EQ(attack_value(jester_card), 0);
  EXPECT_EQ(attack_value(diamond(V::Ace)), 1);
}

TEST(AttackValue, NumberCardsAreWorthTheirFaceValueInEverySuit) {
  for (const CardSuit suit : real_suits) {
    for (int value = 2; value <= 10; ++value) {
      EXPECT_EQ(attack_value(Card{suit, static_cast<V>(value)}), value);
    }
  }
}

TEST(AttackValue, ReferencesAndPointersAreWorthTheCard) {
  const Card queen = diamond(V::Queen);
  EXPECT_EQ(attack_value(std::cref(queen)), 15);
  EXPECT_EQ(attack_value(&queen), 15);
}

TEST(AttackSum, EmptyListSumsToZero) { EXPECT_EQ(attack_sum(CardList<8>{}), 0); }

TEST(AttackSum, AddsTheValuesOfListsAndOfReferences) {
  const CardList<8> fives{heart(V::Five), club(V::Five)};
  EXPECT_EQ(attack_sum(fives), 10);

  const Card king = spade(V::King);
  const Card jack = heart(V::Jack);
  const std::vector<std::reference_wrapper<const Card>> references{king, jack, jester_card};
  EXPECT_EQ(attack_sum(references), 30);
}

TEST(SuitOrdering, NoneIsBelowEveryRealSuitAndEqualToItself) {
  for (const CardSuit suit : real_suits) {
    EXPECT_EQ(compare_suits(CardSuit::None, suit), std::partial_ordering::less);
    EXPECT_EQ(compare_suits(suit, CardSuit::None), std::partial_ordering::greater);
  }
  EXPECT_EQ(compare_suits(CardSuit::None, CardSuit::None), std::partial_ordering::equivalent);
}

TEST(SuitOrdering, RealSuitsRankSpadesHeartsDiamondsClubs) {
  EXPECT_EQ(compare_suits(CardSuit::Clubs, CardSuit::Hearts), std::partial_ordering::greater);
  for (std::size_t i = 0; i < real_suits.size(); ++i) {
    for (std::size_t j = 0; j < real_suits.size(); ++j) {
      EXPECT_EQ(compare_suits(real_suits[i], real_suits[j]), i <=> j) << i << " vs " << j;
    }
  }
}

TEST(FromCardIter, KeepsTheOrderOfATwoCardArray) {
  const std::array<Card, 2> pair{club(V::Nine), spade(V::Ace)};
  const CardList<8> list = from_card_iter<8>(pair);
  EXPECT_EQ(list, (CardList<8>{club(V::Nine), spade(V::Ace)}));
}

TEST(FromCardIter, CopiesTheCardsBehindReferencesAndPointersInOrder) {
  const Card first = heart(V::Three);
  const Card second = heart(V::Two);
  const std::vector<std::reference_wrapper<const Card>> references{first, second};
  EXPECT_EQ(from_card_iter<4>(references), (CardList<4>{first, second}));
  const std::vector<const Card*> pointers{&second, &first};
  EXPECT_EQ(from_card_iter<4>(pointers), (CardList<4>{second, first}));
}

TEST(FromCardIter, MoreCardsThanTheCapacityIsAnInternalFault) {
  const std::vector<Card> five(5, spade(V::Two));
  EXPECT_EQ(from_card_iter<5>(five).size(), 5u);
  EXPECT_THROW((void)from_card_iter<4>(five), InternalFault);
}

TEST(CardText, UncolouredCardIsSymbolThenValue) {
  EXPECT_EQ(plain(heart(V::King)), "\u2665K");
  EXPECT_EQ(plain(spade(V::Ten)), "\u266010");
  EXPECT_EQ(plain(diamond(V::Ace)), "\u2666A");
  EXPECT_EQ(plain(club(V::Jack)), "\u2663J");
  EXPECT_EQ(plain(jester_card), "Jester");
}

TEST(CardText, BlackSuitsAndValuesAreBlackOnWhite) {
  EXPECT_EQ(coloured(CardSuit::Spades), "\x1b[47;30m\u2660\x1b[0m");
  EXPECT_EQ(coloured(CardSuit::Clubs), "\x1b[47;30m\u2663\x1b[0m");
  EXPECT_EQ(coloured(V::Queen), "\x1b[47;30mQ\x1b[0m");
}

TEST(CardText, RedSuitsAreRedOnWhiteWithABlackValue) {
  EXPECT_EQ(coloured(heart(V::King)), "\x1b[47;31m\u2665\x1b[0m\x1b[47;30mK\x1b[0m");
  EXPECT_EQ(coloured(CardSuit::Diamonds), "\x1b[47;31m\u2666\x1b[0m");
}

TEST(CardText, JesterSuitHasOnlyTheBackground) {
  EXPECT_EQ(coloured(CardSuit::None), "\x1b[47m\x1b[0m");
  EXPECT_EQ(coloured(jester_card), "\x1b[47m\x1b[0m\x1b[47;30mJester\x1b[0m");
}

TEST(TornquilErrorText, IsTheVariantName) {
  EXPECT_EQ(debug_name(TornquilError::WrongNumberOfPlayers), "WrongNumberOfPlayers");
}

}  // namespace
}  // namespace tornquil
