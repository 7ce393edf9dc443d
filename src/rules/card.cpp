#include "rules/card.hpp"

namespace tornquil {
namespace {

constexpr std::string_view white_background = "47";
constexpr std::string_view black = "30";
constexpr std::string_view red = "31";

// The suit's rank for the suits' ordering; None has none.
constexpr int suit_rank(CardSuit suit) {
  switch (suit) {
    case CardSuit::Spades:
      return 1;
    case CardSuit::Hearts:
      return 2;
    case CardSuit::Diamonds:
      return 3;
    case CardSuit::Clubs:
      return 4;
    case CardSuit::None:
      return 0;
  }
  return 0;
}

std::string_view suit_foreground(CardSuit suit) {
  switch (suit) {
    case CardSuit::Hearts:
    case CardSuit::Diamonds:
      return red;
    case CardSuit::Spades:
    case CardSuit::Clubs:
      return black;
    case CardSuit::None:
      break;
  }
  return {};
}

// `text` on a white background, with the given foreground (none when empty).
void write_coloured(DebugWriter& writer, std::string_view text, std::string_view foreground) {
  if (!writer.colour()) {
    writer.text(text);
    return;
  }
  writer.text("\x1b[");
  writer.text(white_background);
  if (!foreground.empty()) {
    writer.text(";");
    writer.text(foreground);
  }
  writer.text("m");
  writer.text(text);
  writer.text("\x1b[0m");
}

}  // namespace

std::partial_ordering compare_suits(CardSuit a, CardSuit b) {
  return suit_rank(a) <=> suit_rank(b);
}

std::string_view suit_symbol(CardSuit suit) {
  switch (suit) {
    case CardSuit::Spades:
      return "\u2660";
    case CardSuit::Hearts:
      return "\u2665";
    case CardSuit::Diamonds:
      return "\u2666";
    case CardSuit::Clubs:
      return "\u2663";
    case CardSuit::None:
      return "";
  }
  return "";
}

std::string_view value_text(CardValue value) {
  static constexpr std::array<std::string_view, 14> texts = {
      "Jester", "A", "2", "3", "4", "5", "6", "7", "8", "9", "10", "J", "Q", "K"};
  return texts[static_cast<std::uint8_t>(value)];
}

void describe(DebugWriter& writer, CardSuit suit) {
  write_coloured(writer, suit_symbol(suit), suit_foreground(suit));
}

void describe(DebugWriter& writer, CardValue value) {
  write_coloured(writer, value_text(value), black);
}

void describe(DebugWriter& writer, Card card) {
  describe(writer, card.suit);
  describe(writer, card.value);
}

}  // namespace tornquil
