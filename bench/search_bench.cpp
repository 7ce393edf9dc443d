// Search benchmark: random rollouts per second from a new game, search playouts per second on a
// new two-player game at one and two threads, the memory of a 100,000-playout tree, and the
// speed-up from one thread to two. Prints one table; medians of several runs with their spread.
// Then how two threads scale on one tree against the machine's own ceiling, and the bytes a
// playout adds to the heap for every player count.
//
//   search_bench [all|scaling|memory|one] [rounds]
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "game_search/rollout.hpp"
#include "game_search/search_settings.hpp"
#include "search/manager.hpp"
#include "summary.hpp"

#ifndef NDEBUG
#error "benchmarks report only from an optimised build (configure with -DCMAKE_BUILD_TYPE=Release)"
#endif

namespace tornquil {
namespace {

constexpr int runs = 5;

using bench::summarise;
using bench::Summary;

// Operations per second of `body`, which performs `count` operations, over several runs.
Summary rate(std::size_t count, const std::function<void()>& body) {
  std::vector<double> rates;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    body();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    rates.push_back(static_cast<double>(count) / elapsed.count());
  }
  return summarise(rates);
}

std::string spread(const Summary& summary) {
  char text[96];
  std::snprintf(text, sizeof text, "%12.0f  (%.0f .. %.0f)", summary.median, summary.low,
                summary.high);
  return text;
}

// Heap bytes in use, mapped blocks included: the same measure for any way of allocating nodes.
std::size_t heap_bytes() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

template <std::size_t N>
void report_rollouts() {
  const State<N> state = State<N>::create(1);
  constexpr std::size_t count = 100'000;
  volatile unsigned sink = 0;
  const Summary summary = rate(count, [&] {
    for (std::size_t i = 0; i < count; ++i) sink = sink + random_rollout<N, false>(state).score();
  });
  std::printf("| rollouts/s, %zu player(s), new game          | %s |\n", N,
              spread(summary).c_str());
}

template <bool Heuristics>
void search_once(std::uint32_t playouts, std::size_t threads) {
  auto mcts = new_game_search<2, Heuristics>(State<2>::create(1), policy_from_number(0));
  mcts.playout_n_parallel(playouts, threads);
}

template <bool Heuristics>
Summary report_search(std::uint32_t playouts, std::size_t threads) {
  const Summary summary = rate(playouts, [&] { search_once<Heuristics>(playouts, threads); });
  std::printf("| playouts/s, %6u playouts, %zu thread(s), heuristics %-3s | %s |\n", playouts,
              threads, Heuristics ? "on" : "off", spread(summary).c_str());
  return summary;
}

void report_tree_memory() {
  const std::size_t before = heap_bytes();
  auto mcts = new_game_search<2, false>(State<2>::create(1), policy_from_number(0));
  mcts.playout_n_parallel(100'000, 2);
  const std::size_t after = heap_bytes();
  std::printf("| tree of 100,000 playouts: %.1f MiB for %zu nodes (%.0f bytes a node) |\n",
              static_cast<double>(after - before) / (1 << 20), mcts.tree().num_nodes(),
              static_cast<double>(after - before) / static_cast<double>(mcts.tree().num_nodes()));
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Playouts per second of one search of a new two-player game, heuristics off.
double search_rate(std::uint32_t playouts, std::size_t threads) {
  auto mcts = new_game_search<2, false>(State<2>::create(1), policy_from_number(0));
  const auto start = std::chrono::steady_clock::now();
  mcts.playout_n_parallel(playouts, threads);
  return playouts / seconds_since(start);
}

// Playouts per second of `trees` one-thread searches running side by side, each on its own tree:
// what the machine gives when the threads share nothing.
double separate_trees_rate(std::uint32_t playouts, std::size_t trees) {
  auto one = [playouts] {
    auto mcts = new_game_search<2, false>(State<2>::create(1), policy_from_number(0));
    mcts.playout_n_parallel(playouts, 1);
  };
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < trees; ++i) threads.emplace_back(one);
  for (std::thread& thread : threads) thread.join();
  return static_cast<double>(playouts) * static_cast<double>(trees) / seconds_since(start);
}

std::string ratio_text(const Summary& summary) {
  char text[96];
  std::snprintf(text, sizeof text, "%.2f  (%.2f .. %.2f)", summary.median, summary.low,
                summary.high);
  return text;
}

// The three runs of a round follow one another, so that a neighbour's load shifts all three
// rather than one of them.
void report_scaling(int rounds) {
  constexpr std::uint32_t playouts = 100'000;
  std::vector<double> one_thread, two_threads, two_trees, shared_over_one, shared_over_ceiling;
  for (int round = 0; round < rounds; ++round) {
    const double a = search_rate(playouts, 1);
    const double b = search_rate(playouts, 2);
    const double c = separate_trees_rate(playouts, 2);
    one_thread.push_back(a);
    two_threads.push_back(b);
    two_trees.push_back(c);
    shared_over_one.push_back(b / a);
    shared_over_ceiling.push_back(b / c);
  }
  std::printf("\nscaling, new two-player game, %u playouts a search, heuristics off, %d rounds\n",
              playouts, rounds);
  std::printf("| (a) playouts/s, 1 thread, one tree            | %s |\n",
              spread(summarise(one_thread)).c_str());
  std::printf("| (b) playouts/s, 2 threads, one tree           | %s |\n",
              spread(summarise(two_threads)).c_str());
  std::printf("| (c) playouts/s, 2 threads, a tree each        | %s |\n",
              spread(summarise(two_trees)).c_str());
  std::printf("| (b)/(a), speed-up on one tree                 | %s |\n",
              ratio_text(summarise(shared_over_one)).c_str());
  std::printf("| (b)/(c), share of the machine's ceiling       | %s |\n",
              ratio_text(summarise(shared_over_ceiling)).c_str());
}

template <typename Tree>
std::size_t tree_bytes(const Tree& tree) {
  if constexpr (requires { tree.arena_bytes(); }) {
    return tree.arena_bytes();
  } else {
    return 0;
  }
}

template <std::size_t N>
void report_bytes_per_playout(std::uint32_t playouts) {
  const std::size_t before = heap_bytes();
  auto mcts = new_game_search<N, false>(State<N>::create(1), policy_from_number(0));
  mcts.playout_n_parallel(playouts, 2);
  const double heap = static_cast<double>(heap_bytes() - before) / playouts;
  const double nodes = static_cast<double>(mcts.tree().num_nodes());
  std::printf("| %zu | %8u | %7.0f | %9.0f | %7.1f |\n", N, playouts, heap,
              static_cast<double>(tree_bytes(mcts.tree())) / playouts, nodes / playouts);
}

void report_memory() {
  std::printf(
      "\nbytes a playout, new game, two threads, heuristics off (heap: growth of the heap in use; "
      "tree: the tree's own blocks, 0 where it has none)\n");
  std::printf("| players | playouts | heap B/playout | tree B/playout | nodes/playout |\n");
  for (const std::uint32_t playouts : {100'000U, 1'000'000U}) {
    report_bytes_per_playout<1>(playouts);
    report_bytes_per_playout<2>(playouts);
    report_bytes_per_playout<3>(playouts);
    report_bytes_per_playout<4>(playouts);
  }
}

// One-thread playouts a second over several runs, for before-and-after comparisons.
void report_one_thread(int rounds) {
  std::vector<double> rates;
  for (int round = 0; round < rounds; ++round) rates.push_back(search_rate(100'000, 1));
  std::printf("| playouts/s, 100000 playouts, 1 thread, heuristics off, %d runs | %s |\n", rounds,
              spread(summarise(rates)).c_str());
}

}  // namespace
}  // namespace tornquil

int main(int argc, char** argv) {
  using namespace tornquil;
  const char* const mode = argc > 1 ? argv[1] : "all";
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  if (std::strcmp(mode, "scaling") == 0) {
    report_scaling(rounds);
    return 0;
  }
  if (std::strcmp(mode, "memory") == 0) {
    report_memory();
    return 0;
  }
  if (std::strcmp(mode, "one") == 0) {
    report_one_thread(rounds);
    return 0;
  }
  std::printf("tornquil search benchmark (optimised build), median of %d runs (min .. max)\n\n",
              runs);
  report_rollouts<1>();
  report_rollouts<2>();
  report_rollouts<3>();
  report_rollouts<4>();
  for (const std::uint32_t playouts : {10'000U, 100'000U}) {
    const Summary one_off = report_search<false>(playouts, 1);
    const Summary two_off = report_search<false>(playouts, 2);
    const Summary one_on = report_search<true>(playouts, 1);
    const Summary two_on = report_search<true>(playouts, 2);
    std::printf("| speed-up 1 -> 2 threads, %6u playouts: heuristics off %.2f, on %.2f |\n",
                playouts, two_off.median / one_off.median, two_on.median / one_on.median);
  }
  report_tree_memory();
  report_scaling(rounds);
  report_memory();
}
