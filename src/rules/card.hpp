// Cards, suits and values: the two-byte Card, the attack value table, attack sums, the partial
// ordering of suits, fixed-capacity card lists and the coloured text of cards.
#pragma once

#include <array>
#include <bit>
#include <compare>
#include <cstdint>
#include <functional>
#include <string_view>

#include "base/static_vec.hpp"
#include "rules/debug_text.hpp"

namespace tornquil {

enum class CardSuit : std::uint8_t { Spades = 0, Hearts = 1, Diamonds = 2, Clubs = 3, None = 4 };

enum class CardValue : std::uint8_t {
  Jester = 0,
  Ace = 1,
  Two = 2,
  Three = 3,
  Four = 4,
  Five = 5,
  Six = 6,
  Seven = 7,
  Eight = 8,
  Nine = 9,
  Ten = 10,
  Jack = 11,
  Queen = 12,
  King = 13,
};

inline constexpr std::array<CardSuit, 4> real_suits = {CardSuit::Spades, CardSuit::Hearts,
                                                       CardSuit::Diamonds, CardSuit::Clubs};

struct Card {
  CardSuit suit = CardSuit::Spades;
  CardValue value = CardValue::Jester;

  friend constexpr bool operator==(Card, Card) = default;
};
static_assert(sizeof(Card) == 2 && std::is_trivially_copyable_v<Card>);

inline constexpr Card jester_card{CardSuit::None, CardValue::Jester};

// Indexed by the value byte. A Jack is worth 10, the same as a Ten.
inline constexpr std::array<std::uint16_t, 14> attack_values = {0, 1, 2, 3,  4,  5,  6,
                                                                7, 8, 9, 10, 10, 15, 20};

[[nodiscard]] constexpr std::uint16_t attack_value(Card card) {
  return attack_values[static_cast<std::uint8_t>(card.value)];
}
[[nodiscard]] constexpr std::uint16_t attack_value(const Card* card) { return attack_value(*card); }
[[nodiscard]] constexpr std::uint16_t attack_value(std::reference_wrapper<const Card> card) {
  return attack_value(card.get());
}

// The attack sum of a list of cards or of card references; 0 for an empty list.
template <typename Cards>
[[nodiscard]] constexpr std::uint16_t attack_sum(const Cards& cards) {
  std::uint16_t sum = 0;
  for (const auto& card : cards) sum = static_cast<std::uint16_t>(sum + attack_value(card));
  return sum;
}

// The suits' own ordering (Spades < Hearts < Diamonds < Clubs, None below all of them),
// which is not the order of their bytes.
[[nodiscard]] std::partial_ordering compare_suits(CardSuit a, CardSuit b);

template <std::size_t Capacity>
using CardList = StaticVec<Card, Capacity>;

// A card list of capacity K from any finite sequence of cards or card references, in order.
// More than K cards is an internal fault.
template <std::size_t K, typename Cards>
[[nodiscard]] constexpr CardList<K> from_card_iter(const Cards& cards) {
  CardList<K> list;
  for (const auto& card : cards) {
    if constexpr (std::is_pointer_v<std::remove_cvref_t<decltype(card)>>) {
      list.push_back(*card);
    } else {
      list.push_back(static_cast<const Card&>(card));
    }
  }
  return list;
}

[[nodiscard]] std::string_view suit_symbol(CardSuit suit);
[[nodiscard]] std::string_view value_text(CardValue value);

void describe(DebugWriter& writer, CardSuit suit);
void describe(DebugWriter& writer, CardValue value);
void describe(DebugWriter& writer, Card card);

// The cards at the positions a mask's set bits name, in list order: how a subset of a hand,
// held as a bit mask, becomes a list of cards.
template <std::size_t Capacity, std::size_t From>
[[nodiscard]] constexpr CardList<Capacity> cards_at(const CardList<From>& cards,
                                                    std::uint8_t mask) {
  CardList<Capacity> chosen;
  for (; mask != 0; mask &= static_cast<std::uint8_t>(mask - 1)) {
    chosen.push_back(cards[static_cast<std::size_t>(std::countr_zero(mask))]);
  }
  return chosen;
}

}  // namespace tornquil
