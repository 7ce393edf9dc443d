// The records of the shared tree: the statistics of a node, the edges, and the nodes. Nodes lie
// in the tree's node arena, placed when a playout expands an edge; a node's edges lie together in
// its edge arena, listed when a playout first goes on below the node.
//
// An edge keeps its own copy of its child's statistics, so that choosing among a node's edges
// reads one contiguous array rather than following a pointer to every child, most of which are
// far away in a large tree. Its move is kept as the game's code when the game has one.
//
// Concurrency: any thread may read statistics, child pointers and edge lists and update
// statistics at any time. An edge list's moves and move evaluations, and a node's evaln, are
// written only before they are published and are read-only afterwards. Nodes and lists are freed
// only when the tree is destroyed, after every search thread has been joined.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <ranges>
#include <span>
#include <type_traits>
#include <utility>

#include "search/mcts.hpp"
#include "search/node_arena.hpp"

namespace tornquil::search {

// Visits and reward sum of a node or an edge. The two fields are independent atomics: a reader may
// see a count and a sum from different moments, which selection tolerates.
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

  void down(std::int64_t virtual_loss) {
    // Skipping a zero loss saves a read-modify-write on every node of every playout.
    if (virtual_loss != 0) sum_evaluations_.fetch_sub(virtual_loss, std::memory_order_relaxed);
    visits_.fetch_add(1, std::memory_order_relaxed);
  }

  void up(std::int64_t virtual_loss, std::int64_t evaln) {
    sum_evaluations_.fetch_add(evaln + virtual_loss, std::memory_order_relaxed);
  }

  // Two separate stores of values loaded one after the other: the copy is not one unit, and
  // concurrent replaces may leave the older pair in place.
  void replace(const NodeStats& other) {
    visits_.store(other.visits(), std::memory_order_relaxed);
    sum_evaluations_.store(other.sum_evaluations(), std::memory_order_relaxed);
  }

 private:
  // +1 by every playout through here (relaxed); on an edge also overwritten by replace when a
  // playout below finishes.
  std::atomic<std::uint64_t> visits_{0};
  // Minus the virtual loss by down, plus reward and loss by up (relaxed); on an edge also
  // overwritten by replace.
  std::atomic<std::int64_t> sum_evaluations_{0};
};

// An edge's copy of its child's statistics, in 8 bytes instead of 16: the edges are most of a
// tree's memory, and almost every edge's counts are small. While both counts are small they are
// kept exactly; an edge whose child has grown past them is marked large once and for good, and
// its counts are read from the child from then on. The margins below the mark and below the
// sum's range cover the visits and virtual losses of the playouts still in flight.
//
// Concurrency: as for NodeStats. A replace racing the one that marks the edge large may store an
// older small pair over the mark; the next replace marks it again.
class EdgeStats {
 public:
  static constexpr std::uint32_t kLargeMark = std::uint32_t{1} << 31;
  // Counts kept exactly: visits below this, and a sum of less than this in magnitude.
  static constexpr std::int64_t kExactBelow = std::int64_t{1} << 30;
  // A larger virtual loss marks the edge large rather than risk the sum's range.
  static constexpr std::int64_t kLargestSmallLoss = std::int64_t{1} << 12;

  EdgeStats() = default;
  EdgeStats(const EdgeStats&) = delete;
  EdgeStats& operator=(const EdgeStats&) = delete;

  [[nodiscard]] bool large() const {
    return (visits_.load(std::memory_order_relaxed) & kLargeMark) != 0;
  }
  // The exact counts while the edge is small.
  [[nodiscard]] std::uint64_t small_visits() const {
    return visits_.load(std::memory_order_relaxed) & ~kLargeMark;
  }
  [[nodiscard]] std::int64_t small_sum() const { return sum_.load(std::memory_order_relaxed); }

  void down(std::int64_t virtual_loss) {
    if (large()) return;
    if (virtual_loss != 0) {
      if (virtual_loss > kLargestSmallLoss || virtual_loss < -kLargestSmallLoss) {
        mark_large();
        return;
      }
      sum_.fetch_sub(static_cast<std::int32_t>(virtual_loss), std::memory_order_relaxed);
    }
    visits_.fetch_add(1, std::memory_order_relaxed);
  }

  // Takes over the child's counts, or marks the edge large when they no longer fit.
  void replace(const NodeStats& child) {
    if (large()) return;
    const std::uint64_t visits = child.visits();
    const std::int64_t sum = child.sum_evaluations();
    if (visits >= static_cast<std::uint64_t>(kExactBelow) || sum >= kExactBelow ||
        sum <= -kExactBelow) {
      mark_large();
      return;
    }
    visits_.store(static_cast<std::uint32_t>(visits), std::memory_order_relaxed);
    sum_.store(static_cast<std::int32_t>(sum), std::memory_order_relaxed);
  }

 private:
  void mark_large() { visits_.fetch_or(kLargeMark, std::memory_order_relaxed); }

  // +1 by every playout that takes the edge (relaxed), overwritten by replace; its top bit is the
  // large mark, which a down never reaches because replace keeps the count below kExactBelow.
  std::atomic<std::uint32_t> visits_{0};
  // Minus the virtual loss by down (relaxed), overwritten by replace.
  std::atomic<std::int32_t> sum_{0};
};

template <typename Spec>
class SearchNode;

// How an edge keeps its move: as the move itself, or as the game's compact code for it.
template <typename Spec>
struct MoveStorage {
  using Code = MoveOf<Spec>;
  [[nodiscard]] static Code encode(const MoveOf<Spec>& move) { return move; }
  [[nodiscard]] static const MoveOf<Spec>& decode(const Code& code) { return code; }
};

template <typename Spec>
requires CodesMoves<Spec>
struct MoveStorage<Spec> {
  using Code = typename Spec::MoveCode;
  [[nodiscard]] static Code encode(const MoveOf<Spec>& move) { return Spec::encode_move(move); }
  [[nodiscard]] static MoveOf<Spec> decode(const Code& code) { return Spec::decode_move(code); }
};

// One edge: a move from a node, its move evaluation and the node below it.
template <typename Spec>
class MoveInfo {
  using Storage = MoveStorage<Spec>;

 public:
  explicit MoveInfo(const MoveOf<Spec>& mov) : code_(Storage::encode(mov)) {}
  MoveInfo(const MoveInfo&) = delete;
  MoveInfo& operator=(const MoveInfo&) = delete;

  // The move itself, or a copy decoded from its code.
  [[nodiscard]] decltype(auto) get_move() const { return Storage::decode(code_); }
  [[nodiscard]] const MoveEvaluationOf<Spec>& move_evaluation() const { return move_evaluation_; }

  // The edge's own copy while it is small, the child's counts once it is large.
  [[nodiscard]] std::uint64_t visits() const {
    if (const NodeStats* const large = large_counts()) return large->visits();
    return stats_.small_visits();
  }
  [[nodiscard]] std::int64_t sum_rewards() const {
    if (const NodeStats* const large = large_counts()) return large->sum_evaluations();
    return stats_.small_sum();
  }
  [[nodiscard]] EdgeStats& stats() { return stats_; }
  [[nodiscard]] const EdgeStats& stats() const { return stats_; }

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

 private:
  friend class MoveEvaluations<Spec>;

  // An edge is marked large only after a playout through it has finished, so its child exists
  // then; the copy's counts stand in should a huge virtual loss have marked it before that.
  [[nodiscard]] const NodeStats* large_counts() const;

  // Goes once from null to a node, by compare-and-exchange (release); loaded with acquire.
  std::atomic<SearchNode<Spec>*> child_{nullptr};
  const typename Storage::Code code_;  // fixed when the edge is built, before its node is published
  // Written by the evaluator through MoveEvaluations before the node is published; read-only after.
  [[no_unique_address]] MoveEvaluationOf<Spec> move_evaluation_{};
  EdgeStats stats_;
};

// The evaluator's way to write one move evaluation per edge of a node being built, in place.
template <typename Spec>
class MoveEvaluations {
 public:
  MoveEvaluations(MoveInfo<Spec>* edges, std::size_t size) : edges_(edges), size_(size) {}

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] decltype(auto) move(std::size_t index) const { return edges_[index].get_move(); }
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

// A node's edges, in the order available_moves listed them, stored right behind this header in
// one allocation of the tree's edge arena.
template <typename Spec>
class EdgeList {
 public:
  using Edge = MoveInfo<Spec>;

  EdgeList(const EdgeList&) = delete;
  EdgeList& operator=(const EdgeList&) = delete;

  // Builds the edges from moves in the cursor's block and lets evaluate fill their move
  // evaluations; a throw on the way destroys everything built so far and gives the memory back.
  template <typename Moves, typename Evaluate>
  [[nodiscard]] static EdgeList* build(NodeArena& arena, NodeArena::Cursor& cursor,
                                       const Moves& moves, Evaluate&& evaluate) {
    const std::size_t count = std::ranges::size(moves);
    Storage storage(arena, cursor, count);
    for (auto&& move : moves) storage.add(move);
    MoveEvaluations<Spec> move_evaluations(storage.edges(), count);
    std::forward<Evaluate>(evaluate)(move_evaluations);
    auto* const list = ::new (storage.memory()) EdgeList(count);
    storage.release();
    return list;
  }

  // Undoes build for a list that was never published: the cursor's latest allocation.
  static void discard(NodeArena& arena, NodeArena::Cursor& cursor, EdgeList* list) {
    destroy(list);
    arena.give_back(cursor, list);
  }

  // Destroys every list of an arena in which only edge lists were placed.
  static void destroy_all(const NodeArena& arena) {
    if constexpr (!std::is_trivially_destructible_v<Edge>) {
      arena.for_each_block([](std::byte* begin, std::byte* end) {
        while (begin < end) {
          auto* const list = std::launder(reinterpret_cast<EdgeList*>(align_up(begin)));
          begin = reinterpret_cast<std::byte*>(list) + allocation_size(list->size_);
          destroy(list);
        }
      });
    }
  }

  [[nodiscard]] std::span<Edge> edges() { return {edges_in(this), size_}; }
  [[nodiscard]] std::span<const Edge> edges() const {
    return {edges_in(const_cast<EdgeList*>(this)), size_};
  }

  [[nodiscard]] static constexpr std::size_t allocation_size(std::size_t count) {
    return edges_offset() + count * sizeof(Edge);
  }

 private:
  // The edges built so far, destroyed and given back unless the list is completed.
  class Storage {
   public:
    Storage(NodeArena& arena, NodeArena::Cursor& cursor, std::size_t count)
        : arena_(arena),
          cursor_(cursor),
          memory_(arena.allocate(cursor, allocation_size(count), alignment())) {}
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;
    ~Storage() {
      if (memory_ == nullptr) return;
      std::destroy_n(edges(), built_);
      arena_.give_back(cursor_, memory_);
    }
    template <typename Move>
    void add(const Move& mov) {
      std::construct_at(edges() + built_, MoveOf<Spec>(mov));
      ++built_;
    }
    [[nodiscard]] Edge* edges() { return edges_in(memory_); }
    [[nodiscard]] void* memory() { return memory_; }
    void release() { memory_ = nullptr; }

   private:
    NodeArena& arena_;
    NodeArena::Cursor& cursor_;
    void* memory_;
    std::size_t built_ = 0;
  };

  explicit EdgeList(std::size_t size) : size_(static_cast<std::uint32_t>(size)) {}
  ~EdgeList() = default;

  static void destroy(EdgeList* list) {
    std::destroy_n(edges_in(list), list->size_);
    list->~EdgeList();
  }

  [[nodiscard]] static constexpr std::size_t edges_offset() {
    return (sizeof(EdgeList) + alignof(Edge) - 1) / alignof(Edge) * alignof(Edge);
  }
  [[nodiscard]] static constexpr std::size_t alignment() {
    return std::max(alignof(EdgeList), alignof(Edge));
  }
  [[nodiscard]] static std::byte* align_up(std::byte* pointer) {
    const auto address = reinterpret_cast<std::uintptr_t>(pointer);
    return reinterpret_cast<std::byte*>((address + alignment() - 1) & ~(alignment() - 1));
  }
  [[nodiscard]] static Edge* edges_in(void* memory) {
    return std::launder(reinterpret_cast<Edge*>(static_cast<std::byte*>(memory) + edges_offset()));
  }

  const std::uint32_t size_;
};

// A node: the evaluation made when it was created, its statistics, its per-node data, and its
// edges. The edges are listed only when a playout first goes on below the node: most nodes are
// leaves that a single playout reached, and listing theirs would take most of a tree's memory and
// a good part of its time for nothing.
template <typename Spec>
class SearchNode {
 public:
  using Edge = MoveInfo<Spec>;
  using Edges = EdgeList<Spec>;
  // Whether the arenas may be freed without visiting their nodes and lists.
  static constexpr bool nodes_trivially_destroyed =
      std::is_trivially_destructible_v<typename Spec::NodeData> &&
      std::is_trivially_destructible_v<StateEvaluationOf<Spec>>;
  static constexpr bool trivially_destroyed =
      nodes_trivially_destroyed && std::is_trivially_destructible_v<Edge>;

  SearchNode(const SearchNode&) = delete;
  SearchNode& operator=(const SearchNode&) = delete;

  // Values the new node first, so that a throw leaves nothing behind, then places it in the
  // cursor's block.
  template <typename Evaluate>
  [[nodiscard]] static SearchNode* build(NodeArena& arena, NodeArena::Cursor& cursor,
                                         Evaluate&& evaluate) {
    StateEvaluationOf<Spec> evaln = std::forward<Evaluate>(evaluate)();
    void* const memory = arena.allocate(cursor, sizeof(SearchNode), alignof(SearchNode));
    return ::new (memory) SearchNode(std::move(evaln));
  }

  // Undoes build for a node that was never published: the cursor's latest allocation.
  static void discard(NodeArena& arena, NodeArena::Cursor& cursor, SearchNode* node) {
    node->~SearchNode();
    arena.give_back(cursor, node);
  }

  // Destroys every node of an arena in which only nodes were placed.
  static void destroy_all(const NodeArena& arena) {
    if constexpr (!nodes_trivially_destroyed) {
      arena.for_each_block([](std::byte* begin, std::byte* end) {
        for (; begin < end; begin += sizeof(SearchNode)) {
          std::launder(reinterpret_cast<SearchNode*>(begin))->~SearchNode();
        }
      });
    }
  }

  // The edges once listed; none before.
  [[nodiscard]] std::span<Edge> moves() {
    Edges* const list = edge_list();
    return list == nullptr ? std::span<Edge>{} : list->edges();
  }
  [[nodiscard]] std::span<const Edge> moves() const {
    const Edges* const list = edge_list();
    return list == nullptr ? std::span<const Edge>{} : list->edges();
  }
  // Acquire pairs with the release in publish_edges_if_null: a non-null list is fully built.
  [[nodiscard]] Edges* edge_list() const { return edges_.load(std::memory_order_acquire); }

  // Installs list unless another thread got there first; returns the list now installed, which
  // is list exactly when this call published it.
  [[nodiscard]] Edges* publish_edges_if_null(Edges* list) {
    Edges* expected = nullptr;
    if (edges_.compare_exchange_strong(expected, list, std::memory_order_release,
                                       std::memory_order_acquire)) {
      return list;
    }
    return expected;
  }

  [[nodiscard]] const StateEvaluationOf<Spec>& evaln() const { return evaln_; }
  // Shared by every thread; a game whose node data changes must make it atomic.
  [[nodiscard]] typename Spec::NodeData& data() { return data_; }
  [[nodiscard]] const typename Spec::NodeData& data() const { return data_; }
  [[nodiscard]] NodeStats& stats() { return stats_; }
  [[nodiscard]] const NodeStats& stats() const { return stats_; }

 private:
  explicit SearchNode(StateEvaluationOf<Spec>&& evaln) : evaln_(std::move(evaln)) {}
  ~SearchNode() = default;

  // Visits: +1 by each playout that reaches the node (relaxed); sum: changed by up and down only.
  NodeStats stats_;
  // Goes once from null to the listed edges, by compare-and-exchange (release); loaded with
  // acquire. The lists live in the edge arena and are destroyed from there.
  std::atomic<Edges*> edges_{nullptr};
  [[no_unique_address]] typename Spec::NodeData data_{};
  StateEvaluationOf<Spec> evaln_;  // fixed at construction, before publication
};

template <typename Spec>
const NodeStats* MoveInfo<Spec>::large_counts() const {
  if (!stats_.large()) return nullptr;
  const SearchNode<Spec>* const node = child();
  return node == nullptr ? nullptr : &node->stats();
}

}  // namespace tornquil::search
