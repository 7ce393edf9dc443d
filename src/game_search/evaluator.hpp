// MyEvaluator: values a new node of the game's search by one random game played to the end, and
// an ended game by its recorded result.
//
// Concurrency: the evaluator holds no data; every rollout owns its state copy and generator, so
// it may be called from every search thread at once.
#pragma once

#include <cstdint>

#include "game_search/rollout.hpp"
#include "game_search/search_state.hpp"
#include "search/search_tree.hpp"

namespace tornquil {

template <std::size_t N, bool Heuristics>
struct MyEvaluator {
  using StateEvaluation = GameResult;

  [[nodiscard]] static GameResult evaluate(const SearchState<N>& position) {
    if (position.state.has_ended) return *position.state.has_ended;
    return random_rollout<N, Heuristics>(position.state);
  }

  template <typename Spec>
  [[nodiscard]] GameResult evaluate_new_state(const SearchState<N>& position,
                                              search::SearchHandle<Spec>* /*handle*/) const {
    return evaluate(position);
  }

  // The move evaluations are empty: nothing is written for them.
  template <typename Spec, typename Moves>
  void evaluate_moves(const SearchState<N>& /*position*/, const Moves& /*moves*/,
                      search::MoveEvaluations<Spec>& /*evaluations*/,
                      search::SearchHandle<Spec>* /*handle*/) const {}

  // Every further visit of a node plays a new random game.
  template <typename Spec>
  [[nodiscard]] GameResult evaluate_existing_state(const SearchState<N>& position,
                                                   const GameResult& /*existing*/,
                                                   search::SearchHandle<Spec>& /*handle*/) const {
    return evaluate(position);
  }

  // The game is cooperative: every player earns the same reward.
  [[nodiscard]] std::int64_t interpret_evaluation_for_player(const GameResult& result,
                                                             const Player& /*player*/) const {
    return result.score();
  }
};

}  // namespace tornquil
