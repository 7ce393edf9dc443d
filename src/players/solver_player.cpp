#include "players/solver_player.hpp"

#include <algorithm>

#include "base/error.hpp"
#include "solver/solver.hpp"

namespace tornquil {
namespace {

solver::Budget budget_of(const SolveBudget& budget, const DecisionCheck& check) {
  solver::Budget converted;
  converted.nodes = budget.nodes;
  converted.seconds = budget.seconds;
  converted.check = check;
  return converted;
}

Solution solution_of(solver::SolveResult result) {
  Solution solution;
  solution.verdict = static_cast<SolveVerdict>(result.verdict);
  solution.line = std::move(result.line);
  solution.best_level = result.best_level;
  solution.nodes = result.nodes;
  solution.seconds = result.seconds;
  return solution;
}

}  // namespace

static_assert(static_cast<int>(SolveVerdict::Won) == static_cast<int>(solver::Verdict::Won) &&
              static_cast<int>(SolveVerdict::Lost) == static_cast<int>(solver::Verdict::Lost) &&
              static_cast<int>(SolveVerdict::Unknown) ==
                  static_cast<int>(solver::Verdict::Unknown));

Solution solve_position(const StateEnum& state, const SolveBudget& budget, std::size_t table_bytes,
                        const DecisionCheck& check) {
  return solution_of(
      solver::solve(state, budget_of(budget, check), solver::SolverOptions{table_bytes}));
}

SolverPlayer::SolverPlayer(SolverSettings settings) : settings_(settings) {}
SolverPlayer::~SolverPlayer() = default;
SolverPlayer::SolverPlayer(const SolverPlayer& other) : settings_(other.settings_) {}
SolverPlayer& SolverPlayer::operator=(const SolverPlayer& other) {
  if (this != &other) *this = SolverPlayer(other.settings_);
  return *this;
}
SolverPlayer::SolverPlayer(SolverPlayer&&) noexcept = default;
SolverPlayer& SolverPlayer::operator=(SolverPlayer&&) noexcept = default;

std::optional<Action> SolverPlayer::next_on_line(const StateEnum& state) {
  // Other seats may have played moves of the line meanwhile: the state is found further on.
  const auto found =
      std::find(states_.begin() + static_cast<std::ptrdiff_t>(next_), states_.end(), state);
  if (found == states_.end()) return std::nullopt;
  const auto at = static_cast<std::size_t>(found - states_.begin());
  next_ = at + 1;
  return line_[at];
}

void SolverPlayer::follow(const StateEnum& from, const std::vector<Action>& line) {
  line_ = line;
  states_.clear();
  next_ = 0;
  StateEnum position = from;
  for (const Action& action : line_) {
    states_.push_back(position);
    // The last move of a winning line ends the game; no state follows it.
    if (position.take_action(action)) break;
  }
  if (states_.size() != line_.size()) fault("the solver's winning line ends before its last move");
}

Action SolverPlayer::play(const StateEnum& state, const DecisionCheck& check) {
  if (std::optional<Action> next = next_on_line(state)) return *next;
  if (!solver_)
    solver_ = std::make_unique<solver::Solver>(solver::SolverOptions{settings_.table_bytes});
  last_solution_ = solution_of(solver_->solve(state, budget_of(settings_.per_decision, check)));
  const Solution& solution = *last_solution_;
  if (solution.verdict == SolveVerdict::Won) {
    follow(state, solution.line);
    return *next_on_line(state);
  }
  line_.clear();
  states_.clear();
  next_ = 0;
  if (!solution.line.empty()) return solution.line.front();
  const std::vector<Action> actions = state.get_action_space();
  if (actions.empty()) fault("the solver player was given a state without actions");
  return actions.front();
}

}  // namespace tornquil
