// The player interface: every built-in player answers, for a state of any of the four player
// counts, which action to take next. A player may change itself while it decides (a generator
// advances, a search keeps its ranking); the state it is given is its own copy and only read.
#pragma once

#include <concepts>
#include <functional>

#include "rules/state.hpp"
#include "rules/state_enum.hpp"

namespace tornquil {

// State<N> is a distinct type per N, so a player provides one `play` per player count.
template <typename P>
concept Play = requires(P& player, const State<1>& one, const State<2>& two, const State<3>& three,
                        const State<4>& four) {
  { player.play(one) } -> std::same_as<Action>;
  { player.play(two) } -> std::same_as<Action>;
  { player.play(three) } -> std::same_as<Action>;
  { player.play(four) } -> std::same_as<Action>;
};

// Called by a player on the thread that asked it to decide, whenever a long decision can pause:
// at least every kDecisionCheckPeriod (player_settings.hpp) while a search runs, and after every
// interrupted read of the console. It throws to abandon the decision (the caller's signal handler
// raised, say); the player is then left as it was before the decision. Empty means nothing to
// check.
using DecisionCheck = std::function<void()>;

// A player that can pause offers play(state, check); the others are asked without the check.
template <typename P, typename S>
concept PlayWithCheck = requires(P& player, const S& state, const DecisionCheck& check) {
  { player.play(state, check) } -> std::same_as<Action>;
};

// Asks `player` about a state whose player count is known only at run time. The player gets a
// private copy of the State inside, never the caller's.
template <Play P>
[[nodiscard]] Action play_any(P& player, const StateEnum& state, const DecisionCheck& check = {}) {
  return state.visit([&](const auto& inner) {
    const auto copy = inner;
    if constexpr (PlayWithCheck<P, decltype(copy)>) {
      return player.play(copy, check);
    } else {
      return player.play(copy);
    }
  });
}

}  // namespace tornquil
