// The search tree and its playout: walk down by the tree policy, expand at most one edge, value
// the leaf with the evaluator and add the reward to every node on the way back.
//
// Concurrency: playout() and playouts() may be called from any number of threads at once, each
// with its own ThreadData; they take no lock but, about a hundred times in a million playouts, an
// arena's when a thread takes a new block. A playout writes nothing shared but the counts of the
// edges on its path below the top of the tree, and the thread's counts at the top when its batch
// ends (see TopView); under a finite node limit only, also one shared counter. The readers
// (root_node(), the counters) may run at any time but see a settled tree only once no playout is
// running. Destruction must not overlap any playout.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "search/mcts.hpp"
#include "search/node_arena.hpp"
#include "search/prefetch.hpp"
#include "search/search_node.hpp"
#include "search/small_vec.hpp"
#include "search/top_view.hpp"

namespace tornquil::search {

// Private to one thread for its whole share of a search.
template <typename Spec>
struct ThreadData {
  PolicyThreadDataOf<Spec> policy_data{};
  [[no_unique_address]] typename Spec::ExtraThreadData extra_data{};
  // Where this thread places the nodes it creates and the edges it lists; the engine's own.
  NodeArena::Cursor node_cursor;
  NodeArena::Cursor edge_cursor;
  // The thread's own counts at the top of the tree, and the counts a selection below it reads.
  TopView<Spec> top_view;
  std::vector<EdgeCounts> counts;
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
  SearchHandle(const SearchNode<Spec>& node, ThreadData<Spec>& tld) : node_(node), tld_(tld) {}

  [[nodiscard]] const SearchNode<Spec>& node() const { return node_; }
  [[nodiscard]] ThreadData<Spec>& thread_data() const { return tld_; }

 private:
  const SearchNode<Spec>& node_;
  ThreadData<Spec>& tld_;
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
        views_(spec_.virtual_loss() == 0),
        root_node_(create_root()) {}
  SearchTree(const SearchTree&) = delete;
  SearchTree& operator=(const SearchTree&) = delete;
  ~SearchTree() {
    Node::Edges::destroy_all(edge_arena_);
    Node::destroy_all(node_arena_);
  }

  // False only when the node limit refused the playout, which then changed nothing.
  bool playout(Thread& tld) {
    return playouts(tld, 1, [] { return true; }) == 1;
  }

  // Runs up to `count` playouts one after another, asking keep_going() before each after the
  // first, and returns how many the node limit did not refuse. The thread's counts at the top of
  // the tree reach the tree when the batch ends, however it ends; a playout that faults has taken
  // back its own first.
  template <typename KeepGoing>
  std::uint64_t playouts(Thread& tld, std::uint64_t count, KeepGoing&& keep_going) {
    if (views_) tld.top_view.attach(node_arena_.id(), root_node_->moves().size());
    std::uint64_t completed = 0;
    try {
      for (std::uint64_t done = 0; done < count; ++done) {
        if (done > 0 && !keep_going()) break;
        if (playout_once(tld)) ++completed;
      }
    } catch (...) {
      tld.top_view.publish();
      throw;
    }
    tld.top_view.publish();
    return completed;
  }

  [[nodiscard]] NodeHandle<Spec> root_node() const { return NodeHandle<Spec>(*root_node_); }
  [[nodiscard]] const Spec& spec() const { return spec_; }
  [[nodiscard]] const TreePolicy& tree_policy() const { return tree_policy_; }
  [[nodiscard]] const Evaluator& evaluator() const { return eval_; }

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

 private:
  using View = TopView<Spec>;

  // One level of a playout's path: the edge taken, the node it led to (null until the descent
  // has found it), the player who took it (the player to move before the edge), where the thread
  // counts it if at the top, and whether its visit is counted yet.
  struct Step {
    Edge* edge;
    Node* node;
    PlayerOf<Spec> player;
    typename View::Position view_position;
    bool counted;
  };
  using Path = SmallVec<Step, 64>;
  // The reward of each level of a path, in the path's order.
  using Rewards = SmallVec<std::int64_t, 64>;

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

  // When a playout's visit of an edge is counted: at once in the thread's view at the top of the
  // tree, and in the tree below it once the move is made (or, for a virtual loss too big for a new
  // edge, once the descent has found its child; see choose_shared).
  enum class Down : std::uint8_t { Counted, AfterMove, AfterDescent };

  // The edge chosen, with its move and its child (null if it had none yet) as they were read
  // when it was chosen.
  struct Choice {
    Edge* edge;
    typename View::Position view_position;
    Down down;
    typename Edge::Code code;
    Node* child;
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

  bool playout_once(Thread& tld) {
    if (!limited_) {
      run_playout(tld);
      return true;
    }
    const InProgressSentinel sentinel(nodes_and_playouts_in_progress_);
    if (sentinel.before() >= spec_.node_limit()) return false;
    run_playout(tld);
    return true;
  }

  // A playout that faults before its reward is known takes back the visits it counted, so that
  // it leaves nothing behind but the nodes and edge lists it published.
  void run_playout(Thread& tld) {
    Walk walk(root_state_, *root_node_, spec_.virtual_loss());
    Rewards rewards;
    std::optional<StateEvaluation> evaln;
    try {
      if (!walk.node->moves().empty()) walk_down(walk, tld);
      evaln.emplace(evaluate_leaf(walk, tld));
      for (const Step& step : walk.path) {
        rewards.push_back(eval_.interpret_evaluation_for_player(*evaln, step.player));
      }
    } catch (...) {
      take_back(walk, tld);
      throw;
    }
    finish_playout(walk, tld, *evaln, rewards);
  }

  void take_back(const Walk& walk, Thread& tld) const {
    for (const Step& step : walk.path) {
      if (!step.counted) continue;
      if (step.view_position != View::kNotViewed) {
        tld.top_view.take_back_visit(step.view_position);
      } else {
        step.edge->take_back(walk.virtual_loss);
      }
    }
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
    const Choice choice = choose(walk, tld);
    Edge& edge = *choice.edge;
    walk.path.push_back(Step{&edge, nullptr, walk.state.current_player(), choice.view_position,
                             choice.down == Down::Counted});
    // The child is far from anything this thread touched lately, and the next step needs its
    // edges; where they lie is written in the child itself, so only the child can be asked for.
    if (choice.child != nullptr) prefetch_for_read(choice.child);
    walk.state.make_move(Edge::decode(choice.code));
    if (choice.down == Down::AfterMove) count_down(walk, edge);
    const Descent descent = descend(walk, edge, choice.child, tld);
    walk.path.back().node = descent.node;
    if (choice.down == Down::AfterDescent) count_down(walk, edge);
    walk.node = descent.node;
    walk.did_we_create = descent.created;
    // Read again rather than taken from our own increment: a node that another playout has
    // visited in the meantime is already worth expanding (at the top, once this thread has seen
    // that playout).
    if (visits_of(choice, tld) <= visits_before_expansion) return false;
    return !edges_of(*descent.node, walk.state, tld).empty();
  }

  static void count_down(Walk& walk, Edge& edge) {
    edge.down(walk.virtual_loss);
    walk.path.back().counted = true;
  }

  // The visits of the node a choice leads to, this playout's own included.
  [[nodiscard]] static std::uint64_t visits_of(const Choice& choice, const Thread& tld) {
    if (choice.view_position != View::kNotViewed) return tld.top_view.visits(choice.view_position);
    return choice.edge->visits();
  }

  [[nodiscard]] Choice choose(Walk& walk, Thread& tld) const {
    const std::size_t depth = walk.path.size();
    if (views_ && depth < View::kLevels) {
      const std::size_t root_index =
          depth == 0 ? 0 : static_cast<std::size_t>(walk.path[0].edge - root_node_->moves().data());
      const std::size_t slot = View::slot_of(depth, root_index);
      const std::span<Edge> edges = walk.node->moves();
      const std::span<const EdgeCounts> counts = tld.top_view.counts(slot, edges);
      if (!counts.empty()) {
        const std::size_t index = choose_among(*walk.node, counts, tld);
        const typename View::Position at = tld.top_view.position(slot, index);
        Edge& edge = edges[index];
        tld.top_view.count_visit(at, edge);
        return {&edge, at, Down::Counted, tld.top_view.code(at), tld.top_view.child(at, edge)};
      }
    }
    return choose_shared(walk, tld);
  }

  // Reads each edge's counts once. The visit is counted in the tree, where other threads see it,
  // once the move is made: the edge's line is asked for now, so that another core that holds it
  // can hand it over meanwhile, and the move and child are read before that, while the line is
  // still here. It is counted before the node below is valued either way. A virtual loss too big
  // for an edge to hold has to go to the child's counts; an edge met for the first time has no
  // child yet, so its down then waits until the descent has found or made one.
  [[nodiscard]] Choice choose_shared(Walk& walk, Thread& tld) const {
    const std::span<Edge> edges = walk.node->moves();
    if (tld.counts.size() < edges.size()) tld.counts.resize(edges.size());
    for (std::size_t i = 0; i < edges.size(); ++i) tld.counts[i] = edges[i].counts();
    const std::size_t index =
        choose_among(*walk.node, std::span<const EdgeCounts>(tld.counts.data(), edges.size()), tld);
    Edge& edge = edges[index];
    Node* const child = edge.child();
    if (!EdgeStats::small_delta(1, -walk.virtual_loss) && child == nullptr) {
      return {&edge, View::kNotViewed, Down::AfterDescent, edge.code(), child};
    }
    const typename Edge::Code code = edge.code();
    prefetch_for_write(&edge.stats());
    return {&edge, View::kNotViewed, Down::AfterMove, code, child};
  }

  [[nodiscard]] std::size_t choose_among(const Node& node, std::span<const EdgeCounts> counts,
                                         Thread& tld) const {
    SearchHandle<Spec> handle(node, tld);
    const EdgeCounts* const chosen = tree_policy_.choose_child(counts, handle);
    if (chosen == nullptr) Spec::fault("tree policy chose no edge from a node that has edges");
    return static_cast<std::size_t>(chosen - counts.data());
  }

  // Asks for all the lines of a list at once, before the policy reads them one after another:
  // they then arrive together instead of one miss at a time.
  static void prefetch(const typename Node::Edges& list) {
    const auto* const first = reinterpret_cast<const char*>(&list);
    const auto* const last =
        first + std::min<std::size_t>(Node::Edges::allocation_size(list.edges().size()), 16 * 64);
    for (const char* line = first + 64; line < last; line += 64) prefetch_for_read(line);
  }

  // The node's edges, listed by the first playout that goes on below it. Two playouts that list
  // them at once both build a list; the one that loses gives its list back and takes the other.
  [[nodiscard]] std::span<Edge> edges_of(Node& node, const State& state, Thread& tld) {
    if (typename Node::Edges* const list = node.edge_list()) {
      prefetch(*list);
      return list->edges();
    }
    SearchHandle<Spec> handle(node, tld);
    auto* const listed =
        list_edges<Spec>(eval_, tree_policy_, state, edge_arena_, tld.edge_cursor, &handle);
    auto* const installed = node.publish_edges_if_null(listed);
    if (installed != listed) {
      expansion_contention_events_.fetch_add(1, std::memory_order_relaxed);
      Node::Edges::discard(edge_arena_, tld.edge_cursor, listed);
    }
    return installed->edges();
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

  // The node below the edge, known already, found, adopted from the table or created.
  [[nodiscard]] Descent descend(Walk& walk, Edge& choice, Node* known, Thread& tld) {
    if (known != nullptr) return arrive(walk, known, false);
    if (Node* const child = choice.child()) return arrive(walk, child, false);
    if (Node* const found = table_.template lookup<Spec>(walk.state)) {
      transposition_table_hits_.fetch_add(1, std::memory_order_relaxed);
      return arrive(walk, choice.publish_child_if_null(found), false);
    }
    SearchHandle<Spec> handle(*walk.node, tld);
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
    // A node the table already held for this state is left to its own edges; ours stays.
    (void)table_.template insert<Spec>(walk.state, *created);
    return arrive(walk, created, true);
  }

  [[nodiscard]] Descent arrive(const Walk& walk, Node* node, bool created) const {
    check_cycle(walk.path, node);
    return {node, created};
  }

  [[nodiscard]] StateEvaluation evaluate_leaf(const Walk& walk, Thread& tld) const {
    if (walk.did_we_create) return walk.node->evaln();
    SearchHandle<Spec> handle(*walk.node, tld);
    return eval_.evaluate_existing_state(walk.state, walk.node->evaln(), handle);
  }

  // Deepest first, as the hook expects.
  void finish_playout(const Walk& walk, Thread& tld, const StateEvaluation& evaln,
                      const Rewards& rewards) {
    for (std::size_t i = walk.path.size(); i-- > 0;) {
      const Step& step = walk.path[i];
      if (step.view_position != View::kNotViewed) {
        tld.top_view.count_reward(step.view_position, rewards[i]);
      } else {
        step.edge->up(walk.virtual_loss, rewards[i]);
      }
      SearchHandle<Spec> handle(*step.node, tld);
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
  // Whether threads keep their counts at the top of the tree in views: not with a virtual loss,
  // which is there for other threads to see at once.
  const bool views_;
  NodeArena node_arena_;
  NodeArena edge_arena_;
  Node* const root_node_;  // no edge leads to it, so it has no counts
  // Under a node limit only: nodes in the tree plus playouts in progress, +1/-1 by each
  // playout's sentinel and +1 per node published (relaxed; only compared with the limit).
  std::atomic<std::size_t> nodes_and_playouts_in_progress_{1};
  // Each +1 by a playout whose table lookup found a node (relaxed; only grows).
  std::atomic<std::uint64_t> transposition_table_hits_{0};
  // Each +1 by a playout that lost the race to publish a child or a node's edges (relaxed; only
  // grows).
  std::atomic<std::uint64_t> expansion_contention_events_{0};
};

}  // namespace tornquil::search
