// The tree's memory: nodes placed in per-thread blocks, destroyed exactly once with the tree,
// given back when a build fails or loses its race, and counted per block.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <memory>
#include <vector>

#include "counting_game.hpp"
#include "search/node_arena.hpp"

namespace tornquil::counting {
namespace {

// A move that counts how many of its kind are alive, so a test sees every edge's destruction.
struct TrackedMove {
  static inline std::atomic<int> alive{0};
  int value;
  TrackedMove(int move) : value(move) { ++alive; }  // NOLINT: built from the listed int
  TrackedMove(const TrackedMove& other) : value(other.value) { ++alive; }
  TrackedMove& operator=(const TrackedMove&) = delete;
  ~TrackedMove() { --alive; }
};

struct TrackedState : CountingState {
  void make_move(const TrackedMove& move) { CountingState::make_move(move.value); }
};

struct TrackedSpec : CountingSpec {
  using State = TrackedState;
  using Move = TrackedMove;
};

using TrackedManager = search::MCTSManager<TrackedSpec>;
using TrackedNode = search::SearchNode<TrackedSpec>;

static_assert(!TrackedNode::trivially_destroyed);

[[nodiscard]] TrackedState tracked_game(std::uint32_t branching, std::uint32_t length = endless) {
  return TrackedState{{branching, length, 0, 0}};
}

[[nodiscard]] int edges_in(const TrackedNode& node) {
  int count = static_cast<int>(node.moves().size());
  for (const auto& edge : node.moves()) {
    if (const TrackedNode* const child = edge.child()) count += edges_in(*child);
  }
  return count;
}

class SearchArena : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(TrackedMove::alive, 0); }
  void TearDown() override { EXPECT_EQ(TrackedMove::alive, 0) << "an edge outlived its tree"; }

  [[nodiscard]] std::unique_ptr<TrackedManager> make(const TrackedState& state) {
    return std::make_unique<TrackedManager>(state, TrackedSpec{}, CountingEvaluator{&log},
                                            base_policy(), search::EmptyTable{});
  }

  EvaluationLog log;
};

TEST_F(SearchArena, EveryEdgeOfATreeGrownOnEightThreadsIsDestroyedOnceWithIt) {
  auto manager = make(tracked_game(3, 7));
  EXPECT_EQ(manager->playout_n_parallel(3000, 8), 3000U);
  const TrackedNode& root = manager->tree().root_node().node();
  EXPECT_EQ(TrackedMove::alive, edges_in(root));
  EXPECT_EQ(manager->tree().num_nodes(), [&] {
    std::size_t nodes = 0;
    const auto count = [&nodes](const auto& self, const TrackedNode& node) -> void {
      ++nodes;
      for (const auto& edge : node.moves()) {
        if (edge.child() != nullptr) self(self, *edge.child());
      }
    };
    count(count, root);
    return nodes;
  }());
}

TEST_F(SearchArena, NodesWhoseEvaluationFailsLeaveNoEdgeAndNoCountBehind) {
  log.fault_at_depth = 3;
  auto manager = make(tracked_game(4));
  EXPECT_THROW(manager->playout_n_parallel(400, 4), InternalFault);
  // Only the edges of nodes in the tree are alive: the refused nodes' edges went at once.
  EXPECT_EQ(TrackedMove::alive, edges_in(manager->tree().root_node().node()));
  // The tree goes on growing where the failed builds were given back.
  log.fault_at_depth = endless;
  EXPECT_EQ(manager->playout_n_parallel(200, 2), 200U);
  EXPECT_EQ(TrackedMove::alive, edges_in(manager->tree().root_node().node()));
}

TEST_F(SearchArena, NodeThatLostItsRaceIsDestroyedAndItsPlaceReused) {
  // Both playouts must be inside the evaluation of the one child before either publishes it.
  std::barrier both(2);
  std::atomic<int> waits{0};
  log.on_new_node = [&both, &waits] {
    if (waits++ < 2) both.arrive_and_wait();
  };
  auto manager = make(tracked_game(1, 3));
  manager->playout_n_parallel(2, 2);
  ASSERT_EQ(manager->tree().expansion_contention_events(), 1U);
  // The root and the winner's node; the loser's own node is gone. At the top of the tree each
  // thread sees only its own visit until its batch ends, so the loser stopped at the winner's
  // node, and only the root has listed its edges.
  EXPECT_EQ(manager->tree().num_nodes(), 2U);
  EXPECT_EQ(TrackedMove::alive, 1);
  log.on_new_node = nullptr;
  EXPECT_EQ(manager->playout_n_parallel(100, 2), 100U);
  EXPECT_EQ(TrackedMove::alive, edges_in(manager->tree().root_node().node()));
}

TEST_F(SearchArena, EdgesListedTwiceAtOnceAreKeptOnceAndTheOtherListGoesBack) {
  auto manager = make(tracked_game(1, 4));
  manager->playout_n_parallel(1, 1);  // the root's one child, reached once
  ASSERT_EQ(TrackedMove::alive, 1);
  // Both playouts go on below that child, and both must be inside the listing of its edges
  // before either publishes them.
  std::barrier both(2);
  std::atomic<int> waits{0};
  log.on_new_edges = [&both, &waits] {
    if (waits++ < 2) both.arrive_and_wait();
  };
  manager->playout_n_parallel(2, 2);
  log.on_new_edges = nullptr;
  EXPECT_GE(manager->tree().expansion_contention_events(), 1U);
  const TrackedNode& child = *manager->tree().root_node().moves()[0].child();
  EXPECT_EQ(child.moves().size(), 1U);
  EXPECT_EQ(TrackedMove::alive, edges_in(manager->tree().root_node().node()));
  EXPECT_EQ(manager->playout_n_parallel(100, 2), 100U);
  EXPECT_EQ(TrackedMove::alive, edges_in(manager->tree().root_node().node()));
}

TEST(SearchArenaCursor, ThreadDataTakenToANewTreeStartsAfreshThere) {
  EvaluationLog log;
  search::ThreadData<CountingSpec> tld;
  for (int round = 0; round < 3; ++round) {
    // Each tree may well be built where the last one was: the cursor must not trust the address.
    auto tree = std::make_unique<Tree>(game(2), CountingSpec{}, base_policy(),
                                       CountingEvaluator{&log}, search::EmptyTable{});
    for (int i = 0; i < 300; ++i) tree->playout(tld);
    EXPECT_EQ(tree->num_nodes(), 301U);
    EXPECT_EQ(tree->num_nodes(), count_nodes(tree->root_node().node()));
  }
}

TEST(SearchArenaCursor, NodesWiderThanABlockGetABlockOfTheirOwn) {
  EvaluationLog log;
  // 5,000 edges of 16 bytes: larger than the first blocks and the largest regular block alike.
  for (const std::uint32_t branching : {5'000U, 200'000U}) {
    Tree tree(game(branching, 2), CountingSpec{}, base_policy(), CountingEvaluator{&log},
              search::EmptyTable{});
    search::ThreadData<CountingSpec> tld;
    for (int i = 0; i < 20; ++i) tree.playout(tld);
    EXPECT_EQ(tree.num_nodes(), 21U);
    EXPECT_EQ(sum_of_edge_visits(tree.root_node().node()), 20U);
    EXPECT_GE(tree.arena_bytes(), branching * sizeof(Edge));
  }
}

// Every node, and the edges of every node a playout went on below.
[[nodiscard]] std::size_t bytes_needed(const Node& node) {
  std::size_t bytes = sizeof(Node);
  if (node.edge_list() != nullptr) bytes += Node::Edges::allocation_size(node.moves().size());
  for (const Edge& edge : node.moves()) {
    if (const Node* const child = edge.child()) bytes += bytes_needed(*child);
  }
  return bytes;
}

TEST(SearchArenaCursor, TreeTakesLittleMoreThanItsNodesNeed) {
  EvaluationLog log;
  Manager manager(game(3), CountingSpec{}, CountingEvaluator{&log}, base_policy(),
                  search::EmptyTable{});
  manager.playout_n_parallel(50'000, 2);
  const std::size_t needed = bytes_needed(manager.tree().root_node().node());
  EXPECT_GE(manager.tree().arena_bytes(), needed);
  // What each thread's last block of nodes and of edges leaves unused, and a block header each,
  // at most.
  EXPECT_LE(manager.tree().arena_bytes(), needed + 4 * (std::size_t{1} << 20) + 64 * 1024);
}

TEST(SearchArenaCursor, OnlyNodesThatAPlayoutWentOnBelowListTheirEdges) {
  EvaluationLog log;
  Tree tree(game(4), CountingSpec{}, base_policy(), CountingEvaluator{&log}, search::EmptyTable{});
  search::ThreadData<CountingSpec> tld;
  // The root's four children are each reached once; the fifth playout goes on below one of them.
  for (int i = 0; i < 4; ++i) tree.playout(tld);
  EXPECT_EQ(log.edge_lists, 1);
  for (const Edge& edge : tree.root_node().moves()) EXPECT_TRUE(edge.child()->moves().empty());
  tree.playout(tld);
  EXPECT_EQ(log.edge_lists, 2);
  std::size_t listed = 0;
  for (const Edge& edge : tree.root_node().moves()) listed += edge.child()->moves().size();
  EXPECT_EQ(listed, 4U);
}

}  // namespace
}  // namespace tornquil::counting
