#include "players/solver_player.hpp"

#include <algorithm>

#include "base/error.hpp"
#include "solver/solver.hpp"

namespace tornquil {
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
  if (!solver_) {
    solver_ = std::make_unique<solver::Solver>(solver::SolverOptions{settings_.table_bytes});
  }
  solver::Budget budget = settings_.per_decision;
  budget.check = check;
  last_solution_ = solver_->solve(state, budget);
  const solver::SolveResult& solution = *last_solution_;
  if (solution.verdict == solver::Verdict::Won) {
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
