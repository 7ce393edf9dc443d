// MCTSManager: owns one search tree and runs a budget of playouts on it with worker threads that
// live exactly as long as one playout_n_parallel call.
//
// Concurrency: a manager is used by one calling thread at a time; playout_n_parallel blocks that
// thread until every worker it started has been joined, so tree() is settled whenever the caller
// can reach it.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "search/mcts.hpp"
#include "search/search_tree.hpp"

namespace tornquil::search {

template <SearchSpec Spec>
class MCTSManager {
 public:
  using Tree = SearchTree<Spec>;

  // Builds the tree, which creates and evaluates the root at once.
  MCTSManager(StateOf<Spec> state, Spec manager, typename Spec::Evaluator eval,
              typename Spec::TreePolicy tree_policy, typename Spec::TranspositionTable table)
      : search_tree_(std::move(state), std::move(manager), std::move(tree_policy),
                     std::move(eval), std::move(table)) {}
  MCTSManager(const MCTSManager&) = delete;
  MCTSManager& operator=(const MCTSManager&) = delete;

  // Runs exactly n playouts, none of them on the calling thread. The first fault of a worker is
  // raised here once every worker has been joined.
  void playout_n_parallel(std::uint32_t n, std::size_t num_threads) {
    if (n == 0) return;
    if (num_threads == 0) Spec::fault("assertion failed: num_threads != 0");
    // More workers than playouts would only find the budget spent.
    const std::size_t num_workers = std::min<std::size_t>(num_threads, n);
    std::vector<std::exception_ptr> failures(num_workers);
    std::atomic<std::int64_t> counter{n};
    run_workers(counter, failures);
    search_tree_.settle_root_edges();
    rethrow_first(failures);
  }

  [[nodiscard]] const Tree& tree() const { return search_tree_; }

 private:
  // One budget unit per playout: every decrement that finds a positive value runs exactly one.
  void work(std::atomic<std::int64_t>& counter, std::exception_ptr& failure) noexcept {
    try {
      ThreadData<Spec> tld;
      while (counter.fetch_sub(1, std::memory_order_relaxed) > 0) (void)search_tree_.playout(tld);
    } catch (...) {
      failure = std::current_exception();
    }
  }

  void run_workers(std::atomic<std::int64_t>& counter, std::vector<std::exception_ptr>& failures) {
    std::vector<std::thread> workers;
    workers.reserve(failures.size());
    try {
      for (std::exception_ptr& failure : failures) {
        workers.emplace_back([this, &counter, &failure] { work(counter, failure); });
      }
    } catch (const std::system_error&) {
      // The started workers refer to this frame: stop handing out budget and join them first.
      counter.store(0, std::memory_order_relaxed);
      join_all(workers);
      Spec::fault("could not start a search thread");
    }
    join_all(workers);
  }

  static void join_all(std::vector<std::thread>& workers) {
    for (std::thread& worker : workers) worker.join();
  }

  static void rethrow_first(const std::vector<std::exception_ptr>& failures) {
    for (const std::exception_ptr& failure : failures) {
      if (failure) std::rethrow_exception(failure);
    }
  }

  Tree search_tree_;
};

}  // namespace tornquil::search
