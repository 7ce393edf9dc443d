// MCTSManager: owns one search tree and runs a budget of playouts on it with worker threads that
// live exactly as long as one playout_n_parallel call.
//
// Concurrency: a manager is used by one calling thread at a time; playout_n_parallel blocks that
// thread until every worker it started has been joined, so tree() is settled whenever the caller
// can reach it. request_stop() is the one call that any thread may make at any time.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "search/mcts.hpp"
#include "search/search_tree.hpp"
#include "search/tuning.hpp"

namespace tornquil::search {

using tuning::kMaxSearchThreads;

// The operating system refused a worker thread: an outcome of the machine, not a broken
// invariant. The workers already started have been stopped and joined when it is thrown.
class ThreadStartError : public std::system_error {
 public:
  explicit ThreadStartError(const std::system_error& cause)
      : std::system_error(cause.code(), "could not start a search thread") {}
};

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
  // current playout; the exception is raised here once they have been joined. The tree stays
  // sound: a stopped playout is never half-done.
  template <typename Supervisor>
  std::uint64_t playout_n_parallel(std::uint32_t n, std::size_t num_threads,
                                   std::chrono::nanoseconds period, Supervisor&& supervise) {
    if (n == 0) return 0;
    if (num_threads == 0) Spec::fault("assertion failed: num_threads != 0");
    stop_requested_.store(false, std::memory_order_relaxed);
    // More workers than playouts would only find the budget spent.
    const std::size_t num_workers = std::min<std::size_t>({num_threads, n, kMaxSearchThreads});
    Run run(n, num_workers);
    run_workers(run, period, supervise);
    rethrow_first(run.results);
    return run.completed();
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
          results(workers),
          running(workers) {}
    [[nodiscard]] std::uint64_t completed() const {
      std::uint64_t sum = 0;
      for (const WorkerResult& result : results) sum += result.completed;
      return sum;
    }
    // The budget not yet claimed; below zero once it is spent.
    alignas(64) std::atomic<std::int64_t> counter;
    const std::int64_t batch;  // units a worker claims at once
    // Opened once every worker has been started: workers that ran meanwhile would take the cores
    // from the thread that is still starting the others, which with hundreds of workers delays
    // the start, and any stop, by seconds.
    std::atomic<bool> started{false};
    std::vector<WorkerResult> results;
    // Guards only running; touched once per worker, when it ends.
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t running;
  };

  // One budget unit per playout: the units a worker claims it runs as one batch, checking for a
  // stop before each, so the budget is never overrun. The batch (see tuning.hpp) is also how long
  // the worker keeps its counts at the top of the tree to itself (see TopView).
  void work(Run& run, std::size_t index) noexcept {
    WorkerResult& result = run.results[index];
    run.started.wait(false, std::memory_order_acquire);
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
    const std::lock_guard<std::mutex> lock(run.mutex);
    --run.running;
    run.finished.notify_one();
  }

  template <typename Supervisor>
  void run_workers(Run& run, std::chrono::nanoseconds period, Supervisor& supervise) {
    std::vector<std::thread> workers;
    workers.reserve(run.results.size());
    try {
      for (std::size_t index = 0; index < run.results.size(); ++index) {
        workers.emplace_back([this, &run, index] { work(run, index); });
      }
    } catch (const std::system_error& error) {
      // The started workers refer to this frame: stop them and join them first.
      request_stop();
      open_gate(run);
      join_all(workers);
      throw ThreadStartError(error);
    }
    open_gate(run);
    try {
      supervise_until_finished(run, period, supervise);
    } catch (...) {
      // The workers refer to this frame: they stop and are joined before anything passes on,
      // be it the supervisor's exception or the unwinding with which a runtime ends this
      // thread (an interpreter shutting down does that to a thread that asks for its lock).
      request_stop();
      join_all(workers);
      throw;
    }
    join_all(workers);
  }

  template <typename Supervisor>
  void supervise_until_finished(Run& run, std::chrono::nanoseconds period, Supervisor& supervise) {
    std::unique_lock<std::mutex> lock(run.mutex);
    const auto finished = [&run] { return run.running == 0; };
    while (!run.finished.wait_for(lock, period, finished)) {
      if (stop_requested_.load(std::memory_order_relaxed)) {
        // Nothing more to ask: the workers end after their current playouts.
        run.finished.wait(lock, finished);
        break;
      }
      lock.unlock();
      // A supervisor that has said stop has nothing left to decide: the workers are only
      // finishing their playouts, and the join waits for them.
      if (supervise() == Supervision::Stop) {
        request_stop();
        return;
      }
      lock.lock();
    }
  }

  static void open_gate(Run& run) {
    run.started.store(true, std::memory_order_release);
    run.started.notify_all();
  }

  static void join_all(std::vector<std::thread>& workers) {
    for (std::thread& worker : workers) worker.join();
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
