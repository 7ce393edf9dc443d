// The full-information solver: with every card known and the seed of the only random step in the
// state, the game is deterministic, so from a position a line of actions either wins or it does
// not. Given a position and a budget the solver answers Won with a winning line, Lost when it has
// proved that no line wins, or Unknown when the budget ran out first.
//
// Only exact reasoning concludes Lost: the table of positions proven lost, equal children searched
// once, moves that lose at once, and the starved-hands bound (bounds.hpp: no hand holds a Diamonds
// card, so no card can reach a hand again, and the hands cannot deal the health left). Everything
// else (the order of the moves, the discrepancy
// limits of the hunt, the marks of failed hunts) only steers the search for a win, and a win is a
// line that the rules played to GameResult::won().
//
// A Solver is used by one thread at a time; solvers on different threads share nothing, so many
// deals run in parallel with one solver each.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "rules/state.hpp"
#include "rules/state_enum.hpp"

namespace tornquil::solver {

enum class Verdict : std::uint8_t { Won = 0, Lost = 1, Unknown = 2 };

// "Won", "Lost" or "Unknown".
[[nodiscard]] constexpr const char* verdict_text(Verdict verdict) {
  constexpr const char* kTexts[] = {"Won", "Lost", "Unknown"};
  return kTexts[static_cast<std::size_t>(verdict)];
}

// 256 MiB, 16.7 million entries. A 10-second solve stores about one position for every three
// nodes (10.3 million entries after 31 million nodes, measured on a four-player deal), so it
// nearly fills this; a full table lets its cheapest entries go, which costs repeated work, never a
// wrong answer. The table reaches this size only as it fills (one solve holds the old and the new
// table while it grows: 320 MiB at the peak), so one solver per core stays far within a machine
// of 24 GiB, and a solver kept for many small solves holds little.
inline constexpr std::size_t kDefaultTableBytes = std::size_t{256} << 20;
// Seconds beyond this (some 30 years) are taken as this.
inline constexpr double kMaxSeconds = 1e9;

struct Budget {
  // Child positions generated (each one applied, keyed and looked up). 0 answers at once: Unknown,
  // or Lost when the solver's table already holds the position as lost.
  std::uint64_t nodes = 10'000'000;
  // Wall-clock limit: none, or a number of seconds. 0 answers at once, as 0 nodes do; NaN and
  // negative numbers are refused with std::invalid_argument; anything above kMaxSeconds counts as
  // that.
  std::optional<double> seconds;
  // Called on the solving thread at least every 20 ms. It may throw to abandon the solve (a
  // Ctrl-C, say): the exception passes out of solve() and the solver stays usable, its table
  // holding only what was proved or tried before. Empty means nothing to check.
  std::function<void()> check;
};

struct SolverOptions {
  // The table's bound in bytes; below 64 KiB counts as 64 KiB.
  std::size_t table_bytes = kDefaultTableBytes;
};

struct SolveResult {
  Verdict verdict = Verdict::Unknown;
  // Won: the actions from the position to the win. Unknown: a line to the best level reached.
  // Lost: empty.
  std::vector<Action> line;
  // The most enemies defeated on any line the search generated: 12 for Won.
  std::uint8_t best_level = 0;
  std::uint64_t nodes = 0;
  double seconds = 0.0;
};

class Solver {
 public:
  explicit Solver(SolverOptions options = {});
  ~Solver();
  Solver(const Solver&) = delete;
  Solver& operator=(const Solver&) = delete;
  Solver(Solver&&) noexcept;
  Solver& operator=(Solver&&) noexcept;

  // Hunts for a win, widening the hunt until the budget runs out or the position is proved lost.
  // The table is kept from solve to solve: a position proved lost stays lost, so later solves of
  // positions of the same game (or of any game) start from what earlier ones proved.
  template <std::size_t N>
  [[nodiscard]] SolveResult solve(const State<N>& state, const Budget& budget);
  [[nodiscard]] SolveResult solve(const StateEnum& state, const Budget& budget);

  // A quick question for a tree search: Won or Lost when a plain depth-first search settles it
  // within `nodes` nodes (with what the table already knows), Unknown otherwise.
  template <std::size_t N>
  [[nodiscard]] Verdict quick_verdict(const State<N>& state, std::uint64_t nodes);
  [[nodiscard]] Verdict quick_verdict(const StateEnum& state, std::uint64_t nodes);
  // What the table alone knows, without searching: Lost or Unknown.
  template <std::size_t N>
  [[nodiscard]] Verdict known_verdict(const State<N>& state) const;
  [[nodiscard]] Verdict known_verdict(const StateEnum& state) const;

  // Forgets every position.
  void clear();
  [[nodiscard]] std::size_t table_bytes() const;
  [[nodiscard]] std::size_t table_entries() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One solve with a solver of its own.
template <std::size_t N>
[[nodiscard]] SolveResult solve(const State<N>& state, const Budget& budget,
                                SolverOptions options = {}) {
  Solver solver(options);
  return solver.solve(state, budget);
}
[[nodiscard]] SolveResult solve(const StateEnum& state, const Budget& budget,
                                SolverOptions options = {});

}  // namespace tornquil::solver
