// MyMCTS<N, Heuristics, P>: the game's search settings, which bind the generic engine to the game's
// state, evaluator and tree policy; and the one way the players, benchmarks and tests build a
// search of the game.
#pragma once

#include <string>

#include "base/error.hpp"
#include "game_search/evaluator.hpp"
#include "game_search/move_code.hpp"
#include "game_search/policy_choice.hpp"
#include "game_search/search_state.hpp"
#include "search/manager.hpp"
#include "search/mcts.hpp"
#include "search/search_tree.hpp"

namespace tornquil {

template <std::size_t N, bool Heuristics, Playouts P = Playouts::Random>
struct MyMCTS : search::DefaultHooks {
  using State = SearchState<N>;
  using Move = Action;
  using Player = tornquil::Player;
  using Evaluator = MyEvaluator<N, Heuristics, P>;
  using TreePolicy = MyPolicy;
  using TranspositionTable = search::EmptyTable;
  using NodeData = search::Empty;
  using ExtraThreadData = search::Empty;
  using MoveCode = tornquil::MoveCode;

  [[nodiscard]] static MoveCode encode_move(const Action& move) {
    return tornquil::encode_move(move);
  }
  [[nodiscard]] static Action decode_move(MoveCode code) { return tornquil::decode_move(code); }

  [[noreturn]] static void fault(const std::string& message) { tornquil::fault(message); }
};

template <std::size_t N, bool Heuristics, Playouts P = Playouts::Random>
using GameSearch = search::MCTSManager<MyMCTS<N, Heuristics, P>>;

// A search of the game from `state`, which builds its tree and evaluates the root at once.
template <std::size_t N, bool Heuristics, Playouts P = Playouts::Random>
[[nodiscard]] GameSearch<N, Heuristics, P> new_game_search(const State<N>& state, MyPolicy policy) {
  return GameSearch<N, Heuristics, P>(SearchState<N>{state}, MyMCTS<N, Heuristics, P>{},
                                      MyEvaluator<N, Heuristics, P>{}, std::move(policy),
                                      search::EmptyTable{});
}

}  // namespace tornquil
