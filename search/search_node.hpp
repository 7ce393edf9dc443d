// The records of the shared tree: the statistics of a node, the edges, and the nodes. Nodes lie
// in the tree's node arena, placed when a playout expands an edge; a node's edges lie together in
// its edge arena, listed when a playout first goes on below the node.
//
// A node's visits and reward sum live in the edge that leads to it, so that choosing among a
// node's edges reads one contiguous array rather than following a pointer to every child, most of
// which are far away in a large tree, and so that a playout writes one line a level. A node keeps
// only what outgrows its edge. Its move is kept as the game's code when the game has one.
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

// The 64-bit visits and reward sum behind an edge whose counts have outgrown the edge (see
// EdgeStats); the root's stay 0, since no edge leads to it.
class NodeStats {
 public:
  NodeStats() = default;
  NodeStats(const NodeStats&) = delete;
  NodeStats& operator=(const NodeStats&) = delete;

  [[nodiscard]] std::uint64_t visits() const { return visits_.load(std::memory_order_relaxed); }
  [[nodiscard]] std::int64_t sum_evaluations() const {
    return sum_evaluations_.load(std::memory_order_relaxed);
  }

  // A negative visit count wraps: the edge's part and this one add up to the right count.
  void add(std::int64_t visits, std::int64_t sum) {
    if (visits != 0) {
      visits_.fetch_add(static_cast<std::uint64_t>(visits), std::memory_order_relaxed);
    }
    if (sum != 0) sum_evaluations_.fetch_add(sum, std::memory_order_relaxed);
  }

 private:
  // Each changes only by relaxed adds, from any thread.
  std::atomic<std::uint64_t> visits_{0};
  std::atomic<std::int64_t> sum_evaluations_{0};
};

// The visits and reward sum of the node an edge leads to, kept in the edge itself: a playout then
// writes one line a level, and choosing among a node's edges reads one array. Almost every count
// is small, so the edge keeps them in 8 bytes. The first add that takes them past what 8 bytes
// keep exactly marks the edge large; from then on adds go to the child's 64-bit NodeStats, and a
// count is the edge's part plus the child's. The margins below the limits cover the adds that
// other threads make, unaware of the mark, while it is being set: one each, of at most
// kLargestSmallDelta, for up to 2^18 threads.
//
// Concurrency: every member may be called from any thread at any time; each field changes only by
// relaxed atomic adds (and the mark, by an atomic or), so the two may be read from different
// moments, which selection tolerates.
class EdgeStats {
 public:
  static constexpr std::uint32_t kLargeMark = std::uint32_t{1} << 31;
  // Counts are kept here while below this in magnitude.
  static constexpr std::int64_t kExactBelow = std::int64_t{1} << 30;
  // A larger add goes to the child's counts at once.
  static constexpr std::int64_t kLargestSmallDelta = std::int64_t{1} << 12;

  EdgeStats() = default;
  EdgeStats(const EdgeStats&) = delete;
  EdgeStats& operator=(const EdgeStats&) = delete;

  [[nodiscard]] bool large() const {
    return (visits_.load(std::memory_order_relaxed) & kLargeMark) != 0;
  }

  // This edge's part of the counts, read once, and whether the child holds the rest.
  struct Own {
    EdgeCounts counts;
    bool large;
  };
  [[nodiscard]] Own own() const {
    const std::uint32_t visits = visits_.load(std::memory_order_relaxed);
    return {{visits & ~kLargeMark, sum_.load(std::memory_order_relaxed)},
            (visits & kLargeMark) != 0};
  }

  // Whether a delta of this size may ever be added here rather than to the child's counts.
  [[nodiscard]] static bool small_delta(std::int64_t visits, std::int64_t sum) {
    return visits <= kLargestSmallDelta && visits >= -kLargestSmallDelta &&
           sum <= kLargestSmallDelta && sum >= -kLargestSmallDelta;
  }

  // Adds here and returns true, marking the edge large if the counts have now come near their
  // limits; returns false, having added nothing, when the edge is large or the delta too big, in
  // which case the caller adds to the child's counts (the edge is marked for a big delta). A
  // negative visit count takes back a visit this edge still holds while it is small.
  [[nodiscard]] bool try_add(std::int64_t visits, std::int64_t sum) {
    if (large()) return false;
    if (!small_delta(visits, sum)) {
      mark_large();
      return false;
    }
    if (visits != 0) {
      const auto before = static_cast<std::int64_t>(
          visits_.fetch_add(static_cast<std::uint32_t>(visits), std::memory_order_relaxed) &
          ~kLargeMark);
      if (before + visits >= kExactBelow) mark_large();
    }
    if (sum != 0) {
      const std::int64_t after =
          sum_.fetch_add(static_cast<std::int32_t>(sum), std::memory_order_relaxed) + sum;
      if (after >= kExactBelow || after <= -kExactBelow) mark_large();
    }
    return true;
  }

 private:
  void mark_large() { visits_.fetch_or(kLargeMark, std::memory_order_relaxed); }

  // The count's part kept here (relaxed adds); its top bit is the large mark, set once and for
  // good, which the margins keep the count itself from reaching.
  std::atomic<std::uint32_t> visits_{0};
  // The sum's part kept here (relaxed adds).
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

  using Code = typename Storage::Code;

  // The move itself, or a copy decoded from its code.
  [[nodiscard]] decltype(auto) get_move() const { return Storage::decode(code_); }
  // The move as the edge keeps it, for a copy kept elsewhere; decode gives the move back.
  [[nodiscard]] const Code& code() const { return code_; }
  [[nodiscard]] static decltype(auto) decode(const Code& code) { return Storage::decode(code); }
  [[nodiscard]] const MoveEvaluationOf<Spec>& move_evaluation() const { return move_evaluation_; }

  // The child's counts: the edge's part, and the child's own once the edge is large.
  [[nodiscard]] EdgeCounts counts() const {
    const EdgeStats::Own own = stats_.own();
    EdgeCounts counts = own.counts;
    if (const NodeStats* const rest = overflow(own.large)) {
      counts.visits += rest->visits();
      counts.sum_rewards += rest->sum_evaluations();
    }
    return counts;
  }
  [[nodiscard]] std::uint64_t visits() const { return counts().visits; }
  [[nodiscard]] std::int64_t sum_rewards() const { return counts().sum_rewards; }
  [[nodiscard]] const EdgeStats& stats() const { return stats_; }

  // Counts a playout that takes the edge, gives back its virtual loss with its reward, or takes
  // both back for a playout that faulted. A delta too big for the edge needs the child to exist.
  void down(std::int64_t virtual_loss) { add(1, -virtual_loss); }
  void up(std::int64_t virtual_loss, std::int64_t reward) { add(0, reward + virtual_loss); }
  void take_back(std::int64_t virtual_loss) { add(-1, virtual_loss); }
  void add(std::int64_t visits, std::int64_t sum) {
    if (stats_.try_add(visits, sum)) return;
    SearchNode<Spec>* const node = child();
    if (node == nullptr) Spec::fault("an edge's counts outgrew it before its child existed");
    node->overflow().add(visits, sum);
  }

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

  // The child's counts once the edge is large. Only an add that finds the child marks it, so a
  // large edge's child exists; its own part alone stands in should that ever not hold.
  [[nodiscard]] const NodeStats* overflow(bool large) const;

  // Goes once from null to a node, by compare-and-exchange (release); loaded with acquire.
  std::atomic<SearchNode<Spec>*> child_{nullptr};
  const Code code_;  // fixed when the edge is built, before its node is published
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
  // The counts of the edge leading here that outgrew it; see EdgeStats.
  [[nodiscard]] NodeStats& overflow() { return overflow_; }
  [[nodiscard]] const NodeStats& overflow() const { return overflow_; }

 private:
  explicit SearchNode(StateEvaluationOf<Spec>&& evaln) : evaln_(std::move(evaln)) {}
  ~SearchNode() = default;

  // Added to only through the edge that leads here, once that edge is large.
  NodeStats overflow_;
  // Goes once from null to the listed edges, by compare-and-exchange (release); loaded with
  // acquire. The lists live in the edge arena and are destroyed from there.
  std::atomic<Edges*> edges_{nullptr};
  [[no_unique_address]] typename Spec::NodeData data_{};
  StateEvaluationOf<Spec> evaln_;  // fixed at construction, before publication
};

template <typename Spec>
const NodeStats* MoveInfo<Spec>::overflow(bool large) const {
  if (!large) return nullptr;
  const SearchNode<Spec>* const node = child();
  return node == nullptr ? nullptr : &node->overflow();
}

}  // namespace tornquil::search
