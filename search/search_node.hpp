// The records of the shared tree: the statistics of a node, the edges, and the nodes. A node and
// its edges lie together in the tree's arena, placed once when a playout expands an edge.
//
// An edge keeps its own copy of its child's statistics, so that choosing among a node's edges
// reads one contiguous array rather than following a pointer to every child, most of which are
// far away in a large tree. Its move is kept as the game's code when the game has one.
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

 private:
  friend class MoveEvaluations<Spec>;

  // Goes once from null to a node, by compare-and-exchange (release); loaded with acquire.
  std::atomic<SearchNode<Spec>*> child_{nullptr};
  const typename Storage::Code code_;  // fixed when the edge is built, before its node is published
  // Written by the evaluator through MoveEvaluations before the node is published; read-only after.
  [[no_unique_address]] MoveEvaluationOf<Spec> move_evaluation_{};
  NodeStats stats_;
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

// A node: its edges in the order available_moves listed them (stored right behind the node in
// the same allocation), its per-node data, the evaluation made when it was created, and its
// statistics.
template <typename Spec>
class SearchNode {
 public:
  using Edge = MoveInfo<Spec>;
  // Whether the arena may be freed without visiting its nodes.
  static constexpr bool trivially_destroyed =
      std::is_trivially_destructible_v<typename MoveStorage<Spec>::Code> &&
      std::is_trivially_destructible_v<MoveEvaluationOf<Spec>> &&
      std::is_trivially_destructible_v<typename Spec::NodeData> &&
      std::is_trivially_destructible_v<StateEvaluationOf<Spec>>;

  SearchNode(const SearchNode&) = delete;
  SearchNode& operator=(const SearchNode&) = delete;

  // Builds the edges from moves in the cursor's block, lets evaluate fill their move evaluations
  // and return the state evaluation, and only then the node itself; a throw on the way destroys
  // everything built so far and gives the memory back.
  template <typename Moves, typename Evaluate>
  [[nodiscard]] static SearchNode* build(NodeArena& arena, NodeArena::Cursor& cursor,
                                         const Moves& moves, Evaluate&& evaluate) {
    const std::size_t count = std::ranges::size(moves);
    EdgeStorage storage(arena, cursor, count);
    for (auto&& move : moves) storage.add(move);
    MoveEvaluations<Spec> move_evaluations(storage.edges(), count);
    StateEvaluationOf<Spec> evaln = std::forward<Evaluate>(evaluate)(move_evaluations);
    auto* const node = ::new (storage.memory()) SearchNode(count, std::move(evaln));
    storage.release();
    return node;
  }

  // Undoes build for a node that was never published: the cursor's latest allocation.
  static void discard(NodeArena& arena, NodeArena::Cursor& cursor, SearchNode* node) {
    destroy(node);
    arena.give_back(cursor, node);
  }

  // Destroys every node of an arena in which only nodes were placed.
  static void destroy_all(const NodeArena& arena) {
    if constexpr (!trivially_destroyed) {
      arena.for_each_block([](std::byte* begin, std::byte* end) {
        while (begin < end) {
          auto* const node = std::launder(reinterpret_cast<SearchNode*>(align_up(begin)));
          begin = reinterpret_cast<std::byte*>(node) + allocation_size(node->num_moves_);
          destroy(node);
        }
      });
    }
  }

  [[nodiscard]] std::span<Edge> moves() { return {edges(), num_moves_}; }
  [[nodiscard]] std::span<const Edge> moves() const { return {edges(), num_moves_}; }
  [[nodiscard]] const StateEvaluationOf<Spec>& evaln() const { return evaln_; }
  // Shared by every thread; a game whose node data changes must make it atomic.
  [[nodiscard]] typename Spec::NodeData& data() { return data_; }
  [[nodiscard]] const typename Spec::NodeData& data() const { return data_; }
  [[nodiscard]] NodeStats& stats() { return stats_; }
  [[nodiscard]] const NodeStats& stats() const { return stats_; }

  [[nodiscard]] static constexpr std::size_t allocation_size(std::size_t count) {
    return edges_offset() + count * sizeof(Edge);
  }

 private:
  // The edges built so far, destroyed and given back unless the node is completed.
  class EdgeStorage {
   public:
    EdgeStorage(NodeArena& arena, NodeArena::Cursor& cursor, std::size_t count)
        : arena_(arena),
          cursor_(cursor),
          memory_(arena.allocate(cursor, allocation_size(count), alignment())) {}
    EdgeStorage(const EdgeStorage&) = delete;
    EdgeStorage& operator=(const EdgeStorage&) = delete;
    ~EdgeStorage() {
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

  SearchNode(std::size_t num_moves, StateEvaluationOf<Spec>&& evaln)
      : num_moves_(static_cast<std::uint32_t>(num_moves)), evaln_(std::move(evaln)) {}
  ~SearchNode() = default;

  static void destroy(SearchNode* node) {
    std::destroy_n(node->edges(), node->num_moves_);
    node->~SearchNode();
  }

  [[nodiscard]] static constexpr std::size_t edges_offset() {
    return (sizeof(SearchNode) + alignof(Edge) - 1) / alignof(Edge) * alignof(Edge);
  }
  [[nodiscard]] static constexpr std::size_t alignment() {
    return std::max(alignof(SearchNode), alignof(Edge));
  }
  [[nodiscard]] static std::byte* align_up(std::byte* pointer) {
    const auto address = reinterpret_cast<std::uintptr_t>(pointer);
    return reinterpret_cast<std::byte*>((address + alignment() - 1) & ~(alignment() - 1));
  }
  [[nodiscard]] static Edge* edges_in(void* memory) {
    return std::launder(reinterpret_cast<Edge*>(static_cast<std::byte*>(memory) + edges_offset()));
  }
  [[nodiscard]] Edge* edges() const {
    return edges_in(const_cast<void*>(static_cast<const void*>(this)));
  }

  std::uint32_t num_moves_;  // fixed at construction
  [[no_unique_address]] typename Spec::NodeData data_{};
  StateEvaluationOf<Spec> evaln_;  // fixed at construction, before publication
  // Visits: +1 by each playout that reaches the node (relaxed); sum: changed by up and down only.
  NodeStats stats_;
};

}  // namespace tornquil::search
