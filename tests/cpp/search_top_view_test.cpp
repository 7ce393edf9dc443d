// Each search thread's own view of the top of the tree: what it counts there reaches the tree
// when its batch ends, it always chooses by its own playouts, and what does not fit, or a
// virtual loss, is counted in the tree at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "counting_game.hpp"
#include "search/top_view.hpp"
#include "test_helpers.hpp"
#include "tree_checks.hpp"

namespace tornquil::counting {
namespace {

struct LossSpec : CountingSpec {
  [[nodiscard]] std::int64_t virtual_loss() const { return 1; }
};

template <typename Spec = CountingSpec>
struct Fixture {
  explicit Fixture(CountingState state)
      : tree(state, Spec{}, base_policy(), CountingEvaluator{&log}, search::EmptyTable{}) {}
  EvaluationLog log;
  search::SearchTree<Spec> tree;
  search::ThreadData<Spec> thread;

  // Runs a batch of `count` playouts, calling between(done) after each but the last.
  std::uint64_t batch(std::uint64_t count, const std::function<void(std::uint64_t)>& between) {
    std::uint64_t done = 0;
    return tree.playouts(thread, count, [&] {
      between(++done);
      return true;
    });
  }
  [[nodiscard]] std::uint64_t root_visits() const {
    return sum_of_edge_visits(tree.root_node().node());
  }
};

TEST(SearchTopView, ABatchKeepsItsCountsAtTheTopUntilItEnds) {
  Fixture fixture(game(3));
  EXPECT_EQ(fixture.batch(12, [&](std::uint64_t) { EXPECT_EQ(fixture.root_visits(), 0U); }), 12U);
  EXPECT_EQ(fixture.root_visits(), 12U);
  testing::expect_edges_count_every_playout_below(fixture.tree.root_node().node());
}

TEST(SearchTopView, OneBatchChoosesExactlyAsPlayoutsPublishedOneByOne) {
  Fixture batched(game(4, 8));
  Fixture single(game(4, 8));
  EXPECT_EQ(batched.batch(500, [](std::uint64_t) {}), 500U);
  for (int i = 0; i < 500; ++i) single.tree.playout(single.thread);
  EXPECT_EQ(testing::tree_fingerprint(batched.tree.root_node().node()),
            testing::tree_fingerprint(single.tree.root_node().node()));
  EXPECT_EQ(batched.tree.num_nodes(), single.tree.num_nodes());
}

TEST(SearchTopView, AnotherThreadSeesABatchOnlyOnceItEnds) {
  // Both threads start from the fixed tie-break stream, so both take the first of the two moves.
  // The second cannot see the first's visit, finds its child, and stops there as at a node it is
  // the first to reach; seen at once, the visit would have sent it to the other move.
  Fixture fixture(game(2));
  search::ThreadData<CountingSpec> other;
  fixture.batch(2, [&](std::uint64_t done) {
    if (done == 1) {
      EXPECT_TRUE(fixture.tree.playout(other));
    }
  });
  EXPECT_EQ(fixture.log.existing_states, 1);
  const auto& edges = fixture.tree.root_node().moves();
  EXPECT_EQ(edges[0].visits(), 2U);
  EXPECT_EQ(edges[1].visits(), 1U);
}

TEST(SearchTopView, VirtualLossIsCountedInTheTreeAtOnce) {
  Fixture<LossSpec> fixture(game(3));
  fixture.batch(12, [&](std::uint64_t done) { EXPECT_EQ(fixture.root_visits(), done); });
  EXPECT_EQ(fixture.root_visits(), 12U);
}

TEST(SearchTopView, NodesTooWideForTheViewAreCountedInTheTreeAtOnce) {
  constexpr auto width = static_cast<std::uint32_t>(search::TopView<CountingSpec>::kMaxEdges + 1);
  Fixture fixture(game(width));
  fixture.batch(5, [&](std::uint64_t done) { EXPECT_EQ(fixture.root_visits(), done); });
  EXPECT_EQ(fixture.root_visits(), 5U);
}

TEST(SearchTopView, AThreadUsedWithAnotherTreeStartsAfresh) {
  Fixture first(game(3));
  first.batch(20, [](std::uint64_t) {});
  const std::size_t first_nodes = first.tree.num_nodes();
  // Counts carried over from the first tree would make the new root's moves look visited, and
  // children carried over would lead back into the first tree; seen afresh, the first three
  // playouts take each move once and build its child in the new tree.
  Fixture second(game(3));
  EXPECT_EQ(second.tree.playouts(first.thread, 3, [] { return true; }), 3U);
  for (const auto& edge : second.tree.root_node().moves()) EXPECT_EQ(edge.visits(), 1U);
  EXPECT_EQ(second.tree.num_nodes(), 4U);
  EXPECT_EQ(first.tree.num_nodes(), first_nodes);
}

TEST(SearchTopView, PlayoutThatFaultsTakesBackItsVisitsAtTheTopAndBelow) {
  // A line of single moves: playout k builds the node at depth k, so the evaluator's refusal at
  // depth `refused` hits the playout that walked every edge above it.
  for (const std::uint32_t refused : {2U, 5U}) {
    Fixture fixture(game(1));
    fixture.log.fault_at_depth = refused;
    for (std::uint32_t i = 1; i < refused; ++i) EXPECT_TRUE(fixture.tree.playout(fixture.thread));
    EXPECT_THROW(fixture.tree.playout(fixture.thread), InternalFault);
    const auto* node = &fixture.tree.root_node().node();
    for (std::uint32_t depth = 0; depth < refused; ++depth) {
      const auto& edge = node->moves()[0];
      EXPECT_EQ(edge.visits(), refused - 1 - depth) << "edge at depth " << depth;
      if (edge.child() == nullptr) break;
      node = edge.child();
    }
  }
}

}  // namespace
}  // namespace tornquil::counting
