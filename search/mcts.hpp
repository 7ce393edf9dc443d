// What a game must supply to be searched: its search settings type, a concept that bundles the
// game's state, moves and players with an evaluator, a tree policy, a transposition table and the
// tuning hooks. The engine is written once against SearchSpec and knows nothing else of the game.
//
// Every operation named here may be called from many search threads at once: the evaluator, the
// tree policy and the hooks through const references, the transposition table through a shared
// mutable one (so a table must synchronise itself). States are private to one playout.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <ranges>
#include <span>
#include <string>
#include <utility>

namespace tornquil::search {

template <typename Spec>
class SearchNode;
template <typename Spec>
class MoveInfo;
template <typename Spec>
class MoveEvaluations;
template <typename Spec>
class SearchHandle;

// The value of a move evaluation, node data or thread data that carries nothing; stored with
// [[no_unique_address]] so that it takes no room in a node or an edge.
struct Empty {};

// What a playout does on reaching a node that is already on its own path. Only a transposition
// table can make that happen, so a tree without one never meets either case.
enum class CycleBehaviour : std::uint8_t { Ignore, PanicWhenCycleDetected };

template <typename Spec>
using StateOf = typename Spec::State;
template <typename Spec>
using MoveOf = typename Spec::Move;
template <typename Spec>
using PlayerOf = typename Spec::Player;
template <typename Spec>
using MoveEvaluationOf = typename Spec::TreePolicy::MoveEvaluation;
template <typename Spec>
using StateEvaluationOf = typename Spec::Evaluator::StateEvaluation;
template <typename Spec>
using PolicyThreadDataOf = typename Spec::TreePolicy::ThreadData;
template <typename Spec>
using MovesOf = decltype(std::declval<const typename Spec::State&>().available_moves());

template <typename Moves, typename Move>
concept MoveList = std::ranges::sized_range<Moves> && std::ranges::input_range<Moves> &&
                   std::constructible_from<Move, std::ranges::range_reference_t<Moves>>;

// make_move changes the state in place: a playout copies the root state once and walks it down.
template <typename State, typename Move, typename Player>
concept GameState =
    std::copy_constructible<State> && requires(State& state, const State& view, const Move& move) {
      { view.current_player() } -> std::convertible_to<Player>;
      { view.available_moves() } -> MoveList<Move>;
      state.make_move(move);
    };

// evaluate_new_state writes one move evaluation per edge of the new node in place, through the
// MoveEvaluations view, so an empty move evaluation costs neither a write nor an allocation. The
// handle is null for the root, which is evaluated before any playout exists.
template <typename Spec>
concept SearchEvaluator = requires(const typename Spec::Evaluator& evaluator,
                                   const StateOf<Spec>& state, const MovesOf<Spec>& moves,
                                   MoveEvaluations<Spec>& move_evaluations,
                                   SearchHandle<Spec>* maybe_handle, SearchHandle<Spec>& handle,
                                   const StateEvaluationOf<Spec>& evaln,
                                   const PlayerOf<Spec>& player) {
  {
    evaluator.evaluate_new_state(state, moves, move_evaluations, maybe_handle)
  } -> std::convertible_to<StateEvaluationOf<Spec>>;
  {
    evaluator.evaluate_existing_state(state, evaln, handle)
  } -> std::convertible_to<StateEvaluationOf<Spec>>;
  { evaluator.interpret_evaluation_for_player(evaln, player) } -> std::convertible_to<std::int64_t>;
};

// choose_child returns a pointer into the given edges; it is only asked about non-empty lists,
// and a null answer is an internal fault.
template <typename Spec>
concept SearchTreePolicy =
    std::default_initializable<PolicyThreadDataOf<Spec>> &&
    std::default_initializable<MoveEvaluationOf<Spec>> &&
    requires(const typename Spec::TreePolicy& policy, std::span<const MoveInfo<Spec>> edges,
             SearchHandle<Spec>& handle, const MoveEvaluations<Spec>& move_evaluations) {
      { policy.choose_child(edges, handle) } -> std::convertible_to<const MoveInfo<Spec>*>;
      policy.validate_evaluations(move_evaluations);
    };

// lookup may hand back a node already in the tree for an equal state; insert offers a new node
// and answers with the node it already held for that state, if any. Either may return null.
template <typename Spec>
concept SearchTranspositionTable =
    requires(typename Spec::TranspositionTable& table, const StateOf<Spec>& state,
             SearchNode<Spec>& node) {
      {
        table.template lookup<Spec>(state)
      } -> std::convertible_to<SearchNode<Spec>*>;
      {
        table.template insert<Spec>(state, node)
      } -> std::convertible_to<SearchNode<Spec>*>;
    };

template <typename Spec>
concept SearchHooks = requires(const Spec& spec, const StateEvaluationOf<Spec>& evaln,
                               SearchHandle<Spec>& handle, const std::string& message) {
  { spec.virtual_loss() } -> std::convertible_to<std::int64_t>;
  { spec.visits_before_expansion() } -> std::convertible_to<std::uint64_t>;
  { spec.node_limit() } -> std::convertible_to<std::size_t>;
  { spec.max_playout_length() } -> std::convertible_to<std::size_t>;
  { spec.cycle_behaviour() } -> std::convertible_to<CycleBehaviour>;
  spec.on_backpropagation(evaln, handle);
  Spec::fault(message);
};

template <typename Spec>
concept SearchSpec =
    requires {
      typename Spec::State;
      typename Spec::Move;
      typename Spec::Player;
      typename Spec::Evaluator;
      typename Spec::TreePolicy;
      typename Spec::TranspositionTable;
      typename Spec::NodeData;
      typename Spec::ExtraThreadData;
      typename MoveEvaluationOf<Spec>;
      typename StateEvaluationOf<Spec>;
      typename PolicyThreadDataOf<Spec>;
    } && GameState<StateOf<Spec>, MoveOf<Spec>, PlayerOf<Spec>> &&
    std::default_initializable<typename Spec::NodeData> &&
    std::default_initializable<typename Spec::ExtraThreadData> && SearchEvaluator<Spec> &&
    SearchTreePolicy<Spec> && SearchTranspositionTable<Spec> && SearchHooks<Spec>;

// The tuning every game in this system uses; a settings type inherits it and overrides what it
// must. fault is deliberately absent: the engine cannot know the system's fault type.
struct DefaultHooks {
  [[nodiscard]] std::int64_t virtual_loss() const { return 0; }
  [[nodiscard]] std::uint64_t visits_before_expansion() const { return 1; }
  [[nodiscard]] std::size_t node_limit() const { return std::numeric_limits<std::size_t>::max(); }
  [[nodiscard]] std::size_t max_playout_length() const { return 1000; }
  [[nodiscard]] CycleBehaviour cycle_behaviour() const {
    return CycleBehaviour::PanicWhenCycleDetected;
  }
  template <typename Evaluation, typename Handle>
  void on_backpropagation(const Evaluation& /*evaln*/, Handle& /*handle*/) const {}
};

}  // namespace tornquil::search
