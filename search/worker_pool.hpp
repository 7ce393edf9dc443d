// WorkerPool: search threads started once and lent to one job after another, so that a decision
// made of several searches (one per sampled world, say) starts its threads once, not once per
// search. Between jobs the workers sleep.
//
// Concurrency: a pool is used by one calling thread at a time; run() blocks that thread, which
// supervises, until every worker lent to the job has finished it. The job runs on the workers
// only, never on the calling thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tornquil::search {

// The operating system refused a worker thread: an outcome of the machine, not a broken
// invariant. The workers already started have been stopped and joined when it is thrown.
class ThreadStartError : public std::system_error {
 public:
  explicit ThreadStartError(const std::system_error& cause)
      : std::system_error(cause.code(), "could not start a search thread") {}
};

class WorkerPool {
 public:
  // Starts `threads` workers.
  explicit WorkerPool(std::size_t threads) {
    workers_.reserve(threads);
    try {
      for (std::size_t index = 0; index < threads; ++index) {
        workers_.emplace_back([this, index] { serve(index); });
      }
    } catch (const std::system_error& error) {
      shut_down();
      throw ThreadStartError(error);
    }
  }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool() { shut_down(); }

  [[nodiscard]] std::size_t size() const { return workers_.size(); }

  // Runs job(index) on workers 0 to count - 1 (at most size()), each once, and returns when all
  // of them have finished. Meanwhile the calling thread asks keep_asking() at least once every
  // period until it answers false or the job is done. An exception from keep_asking() passes
  // on, but only once every worker has finished: the job may refer to the caller's frame, so the
  // caller must make the job end (the job's own stop) before it throws. `job` must not throw.
  template <typename KeepAsking>
  void run(std::size_t count, const std::function<void(std::size_t)>& job,
           std::chrono::nanoseconds period, KeepAsking&& keep_asking) {
    count = std::min(count, workers_.size());
    if (count == 0) return;
    std::unique_lock<std::mutex> lock(mutex_);
    job_ = &job;
    lent_ = count;
    unfinished_ = count;
    ++generation_;
    work_.notify_all();
    const auto done = [this] { return unfinished_ == 0; };
    try {
      while (!finished_.wait_for(lock, period, done)) {
        lock.unlock();
        const bool again = keep_asking();
        lock.lock();
        if (!again) break;
      }
    } catch (...) {
      if (!lock.owns_lock()) lock.lock();
      finished_.wait(lock, done);
      job_ = nullptr;
      throw;
    }
    finished_.wait(lock, done);
    job_ = nullptr;
  }

 private:
  void serve(std::size_t index) {
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      work_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      if (index >= lent_) continue;
      const std::function<void(std::size_t)>& job = *job_;
      lock.unlock();
      job(index);
      lock.lock();
      if (--unfinished_ == 0) finished_.notify_one();
    }
  }

  void shut_down() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    work_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
  }

  std::vector<std::thread> workers_;
  // Guards everything below; taken by each worker once per job, to start and to finish it.
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable finished_;
  const std::function<void(std::size_t)>* job_ = nullptr;
  std::size_t lent_ = 0;        // workers 0 to lent_ - 1 take the current job
  std::size_t unfinished_ = 0;  // of those, the ones still running it
  std::uint64_t generation_ = 0;
  bool stopping_ = false;
};

}  // namespace tornquil::search
