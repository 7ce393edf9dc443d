// What a game must supply to be searched: its search settings type, a concept that bundles the
// game's state, moves and players with an evaluator, a tree policy, a transposition table and the
// tuning hooks. The engine is written once against SearchSpec and knows nothing else of the game.
//
// Every operation named here may be called from many search threads at once: the evaluator, the
// tree policy and the hooks through const references, the transposition table through a shared
// mutable one (so a table must synchronise itself). States are private to one playout. Each
// concept below says, for each of its operations, when the engine calls it, from which threads,
// and what it must return.
//
// What search threads share, on 16 to 64 cores as on 2. Per batch of playouts (up to 64 per
// worker, and never more than a sixty-fourth of a worker's share of the budget): the budget
// counter, one subtraction; and the counts at the top of the tree, the root's edges and those of
// the root's children, which each thread keeps in a view of its own (TopView), adding what it
// counted there to the tree with one relaxed add per edge it took, and reading the tree's counts
// there once, the first time it passes each node. Per playout: the stop flag, only read; and
// below the top the counts of the one edge taken at each level, a relaxed add on the way down and
// one on the way up, in the line that holds that edge; a node's own record is written after it
// is published only to hold counts that outgrew its edge. Nothing else is written to shared memory
// but, once in a node's life each, the pointer that publishes it and the one that publishes its
// edges: each thread places the nodes and edge lists it makes in arena blocks of its own, without a
// lock, and counts its nodes there. Each thread after the first breaks the policy's ties from a
// stream of its own, so threads do not all take the same path to the same leaf.
//
// Why that stays cheap at 64 threads: a line changes cores only when one thread writes what
// another has read or written, and the cost to each playout is the number of such lines it meets.
// Every playout passes the top, so there the lines would change cores on every playout with any
// number of threads, and the more threads, the more of them on each line; instead each thread
// meets them once a batch, so at the top a playout meets a batch's share of a few dozen lines
// whether 2 threads run or 64. Below the top the tree fans out: the nodes two levels down number
// in the hundreds or thousands, each visited by a small share of all playouts, and a playout meets
// about one line there that another thread wrote since this one last read it, again whatever the
// number of threads; deeper nodes are visited so rarely that their lines have left a core's cache
// between two of its visits, shared or not. So the cost of sharing the tree per playout does not
// grow with the number of threads, while the batch bounds how late a thread sees the others'
// playouts at the top: a sixty-fourth of the search at most. Should the lines of the top still
// cost too much on a larger machine, a longer batch is the lever, and a tree per thread the last
// resort.
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

// A child's visits and reward sum as one playout's selection sees them.
struct EdgeCounts {
  std::uint64_t visits = 0;
  std::int64_t sum_rewards = 0;
};

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

// A game may keep its moves in the tree as a small code, decoded each time an edge is taken:
// encode_move(move) gives the code and decode_move(code) a move equal to the one encoded. Both
// are static and pure, since they run on every search thread at once. A game without them keeps
// each move as it is.
template <typename Spec>
concept CodesMoves = requires(const typename Spec::Move& move,
                              const typename Spec::MoveCode& code) {
  { Spec::encode_move(move) } -> std::same_as<typename Spec::MoveCode>;
  { Spec::decode_move(code) } -> std::convertible_to<typename Spec::Move>;
};

template <typename Moves, typename Move>
concept MoveList = std::ranges::sized_range<Moves> && std::ranges::input_range<Moves> &&
    std::constructible_from<Move, std::ranges::range_reference_t<Moves>>;

// make_move changes the state in place: a playout copies the root state once and walks it down.
// All three are called by the playing thread on its own copy, from any search thread.
// current_player() is asked before each move a playout takes, and the edge's reward is later
// given to that player. available_moves() is asked for the root when the tree is built and for
// any other node when a playout first goes on below it (never for a node that no playout passes
// through), and its list, in its order, becomes the node's edges: it must be the same list every
// time for equal states, and it needs to stay valid only until the engine has built the edges,
// which it does before the thread lists moves again. An empty list makes a leaf that every visit
// values afresh.
template <typename State, typename Move, typename Player>
concept GameState = std::copy_constructible<State> &&
    requires(State& state, const State& view, const Move& move) {
  { view.current_player() } -> std::convertible_to<Player>;
  { view.available_moves() } -> MoveList<Move>;
  state.make_move(move);
};

// evaluate_new_state is called once for each node the engine builds: for the root by the thread
// that constructs the tree (with a null handle, since no playout exists yet), and for every other
// node by the search thread whose playout is expanding it, before the node is published, so
// several threads may evaluate the same new state at once and only one result is kept. It
// returns the state evaluation that the node keeps and the playout that built it backs up.
//
// evaluate_moves is called once for each list of edges the engine builds, when available_moves
// is asked (see GameState): for the root by the constructing thread with a null handle, and for
// every other node by the search thread that lists them, with a handle on that node, before the
// list is published; two threads may list the same node at once and only one list is kept. It
// writes one move evaluation per edge in place, through the MoveEvaluations view (so an empty
// move evaluation costs neither a write nor an allocation).
//
// evaluate_existing_state is called by a search thread whose playout stops at a node that was
// already built (a leaf without moves, a node below visits_before_expansion, or the end of the
// length limit), with the evaluation the node keeps; it returns the evaluation this playout
// backs up. interpret_evaluation_for_player is called once for each level of a finished
// playout's path, on the playing thread, and returns the reward the given player earns from that
// evaluation; rewards are summed as 64-bit integers. A throw from any of them ends the playout
// with nothing of it kept, and the manager raises it to its caller.
template <typename Spec>
concept SearchEvaluator = requires(const typename Spec::Evaluator& evaluator,
                                   const StateOf<Spec>& state, const MovesOf<Spec>& moves,
                                   MoveEvaluations<Spec>& move_evaluations,
                                   SearchHandle<Spec>* maybe_handle, SearchHandle<Spec>& handle,
                                   const StateEvaluationOf<Spec>& evaln,
                                   const PlayerOf<Spec>& player) {
  {
    evaluator.evaluate_new_state(state, maybe_handle)
    } -> std::convertible_to<StateEvaluationOf<Spec>>;
  evaluator.evaluate_moves(state, moves, move_evaluations, maybe_handle);
  {
    evaluator.evaluate_existing_state(state, evaln, handle)
    } -> std::convertible_to<StateEvaluationOf<Spec>>;
  { evaluator.interpret_evaluation_for_player(evaln, player) } -> std::convertible_to<std::int64_t>;
};

// choose_child is called at every node a playout walks through, by the playing thread, with the
// counts of the node's children in the order of its edges and a handle to that thread's own
// policy data; it is only asked about non-empty lists and returns a pointer into them (null is an
// internal fault). Each count was read once from the shared tree, so a visit count and a sum may
// come from different moments, and at the top of the tree other threads' playouts show up to a
// batch late (see TopView); the thread's own playouts always show. Its thread data starts
// default-constructed on every search thread; if
// it has seed_stream(index), each thread after the first is given seed_stream(its index), so
// that random choices differ between threads while the first thread's stay reproducible.
// validate_evaluations is called for each new list of edges after evaluate_moves, on the same
// thread, before the list is published, and may fault to refuse them.
template <typename Spec>
concept SearchTreePolicy = std::default_initializable<PolicyThreadDataOf<Spec>> &&
    std::default_initializable<MoveEvaluationOf<Spec>> &&
    requires(const typename Spec::TreePolicy& policy, std::span<const EdgeCounts> children,
             SearchHandle<Spec>& handle, const MoveEvaluations<Spec>& move_evaluations) {
  { policy.choose_child(children, handle) } -> std::convertible_to<const EdgeCounts*>;
  policy.validate_evaluations(move_evaluations);
};

// lookup is called by the playing thread when a playout takes an edge that has no child yet,
// with the state reached; it returns a node already in the tree for an equal state, which the
// edge then shares, or null to have a node built. insert is called once for every node a
// playout built and published, with its state, and answers with the node it already held for
// that state (the new node stays in the tree) or null. Both run on any
// search thread at once, through the one shared table, which must synchronise itself. A node
// handed out stays valid as long as the tree. A node's counts live in the edge that leads to it,
// so an edge that shares a node counts only the playouts that took that edge.
template <typename Spec>
concept SearchTranspositionTable = requires(typename Spec::TranspositionTable& table,
                                            const StateOf<Spec>& state, SearchNode<Spec>& node) {
  { table.template lookup<Spec>(state) } -> std::convertible_to<SearchNode<Spec>*>;
  { table.template insert<Spec>(state, node) } -> std::convertible_to<SearchNode<Spec>*>;
};

// The tuning hooks, each asked on the playing thread of any search thread, through a const
// reference, and required to answer alike every time:
// - virtual_loss(): asked when the tree is built and once a playout; subtracted from the reward
//   sum of every edge the playout passes on its way down and given back with the reward on its
//   way up, so that other threads see a path in use as worse. 0 (the default) skips those writes
//   and lets each thread keep its counts at the top of the tree to itself for a batch of
//   playouts (TopView); any other loss is there to be seen, so every playout then writes its
//   counts to the shared tree as it goes.
// - visits_before_expansion(): asked once a playout; a playout stops at a node it reaches while
//   the node's visits, its own included, are at most this many, and goes on below it otherwise.
// - node_limit(): the most nodes, counting playouts in progress, at which a playout may still
//   start; a playout refused by it changes nothing. Only a finite limit makes playouts count
//   themselves in a shared counter.
// - max_playout_length(): asked once a playout; the most edges its path may take.
// - cycle_behaviour(): asked when a playout reaches a node through a transposition table.
// - on_backpropagation(evaln, handle): called for each node of a finished playout's path,
//   deepest first, after the playout's reward has been counted on the edge leading to the node
//   (at the top of the tree in the thread's own view, which it publishes with its batch).
// - fault(message): static; raises the system's internal fault and does not return.
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
concept SearchSpec = requires {
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
}
&&GameState<StateOf<Spec>, MoveOf<Spec>, PlayerOf<Spec>>&&
    std::default_initializable<typename Spec::NodeData>&&
        std::default_initializable<typename Spec::ExtraThreadData>&& SearchEvaluator<Spec>&&
            SearchTreePolicy<Spec>&& SearchTranspositionTable<Spec>&& SearchHooks<Spec>;

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
