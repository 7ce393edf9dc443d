// One random game played from a state to its end: the value the search gives a new node.
// Safe to call from many threads at once; each call works on its own copy and generator.
#pragma once

#include <optional>

#include "game_search/fast_rng.hpp"
#include "rules/state.hpp"

namespace tornquil {

// Picks uniformly among the legal actions (among the pruned ones with `Heuristics`) until the
// game ends, and returns its result.
template <std::size_t N, bool Heuristics>
[[nodiscard]] GameResult random_rollout(State<N> state);

// One step of a random game: a uniform choice among the legal (with `Heuristics`, the pruned)
// actions, or none when the state has none. Discards are chosen without listing them; other
// phases are listed into `actions`, a buffer the caller reuses.
template <std::size_t N, bool Heuristics>
[[nodiscard]] std::optional<Action> random_action(const State<N>& state, ActionBuffer& actions,
                                                  Xoshiro256& rng);

}  // namespace tornquil
