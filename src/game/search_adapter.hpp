// The game's side of the search: the state as the engine walks it, the evaluator that values a
// new node by one random game, and the search settings MyMCTS<N, Heuristics>.
//
// A state whose move ended the game records the result in has_ended; such a state offers no
// moves and is valued by its recorded result, so the engine stops there and never credits one
// move with the rollout of another.
//
// Concurrency: the evaluator and the settings hold no data; every rollout owns its state copy
// and generator, so all of it may be called from every search thread at once.
#pragma once

#include <string>
#include <vector>

#include "error.hpp"
#include "game/policy.hpp"
#include "game/rollout.hpp"
#include "game/state.hpp"
#include "search/manager.hpp"
#include "search/mcts.hpp"
#include "search/search_tree.hpp"

namespace tornquil {

template <std::size_t N>
struct SearchState {
  State<N> state;

  [[nodiscard]] Player current_player() const { return state.current_player(); }

  [[nodiscard]] std::vector<Action> available_moves() const {
    if (state.has_ended) return {};
    return state.get_action_space();
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

template <std::size_t N, bool Heuristics>
struct MyEvaluator {
  using StateEvaluation = GameResult;

  [[nodiscard]] static GameResult evaluate(const SearchState<N>& position) {
    if (position.state.has_ended) return *position.state.has_ended;
    return random_rollout<N, Heuristics>(position.state);
  }

  // The move evaluations are empty: nothing is written for them.
  template <typename Spec, typename Moves>
  [[nodiscard]] GameResult evaluate_new_state(const SearchState<N>& position, const Moves& /*moves*/,
                                              search::MoveEvaluations<Spec>& /*evaluations*/,
                                              search::SearchHandle<Spec>* /*handle*/) const {
    return evaluate(position);
  }

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

template <std::size_t N, bool Heuristics>
struct MyMCTS : search::DefaultHooks {
  using State = SearchState<N>;
  using Move = Action;
  using Player = tornquil::Player;
  using Evaluator = MyEvaluator<N, Heuristics>;
  using TreePolicy = MyPolicy;
  using TranspositionTable = search::EmptyTable;
  using NodeData = search::Empty;
  using ExtraThreadData = search::Empty;

  [[noreturn]] static void fault(const std::string& message) { tornquil::fault(message); }
};

template <std::size_t N, bool Heuristics>
using GameSearch = search::MCTSManager<MyMCTS<N, Heuristics>>;

// A search of the game from `state`, which builds its tree and evaluates the root at once.
template <std::size_t N, bool Heuristics>
[[nodiscard]] GameSearch<N, Heuristics> new_game_search(const State<N>& state, MyPolicy policy) {
  return GameSearch<N, Heuristics>(SearchState<N>{state}, MyMCTS<N, Heuristics>{},
                                   MyEvaluator<N, Heuristics>{}, std::move(policy),
                                   search::EmptyTable{});
}

}  // namespace tornquil
