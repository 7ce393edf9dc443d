// Plays whole games with the informed playout policy in every seat and prints, per player count,
// the share of games won and the mean level, for a range of deals: a quick measure of the
// policy that the searches use in their playouts.
//
//   policy_bench [games] [first seed] [temperature]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "game_search/informed_policy.hpp"

#ifndef NDEBUG
#error "benchmarks report only from an optimised build (configure with -DCMAKE_BUILD_TYPE=Release)"
#endif

namespace tornquil {
namespace {

template <std::size_t N>
void measure(std::uint64_t games, std::uint64_t first_seed, const PolicyWeights& weights) {
  std::uint64_t won = 0;
  double levels = 0;
  Xoshiro256 rng(first_seed * 7 + N);
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t game = 0; game < games; ++game) {
    const GameResult result = informed_rollout(State<N>::create(first_seed + game), weights, rng);
    won += result.is_won() ? 1 : 0;
    levels += result.is_won() ? 12 : result.level();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%zu players: won %5.1f%% of %llu, mean level %5.2f, %.0f games/s\n", N,
              100.0 * static_cast<double>(won) / static_cast<double>(games),
              static_cast<unsigned long long>(games), levels / static_cast<double>(games),
              static_cast<double>(games) / seconds);
}

}  // namespace
}  // namespace tornquil

int main(int argc, char** argv) {
  const std::uint64_t games = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000;
  const std::uint64_t first = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 100000;
  tornquil::PolicyWeights weights;
  if (argc > 3) weights.temperature = std::strtod(argv[3], nullptr);
  tornquil::measure<1>(games, first, weights);
  tornquil::measure<2>(games, first, weights);
  tornquil::measure<3>(games, first, weights);
  tornquil::measure<4>(games, first, weights);
}
