#include "rules/distinct_actions.hpp"

#include <algorithm>

namespace tornquil {
namespace {

// The cards a discard gives up, in one order: a hand gives up one copy per card named, the
// first it holds, so only how many of each card are named matters.
Hand sorted_cards(const Hand& cards) {
  Hand sorted = cards;
  std::sort(sorted.begin(), sorted.end(),
            [](Card a, Card b) { return std::pair(a.suit, a.value) < std::pair(b.suit, b.value); });
  return sorted;
}

bool holds_a_card_twice(const Hand& hand) {
  for (std::size_t i = 0; i < hand.size(); ++i) {
    if (std::find(hand.begin() + i + 1, hand.end(), hand[i]) != hand.end()) return true;
  }
  return false;
}

}  // namespace

bool same_effect(const Action& a, const Action& b) {
  if (a == b) return true;
  const auto* discard_a = std::get_if<action::Discard>(&a);
  const auto* discard_b = std::get_if<action::Discard>(&b);
  return discard_a != nullptr && discard_b != nullptr &&
         sorted_cards(discard_a->cards) == sorted_cards(discard_b->cards);
}

void drop_repeated_effects(ActionBuffer& actions, const Hand& hand) {
  if (!holds_a_card_twice(hand)) return;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < actions.size(); ++i) {
    const bool repeated =
        std::any_of(actions.begin(), actions.begin() + kept,
                    [&](const Action& earlier) { return same_effect(earlier, actions[i]); });
    if (!repeated) actions[kept++] = actions[i];
  }
  actions.resize_down(kept);
}

}  // namespace tornquil
