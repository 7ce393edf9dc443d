// The game's state as the search engine walks it: a State<N> whose move that ends the game
// records the result in has_ended instead of leaving the state behind.
//
// A state whose move ended the game offers no moves and is valued by its recorded result, so the
// engine stops there and never credits one move with the rollout of another.
#pragma once

#include <span>

#include "rules/distinct_actions.hpp"
#include "rules/state.hpp"

namespace tornquil {

template <std::size_t N>
struct SearchState {
  State<N> state;

  [[nodiscard]] Player current_player() const { return state.current_player(); }

  // Listed into the calling thread's own buffer, so a new node's moves cost neither a heap
  // allocation nor the clearing of a fresh buffer: the list stays valid until the same thread
  // lists moves again, which the search never does before it has built the node. Actions that do
  // what an earlier one does are left out, so that equal moves do not split their visits.
  [[nodiscard]] std::span<const Action> available_moves() const {
    thread_local ActionBuffer moves;
    moves.clear();
    if (!state.has_ended) {
      state.fill_action_space(moves);
      drop_repeated_effects(moves, state.current_player().hand);
    }
    return {moves.data(), moves.size()};
  }

  // When the move ends the game, the state keeps its contents from before the move and records
  // the result.
  void make_move(const Action& move) {
    const State<N> before = state;
    if (const auto result = state.apply_action_in_place(move)) {
      state = before;
      state.has_ended = result;
    }
  }
};

}  // namespace tornquil
