// MCTSManager: owns one search tree and runs a budget of playouts on it with worker threads that
// live exactly as long as one playout_n_parallel call, or on those of a pool that the caller lends
// to several searches in turn.
//
// Concurrency: a manager is used by one calling thread at a time; playout_n_parallel blocks that
// thread until every worker has finished its share, so tree() is settled whenever the caller can
// reach it. request_stop() is the one call that any thread may make at any time.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <system_error>
#include <utility>
#include <vector>

#include "search/mcts.hpp"
#include "search/search_tree.hpp"
#include "search/tuning.hpp"
#include "search/worker_pool.hpp"

namespace tornquil::search {

using tuning::kMaxSearchThreads;

// What the calling thread's supervisor answers each time it is asked while the workers run.
enum class Supervision : std::uint8_t { Continue, Stop };

template <SearchSpec Spec>
class MCTSManager {
 public:
  using Tree = SearchTree<Spec>;

  // Builds the tree, which creates and evaluates the root at once.
  MCTSManager(StateOf<Spec> state, Spec manager, typename Spec::Evaluator eval,
              typename Spec::TreePolicy tree_policy, typename Spec::TranspositionTable table)
      : search_tree_(std::move(state), std::move(manager), std::move(tree_policy), std::move(eval),
                     std::move(table)) {}
  MCTSManager(const MCTSManager&) = delete;
  MCTSManager& operator=(const MCTSManager&) = delete;

  // Runs n playouts, none of them on the calling thread, and returns how many completed: n unless
  // a stop was requested. The first fault of a worker is raised here once every worker has been
  // joined.
  std::uint64_t playout_n_parallel(std::uint32_t n, std::size_t num_threads) {
    return playout_n_parallel(n, num_threads, std::chrono::hours(1),
                              [] { return Supervision::Continue; });
  }

  // As above, and while the workers run the calling thread asks supervise() at least once every
  // period, until a stop is requested or the last worker has finished (never after it answered
  // Stop). Supervision::Stop, or an exception from supervise(), makes every worker stop after its
  // current playout; the exception is raised here once they have finished. The tree stays
  // sound: a stopped playout is never half-done. The workers are started for this call and
  // joined before it returns.
  template <typename Supervisor>
  std::uint64_t playout_n_parallel(std::uint32_t n, std::size_t num_threads,
                                   std::chrono::nanoseconds period, Supervisor&& supervise) {
    if (n == 0) return 0;
    if (num_threads == 0) Spec::fault("assertion failed: num_threads != 0");
    WorkerPool pool(workers_for(n, num_threads));
    return playout_n_parallel(n, pool, period, supervise);
  }

  // The same on the workers of `pool`, which stay started for the caller's next search.
  template <typename Supervisor>
  std::uint64_t playout_n_parallel(std::uint32_t n, WorkerPool& pool,
                                   std::chrono::nanoseconds period, Supervisor&& supervise) {
    if (n == 0) return 0;
    if (pool.size() == 0) Spec::fault("assertion failed: num_threads != 0");
    stop_requested_.store(false, std::memory_order_relaxed);
    Run run(n, std::min<std::size_t>(pool.size(), n));
    run_workers(run, pool, period, supervise);
    rethrow_first(run.results);
    return run.completed();
  }

  // How many workers a call with `n` playouts on `num_threads` threads starts: more workers than
  // playouts would only find the budget spent.
  [[nodiscard]] static std::size_t workers_for(std::uint32_t n, std::size_t num_threads) {
    return std::min<std::size_t>({num_threads, n, kMaxSearchThreads});
  }

  // Asks the running call, if any, to stop after the playouts in progress. Safe from any thread;
  // each call of playout_n_parallel starts with no stop requested.
  void request_stop() noexcept { stop_requested_.store(true, std::memory_order_relaxed); }

  [[nodiscard]] const Tree& tree() const { return search_tree_; }

 private:
  // One worker's own results, on a cache line of its own: each worker writes only its slot.
  struct alignas(64) WorkerResult {
    std::exception_ptr failure;
    std::uint64_t completed = 0;
  };

  // The state one call shares between its workers and the calling thread.
  struct Run {
    Run(std::uint32_t budget, std::size_t workers)
        : counter(budget),
          batch(std::clamp<std::int64_t>(
              std::int64_t{budget} /
                  (static_cast<std::int64_t>(workers) * tuning::kBatchShareDivisor),
              1, tuning::kMaxBatch)),
          results(workers) {}
    [[nodiscard]] std::uint64_t completed() const {
      std::uint64_t sum = 0;
      for (const WorkerResult& result : results) sum += result.completed;
      return sum;
    }
    // The budget not yet claimed; below zero once it is spent.
    alignas(64) std::atomic<std::int64_t> counter;
    const std::int64_t batch;  // units a worker claims at once
    std::vector<WorkerResult> results;
  };

  // One budget unit per playout: the units a worker claims it runs as one batch, checking for a
  // stop before each, so the budget is never overrun. The batch (see tuning.hpp) is also how long
  // the worker keeps its counts at the top of the tree to itself (see TopView).
  void work(Run& run, std::size_t index) noexcept {
    WorkerResult& result = run.results[index];
    try {
      ThreadData<Spec> tld;
      // The first worker keeps the policy's fixed stream, so a one-thread search repeats exactly;
      // the others break ties their own way instead of chasing the first one's leaf.
      if (index > 0) seed_thread_stream(tld.policy_data, index);
      const auto keep_going = [this] { return !stop_requested_.load(std::memory_order_relaxed); };
      // Every worker that started runs at least one playout when the budget allows, so that a
      // stopped search still has something to show for each thread.
      bool first = true;
      while (first || keep_going()) {
        const std::int64_t before = run.counter.fetch_sub(run.batch, std::memory_order_relaxed);
        if (before <= 0) break;
        first = false;
        result.completed += search_tree_.playouts(
            tld, static_cast<std::uint64_t>(std::min(run.batch, before)), keep_going);
      }
    } catch (...) {
      result.failure = std::current_exception();
    }
  }

  template <typename Supervisor>
  void run_workers(Run& run, WorkerPool& pool, std::chrono::nanoseconds period,
                   Supervisor& supervise) {
    const std::function<void(std::size_t)> job = [this, &run](std::size_t index) {
      work(run, index);
    };
    // The supervisor is asked until a stop is requested; whatever it throws (its own error, or
    // the unwinding with which a runtime ends this thread: an interpreter shutting down does that
    // to a thread that asks for its lock) stops the workers first, and the pool lets it pass only
    // once they have finished, since they refer to this frame.
    pool.run(run.results.size(), job, period, [&] {
      if (stop_requested_.load(std::memory_order_relaxed)) return false;
      try {
        if (supervise() == Supervision::Stop) {
          request_stop();
          return false;
        }
      } catch (...) {
        request_stop();
        throw;
      }
      return true;
    });
  }

  static void rethrow_first(const std::vector<WorkerResult>& results) {
    for (const WorkerResult& result : results) {
      if (result.failure) std::rethrow_exception(result.failure);
    }
  }

  Tree search_tree_;
  // Read by every worker before each playout and written only to stop: kept off the lines that
  // the tree writes.
  alignas(64) std::atomic<bool> stop_requested_{false};
};

}  // namespace tornquil::search
