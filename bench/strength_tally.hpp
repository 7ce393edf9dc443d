// What the strength benchmarks count of a run of games: games won with their 95% Wilson interval,
// and the mean level reached (12 for a won game) with its 95% normal interval.
#pragma once

#include <algorithm>
#include <cmath>
#include <utility>

#include "rules/action.hpp"

#ifndef NDEBUG
#error "benchmarks report only from an optimised build (configure with -DCMAKE_BUILD_TYPE=Release)"
#endif

namespace tornquil::bench {

inline constexpr double kZ95 = 1.959963984540054;

struct Tally {
  int games = 0;
  int wins = 0;
  double level_total = 0;
  double level_squares = 0;

  void add(const GameResult& result) {
    const double level = result.is_won() ? GameResult::max_score() : result.level();
    ++games;
    wins += result.is_won() ? 1 : 0;
    level_total += level;
    level_squares += level * level;
  }

  [[nodiscard]] double mean_level() const { return level_total / games; }

  // The Wilson score interval of the share won, in percent.
  [[nodiscard]] std::pair<double, double> wilson() const {
    const double n = games;
    const double p = wins / n;
    const double z2 = kZ95 * kZ95;
    const double centre = (p + z2 / (2 * n)) / (1 + z2 / n);
    const double half = kZ95 * std::sqrt(p * (1 - p) / n + z2 / (4 * n * n)) / (1 + z2 / n);
    return {100 * std::max(0.0, centre - half), 100 * std::min(1.0, centre + half)};
  }

  // Half the width of the normal interval of the mean level, from the sample variance.
  [[nodiscard]] double level_half_width() const {
    if (games < 2) return NAN;
    const double n = games;
    const double mean = level_total / n;
    const double variance = std::max(0.0, (level_squares - n * mean * mean) / (n - 1));
    return kZ95 * std::sqrt(variance / n);
  }
};

}  // namespace tornquil::bench
