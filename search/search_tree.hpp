// The search tree and its playout: walk down by the tree policy, expand at most one edge, value
// the leaf with the evaluator and add the reward to every node on the way back.
//
// Concurrency: playout() may be called from any number of threads at once, each with its own
// ThreadData; it takes no lock but, about a hundred times in a million playouts, an arena's when
// a thread takes a new block. A playout writes nothing shared but the statistics on its path (and,
// under a finite node limit only, one shared counter). The readers (root_node(), the counters)
// may run at any time but see a settled tree only once no playout is running. settle_root_edges()
// and destruction must not overlap any playout.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "search/mcts.hpp"
#include "search/node_arena.hpp"
#include "search/search_node.hpp"
#include "search/small_vec.hpp"

namespace tornquil::search {

// Private to one thread for its whole share of a search.
template <typename Spec>
struct ThreadData {
  PolicyThreadDataOf<Spec> policy_data{};
  [[no_unique_address]] typename Spec::ExtraThreadData extra_data{};
  // Where this thread places the nodes it creates and the edges it lists; the engine's own.
  NodeArena::Cursor node_cursor;
  NodeArena::Cursor edge_cursor;
};

// Gives a search thread after the first its own stream of the policy's random choices, when the
// policy's thread data offers seed_stream; otherwise every thread starts alike.
template <typename PolicyData>
void seed_thread_stream(PolicyData& data, std::uint64_t index) {
  if constexpr (requires { data.seed_stream(index); }) data.seed_stream(index);
}

// What the evaluator and the tree policy get to see during a playout.
template <typename Spec>
class SearchHandle {
 public:
  SearchHandle(const SearchNode<Spec>& node, ThreadData<Spec>& tld, const Spec& manager)
      : node_(node), tld_(tld), spec_(manager) {}

  [[nodiscard]] const SearchNode<Spec>& node() const { return node_; }
  [[nodiscard]] ThreadData<Spec>& thread_data() const { return tld_; }
  [[nodiscard]] const Spec& manager() const { return spec_; }

 private:
  const SearchNode<Spec>& node_;
  ThreadData<Spec>& tld_;
  const Spec& spec_;
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

// Counts a playout for exactly as long as it runs, however it ends; used only under a node limit.
class InProgressSentinel {
 public:
  explicit InProgressSentinel(std::atomic<std::size_t>& count)
      : count_(count), before_(count.fetch_add(1, std::memory_order_relaxed)) {}
  InProgressSentinel(const InProgressSentinel&) = delete;
  InProgressSentinel& operator=(const InProgressSentinel&) = delete;
  ~InProgressSentinel() { count_.fetch_sub(1, std::memory_order_relaxed); }

  // The counter's value just before this sentinel's increment.
  [[nodiscard]] std::size_t before() const { return before_; }

 private:
  std::atomic<std::size_t>& count_;
  const std::size_t before_;
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
[[nodiscard]] SearchNode<Spec>* create_node(const typename Spec::Evaluator& eval,
                                            const StateOf<Spec>& state, NodeArena& arena,
                                            NodeArena::Cursor& cursor, SearchHandle<Spec>* handle) {
  return SearchNode<Spec>::build(arena, cursor,
                                 [&] { return eval.evaluate_new_state(state, handle); });
}

// The edges of the node whose state is `state`; the handle is null only for the root.
template <typename Spec>
[[nodiscard]] EdgeList<Spec>* list_edges(const typename Spec::Evaluator& eval,
                                         const typename Spec::TreePolicy& policy,
                                         const StateOf<Spec>& state, NodeArena& arena,
                                         NodeArena::Cursor& cursor, SearchHandle<Spec>* handle) {
  const auto moves = state.available_moves();
  return EdgeList<Spec>::build(arena, cursor, moves, [&](MoveEvaluations<Spec>& move_evaluations) {
    eval.evaluate_moves(state, moves, move_evaluations, handle);
    policy.validate_evaluations(std::as_const(move_evaluations));
  });
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
  SearchTree(State state, Spec spec, TreePolicy tree_policy, Evaluator eval,
             TranspositionTable table)
      : spec_(std::move(spec)),
        eval_(std::move(eval)),
        tree_policy_(std::move(tree_policy)),
        table_(std::move(table)),
        root_state_(std::move(state)),
        limited_(spec_.node_limit() != std::numeric_limits<std::size_t>::max()),
        root_node_(create_root()) {}
  SearchTree(const SearchTree&) = delete;
  SearchTree& operator=(const SearchTree&) = delete;
  ~SearchTree() {
    Node::Edges::destroy_all(edge_arena_);
    Node::destroy_all(node_arena_);
  }

  // False only when the node limit refused the playout, which then changed nothing.
  bool playout(Thread& tld) {
    if (!limited_) {
      run_playout(tld);
      return true;
    }
    const InProgressSentinel sentinel(nodes_and_playouts_in_progress_);
    if (sentinel.before() >= spec_.node_limit()) return false;
    run_playout(tld);
    return true;
  }

  [[nodiscard]] NodeHandle<Spec> root_node() const { return NodeHandle<Spec>(*root_node_); }
  [[nodiscard]] const State& root_state() const { return root_state_; }
  [[nodiscard]] const Spec& spec() const { return spec_; }
  [[nodiscard]] const TreePolicy& tree_policy() const { return tree_policy_; }
  [[nodiscard]] const Evaluator& evaluator() const { return eval_; }

  // A playout's replace stores a pair it loaded earlier, so with several threads a root edge can
  // be left behind its child by a replace that lost the race. A child's own statistics only ever
  // grow by atomic adds, one per playout through it, so once every playout has finished they are
  // the exact answer. Must not run while any playout does.
  void settle_root_edges() {
    for (Edge& edge : root_node_->moves()) {
      if (const Node* const child = edge.child()) edge.stats().replace(child->stats());
    }
  }

  // The nodes in the tree, the root included: each thread counts those it created in its own
  // arena block, and this adds the blocks up.
  [[nodiscard]] std::size_t num_nodes() const { return node_arena_.node_count(); }
  // The bytes the tree has taken for its nodes and edges, used or not yet.
  [[nodiscard]] std::size_t arena_bytes() const {
    return node_arena_.block_bytes() + edge_arena_.block_bytes();
  }
  [[nodiscard]] std::uint64_t expansion_contention_events() const {
    return expansion_contention_events_.load(std::memory_order_relaxed);
  }
  [[nodiscard]] std::uint64_t transposition_table_hits() const {
    return transposition_table_hits_.load(std::memory_order_relaxed);
  }
  [[nodiscard]] std::uint64_t delayed_transposition_table_hits() const {
    return delayed_transposition_table_hits_.load(std::memory_order_relaxed);
  }

 private:
  // One level of a playout's path: the edge taken, the node it led to, and the player who took
  // it (the player to move before the edge).
  struct Step {
    Edge* edge;
    Node* node;
    PlayerOf<Spec> player;
  };
  using Path = SmallVec<Step, 64>;

  // Everything one playout keeps while it walks down: its own copy of the state and the path.
  struct Walk {
    Walk(const State& root_state, Node& root, std::int64_t loss)
        : state(root_state), node(&root), virtual_loss(loss) {}
    State state;
    Path path;  // the root not included
    Node* node;
    const std::int64_t virtual_loss;  // read once: the hook is asked once a playout
    bool did_we_create = false;
  };

  struct Descent {
    Node* node;
    bool created;
  };

  // The root's edges are listed at once: a search of no playouts still ranks every move.
  Node* create_root() {
    NodeArena::Cursor node_cursor;
    NodeArena::Cursor edge_cursor;
    Node* const root = create_node<Spec>(eval_, root_state_, node_arena_, node_cursor, nullptr);
    try {
      static_cast<void>(root->publish_edges_if_null(
          list_edges<Spec>(eval_, tree_policy_, root_state_, edge_arena_, edge_cursor, nullptr)));
    } catch (...) {
      Node::discard(node_arena_, node_cursor, root);
      throw;
    }
    node_arena_.count_node(node_cursor);
    return root;
  }

  void run_playout(Thread& tld) {
    Walk walk(root_state_, *root_node_, spec_.virtual_loss());
    if (!walk.node->moves().empty()) walk_down(walk, tld);
    const StateEvaluation evaln = evaluate_leaf(walk, tld);
    finish_playout(walk, tld, evaln);
  }

  // The length limit is read once, so the loop head is the one place a path can stop for it.
  void walk_down(Walk& walk, Thread& tld) {
    const std::size_t max_length = spec_.max_playout_length();
    const std::uint64_t visits_before_expansion = spec_.visits_before_expansion();
    while (walk.path.size() < max_length) {
      if (!take_step(walk, tld, visits_before_expansion)) return;
    }
  }

  // Follows one edge; false when the playout stops at the node reached.
  [[nodiscard]] bool take_step(Walk& walk, Thread& tld, std::uint64_t visits_before_expansion) {
    Edge& choice = choose_child(*walk.node, tld);
    choice.stats().down(walk.virtual_loss);
    if (const Node* const child = choice.child()) prefetch(*child);
    const PlayerOf<Spec> player = walk.state.current_player();
    walk.state.make_move(choice.get_move());
    const Descent descent = descend(walk, choice, tld);
    walk.path.push_back(Step{&choice, descent.node, player});
    walk.node = descent.node;
    walk.did_we_create = descent.created;
    // Read again rather than taken from our own increment: a node that another playout has
    // visited in the meantime is already worth expanding.
    if (descent.node->stats().visits() <= visits_before_expansion) return false;
    return !edges_of(*descent.node, walk.state, tld).empty();
  }

  // Asks for the child while the move is made: in a large tree it is far from anything this
  // thread touched lately, and the next step needs its counts and its edges. Its edges cannot be
  // asked for as well: where they lie is written in the child itself, and reading that here
  // would wait for the very line being fetched.
  static void prefetch(const Node& node) { __builtin_prefetch(&node, 1); }

  // Asks for all the lines of a list at once, before the policy reads them one after another:
  // they then arrive together instead of one miss at a time.
  static void prefetch(const typename Node::Edges& list) {
    const auto* const first = reinterpret_cast<const char*>(&list);
    const auto* const last =
        first + std::min<std::size_t>(Node::Edges::allocation_size(list.edges().size()), 16 * 64);
    for (const char* line = first + 64; line < last; line += 64) __builtin_prefetch(line);
  }

  // The node's edges, listed by the first playout that goes on below it. Two playouts that list
  // them at once both build a list; the one that loses gives its list back and takes the other.
  [[nodiscard]] std::span<Edge> edges_of(Node& node, const State& state, Thread& tld) {
    if (typename Node::Edges* const list = node.edge_list()) {
      prefetch(*list);
      return list->edges();
    }
    SearchHandle<Spec> handle(node, tld, spec_);
    auto* const listed =
        list_edges<Spec>(eval_, tree_policy_, state, edge_arena_, tld.edge_cursor, &handle);
    auto* const installed = node.publish_edges_if_null(listed);
    if (installed != listed) {
      expansion_contention_events_.fetch_add(1, std::memory_order_relaxed);
      Node::Edges::discard(edge_arena_, tld.edge_cursor, listed);
    }
    return installed->edges();
  }

  [[nodiscard]] Edge& choose_child(Node& node, Thread& tld) const {
    SearchHandle<Spec> handle(node, tld, spec_);
    const std::span<const Edge> edges = std::as_const(node).moves();
    const Edge* const chosen = tree_policy_.choose_child(edges, handle);
    if (chosen == nullptr) Spec::fault("tree policy chose no edge from a node that has edges");
    return node.moves()[static_cast<std::size_t>(chosen - edges.data())];
  }

  void check_cycle(const Path& path, const Node* node) const {
    // Without a table every edge owns a distinct node, so the scan of the path, quadratic in
    // its depth over a playout, could never find anything.
    if constexpr (std::is_same_v<TranspositionTable, EmptyTable>) return;
    if (spec_.cycle_behaviour() != CycleBehaviour::PanicWhenCycleDetected) return;
    const bool seen = std::any_of(path.begin(), path.end(),
                                  [node](const Step& step) { return step.node == node; });
    if (!seen) return;
    Spec::fault(
        "cycle detected! you should do one of the following:\n- make states acyclic\n- remove "
        "transposition table\n- change cycle_behaviour()");
  }

  // The node below the edge, found, adopted from the table or created, with this playout's
  // visit already counted on it.
  [[nodiscard]] Descent descend(Walk& walk, Edge& choice, Thread& tld) {
    if (Node* const child = choice.child()) return arrive(walk, child, false);
    if (Node* const found = table_.template lookup<Spec>(walk.state)) {
      transposition_table_hits_.fetch_add(1, std::memory_order_relaxed);
      return arrive(walk, choice.publish_child_if_null(found), false);
    }
    SearchHandle<Spec> handle(*walk.node, tld, spec_);
    Node* const created =
        create_node<Spec>(eval_, walk.state, node_arena_, tld.node_cursor, &handle);
    Node* const installed = choice.publish_child_if_null(created);
    if (installed != created) {
      // Lost the race: our node goes back to the arena and we carry on through the winner's.
      expansion_contention_events_.fetch_add(1, std::memory_order_relaxed);
      Node::discard(node_arena_, tld.node_cursor, created);
      return arrive(walk, installed, false);
    }
    node_arena_.count_node(tld.node_cursor);
    if (limited_) nodes_and_playouts_in_progress_.fetch_add(1, std::memory_order_relaxed);
    if (table_.template insert<Spec>(walk.state, *created) != nullptr) {
      delayed_transposition_table_hits_.fetch_add(1, std::memory_order_relaxed);
    }
    return arrive(walk, created, true);
  }

  [[nodiscard]] Descent arrive(const Walk& walk, Node* node, bool created) const {
    check_cycle(walk.path, node);
    node->stats().down(walk.virtual_loss);
    return {node, created};
  }

  [[nodiscard]] StateEvaluation evaluate_leaf(const Walk& walk, Thread& tld) const {
    if (walk.did_we_create) return walk.node->evaln();
    SearchHandle<Spec> handle(*walk.node, tld, spec_);
    return eval_.evaluate_existing_state(walk.state, walk.node->evaln(), handle);
  }

  // Deepest first, so that each edge copies a child that already holds this playout's reward.
  void finish_playout(const Walk& walk, Thread& tld, const StateEvaluation& evaln) {
    for (std::size_t i = walk.path.size(); i-- > 0;) {
      const Step& step = walk.path[i];
      step.node->stats().up(walk.virtual_loss,
                            eval_.interpret_evaluation_for_player(evaln, step.player));
      step.edge->stats().replace(step.node->stats());
      SearchHandle<Spec> handle(*step.node, tld, spec_);
      spec_.on_backpropagation(evaln, handle);
    }
  }

  const Spec spec_;
  const Evaluator eval_;
  const TreePolicy tree_policy_;
  TranspositionTable table_;
  const State root_state_;
  // Whether node_limit() is finite; only then does a playout touch the shared counter below.
  const bool limited_;
  NodeArena node_arena_;
  NodeArena edge_arena_;
  Node* const root_node_;  // the root's own statistics are never touched
  // Under a node limit only: nodes in the tree plus playouts in progress, +1/-1 by each
  // playout's sentinel and +1 per node published (relaxed; only compared with the limit).
  std::atomic<std::size_t> nodes_and_playouts_in_progress_{1};
  // Each +1 by a playout whose table lookup found a node (relaxed; only grows).
  std::atomic<std::uint64_t> transposition_table_hits_{0};
  // Each +1 by a playout whose table insert answered with an existing node (relaxed; only grows).
  std::atomic<std::uint64_t> delayed_transposition_table_hits_{0};
  // Each +1 by a playout that lost the race to publish a child or a node's edges (relaxed; only
  // grows).
  std::atomic<std::uint64_t> expansion_contention_events_{0};
};

}  // namespace tornquil::search
