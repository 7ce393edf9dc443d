// The search tree and its playout: walk down by the tree policy, expand at most one edge, value
// the leaf with the evaluator and add the reward to every node on the way back.
//
// Concurrency: playout() may be called from any number of threads at once, each with its own
// ThreadData; it takes no lock. The readers (root_node(), the counters) may run at any time but
// see a settled tree only once no playout is running. settle_root_edges() and destruction must
// not overlap any playout.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "search/mcts.hpp"
#include "search/search_node.hpp"
#include "search/small_vec.hpp"

namespace tornquil::search {

// Private to one thread for its whole share of a search.
template <typename Spec>
struct ThreadData {
  PolicyThreadDataOf<Spec> policy_data{};
  [[no_unique_address]] typename Spec::ExtraThreadData extra_data{};
};

// What the evaluator and the tree policy get to see during a playout.
template <typename Spec>
class SearchHandle {
 public:
  SearchHandle(const SearchNode<Spec>& node, ThreadData<Spec>& tld, const Spec& manager)
      : node_(node), tld_(tld), manager_(manager) {}

  [[nodiscard]] const SearchNode<Spec>& node() const { return node_; }
  [[nodiscard]] ThreadData<Spec>& thread_data() const { return tld_; }
  [[nodiscard]] const Spec& manager() const { return manager_; }

 private:
  const SearchNode<Spec>& node_;
  ThreadData<Spec>& tld_;
  const Spec& manager_;
};

// Read access to a node, for callers outside the search.
template <typename Spec>
class NodeHandle {
 public:
  explicit NodeHandle(const SearchNode<Spec>& node) : node_(node) {}

  [[nodiscard]] std::span<const MoveInfo<Spec>> moves() const { return node_.moves(); }
  [[nodiscard]] const SearchNode<Spec>& node() const { return node_; }

 private:
  const SearchNode<Spec>& node_;
};

// Counts a playout in num_nodes for exactly as long as it runs, however it ends.
class IncreaseSentinel {
 public:
  explicit IncreaseSentinel(std::atomic<std::size_t>& x)
      : x_(x), num_nodes_(x.fetch_add(1, std::memory_order_relaxed)) {}
  IncreaseSentinel(const IncreaseSentinel&) = delete;
  IncreaseSentinel& operator=(const IncreaseSentinel&) = delete;
  ~IncreaseSentinel() { x_.fetch_sub(1, std::memory_order_relaxed); }

  // The counter's value just before this sentinel's increment.
  [[nodiscard]] std::size_t num_nodes() const { return num_nodes_; }

 private:
  std::atomic<std::size_t>& x_;
  const std::size_t num_nodes_;
};

// The table of a tree without transpositions: it finds nothing and keeps nothing.
struct EmptyTable {
  template <typename Spec>
  [[nodiscard]] SearchNode<Spec>* lookup(const StateOf<Spec>& /*state*/) const {
    return nullptr;
  }
  template <typename Spec>
  [[nodiscard]] SearchNode<Spec>* insert(const StateOf<Spec>& /*state*/,
                                         SearchNode<Spec>& /*node*/) const {
    return nullptr;
  }
};

// The handle is null only for the root.
template <typename Spec>
[[nodiscard]] NodeOwner<Spec> create_node(const typename Spec::Evaluator& eval,
                                          const typename Spec::TreePolicy& policy,
                                          const StateOf<Spec>& state,
                                          SearchHandle<Spec>* handle) {
  const auto moves = state.available_moves();
  return SearchNode<Spec>::build(
      moves, [&](MoveEvaluations<Spec>& move_evaluations) -> StateEvaluationOf<Spec> {
        StateEvaluationOf<Spec> evaln =
            eval.evaluate_new_state(state, moves, move_evaluations, handle);
        policy.validate_evaluations(std::as_const(move_evaluations));
        return evaln;
      });
}

// Whether current is one of the nodes in past, by identity.
template <typename Nodes, typename Node>
[[nodiscard]] bool is_cycle(const Nodes& past, const Node* current) {
  return std::find(past.begin(), past.end(), current) != past.end();
}

template <SearchSpec Spec>
class SearchTree {
 public:
  using State = StateOf<Spec>;
  using Node = SearchNode<Spec>;
  using Edge = MoveInfo<Spec>;
  using Evaluator = typename Spec::Evaluator;
  using TreePolicy = typename Spec::TreePolicy;
  using TranspositionTable = typename Spec::TranspositionTable;
  using StateEvaluation = StateEvaluationOf<Spec>;
  using Thread = ThreadData<Spec>;

  // Creates and evaluates the root at once.
  SearchTree(State state, Spec manager, TreePolicy tree_policy, Evaluator eval,
             TranspositionTable table)
      : manager_(std::move(manager)),
        eval_(std::move(eval)),
        tree_policy_(std::move(tree_policy)),
        table_(std::move(table)),
        root_state_(std::move(state)),
        root_node_(create_node<Spec>(eval_, tree_policy_, root_state_, nullptr)) {}
  SearchTree(const SearchTree&) = delete;
  SearchTree& operator=(const SearchTree&) = delete;

  // False only when the node limit refused the playout, which then changed nothing.
  bool playout(Thread& tld) {
    const IncreaseSentinel sentinel(num_nodes_);
    if (sentinel.num_nodes() >= manager_.node_limit()) return false;
    Walk walk(root_state_, *root_node_);
    if (!walk.node->moves().empty()) walk_down(walk, tld);
    const StateEvaluation evaln = evaluate_leaf(walk, tld);
    finish_playout(walk.path, walk.node_path, walk.players, tld, evaln);
    return true;
  }

  // The root's edges are only exact once no playout runs; see settle_root_edges.
  [[nodiscard]] NodeHandle<Spec> root_node() const { return NodeHandle<Spec>(*root_node_); }
  [[nodiscard]] const State& root_state() const { return root_state_; }
  [[nodiscard]] const Spec& spec() const { return manager_; }
  [[nodiscard]] const TreePolicy& tree_policy() const { return tree_policy_; }
  [[nodiscard]] const Evaluator& evaluator() const { return eval_; }

  [[nodiscard]] std::size_t num_nodes() const { return num_nodes_.load(std::memory_order_relaxed); }
  [[nodiscard]] std::uint64_t expansion_contention_events() const {
    return expansion_contention_events_.load(std::memory_order_relaxed);
  }
  [[nodiscard]] std::uint64_t transposition_table_hits() const {
    return transposition_table_hits_.load(std::memory_order_relaxed);
  }
  [[nodiscard]] std::uint64_t delayed_transposition_table_hits() const {
    return delayed_transposition_table_hits_.load(std::memory_order_relaxed);
  }

  // A playout's replace stores a pair it loaded earlier, so with several threads a root edge can
  // be left behind its child by a replace that lost the race. A child's own statistics only ever
  // grow by atomic adds, one per playout through it, so once every playout has finished they are
  // the exact answer. Must not run while any playout does.
  void settle_root_edges() {
    for (Edge& edge : root_node_->moves()) {
      if (const Node* const child = edge.child()) edge.stats().replace(child->stats());
    }
  }

 private:
  using PathEdges = SmallVec<Edge*, 64>;
  using PathNodes = SmallVec<Node*, 64>;
  using PathPlayers = SmallVec<PlayerOf<Spec>, 64>;

  // Everything one playout keeps while it walks down: its own copy of the state and the paths.
  struct Walk {
    Walk(const State& root_state, Node& root) : state(root_state), node(&root) {}
    State state;
    PathEdges path;       // edges taken
    PathNodes node_path;  // nodes reached, the root not included
    PathPlayers players;  // player to move before each edge
    Node* node;
    bool did_we_create = false;
  };

  struct Descent {
    Node* node;
    bool created;
  };

  void walk_down(Walk& walk, Thread& tld) {
    while (walk.path.size() < manager_.max_playout_length()) {
      if (!take_step(walk, tld)) return;
    }
  }

  // Follows one edge; false when the playout stops at the node reached.
  [[nodiscard]] bool take_step(Walk& walk, Thread& tld) {
    Edge& choice = choose_child(*walk.node, tld);
    choice.stats().down(manager_);
    walk.players.push_back(walk.state.current_player());
    walk.path.push_back(&choice);
    check_playout_length(walk.path.size());
    walk.state.make_move(choice.get_move());
    const Descent descent = descend(walk.state, choice, *walk.node, tld);
    walk.node = descent.node;
    walk.did_we_create = descent.created;
    check_cycle(walk.node_path, descent.node);
    walk.node_path.push_back(descent.node);
    descent.node->stats().down(manager_);
    // Read again rather than taken from our own increment: a node that another playout has
    // visited in the meantime is already worth expanding.
    return descent.node->stats().visits() > manager_.visits_before_expansion() &&
           !descent.node->moves().empty();
  }

  [[nodiscard]] Edge& choose_child(Node& node, Thread& tld) const {
    SearchHandle<Spec> handle(node, tld, manager_);
    const std::span<const Edge> edges = std::as_const(node).moves();
    const Edge* const chosen = tree_policy_.choose_child(edges, handle);
    if (chosen == nullptr) Spec::fault("tree policy chose no edge from a node that has edges");
    return node.moves()[static_cast<std::size_t>(chosen - edges.data())];
  }

  void check_playout_length(std::size_t length) const {
    const std::size_t limit = manager_.max_playout_length();
    if (length <= limit) return;
    Spec::fault("playout length exceeded maximum of " + std::to_string(limit) +
                " (maybe the transposition table is creating an infinite loop?)");
  }

  void check_cycle(const PathNodes& node_path, const Node* node) const {
    // Without a table every edge owns a distinct node, so the scan of the path, quadratic in
    // its depth over a playout, could never find anything.
    if constexpr (std::is_same_v<TranspositionTable, EmptyTable>) return;
    if (manager_.cycle_behaviour() != CycleBehaviour::PanicWhenCycleDetected) return;
    if (!is_cycle(node_path, node)) return;
    Spec::fault(
        "cycle detected! you should do one of the following:\n- make states acyclic\n- remove "
        "transposition table\n- change cycle_behaviour()");
  }

  [[nodiscard]] Descent descend(const State& state, Edge& choice, const Node& current_node,
                                Thread& tld) {
    if (Node* const child = choice.child()) return {child, false};
    if (Node* const found = table_.template lookup<Spec>(state)) {
      return adopt_transposition(choice, *found);
    }
    SearchHandle<Spec> handle(current_node, tld, manager_);
    NodeOwner<Spec> created = create_node<Spec>(eval_, tree_policy_, state, &handle);
    Node* const installed = choice.publish_child_if_null(created.get());
    if (installed != created.get()) {
      // Lost the race: our node is freed on the way out and we carry on through the winner's.
      expansion_contention_events_.fetch_add(1, std::memory_order_relaxed);
      return {installed, false};
    }
    Node& node = *created.release();
    choice.take_ownership_of_child();
    if (table_.template insert<Spec>(state, node) != nullptr) {
      delayed_transposition_table_hits_.fetch_add(1, std::memory_order_relaxed);
    }
    num_nodes_.fetch_add(1, std::memory_order_relaxed);
    return {&node, true};
  }

  // The edge shares a node that another edge owns.
  [[nodiscard]] Descent adopt_transposition(Edge& choice, Node& found) {
    transposition_table_hits_.fetch_add(1, std::memory_order_relaxed);
    return {choice.publish_child_if_null(&found), false};
  }

  [[nodiscard]] StateEvaluation evaluate_leaf(const Walk& walk, Thread& tld) const {
    if (walk.did_we_create) return walk.node->evaln();
    SearchHandle<Spec> handle(*walk.node, tld, manager_);
    return eval_.evaluate_existing_state(walk.state, walk.node->evaln(), handle);
  }

  // Deepest first, so that each edge copies a child that already holds this playout's reward.
  void finish_playout(const PathEdges& path, const PathNodes& node_path,
                      const PathPlayers& players, Thread& tld, const StateEvaluation& evaln) {
    const std::size_t depth = std::min({path.size(), node_path.size(), players.size()});
    for (std::size_t i = depth; i-- > 0;) {
      Node& node = *node_path[i];
      node.stats().up(manager_, eval_.interpret_evaluation_for_player(evaln, players[i]));
      path[i]->stats().replace(node.stats());
      SearchHandle<Spec> handle(node, tld, manager_);
      manager_.on_backpropagation(evaln, handle);
    }
  }

  const Spec manager_;
  const Evaluator eval_;
  const TreePolicy tree_policy_;
  TranspositionTable table_;
  const State root_state_;
  const NodeOwner<Spec> root_node_;  // the root's own statistics are never touched
  // Nodes in the tree plus playouts in progress: +1/-1 by each playout's sentinel, +1 per node
  // published (relaxed; only ever compared with the node limit).
  std::atomic<std::size_t> num_nodes_{1};
  // Each +1 by a playout whose table lookup found a node (relaxed; only grows).
  std::atomic<std::uint64_t> transposition_table_hits_{0};
  // Each +1 by a playout whose table insert answered with an existing node (relaxed; only grows).
  std::atomic<std::uint64_t> delayed_transposition_table_hits_{0};
  // Each +1 by a playout that lost the race to publish a child (relaxed; only grows).
  std::atomic<std::uint64_t> expansion_contention_events_{0};
};

}  // namespace tornquil::search
