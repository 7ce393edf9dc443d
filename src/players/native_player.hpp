// NativePlayer: a built-in player held by value in a game's seat. A game copies the player it
// is given, so its decisions advance the game's copy only.
//
// A new built-in player joins by becoming one more alternative here; the seat conversion of the
// binding tries the alternatives in this order.
#pragma once

#include <variant>

#include "players/input_player.hpp"
#include "players/mcts_player.hpp"
#include "players/play.hpp"
#include "players/random_player.hpp"

namespace tornquil {

using NativePlayer = std::variant<RandomPlayer, InputPlayer, MCTSPlayer>;

[[nodiscard]] inline Action play(NativePlayer& player, const StateEnum& state,
                                 const DecisionCheck& check = {}) {
  return std::visit([&](auto& alternative) { return play_any(alternative, state, check); }, player);
}

}  // namespace tornquil
