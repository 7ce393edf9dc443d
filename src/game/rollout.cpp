#include "game/rollout.hpp"

#include "game/fast_rng.hpp"
#include "game/pruning.hpp"

namespace tornquil {

template <std::size_t N, bool Heuristics>
GameResult random_rollout(State<N> state) {
  // One buffer per thread for every rollout it runs: the action lists of a rollout never touch
  // the heap.
  thread_local ActionBuffer actions;
  Xoshiro256 rng = rollout_rng();
  while (true) {
    state.fill_action_space(actions);
    if constexpr (Heuristics) prune_bad_moves(actions);
    // No reachable state lacks an action; this is the defined answer for any other.
    if (actions.empty()) return GameResult::lost(state.reward());
    const Action& chosen = actions[rng.uniform(static_cast<std::uint32_t>(actions.size()))];
    if (const auto result = state.apply_action_in_place(chosen)) return *result;
  }
}

template GameResult random_rollout<1, false>(State<1>);
template GameResult random_rollout<2, false>(State<2>);
template GameResult random_rollout<3, false>(State<3>);
template GameResult random_rollout<4, false>(State<4>);
template GameResult random_rollout<1, true>(State<1>);
template GameResult random_rollout<2, true>(State<2>);
template GameResult random_rollout<3, true>(State<3>);
template GameResult random_rollout<4, true>(State<4>);

}  // namespace tornquil
