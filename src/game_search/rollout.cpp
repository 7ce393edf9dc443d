#include "game_search/rollout.hpp"

#include "game_search/fast_rng.hpp"
#include "game_search/pruning.hpp"
#include "game_search/rollout_choice.hpp"
#include "rules/attack_actions.hpp"

namespace tornquil {
template <std::size_t N, bool Heuristics>
std::optional<Action> random_action(const State<N>& state, ActionBuffer& actions, Xoshiro256& rng) {
  // Pruning keeps every attack, so an attack is picked from the unlisted space either way.
  if (state.action_type.kind() == ActionType::Kind::PlayCards) {
    const AttackActions attacks(state.current_player().hand);
    return attacks[rng.uniform(static_cast<std::uint32_t>(attacks.size()))];
  }
  if (state.action_type.kind() == ActionType::Kind::Discard) {
    const Hand& hand = state.current_player().hand;
    const std::uint8_t mask =
        random_discard_mask<Heuristics>(hand, state.action_type.discard_amount(), rng);
    if (mask == 0) return std::nullopt;
    return action::Discard{cards_at<max_hand_capacity>(hand, mask)};
  }
  state.fill_action_space(actions);
  if constexpr (Heuristics) prune_bad_moves(actions);
  if (actions.empty()) return std::nullopt;
  return actions[rng.uniform(static_cast<std::uint32_t>(actions.size()))];
}

template <std::size_t N, bool Heuristics>
GameResult random_rollout(State<N> state) {
  // One buffer per thread for every rollout it runs: a rollout's action lists never touch the
  // heap.
  thread_local ActionBuffer actions;
  Xoshiro256 rng = rollout_rng();
  while (true) {
    const std::optional<Action> chosen = random_action<N, Heuristics>(state, actions, rng);
    // No reachable state lacks an action; this is the defined answer for any other.
    if (!chosen) return GameResult::lost(state.reward());
    if (const auto result = state.apply_action_in_place(*chosen)) return *result;
  }
}

template GameResult random_rollout<1, false>(State<1>);
template std::optional<Action> random_action<1, false>(const State<1>&, ActionBuffer&, Xoshiro256&);
template GameResult random_rollout<2, false>(State<2>);
template std::optional<Action> random_action<2, false>(const State<2>&, ActionBuffer&, Xoshiro256&);
template GameResult random_rollout<3, false>(State<3>);
template std::optional<Action> random_action<3, false>(const State<3>&, ActionBuffer&, Xoshiro256&);
template GameResult random_rollout<4, false>(State<4>);
template std::optional<Action> random_action<4, false>(const State<4>&, ActionBuffer&, Xoshiro256&);
template GameResult random_rollout<1, true>(State<1>);
template std::optional<Action> random_action<1, true>(const State<1>&, ActionBuffer&, Xoshiro256&);
template GameResult random_rollout<2, true>(State<2>);
template std::optional<Action> random_action<2, true>(const State<2>&, ActionBuffer&, Xoshiro256&);
template GameResult random_rollout<3, true>(State<3>);
template std::optional<Action> random_action<3, true>(const State<3>&, ActionBuffer&, Xoshiro256&);
template GameResult random_rollout<4, true>(State<4>);
template std::optional<Action> random_action<4, true>(const State<4>&, ActionBuffer&, Xoshiro256&);

}  // namespace tornquil
