// Exact reasons why a position cannot be won, cheap enough to ask of every child. Each carries its
// proof; the solver treats a position they condemn as lost.
#pragma once

#include <cstdint>

#include "rules/state.hpp"
#include "solver/move_order.hpp"

namespace tornquil::solver {

// What the bound needs of a position's hands: their attack values and their Diamonds cards.
struct HandsSummary {
  std::int32_t value = 0;
  std::int32_t diamonds = 0;
};

template <std::size_t N>
[[nodiscard]] HandsSummary summarise_hands(const State<N>& state) {
  HandsSummary summary;
  for (const Player& player : state.players) {
    for (const Card card : player.hand) {
      summary.value += attack_value(card);
      summary.diamonds += card.suit == CardSuit::Diamonds ? 1 : 0;
    }
  }
  return summary;
}

// The health still to be taken: the current enemy's and the full health of every enemy below it.
template <std::size_t N>
[[nodiscard]] std::int32_t health_to_take(const State<N>& state) {
  std::int32_t health = 0;
  for (const Enemy& enemy : state.table.castle_deck) {
    health += kFullHealth[static_cast<std::size_t>(enemy.card().value)];
  }
  if (const Enemy* current = state.current_enemy()) {
    health += current->health() - kFullHealth[static_cast<std::size_t>(current->card().value)];
  }
  return health;
}

template <std::size_t N>
[[nodiscard]] std::int32_t pending_discard(const State<N>& state) {
  return state.action_type.kind() == ActionType::Kind::Discard ? state.action_type.discard_amount()
                                                               : 0;
}

// The starved-hands bound. Cards enter a hand only by the Diamonds power, which only a Diamonds
// card played from a hand sets off; so when no hand holds a Diamonds card, no card ever enters a
// hand again, and every card still to be played is in a hand now. A play deals its attack sum,
// doubled at most (Clubs), and each card is played at most once; a pending discard takes at
// least its amount out of the hands first. So the damage still to come is at most twice the hands'
// attack value less the pending discard, and the game is won only once every enemy left has taken
// its health. When that damage falls short, no line wins.
[[nodiscard]] inline bool starved(const HandsSummary& hands, std::int32_t pending_discard,
                                  std::int32_t health) {
  return hands.diamonds == 0 && 2 * (hands.value - pending_discard) < health;
}

template <std::size_t N>
[[nodiscard]] bool cannot_win(const State<N>& state) {
  return starved(summarise_hands(state), pending_discard(state), health_to_take(state));
}

}  // namespace tornquil::solver
