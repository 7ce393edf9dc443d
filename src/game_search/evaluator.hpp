// MyEvaluator: values a new node of the game's search by one game played to its end, of random
// moves or of the informed playout policy's, and an ended game by its recorded result.
//
// Concurrency: the evaluator holds no data; every rollout owns its state copy and generator, so
// it may be called from every search thread at once.
#pragma once

#include <cstdint>

#include "game_search/informed_policy.hpp"
#include "game_search/rollout.hpp"
#include "game_search/search_state.hpp"
#include "search/search_tree.hpp"

namespace tornquil {

// How a search values a new node: by a game of uniformly random moves, as the search player does
// by default, or by one of the informed playout policy's moves.
enum class Playouts : std::uint8_t { Random, Informed };

// The informed playouts' weights, tuned on the greedy policy's mean level over many deals and
// then given the temperature that served the search best.
[[nodiscard]] const PolicyWeights& playout_weights();

template <std::size_t N, bool Heuristics, Playouts P = Playouts::Random>
struct MyEvaluator {
  using StateEvaluation = GameResult;

  [[nodiscard]] static GameResult evaluate(const SearchState<N>& position) {
    if (position.state.has_ended) return *position.state.has_ended;
    if constexpr (P == Playouts::Informed) {
      Xoshiro256 rng = rollout_rng();
      return informed_rollout(position.state, playout_weights(), rng);
    } else {
      return random_rollout<N, Heuristics>(position.state);
    }
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
