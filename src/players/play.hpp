// The player interface: every built-in player answers, for a state of any of the four player
// counts, which action to take next. A player may change itself while it decides (a generator
// advances, a search keeps its ranking); the state it is given is its own copy and only read.
#pragma once

#include <concepts>

#include "rules/state.hpp"
#include "rules/state_enum.hpp"

namespace tornquil {

// State<N> is a distinct type per N, so a player provides one `play` per player count.
template <typename P>
concept Play = requires(P& player, const State<1>& one, const State<2>& two,
                        const State<3>& three, const State<4>& four) {
  { player.play(one) } -> std::same_as<Action>;
  { player.play(two) } -> std::same_as<Action>;
  { player.play(three) } -> std::same_as<Action>;
  { player.play(four) } -> std::same_as<Action>;
};

// Asks `player` about a state whose player count is known only at run time. The player gets a
// private copy of the State inside, never the caller's.
template <Play P>
[[nodiscard]] Action play_any(P& player, const StateEnum& state) {
  return state.visit([&](const auto& inner) {
    const auto copy = inner;
    return player.play(copy);
  });
}

}  // namespace tornquil
