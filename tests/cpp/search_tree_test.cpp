#include "search/search_tree.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "counting_game.hpp"
#include "search/small_vec.hpp"
#include "tree_checks.hpp"

namespace tornquil::counting {
namespace {

class SearchTreeTest : public ::testing::Test {
 protected:
  EvaluationLog log;
  search::ThreadData<CountingSpec> tld;
};

#define MAKE_TREE(name, state) \
  Tree name((state), CountingSpec{}, base_policy(), CountingEvaluator{&log}, search::EmptyTable{})

[[nodiscard]] const Edge* only_expanded_edge(const Node& node) {
  const Edge* found = nullptr;
  for (const Edge& edge : node.moves()) {
    if (edge.child() == nullptr) continue;
    EXPECT_EQ(found, nullptr) << "more than one edge expanded";
    found = &edge;
  }
  return found;
}

TEST_F(SearchTreeTest, FirstPlayoutCreatesTheChildOfTheChosenEdge) {
  MAKE_TREE(tree, game(3));
  EXPECT_TRUE(tree.playout(tld));

  EXPECT_EQ(tree.num_nodes(), 2U);
  const Edge* const edge = only_expanded_edge(tree.root_node().node());
  ASSERT_NE(edge, nullptr);
  EXPECT_EQ(edge->visits(), 1U);
  EXPECT_EQ(edge->sum_rewards(), edge->child()->evaln());
  EXPECT_EQ(edge->child()->evaln(), edge->get_move() + 1);
  EXPECT_EQ(log.new_states, 2);
  EXPECT_EQ(log.existing_states, 0);
}

TEST_F(SearchTreeTest, SecondPlayoutThroughAnEdgeGoesOnToCreateAGrandchild) {
  MAKE_TREE(tree, game(1));
  tree.playout(tld);
  tree.playout(tld);

  EXPECT_EQ(tree.num_nodes(), 3U);
  const Node* const child = tree.root_node().moves()[0].child();
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(tree.root_node().moves()[0].visits(), 2U);
  ASSERT_NE(child->moves()[0].child(), nullptr);
  EXPECT_EQ(child->moves()[0].visits(), 1U);
}

TEST_F(SearchTreeTest, RootWithoutEdgesIsEvaluatedAfreshAndNothingChanges) {
  MAKE_TREE(tree, game(2, 0));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(tree.playout(tld));

  EXPECT_EQ(tree.num_nodes(), 1U);
  EXPECT_EQ(log.new_states, 1);
  EXPECT_EQ(log.existing_states, 3);
  EXPECT_EQ(tree.root_node().node().overflow().visits(), 0U);
}

TEST_F(SearchTreeTest, ChildWithoutEdgesStopsEveryPlayoutAndIsEvaluatedEachVisit) {
  MAKE_TREE(tree, game(1, 1));
  for (int i = 0; i < 5; ++i) tree.playout(tld);

  EXPECT_EQ(tree.num_nodes(), 2U);
  const Edge& edge = tree.root_node().moves()[0];
  EXPECT_EQ(edge.visits(), 5U);
  EXPECT_TRUE(edge.child()->moves().empty());
  EXPECT_EQ(edge.sum_rewards(), 5);
  EXPECT_EQ(log.new_states, 2);
  EXPECT_EQ(log.existing_states, 4);
}

TEST_F(SearchTreeTest, RootStatisticsStayZeroAndRootEdgesAddUpToThePlayouts) {
  MAKE_TREE(tree, game(3, 4));
  constexpr int playouts = 200;
  for (int i = 0; i < playouts; ++i) tree.playout(tld);

  const Node& root = tree.root_node().node();
  EXPECT_EQ(root.overflow().visits(), 0U);
  EXPECT_EQ(root.overflow().sum_evaluations(), 0);
  EXPECT_EQ(sum_of_edge_visits(root), static_cast<std::uint64_t>(playouts));
  for (const Edge& edge : root.moves()) ASSERT_NE(edge.child(), nullptr);
  testing::expect_edges_count_every_playout_below(root);
  EXPECT_EQ(tree.num_nodes(), count_nodes(root));
}

TEST_F(SearchTreeTest, EachEdgeHoldsTheRewardOfThePlayerWhoTookIt) {
  MAKE_TREE(tree, game(1, 2));
  for (int i = 0; i < 3; ++i) tree.playout(tld);

  const Edge& first = tree.root_node().moves()[0];
  const Edge& second = first.child()->moves()[0];
  // Totals: 1 after one move, 2 after two. Seat 0 took the first edge, seat 1 the second.
  EXPECT_EQ(first.sum_rewards(), 1 + 2 + 2);
  EXPECT_EQ(second.sum_rewards(), -2 - 2);
}

TEST_F(SearchTreeTest, PlayoutStopsAfterMaxPlayoutLengthMovesAndEvaluatesTheStateReached) {
  MAKE_TREE(tree, game(1));
  // Playout k creates the node at depth k, so the 1001st is the first to walk 1000 moves.
  for (int i = 0; i < 1003; ++i) tree.playout(tld);

  EXPECT_EQ(tree.num_nodes(), 1001U);
  EXPECT_EQ(log.new_states, 1001);
  EXPECT_EQ(log.existing_states, 3);
  EXPECT_EQ(log.deepest_existing, 1000U);
  EXPECT_EQ(tree.root_node().moves()[0].visits(), 1003U);
}

// Answers 5 the first time and 0 ever after.
struct ShrinkingLimitSpec : CountingSpec {
  std::atomic<int>* calls;
  [[nodiscard]] std::size_t max_playout_length() const { return calls->fetch_add(1) == 0 ? 5 : 0; }
};

TEST_F(SearchTreeTest, LengthLimitIsAskedOncePerPlayoutAndALimitOfZeroValuesTheRoot) {
  std::atomic<int> calls{0};
  search::SearchTree<ShrinkingLimitSpec> tree(game(2), ShrinkingLimitSpec{{}, &calls},
                                              base_policy(), CountingEvaluator{&log}, {});
  search::ThreadData<ShrinkingLimitSpec> thread;
  // A limit that changed within a playout would have cut this one short after its first step.
  EXPECT_TRUE(tree.playout(thread));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(tree.num_nodes(), 2U);
  EXPECT_TRUE(tree.playout(thread));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(tree.num_nodes(), 2U);
  EXPECT_EQ(log.existing_states, 1);
  EXPECT_EQ(tree.root_node().moves()[0].visits() + tree.root_node().moves()[1].visits(), 1U);
}

struct LimitedSpec : CountingSpec {
  [[nodiscard]] std::size_t node_limit() const { return 3; }
};

TEST_F(SearchTreeTest, NodeLimitRefusesPlayoutsOnceTheTreeHoldsThatManyAndAFaultFreesItsCount) {
  log.fault_at_depth = 2;
  search::SearchTree<LimitedSpec> tree(game(1), LimitedSpec{}, base_policy(),
                                       CountingEvaluator{&log}, {});
  search::ThreadData<LimitedSpec> thread;
  EXPECT_TRUE(tree.playout(thread));
  // The evaluator refuses the node at depth 2: nothing of that playout stays counted.
  EXPECT_THROW(tree.playout(thread), InternalFault);
  EXPECT_EQ(tree.num_nodes(), 2U);
  log.fault_at_depth = endless;
  EXPECT_TRUE(tree.playout(thread));
  EXPECT_EQ(tree.num_nodes(), 3U);
  const int evaluations = log.new_states + log.existing_states;
  EXPECT_FALSE(tree.playout(thread));
  EXPECT_EQ(log.new_states + log.existing_states, evaluations);
  EXPECT_EQ(tree.num_nodes(), 3U);
}

// Rewards beyond what an edge's own copy can hold, from the first playout on.
struct HugeRewardEvaluator : CountingEvaluator {
  [[nodiscard]] std::int64_t interpret_evaluation_for_player(const std::int64_t& evaln,
                                                             const int& player) const {
    return CountingEvaluator::interpret_evaluation_for_player(evaln, player) << 32;
  }
};

struct HugeRewardSpec : CountingSpec {
  using Evaluator = HugeRewardEvaluator;
};

struct HugeLossSpec : CountingSpec {
  [[nodiscard]] std::int64_t virtual_loss() const { return std::int64_t{1} << 40; }
};

// Checks every edge below `node` that some playout took: its sum is a whole number of `unit`s, as
// every reward was, and no larger than the largest total (`most` units) a playout can bring;
// returns how many of them were marked large.
template <typename Node>
std::size_t check_sums(const Node& node, std::int64_t unit, std::int64_t most) {
  std::size_t large = 0;
  for (const auto& edge : node.moves()) {
    const auto* const child = edge.child();
    if (child == nullptr) continue;
    EXPECT_EQ(edge.sum_rewards() % unit, 0);
    EXPECT_LE(std::abs(edge.sum_rewards() / unit), static_cast<std::int64_t>(edge.visits()) * most);
    large += edge.stats().large() ? 1 : 0;
    large += check_sums(*child, unit, most);
  }
  return large;
}

// In a line of single moves, playout k stops at depth k with the total k (below the length
// limit), so the first edge holds k for every k and the second -k for every k from 2.
template <typename Tree>
void expect_line_sums(const Tree& tree, std::int64_t unit, std::uint64_t playouts) {
  const auto n = static_cast<std::int64_t>(playouts);
  const auto& first = tree.root_node().moves()[0];
  const auto& second = first.child()->moves()[0];
  EXPECT_EQ(first.visits(), playouts);
  EXPECT_EQ(first.sum_rewards(), n * (n + 1) / 2 * unit);
  EXPECT_EQ(second.visits(), playouts - 1);
  EXPECT_EQ(second.sum_rewards(), -(n * (n + 1) / 2 - 1) * unit);
}

TEST_F(SearchTreeTest, CountsThatOutgrowTheirEdgeStayExact) {
  constexpr std::int64_t huge = std::int64_t{1} << 32;
  search::SearchTree<HugeRewardSpec> line(game(1), HugeRewardSpec{}, base_policy(),
                                          HugeRewardEvaluator{{&log}}, {});
  search::ThreadData<HugeRewardSpec> line_thread;
  for (int i = 0; i < 900; ++i) line.playout(line_thread);
  expect_line_sums(line, huge, 900);
  EXPECT_TRUE(line.root_node().moves()[0].stats().large());

  search::MCTSManager<HugeRewardSpec> wide(game(3, 6), HugeRewardSpec{},
                                           HugeRewardEvaluator{{&log}}, base_policy(), {});
  wide.playout_n_parallel(3000, 2);
  EXPECT_EQ(sum_of_edge_visits(wide.tree().root_node().node()), 3000U);
  EXPECT_EQ(check_sums(wide.tree().root_node().node(), huge, 18), wide.tree().num_nodes() - 1);
  testing::expect_edges_count_every_playout_below(wide.tree().root_node().node());
}

TEST_F(SearchTreeTest, VirtualLossTooLargeForAnEdgeIsGivenBackInFull) {
  search::SearchTree<HugeLossSpec> line(game(1), HugeLossSpec{}, base_policy(),
                                        CountingEvaluator{&log}, {});
  search::ThreadData<HugeLossSpec> line_thread;
  for (int i = 0; i < 900; ++i) line.playout(line_thread);
  expect_line_sums(line, 1, 900);

  search::MCTSManager<HugeLossSpec> wide(game(3, 6), HugeLossSpec{}, CountingEvaluator{&log},
                                         base_policy(), {});
  wide.playout_n_parallel(3000, 2);
  EXPECT_EQ(sum_of_edge_visits(wide.tree().root_node().node()), 3000U);
  // Every edge taken was marked by the loss, and none kept any of it.
  EXPECT_EQ(check_sums(wide.tree().root_node().node(), 1, 18), wide.tree().num_nodes() - 1);
}

TEST_F(SearchTreeTest, OrdinaryRewardsKeepEveryEdgeSmall) {
  Manager plain(game(3, 6), CountingSpec{}, CountingEvaluator{&log}, base_policy(), {});
  plain.playout_n_parallel(3000, 2);
  EXPECT_EQ(check_sums(plain.tree().root_node().node(), 1, 18), 0U);
}

TEST(SearchOneThread, SearchesGrowExactlyTheTreesTheyAlwaysHave) {
  // Recorded from an engine whose trees were checked, edge for edge, against those of the engine
  // before its nodes moved to arenas: one thread must keep making the same choices, tie-breaks
  // included. The wide nodes draw tie-breaks among more than 256 unvisited edges.
  struct Case {
    CountingState state;
    MyPolicy policy;
    std::uint32_t playouts;
    std::uint64_t fingerprint;
    std::size_t nodes;
  };
  const Case cases[] = {
      {game(3, 6), MyPolicy(UCTBase{12.0}), 5000, 0x3749fef622b27fcfULL, 779},
      {game(5, 8), MyPolicy(UCTBase{12.0}), 20000, 0xa8b909023a03847fULL, 6221},
      {game(4, 7), MyPolicy(search::UCTVariation3{12.0, 0.001}), 20000, 0x9de88e950f9b86e7ULL,
       1319},
      {game(4, 7), MyPolicy(search::UCTVariation4{12.0}), 20000, 0x0853d96333f07b2aULL, 1439},
      {game(2), MyPolicy(UCTBase{3.0}), 3000, 0xe9d47035a4789498ULL, 3001},
      {game(40, 6), MyPolicy(UCTBase{12.0}), 30000, 0x590998f5225616f5ULL, 30001},
      {game(300, 3), MyPolicy(UCTBase{12.0}), 30000, 0x305d046758784ae5ULL, 21563},
  };
  for (const Case& c : cases) {
    EvaluationLog log;
    Manager manager(c.state, CountingSpec{}, CountingEvaluator{&log}, c.policy,
                    search::EmptyTable{});
    EXPECT_EQ(manager.playout_n_parallel(c.playouts, 1), c.playouts);
    EXPECT_EQ(testing::tree_fingerprint(manager.tree().root_node().node()), c.fingerprint)
        << c.state.branching << " moves, " << c.playouts << " playouts";
    EXPECT_EQ(manager.tree().num_nodes(), c.nodes);
  }
}

// Hands back the first node it was offered for every later state: a table that turns a line of
// states into a loop.
struct LoopingSpec;
struct LoopingTable {
  search::SearchNode<LoopingSpec>* first = nullptr;
  template <typename Spec>
  [[nodiscard]] search::SearchNode<Spec>* lookup(const CountingState& /*state*/) const {
    return first;
  }
  template <typename Spec>
  [[nodiscard]] search::SearchNode<Spec>* insert(const CountingState& /*state*/,
                                                 search::SearchNode<Spec>& node) {
    if (first == nullptr) first = &node;
    return nullptr;
  }
};
struct LoopingSpec : CountingSpec {
  using TranspositionTable = LoopingTable;
};

TEST_F(SearchTreeTest, NodeReachedTwiceOnOnePathFaultsAsACycle) {
  search::SearchTree<LoopingSpec> tree(game(1), LoopingSpec{}, base_policy(),
                                       CountingEvaluator{&log}, {});
  search::ThreadData<LoopingSpec> thread;
  tree.playout(thread);
  try {
    tree.playout(thread);
    FAIL() << "no fault";
  } catch (const InternalFault& fault) {
    EXPECT_STREQ(fault.what(),
                 "cycle detected! you should do one of the following:\n- make states acyclic\n- "
                 "remove transposition table\n- change cycle_behaviour()");
  }
  EXPECT_EQ(tree.transposition_table_hits(), 1U);
  EXPECT_EQ(tree.num_nodes(), 2U);
}

TEST(SearchSmallVec, KeepsEntriesInlineUpToItsCapacityAndAllOfThemBeyond) {
  search::SmallVec<int, 4> list;
  for (int i = 0; i < 4; ++i) list.push_back(i);
  EXPECT_TRUE(list.is_inline());
  for (int i = 4; i < 100; ++i) list.push_back(i);
  EXPECT_FALSE(list.is_inline());
  ASSERT_EQ(list.size(), 100U);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(list[static_cast<std::size_t>(i)], i);
}

}  // namespace
}  // namespace tornquil::counting
