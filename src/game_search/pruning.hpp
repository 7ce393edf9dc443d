// The game heuristic of the search's rollouts: never discard a Diamonds card while another way
// of absorbing the damage exists. Nothing else is pruned, and only rollouts are pruned.
#pragma once

#include <algorithm>
#include <vector>

#include "rules/state.hpp"

namespace tornquil {

// The positions of the cards a rollout would rather keep: its Diamonds, as a mask over the list.
// The one definition of what pruning avoids, for listed discards and for masks of a hand alike.
template <std::size_t Capacity>
[[nodiscard]] std::uint8_t kept_card_positions(const CardList<Capacity>& cards) {
  std::uint8_t positions = 0;
  for (std::size_t i = 0; i < cards.size() && i < 8; ++i) {
    if (cards[i].suit == CardSuit::Diamonds) positions |= static_cast<std::uint8_t>(1U << i);
  }
  return positions;
}

[[nodiscard]] inline bool is_discard_with_diamonds(const Action& action) {
  const auto* discard = std::get_if<action::Discard>(&action);
  return discard != nullptr && kept_card_positions(discard->cards) != 0;
}

namespace detail {
// Keeps the entries that are not discards with Diamonds, in order, unless that would keep
// none; returns the new length.
template <typename Actions>
[[nodiscard]] std::size_t pruned_length(Actions& actions) {
  const auto kept = static_cast<std::size_t>(
      std::count_if(actions.begin(), actions.end(),
                    [](const Action& action) { return !is_discard_with_diamonds(action); }));
  if (kept == 0 || kept == actions.size()) return actions.size();
  std::stable_partition(actions.begin(), actions.end(),
                        [](const Action& action) { return !is_discard_with_diamonds(action); });
  return kept;
}
}  // namespace detail

inline void prune_bad_moves(ActionBuffer& actions) {
  actions.resize_down(detail::pruned_length(actions));
}

[[nodiscard]] inline std::vector<Action> prune_bad_moves(std::vector<Action> actions) {
  actions.resize(detail::pruned_length(actions));
  return actions;
}

}  // namespace tornquil
