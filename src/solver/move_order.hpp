// The order in which the solver tries the children of a position: a score for each child, higher
// first. It only steers the hunt for a win; no verdict depends on it.
//
// Kills come first, exact kills (the enemy joins the tavern deck) before overkills. Within a tier
// a child is worth the damage done to the current enemy, the cards left in hand and in the tavern
// deck, and jesters, less the attack still to be absorbed. Discards from which a card could be
// dropped and still absorb the blow come after every other discard.
#pragma once

#include <array>
#include <cstdint>
#include <variant>

#include "rules/state.hpp"

namespace tornquil::solver {

struct OrderWeights {
  std::int32_t kill = 1 << 24;
  std::int32_t exact_kill = 1 << 20;
  std::int32_t wasteful_discard = -(1 << 22);
  std::int32_t damage = 3;        // per point of damage on the current enemy
  std::int32_t hand_value = 2;    // per point of attack value in any hand
  std::int32_t hand_card = 1;     // per card in any hand
  std::int32_t jester = 30;       // per jester in any hand
  std::int32_t tavern_card = 5;   // per card in the tavern deck
  std::int32_t pending = 4;       // per point of attack the player to move must absorb
  std::int32_t enemy_attack = 3;  // per point of the current enemy's attack
};

inline constexpr OrderWeights kOrderWeights{};

// A discard is wasteful when a card could be dropped from it and the rest still absorb the blow:
// its total less its smallest card still reaches the amount.
template <std::size_t N>
[[nodiscard]] bool is_wasteful_discard(const State<N>& parent, const Action& action) {
  const auto* discard = std::get_if<action::Discard>(&action);
  if (discard == nullptr) return false;
  std::uint16_t smallest = UINT16_MAX;
  for (const Card card : discard->cards) smallest = std::min(smallest, attack_value(card));
  return attack_sum(discard->cards) - smallest >= parent.action_type.discard_amount();
}

[[nodiscard]] inline std::int32_t card_worth(Card card, const OrderWeights& weights) {
  return weights.hand_value * attack_value(card) + weights.hand_card +
         (card.value == CardValue::Jester ? weights.jester : 0);
}

// The full health of an enemy by its card's value byte: 20 for a Jack, 30 a Queen, 40 a King.
inline constexpr std::array<std::int8_t, 14> kFullHealth = {0, 0, 0, 0, 0,  0,  0,
                                                            0, 0, 0, 0, 20, 30, 40};

template <std::size_t N>
[[nodiscard]] std::int32_t hands_worth(const State<N>& state, const OrderWeights& weights) {
  std::int32_t worth = 0;
  for (const Player& player : state.players) {
    for (const Card card : player.hand) worth += card_worth(card, weights);
  }
  return worth;
}

// A position's worth apart from its hands.
template <std::size_t N>
[[nodiscard]] std::int32_t table_worth(const State<N>& state, const OrderWeights& weights) {
  std::int32_t worth =
      weights.tavern_card * static_cast<std::int32_t>(state.table.tavern_deck.size());
  if (const Enemy* enemy = state.current_enemy()) {
    const std::int32_t full_health = kFullHealth[static_cast<std::size_t>(enemy->card().value)];
    worth += weights.damage * (full_health - enemy->health());
    worth -= weights.enemy_attack * enemy->attack_value();
  }
  if (state.action_type.kind() == ActionType::Kind::Discard) {
    worth -= weights.pending * state.action_type.discard_amount();
  }
  return worth;
}

template <std::size_t N>
[[nodiscard]] std::int32_t position_worth(const State<N>& state, const OrderWeights& weights) {
  return hands_worth(state, weights) + table_worth(state, weights);
}

// The score of `child`, reached from `parent` by `action`, whose hands are worth `child_hands`.
template <std::size_t N>
[[nodiscard]] std::int32_t move_score(const State<N>& parent, const State<N>& child,
                                      const Action& action, std::int32_t child_hands,
                                      const OrderWeights& weights = kOrderWeights) {
  std::int32_t score = child_hands + table_worth(child, weights);
  if (child.level > parent.level) {
    score += weights.kill;
    // Only an exact kill puts the enemy's card on the tavern deck, and on top.
    const bool exact = !child.table.tavern_deck.empty() &&
                       child.table.tavern_deck.back() == parent.current_enemy()->card();
    if (exact) score += weights.exact_kill;
  }
  if (is_wasteful_discard(parent, action)) score += weights.wasteful_discard;
  return score;
}

template <std::size_t N>
[[nodiscard]] std::int32_t move_score(const State<N>& parent, const State<N>& child,
                                      const Action& action,
                                      const OrderWeights& weights = kOrderWeights) {
  return move_score(parent, child, action, hands_worth(child, weights), weights);
}

}  // namespace tornquil::solver
