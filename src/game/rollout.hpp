// One random game played from a state to its end: the value the search gives a new node.
// Safe to call from many threads at once; each call works on its own copy and generator.
#pragma once

#include "game/state.hpp"

namespace tornquil {

// Picks uniformly among the legal actions (among the pruned ones with `Heuristics`) until the
// game ends, and returns its result.
template <std::size_t N, bool Heuristics>
[[nodiscard]] GameResult random_rollout(State<N> state);

}  // namespace tornquil
