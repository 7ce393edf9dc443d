// Search benchmark: random rollouts per second from a new game, search playouts per second on a
// new two-player game at one and two threads, the memory of a 100,000-playout tree, and the
// speed-up from one thread to two. Prints one table; medians of several runs with their spread.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "game_search/rollout.hpp"
#include "game_search/search_settings.hpp"
#include "search/manager.hpp"

#ifndef NDEBUG
#error "benchmarks report only from an optimised build (configure with -DCMAKE_BUILD_TYPE=Release)"
#endif

namespace tornquil {
namespace {

constexpr int runs = 5;

struct Summary {
  double median;
  double low;
  double high;
};

Summary summarise(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values[values.size() / 2], values.front(), values.back()};
}

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

template <std::size_t N>
void report_rollouts() {
  const State<N> state = State<N>::create(1);
  constexpr std::size_t count = 100'000;
  volatile unsigned sink = 0;
  const Summary summary = rate(count, [&] {
    for (std::size_t i = 0; i < count; ++i) sink = sink + random_rollout<N, false>(state).score();
  });
  std::printf("| rollouts/s, %zu player(s), new game          | %s |\n", N, spread(summary).c_str());
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
  const std::size_t before = mallinfo2().uordblks;
  auto mcts = new_game_search<2, false>(State<2>::create(1), policy_from_number(0));
  mcts.playout_n_parallel(100'000, 2);
  const std::size_t after = mallinfo2().uordblks;
  std::printf("| tree of 100,000 playouts: %.1f MiB for %zu nodes (%.0f bytes a node) |\n",
              static_cast<double>(after - before) / (1 << 20), mcts.tree().num_nodes(),
              static_cast<double>(after - before) / static_cast<double>(mcts.tree().num_nodes()));
}

}  // namespace
}  // namespace tornquil

int main() {
  using namespace tornquil;
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
}
