// TopView: one search thread's own view of the counts at the top of the tree, which every playout
// passes: the root's edges and the edges of the root's children.
//
// Were each thread to write those counts as it goes, their lines would change cores on nearly
// every playout, and every other thread would read them afresh on its next. Instead a thread
// counts its own playouts there in its view and adds them to the tree in one go when its batch of
// playouts ends (publish), and it reads the tree's counts of such a node into its view once a
// batch, the first time it passes the node after publishing. It chooses by its view: the tree's
// counts as of that read plus every playout of its own since. A thread alone therefore chooses
// exactly as if it wrote as it went; with several, each sees the others' playouts at the top up to
// a batch late, and all of them once every thread has published. The view also keeps each edge's
// move and, once there is one, its child: those share their line with the counts that other
// threads publish, and reading them from the edge would wait for that line on most playouts.
//
// Concurrency: a view belongs to one thread. publish() adds to the shared tree's counts with the
// edges' own relaxed atomic adds; everything else touches only the view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "search/mcts.hpp"
#include "search/prefetch.hpp"
#include "search/search_node.hpp"
#include "search/tuning.hpp"

namespace tornquil::search {

template <typename Spec>
class TopView {
 public:
  using Edge = MoveInfo<Spec>;
  using Node = SearchNode<Spec>;
  // Where one edge's counts lie in the view.
  using Position = std::uint32_t;
  static constexpr Position kNotViewed = std::numeric_limits<Position>::max();
  // The levels kept in a view: the root's edges and those of its children.
  static constexpr std::size_t kLevels = 2;
  // The edges of a node that would not fit are read and written in the tree directly, as below
  // the top.
  static constexpr std::size_t kMaxEdges = tuning::kMaxTopViewEdges;

  TopView() = default;
  TopView(const TopView&) = delete;
  TopView& operator=(const TopView&) = delete;

  // Starts afresh when used with another tree than the last. Nothing may be left unpublished.
  void attach(std::uint64_t tree_id, std::size_t root_width) {
    if (tree_id == tree_id_) return;
    if (!touched_.empty()) Spec::fault("a search thread's view was left unpublished");
    tree_id_ = tree_id;
    slots_.assign(root_width + 1, Slot{});
    view_.clear();
    unpublished_.clear();
    known_.clear();
    epoch_ = 1;
  }

  // The node at `depth` (below kLevels) of a path whose first edge has index `root_index`: the
  // root's slot, or its child's.
  [[nodiscard]] static std::size_t slot_of(std::size_t depth, std::size_t root_index) {
    return depth == 0 ? 0 : 1 + root_index;
  }

  // This thread's counts of `edges`, the edges of the node in `slot`, read from the tree if they
  // were not read since the last publish; empty when the node does not fit in the view.
  [[nodiscard]] std::span<const EdgeCounts> counts(std::size_t slot, std::span<Edge> edges) {
    Slot& place = slots_[slot];
    if (!place.assigned && !assign(place, edges)) return {};
    EdgeCounts* const counts = view_.data() + place.first;
    if (place.epoch != epoch_) {
      const EdgeCounts* const unpublished = unpublished_.data() + place.first;
      Known* const known = known_.data() + place.first;
      for (std::size_t i = 0; i < edges.size(); ++i) {
        const EdgeCounts shared = edges[i].counts();
        counts[i] = {shared.visits + unpublished[i].visits,
                     shared.sum_rewards + unpublished[i].sum_rewards};
        if (known[i].child == nullptr) known[i].child = edges[i].child();
      }
      place.epoch = epoch_;
    }
    return {counts, edges.size()};
  }

  // The move of the edge at `at`, as the edge keeps it (see Edge::decode).
  [[nodiscard]] const typename Edge::Code& code(Position at) const { return known_[at].code; }

  // The child of `edge`, whose counts lie at `at`: from the view once known, or read from the edge
  // (null while it has none).
  [[nodiscard]] Node* child(Position at, Edge& edge) {
    Node*& known = known_[at].child;
    if (known == nullptr) known = edge.child();
    return known;
  }

  [[nodiscard]] Position position(std::size_t slot, std::size_t index) const {
    return static_cast<Position>(slots_[slot].first + index);
  }

  // A playout of this thread took `edge`, whose counts lie at `at`.
  void count_visit(Position at, Edge& edge) {
    ++view_[at].visits;
    EdgeCounts& unpublished = unpublished_[at];
    if (unpublished.visits == 0 && unpublished.sum_rewards == 0) touched_.push_back({&edge, at});
    ++unpublished.visits;
  }

  // Takes back a visit counted by a playout of this thread that faulted, before it published.
  void take_back_visit(Position at) {
    --view_[at].visits;
    --unpublished_[at].visits;
  }

  // The reward of a playout of this thread that took the edge at `at`.
  void count_reward(Position at, std::int64_t reward) {
    view_[at].sum_rewards += reward;
    unpublished_[at].sum_rewards += reward;
  }

  // The visits of the edge at `at` as this thread sees them, its own included.
  [[nodiscard]] std::uint64_t visits(Position at) const { return view_[at].visits; }

  // Adds this thread's counts since the last publish to the tree, and has the view read the tree
  // again as it passes each node. The lines to be written are asked for together first, so that
  // the adds do not wait for them one after another.
  void publish() {
    for (const Touched& touched : touched_) prefetch_for_write(&touched.edge->stats());
    for (const Touched& touched : touched_) {
      EdgeCounts& unpublished = unpublished_[touched.at];
      touched.edge->add(static_cast<std::int64_t>(unpublished.visits), unpublished.sum_rewards);
      unpublished = {};
    }
    touched_.clear();
    ++epoch_;
  }

 private:
  struct Slot {
    bool assigned = false;
    std::uint32_t first = 0;
    std::uint64_t epoch = 0;  // the epoch its counts were read in; 0 before the first read
  };
  struct Touched {
    Edge* edge;
    Position at;
  };
  // What never changes once known: the move, and the child once it exists.
  struct Known {
    typename Edge::Code code;
    Node* child;
  };

  [[nodiscard]] bool assign(Slot& place, std::span<const Edge> edges) {
    if (view_.size() + edges.size() > kMaxEdges) return false;
    place.assigned = true;
    place.first = static_cast<std::uint32_t>(view_.size());
    view_.resize(view_.size() + edges.size());
    unpublished_.resize(view_.size());
    known_.reserve(view_.size());
    for (const Edge& edge : edges) known_.push_back({edge.code(), nullptr});
    return true;
  }

  std::uint64_t tree_id_ = 0;  // 0: attached to no tree yet
  std::uint64_t epoch_ = 1;    // one more each publish
  std::vector<Slot> slots_;
  std::vector<EdgeCounts> view_;
  // What this thread counted since it last published; touched_ lists each such edge once.
  std::vector<EdgeCounts> unpublished_;
  std::vector<Touched> touched_;
  std::vector<Known> known_;
};

}  // namespace tornquil::search
