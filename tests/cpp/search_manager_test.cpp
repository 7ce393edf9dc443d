#include <gtest/gtest.h>

#include <barrier>
#include <chrono>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "counting_game.hpp"
#include "search/manager.hpp"
#include "test_helpers.hpp"
#include "tree_checks.hpp"

namespace tornquil::counting {
namespace {

class SearchManagerTest : public ::testing::Test {
 protected:
  [[nodiscard]] Manager make_manager(const CountingState& state) {
    return Manager(state, CountingSpec{}, CountingEvaluator{&log}, base_policy(),
                   search::EmptyTable{});
  }
  [[nodiscard]] const Node& root(const Manager& manager) const {
    return manager.tree().root_node().node();
  }

  EvaluationLog log;
};

// Once the workers have joined, every thread's counts at the top have reached the tree.
void expect_counts_settled(const Node& root) {
  for (const Edge& edge : root.moves()) {
    if (edge.child() == nullptr) {
      EXPECT_EQ(edge.visits(), 0U);
    }
  }
  testing::expect_edges_count_every_playout_below(root);
  EXPECT_EQ(root.overflow().visits(), 0U);
  EXPECT_EQ(root.overflow().sum_evaluations(), 0);
}

TEST_F(SearchManagerTest, NoPlayoutsReturnAtOnceEvenWithoutThreads) {
  Manager manager = make_manager(game(3));
  manager.playout_n_parallel(0, 0);
  EXPECT_EQ(manager.tree().num_nodes(), 1U);
  EXPECT_EQ(log.new_states, 1);
}

TEST_F(SearchManagerTest, NoThreadsForSomePlayoutsFaultsBeforeAnyPlayout) {
  Manager manager = make_manager(game(3));
  EXPECT_EQ(testing::fault_message([&] { manager.playout_n_parallel(1, 0); }),
            "assertion failed: num_threads != 0");
  EXPECT_EQ(manager.tree().num_nodes(), 1U);
  EXPECT_EQ(log.new_states + log.existing_states, 1);
}

TEST_F(SearchManagerTest, OneThreadRunsEveryPlayoutOnOneWorkerOffTheCallingThread) {
  Manager manager = make_manager(game(2, 3));
  log.threads.clear();
  manager.playout_n_parallel(50, 1);

  EXPECT_EQ(sum_of_edge_visits(root(manager)), 50U);
  expect_counts_settled(root(manager));
  const std::set<std::thread::id> threads(log.threads.begin(), log.threads.end());
  ASSERT_EQ(threads.size(), 1U);
  EXPECT_NE(*threads.begin(), std::this_thread::get_id());
}

TEST_F(SearchManagerTest, MoreThreadsThanPlayoutsRunExactlyTheBudget) {
  Manager manager = make_manager(game(3, 1));
  manager.playout_n_parallel(2, 8);

  EXPECT_EQ(sum_of_edge_visits(root(manager)), 2U);
  // The children have no edges, so each playout ends with one evaluation, and a lost race
  // costs one more.
  EXPECT_EQ(log.new_states + log.existing_states,
            1 + 2 + static_cast<int>(manager.tree().expansion_contention_events()));
  expect_counts_settled(root(manager));
}

TEST_F(SearchManagerTest,
       RootEdgesAddUpToTheBudgetAndEveryEdgeCountsThePlayoutsBelowOnEightThreads) {
  for (int repetition = 0; repetition < 40; ++repetition) {
    EvaluationLog repetition_log;
    Manager manager(game(3, 6), CountingSpec{}, CountingEvaluator{&repetition_log}, base_policy(),
                    search::EmptyTable{});
    manager.playout_n_parallel(300, 8);

    const Node& root = manager.tree().root_node().node();
    ASSERT_EQ(sum_of_edge_visits(root), 300U) << "repetition " << repetition;
    expect_counts_settled(root);
    EXPECT_EQ(manager.tree().num_nodes(), count_nodes(root));
  }
}

TEST_F(SearchManagerTest, SecondCallGrowsTheSameTree) {
  Manager manager = make_manager(game(2, 4));
  manager.playout_n_parallel(30, 4);
  manager.playout_n_parallel(20, 3);
  EXPECT_EQ(sum_of_edge_visits(root(manager)), 50U);
}

TEST_F(SearchManagerTest, TwoThreadsExpandingOneEdgePublishOneNode) {
  // Both playouts must be inside the evaluation of the same new node before either publishes it.
  std::barrier both(2);
  log.on_new_node = [&both] { both.arrive_and_wait(); };
  Manager manager = make_manager(game(1, 1));
  manager.playout_n_parallel(2, 2);

  EXPECT_EQ(manager.tree().expansion_contention_events(), 1U);
  EXPECT_EQ(manager.tree().num_nodes(), 2U);
  const Edge& edge = root(manager).moves()[0];
  ASSERT_NE(edge.child(), nullptr);
  EXPECT_EQ(edge.visits(), 2U);
  // The loser's playout ends at the winner's node and values it afresh.
  EXPECT_EQ(log.new_states, 3);
  EXPECT_EQ(log.existing_states, 1);
}

TEST_F(SearchManagerTest, WorkerFaultReachesTheCallerOnceEveryWorkerHasFinished) {
  log.fault_at_depth = 2;
  Manager manager = make_manager(game(4));
  EXPECT_EQ(testing::fault_message([&] { manager.playout_n_parallel(500, 8); }),
            "evaluator refused the state");
  EXPECT_EQ(log.in_flight, 0);
  // Every playout's own count is gone again, failed ones included.
  EXPECT_EQ(manager.tree().num_nodes(), count_nodes(root(manager)));
}

TEST_F(SearchManagerTest, StopFromAnotherThreadEndsEightWorkersWithTheirPlayoutsCounted) {
  Manager manager = make_manager(game(3, 6));
  std::thread stopper([&manager] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    manager.request_stop();
  });
  const std::uint64_t completed = manager.playout_n_parallel(4'000'000'000U, 8);
  stopper.join();

  EXPECT_GT(completed, 0U);
  EXPECT_LT(completed, 4'000'000'000U);
  EXPECT_EQ(sum_of_edge_visits(root(manager)), completed);
  expect_counts_settled(root(manager));
  EXPECT_EQ(manager.tree().num_nodes(), count_nodes(root(manager)));
  // The next call starts afresh and runs its whole budget.
  EXPECT_EQ(manager.playout_n_parallel(40, 2), 40U);
  EXPECT_EQ(sum_of_edge_visits(root(manager)), completed + 40);
}

TEST_F(SearchManagerTest, SupervisorIsAskedWhileWorkersRunAndItsStopEndsTheCall) {
  Manager manager = make_manager(game(3, 6));
  int asked = 0;
  const std::uint64_t completed =
      manager.playout_n_parallel(4'000'000'000U, 4, std::chrono::milliseconds(2), [&asked] {
        return ++asked == 3 ? search::Supervision::Stop : search::Supervision::Continue;
      });
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(sum_of_edge_visits(root(manager)), completed);
  expect_counts_settled(root(manager));
}

TEST_F(SearchManagerTest, SupervisorThatRaisesStopsTheWorkersAndItsExceptionReachesTheCaller) {
  Manager manager = make_manager(game(3, 6));
  try {
    (void)manager.playout_n_parallel(
        4'000'000'000U, 8, std::chrono::milliseconds(1),
        []() -> search::Supervision { throw std::out_of_range("interrupted"); });
    FAIL() << "no exception";
  } catch (const std::out_of_range& error) {
    EXPECT_STREQ(error.what(), "interrupted");
  }
  EXPECT_EQ(log.in_flight, 0);
  expect_counts_settled(root(manager));
  EXPECT_EQ(manager.tree().num_nodes(), count_nodes(root(manager)));
}

TEST_F(SearchManagerTest, ShortBudgetNeverWaitsForTheSupervisorPeriod) {
  Manager manager = make_manager(game(2, 3));
  int asked = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(manager.playout_n_parallel(20, 2, std::chrono::hours(1),
                                       [&asked] {
                                         ++asked;
                                         return search::Supervision::Continue;
                                       }),
            20U);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(asked, 0);
}

TEST_F(SearchManagerTest, AbsurdThreadCountStartsAtMostTheCeilingAndRunsTheBudget) {
  Manager manager = make_manager(game(3, 6));
  log.threads.clear();
  EXPECT_EQ(manager.playout_n_parallel(2000, 1'000'000'000), 2000U);

  EXPECT_EQ(sum_of_edge_visits(root(manager)), 2000U);
  const std::set<std::thread::id> threads(log.threads.begin(), log.threads.end());
  EXPECT_LE(threads.size(), search::kMaxSearchThreads);
}

}  // namespace
}  // namespace tornquil::counting
