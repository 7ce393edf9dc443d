// The game's moves as the search tree keeps them: one 64-bit word instead of the 20-byte Action,
// because the moves of every edge of the tree are most of its memory. A word holds the kind of
// action in its low three bits and then up to eight cards of seven bits each, in the action's
// order, a zero card ending the list; a change of player holds the seat instead of cards.
#pragma once

#include <cstdint>
#include <variant>

#include "rules/action.hpp"

namespace tornquil {

using MoveCode = std::uint64_t;

namespace move_code {

inline constexpr unsigned kind_bits = 3;
inline constexpr unsigned card_bits = 7;
inline constexpr unsigned card_slots = 8;
static_assert(kind_bits + card_bits * card_slots <= 64);
static_assert(std::variant_size_v<Action> <= (1U << kind_bits));

// Never zero, which ends a list: the suit's byte (at most 4) above the value's (at most 13).
[[nodiscard]] constexpr std::uint64_t card_word(Card card) {
  return (std::uint64_t{static_cast<std::uint8_t>(card.suit)} << 4 |
          static_cast<std::uint8_t>(card.value)) +
         1;
}

[[nodiscard]] constexpr Card card_of(std::uint64_t word) {
  const std::uint64_t bits = word - 1;
  return Card{static_cast<CardSuit>(bits >> 4), static_cast<CardValue>(bits & 15U)};
}

template <typename Cards>
[[nodiscard]] constexpr std::uint64_t cards_word(const Cards& cards) {
  std::uint64_t word = 0;
  unsigned shift = kind_bits;
  for (const Card card : cards) {
    word |= card_word(card) << shift;
    shift += card_bits;
  }
  return word;
}

template <std::size_t Capacity>
[[nodiscard]] constexpr CardList<Capacity> cards_of(MoveCode code) {
  CardList<Capacity> cards;
  for (std::uint64_t rest = code >> kind_bits; rest != 0 && cards.size() < Capacity;
       rest >>= card_bits) {
    cards.push_back(card_of(rest & ((1U << card_bits) - 1)));
  }
  return cards;
}

}  // namespace move_code

[[nodiscard]] constexpr MoveCode encode_move(const Action& action) {
  const auto kind = static_cast<std::uint64_t>(action.index());
  const std::uint64_t body = std::visit(
      [](const auto& move) -> std::uint64_t {
        using Move = std::decay_t<decltype(move)>;
        if constexpr (std::is_same_v<Move, action::Play>) {
          return move_code::cards_word(std::array<Card, 1>{move.card});
        } else if constexpr (std::is_same_v<Move, action::AnimalCombo>) {
          return move_code::cards_word(std::array<Card, 2>{move.ace, move.partner});
        } else if constexpr (std::is_same_v<Move, action::Combo> ||
                             std::is_same_v<Move, action::Discard>) {
          return move_code::cards_word(move.cards);
        } else if constexpr (std::is_same_v<Move, action::ChangePlayer>) {
          return std::uint64_t{move.id.index} << move_code::kind_bits;
        } else {
          return 0;
        }
      },
      action);
  return kind | body;
}

[[nodiscard]] constexpr Action decode_move(MoveCode code) {
  const auto card = [code](unsigned slot) {
    return move_code::card_of(code >> (move_code::kind_bits + slot * move_code::card_bits) &
                              ((1U << move_code::card_bits) - 1));
  };
  switch (code & ((1U << move_code::kind_bits) - 1)) {
    case 0:
      return action::Play{card(0)};
    case 1:
      return action::AnimalCombo{card(0), card(1)};
    case 2:
      return action::Combo{move_code::cards_of<max_combo_size>(code)};
    case 3:
      return action::Yield{};
    case 4:
      return action::Discard{move_code::cards_of<max_hand_capacity>(code)};
    default:
      return action::ChangePlayer{PlayerId{static_cast<std::size_t>(code >> move_code::kind_bits)}};
  }
}

}  // namespace tornquil
