// The turn loop of a game: ask the seat whose turn it is, refuse an action the state does not
// offer, apply it, until the rules report a result. Every way of playing a whole game (the
// Python game class, the benchmarks, the tests) goes through it, so the loop and its legality
// check exist once.
#pragma once

#include <algorithm>
#include <concepts>
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "players/native_player.hpp"
#include "rules/state_enum.hpp"

namespace tornquil {

// A seat answered with an action that the state does not offer. The game stays at the state
// the seat was asked about.
struct IllegalAction {
  Action action;
  std::vector<Action> legal;
};

using GameOutcome = std::variant<GameResult, IllegalAction>;

// The legal actions when `action` is not among them.
[[nodiscard]] inline std::optional<IllegalAction> check_legal(const StateEnum& state,
                                                              const Action& action) {
  std::vector<Action> legal = state.get_action_space();
  if (std::find(legal.begin(), legal.end(), action) != legal.end()) return std::nullopt;
  return IllegalAction{action, std::move(legal)};
}

// `ask(state)` returns the action of the seat whose turn it is (state.has_turn()); it may
// throw, which ends the game loop with the state as it was before that turn. When the game
// ends, `state` keeps the last state before the end, as StateEnum::take_action does.
template <typename Ask>
requires std::invocable<Ask&, const StateEnum&>
[[nodiscard]] GameOutcome play_to_end(StateEnum& state, Ask&& ask) {
  while (true) {
    const Action action = ask(std::as_const(state));
    if (std::optional<IllegalAction> illegal = check_legal(state, action)) {
      return std::move(*illegal);
    }
    if (const std::optional<GameResult> result = state.take_action(action)) return *result;
  }
}

// A game between built-in players, seat i playing for PlayerId i.
[[nodiscard]] inline GameOutcome play_to_end(StateEnum& state, std::span<NativePlayer> seats) {
  return play_to_end(state,
                     [&](const StateEnum& now) { return play(seats[now.has_turn().index], now); });
}

}  // namespace tornquil
