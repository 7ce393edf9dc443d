// Play strength: seeded games with a search player in every seat, for each player count, two
// playout budgets, heuristics off and on, and the three tree policies. Prints the win rate and
// the mean level reached (enemies defeated; 12 for a won game).
//
//   strength_bench [games at 1,000 playouts] [games at 10,000 playouts] [threads] [player counts]
//
// The player counts are digits, "1234" by default. The mean level comes with the half-width of
// its 95% confidence interval.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "players/mcts_player.hpp"

#ifndef NDEBUG
#error "benchmarks report only from an optimised build (configure with -DCMAKE_BUILD_TYPE=Release)"
#endif

namespace tornquil {
namespace {

struct Tally {
  int games = 0;
  int wins = 0;
  int level_total = 0;
  double level_squares = 0;

  [[nodiscard]] double mean_level() const { return static_cast<double>(level_total) / games; }
  // 1.96 standard errors of the mean level.
  [[nodiscard]] double interval() const {
    if (games < 2) return 0;
    const double mean = mean_level();
    const double variance = (level_squares - games * mean * mean) / (games - 1);
    return 1.96 * std::sqrt(std::max(variance, 0.0) / games);
  }
};

template <std::size_t N>
GameResult play_game(std::uint64_t seed, MCTSPlayer player) {
  State<N> state = State<N>::create(seed);
  while (true) {
    GameStatus<N> status = state.take_action(player.play(state));
    if (const auto* result = std::get_if<GameResult>(&status)) return *result;
    state = std::get<State<N>>(status);
  }
}

template <std::size_t N>
Tally play_games(int games, std::uint32_t playouts, std::size_t threads, bool heuristics,
                 std::uint8_t policy) {
  Tally tally;
  for (int game = 0; game < games; ++game) {
    const GameResult result =
        play_game<N>(1000 + static_cast<std::uint64_t>(game), MCTSPlayer(playouts, threads, heuristics, policy));
    ++tally.games;
    tally.wins += result.is_won() ? 1 : 0;
    const int level = result.is_won() ? GameResult::max_score() : result.level();
    tally.level_total += level;
    tally.level_squares += static_cast<double>(level) * level;
  }
  return tally;
}

template <std::size_t N>
void report(int games_small, int games_large, std::size_t threads) {
  for (const std::uint32_t playouts : {1000U, 10000U}) {
    const int games = playouts == 1000U ? games_small : games_large;
    if (games == 0) continue;
    for (const bool heuristics : {false, true}) {
      for (const std::uint8_t policy : {0, 3, 4}) {
        const auto start = std::chrono::steady_clock::now();
        const Tally tally = play_games<N>(games, playouts, threads, heuristics, policy);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        std::printf("| %zu | %6u | %-3s | %u | %3d | %5.1f%% | %5.2f ± %4.2f | %6.1f s |\n", N,
                    playouts, heuristics ? "on" : "off", policy, tally.games,
                    100.0 * tally.wins / tally.games, tally.mean_level(), tally.interval(),
                    elapsed.count());
        std::fflush(stdout);
      }
    }
  }
}

}  // namespace
}  // namespace tornquil

int main(int argc, char** argv) {
  const int games_small = argc > 1 ? std::atoi(argv[1]) : 20;
  const int games_large = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::size_t threads = argc > 3 ? static_cast<std::size_t>(std::atoi(argv[3])) : 2;
  const std::string counts = argc > 4 ? argv[4] : "1234";
  const auto wanted = [&counts](char digit) { return counts.find(digit) != std::string::npos; };
  std::printf("tornquil play strength (optimised build), game seeds from 1000, %zu thread(s)\n\n",
              threads);
  std::printf("| players | playouts | heuristics | policy | games | won | mean level (95%% CI) | time |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  if (wanted('1')) tornquil::report<1>(games_small, games_large, threads);
  if (wanted('2')) tornquil::report<2>(games_small, games_large, threads);
  if (wanted('3')) tornquil::report<3>(games_small, games_large, threads);
  if (wanted('4')) tornquil::report<4>(games_small, games_large, threads);
}
