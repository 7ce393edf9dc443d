// The records of the shared tree: the statistics of a node or an edge, the edges, and the nodes.
// A node and its edges live in one heap allocation, made once when a playout expands an edge.
//
// Concurrency: any thread may read statistics and child pointers and update statistics at any
// time. A node's edge list, moves, move evaluations and evaln are written only before the node is
// published and are read-only afterwards. Nodes are freed only when the tree is destroyed, after
// every search thread has been joined.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <ranges>
#include <span>
#include <utility>

#include "search/mcts.hpp"

namespace tornquil::search {

// Visits and reward sum of a node or an edge. The two fields are independent atomics: a reader
// may see a count and a sum from different moments, which selection tolerates.
class NodeStats {
 public:
  NodeStats() = default;
  NodeStats(std::uint64_t visits, std::int64_t sum_evaluations)
      : visits_(visits), sum_evaluations_(sum_evaluations) {}
  NodeStats(const NodeStats&) = delete;
  NodeStats& operator=(const NodeStats&) = delete;

  [[nodiscard]] std::uint64_t visits() const { return visits_.load(std::memory_order_relaxed); }
  [[nodiscard]] std::int64_t sum_evaluations() const {
    return sum_evaluations_.load(std::memory_order_relaxed);
  }

  template <typename Spec>
  void down(const Spec& manager) {
    const std::int64_t virtual_loss = manager.virtual_loss();
    // Skipping a zero loss saves a read-modify-write on every edge and node of every playout.
    if (virtual_loss != 0) sum_evaluations_.fetch_sub(virtual_loss, std::memory_order_relaxed);
    visits_.fetch_add(1, std::memory_order_relaxed);
  }

  template <typename Spec>
  void up(const Spec& manager, std::int64_t evaln) {
    sum_evaluations_.fetch_add(evaln + manager.virtual_loss(), std::memory_order_relaxed);
  }

  // Two separate stores of values loaded one after the other: the copy is not one unit, and
  // concurrent replaces may leave the older pair in place.
  void replace(const NodeStats& other) {
    visits_.store(other.visits(), std::memory_order_relaxed);
    sum_evaluations_.store(other.sum_evaluations(), std::memory_order_relaxed);
  }

 private:
  // Written by every playout through here: +1 by down (relaxed); on an edge also overwritten by
  // replace when a playout below finishes.
  std::atomic<std::uint64_t> visits_{0};
  // Written by down (minus the virtual loss) and up (plus reward and loss), relaxed; on an edge
  // also overwritten by replace.
  std::atomic<std::int64_t> sum_evaluations_{0};
};

template <typename Spec>
class SearchNode;

template <typename Spec>
void destroy_node(SearchNode<Spec>* node);

template <typename Spec>
struct NodeDeleter {
  void operator()(SearchNode<Spec>* node) const { destroy_node(node); }
};

template <typename Spec>
using NodeOwner = std::unique_ptr<SearchNode<Spec>, NodeDeleter<Spec>>;

// One edge: a move from a node, its move evaluation, its statistics and the node below it.
template <typename Spec>
class MoveInfo {
 public:
  explicit MoveInfo(MoveOf<Spec> mov) : mov_(std::move(mov)) {}
  MoveInfo(const MoveInfo&) = delete;
  MoveInfo& operator=(const MoveInfo&) = delete;
  ~MoveInfo() {
    // Read only here, after every search thread has been joined; the join orders it.
    if (owned_.load(std::memory_order_relaxed)) {
      destroy_node(child_.load(std::memory_order_relaxed));
    }
  }

  [[nodiscard]] const MoveOf<Spec>& get_move() const { return mov_; }
  [[nodiscard]] const MoveEvaluationOf<Spec>& move_evaluation() const { return move_evaluation_; }
  [[nodiscard]] std::uint64_t visits() const { return stats_.visits(); }
  [[nodiscard]] std::int64_t sum_rewards() const { return stats_.sum_evaluations(); }
  [[nodiscard]] NodeStats& stats() { return stats_; }
  [[nodiscard]] const NodeStats& stats() const { return stats_; }

  // Acquire pairs with the release in publish_child_if_null: a non-null child is fully built.
  [[nodiscard]] SearchNode<Spec>* child() { return child_.load(std::memory_order_acquire); }
  [[nodiscard]] const SearchNode<Spec>* child() const {
    return child_.load(std::memory_order_acquire);
  }

  // Installs node unless another thread got there first; returns the child now installed, which
  // is node exactly when this call published it.
  [[nodiscard]] SearchNode<Spec>* publish_child_if_null(SearchNode<Spec>* node) {
    SearchNode<Spec>* expected = nullptr;
    if (child_.compare_exchange_strong(expected, node, std::memory_order_release,
                                       std::memory_order_acquire)) {
      return node;
    }
    return expected;
  }

  // Called by the one thread whose publish_child_if_null created the child.
  void take_ownership_of_child() { owned_.store(true, std::memory_order_relaxed); }

 private:
  friend class MoveEvaluations<Spec>;

  MoveOf<Spec> mov_;  // fixed when the edge is built, before its node is published
  // Written by the evaluator through MoveEvaluations before the node is published; read-only after.
  [[no_unique_address]] MoveEvaluationOf<Spec> move_evaluation_{};
  // Goes once from null to a node, by compare-and-exchange (release); loaded with acquire.
  std::atomic<SearchNode<Spec>*> child_{nullptr};
  // Set once by the thread that published the child it created (relaxed); read at destruction.
  std::atomic<bool> owned_{false};
  NodeStats stats_;
};

// The evaluator's way to write one move evaluation per edge of a node being built, in place.
template <typename Spec>
class MoveEvaluations {
 public:
  MoveEvaluations(MoveInfo<Spec>* edges, std::size_t size) : edges_(edges), size_(size) {}

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] const MoveOf<Spec>& move(std::size_t index) const { return edges_[index].mov_; }
  [[nodiscard]] MoveEvaluationOf<Spec>& operator[](std::size_t index) {
    return edges_[index].move_evaluation_;
  }
  [[nodiscard]] const MoveEvaluationOf<Spec>& operator[](std::size_t index) const {
    return edges_[index].move_evaluation_;
  }

 private:
  MoveInfo<Spec>* edges_;
  std::size_t size_;
};

// A node: its edges in the order available_moves listed them (stored right behind the node in
// the same allocation), its per-node data, the evaluation made when it was created, and its
// statistics.
template <typename Spec>
class SearchNode {
 public:
  using Edge = MoveInfo<Spec>;

  SearchNode(const SearchNode&) = delete;
  SearchNode& operator=(const SearchNode&) = delete;

  // Builds the edges from moves, lets evaluate fill their move evaluations and return the state
  // evaluation, and only then the node itself; a throw on the way frees everything built so far.
  template <typename Moves, typename Evaluate>
  [[nodiscard]] static NodeOwner<Spec> build(const Moves& moves, Evaluate&& evaluate) {
    const std::size_t count = std::ranges::size(moves);
    EdgeStorage storage(count);
    for (auto&& move : moves) storage.add(MoveOf<Spec>(move));
    MoveEvaluations<Spec> move_evaluations(storage.edges(), count);
    StateEvaluationOf<Spec> evaln = std::forward<Evaluate>(evaluate)(move_evaluations);
    auto* const node = ::new (storage.memory()) SearchNode(count, std::move(evaln));
    storage.release();
    return NodeOwner<Spec>(node);
  }

  [[nodiscard]] std::span<Edge> moves() { return {edges(), num_moves_}; }
  [[nodiscard]] std::span<const Edge> moves() const { return {edges(), num_moves_}; }
  [[nodiscard]] const StateEvaluationOf<Spec>& evaln() const { return evaln_; }
  // Shared by every thread; a game whose node data changes must make it atomic.
  [[nodiscard]] typename Spec::NodeData& data() { return data_; }
  [[nodiscard]] const typename Spec::NodeData& data() const { return data_; }
  [[nodiscard]] NodeStats& stats() { return stats_; }
  [[nodiscard]] const NodeStats& stats() const { return stats_; }

 private:
  friend void destroy_node<Spec>(SearchNode* node);

  // Raw memory for a node and its edges, and the edges built in it so far.
  class EdgeStorage {
   public:
    explicit EdgeStorage(std::size_t count)
        : memory_(::operator new(allocation_size(count), alignment())) {}
    EdgeStorage(const EdgeStorage&) = delete;
    EdgeStorage& operator=(const EdgeStorage&) = delete;
    ~EdgeStorage() {
      if (memory_ == nullptr) return;
      std::destroy_n(edges(), built_);
      ::operator delete(memory_, alignment());
    }
    void add(MoveOf<Spec> mov) {
      std::construct_at(edges() + built_, std::move(mov));
      ++built_;
    }
    [[nodiscard]] Edge* edges() { return edges_in(memory_); }
    [[nodiscard]] void* memory() { return memory_; }
    void release() { memory_ = nullptr; }

   private:
    void* memory_;
    std::size_t built_ = 0;
  };

  SearchNode(std::size_t num_moves, StateEvaluationOf<Spec>&& evaln)
      : num_moves_(num_moves), evaln_(std::move(evaln)) {}
  ~SearchNode() = default;

  [[nodiscard]] static constexpr std::size_t edges_offset() {
    return (sizeof(SearchNode) + alignof(Edge) - 1) / alignof(Edge) * alignof(Edge);
  }
  [[nodiscard]] static constexpr std::align_val_t alignment() {
    return std::align_val_t{std::max(alignof(SearchNode), alignof(Edge))};
  }
  [[nodiscard]] static constexpr std::size_t allocation_size(std::size_t count) {
    return edges_offset() + count * sizeof(Edge);
  }
  [[nodiscard]] static Edge* edges_in(void* memory) {
    return std::launder(reinterpret_cast<Edge*>(static_cast<std::byte*>(memory) + edges_offset()));
  }
  [[nodiscard]] Edge* edges() const {
    return edges_in(const_cast<void*>(static_cast<const void*>(this)));
  }

  std::size_t num_moves_;  // fixed at construction
  [[no_unique_address]] typename Spec::NodeData data_{};
  StateEvaluationOf<Spec> evaln_;  // fixed at construction, before publication
  // Visits: +1 by each playout that reaches the node (relaxed); sum: changed by up and down only.
  NodeStats stats_;
};

// Frees a node, its edges and, through the edges that own their children, its whole subtree.
template <typename Spec>
void destroy_node(SearchNode<Spec>* node) {
  std::destroy_n(node->edges(), node->num_moves_);
  node->~SearchNode();
  ::operator delete(static_cast<void*>(node), SearchNode<Spec>::alignment());
}

}  // namespace tornquil::search
