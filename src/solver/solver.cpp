#include "solver/solver.hpp"

#include <array>
#include <cmath>
#include <stdexcept>
#include <tuple>

#include "solver/search.hpp"

namespace tornquil::solver {
namespace {

using Clock = std::chrono::steady_clock;

// The discrepancy budgets of the passes, in order; the last pass is unbounded. The early passes
// are cheap and find most wins; each later one repeats only what the table has not settled.
constexpr std::array<unsigned, 20> kPassBudgets = {0,  1,  2,  3,  4,  5,  6,  8,   10,  12,
                                                   16, 20, 24, 32, 48, 64, 96, 128, 192, 253};

SearchLimits limits_of(const Budget& budget, Clock::time_point start) {
  SearchLimits limits;
  limits.node_limit = budget.nodes;
  if (budget.seconds) {
    const double seconds = *budget.seconds;
    if (std::isnan(seconds) || seconds < 0) {
      throw std::invalid_argument("a solve's seconds must be a number of at least 0");
    }
    limits.deadline = start + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(std::min(seconds, kMaxSeconds)));
    if (seconds == 0) limits.node_limit = 0;
  }
  if (budget.check) limits.check = &budget.check;
  return limits;
}

SolveResult result_of(PassOutcome outcome, SearchProgress& progress, Clock::time_point start) {
  SolveResult result;
  result.nodes = progress.nodes;
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  switch (outcome) {
    case PassOutcome::Won:
      result.verdict = Verdict::Won;
      result.line = std::move(progress.winning_line);
      result.best_level = GameResult::max_score();
      break;
    case PassOutcome::Lost:
      result.verdict = Verdict::Lost;
      result.best_level = progress.best_level;
      break;
    case PassOutcome::Open:
      result.verdict = Verdict::Unknown;
      result.line = std::move(progress.best_line);
      result.best_level = progress.best_level;
      break;
  }
  return result;
}

}  // namespace

struct Solver::Impl {
  explicit Impl(const SolverOptions& options) : table(options.table_bytes) {}

  template <std::size_t N>
  SearchScratch<N>& scratch() {
    auto& slot = std::get<N - 1>(scratches);
    if (!slot) slot = std::make_unique<SearchScratch<N>>();
    return *slot;
  }

  // Passes with growing budgets from `first_pass` on, until one settles the position or the
  // budget runs out.
  template <std::size_t N>
  SolveResult run(const State<N>& state, const Budget& budget, std::size_t first_pass) {
    const Clock::time_point start = Clock::now();
    const SearchLimits limits = limits_of(budget, start);
    SearchProgress progress;
    progress.best_level = state.level;
    if (table.lookup(position_key(state)) == kLost) {
      return result_of(PassOutcome::Lost, progress, start);
    }
    Search<N> search(table, scratch<N>(), limits, progress);
    for (std::size_t pass = first_pass; pass <= kPassBudgets.size(); ++pass) {
      const unsigned pass_budget = pass < kPassBudgets.size() ? kPassBudgets[pass] : kUnbounded;
      const PassOutcome outcome = search.run(state, pass_budget);
      if (outcome != PassOutcome::Open || progress.stopped) {
        return result_of(outcome, progress, start);
      }
    }
    // The unbounded pass settles the position unless it stops.
    return result_of(PassOutcome::Open, progress, start);
  }

  PositionTable table;
  std::tuple<std::unique_ptr<SearchScratch<1>>, std::unique_ptr<SearchScratch<2>>,
             std::unique_ptr<SearchScratch<3>>, std::unique_ptr<SearchScratch<4>>>
      scratches;
};

Solver::Solver(SolverOptions options) : impl_(std::make_unique<Impl>(options)) {}
Solver::~Solver() = default;
Solver::Solver(Solver&&) noexcept = default;
Solver& Solver::operator=(Solver&&) noexcept = default;

template <std::size_t N>
SolveResult Solver::solve(const State<N>& state, const Budget& budget) {
  return impl_->run(state, budget, 0);
}

SolveResult Solver::solve(const StateEnum& state, const Budget& budget) {
  return state.visit([&](const auto& inner) { return solve(inner, budget); });
}

template <std::size_t N>
Verdict Solver::quick_verdict(const State<N>& state, std::uint64_t nodes) {
  Budget budget;
  budget.nodes = nodes;
  return impl_->run(state, budget, kPassBudgets.size()).verdict;
}

template <std::size_t N>
Verdict Solver::known_verdict(const State<N>& state) const {
  return impl_->table.lookup(position_key(state)) == kLost ? Verdict::Lost : Verdict::Unknown;
}

Verdict Solver::quick_verdict(const StateEnum& state, std::uint64_t nodes) {
  return state.visit([&](const auto& inner) { return quick_verdict(inner, nodes); });
}

Verdict Solver::known_verdict(const StateEnum& state) const {
  return state.visit([&](const auto& inner) { return known_verdict(inner); });
}

void Solver::clear() { impl_->table.clear(); }
std::size_t Solver::table_bytes() const { return impl_->table.bytes(); }
std::size_t Solver::table_entries() const { return impl_->table.entries(); }

SolveResult solve(const StateEnum& state, const Budget& budget, SolverOptions options) {
  Solver solver(options);
  return solver.solve(state, budget);
}

#define TORNQUIL_SOLVER_FOR(N)                                            \
  template SolveResult Solver::solve(const State<N>&, const Budget&);     \
  template Verdict Solver::quick_verdict(const State<N>&, std::uint64_t); \
  template Verdict Solver::known_verdict(const State<N>&) const;
TORNQUIL_SOLVER_FOR(1)
TORNQUIL_SOLVER_FOR(2)
TORNQUIL_SOLVER_FOR(3)
TORNQUIL_SOLVER_FOR(4)
#undef TORNQUIL_SOLVER_FOR

}  // namespace tornquil::solver
