// SolverPlayer: plays the lines of the full-information solver. On its turn it asks the solver
// about the true state (every card and the seed of the next random step), within a budget per
// decision, unless the state is the next one of a winning line it found before: such a line is
// followed to the end without asking again. A line that only reaches the best level found so far
// gives the move to make now, and the next decision asks again. A position proved lost has no
// line; the player then takes the first action it is offered.
//
// The solver's table of positions proved lost is kept from decision to decision (a position lost
// once is lost for good), so the decisions of one game build on each other. A player is used by
// one thread at a time; a copy starts afresh, with an empty table and no line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "players/play.hpp"
#include "rules/state_enum.hpp"
#include "solver/solver.hpp"

namespace tornquil {

struct SolverSettings {
  solver::Budget per_decision;  // its `check` is the decision's own
  // The bound of the table of positions proved lost; the table grows to it only as it fills.
  std::size_t table_bytes = solver::kDefaultTableBytes;
};

class SolverPlayer {
 public:
  explicit SolverPlayer(SolverSettings settings = {});
  ~SolverPlayer();
  SolverPlayer(const SolverPlayer& other);
  SolverPlayer& operator=(const SolverPlayer& other);
  SolverPlayer(SolverPlayer&&) noexcept;
  SolverPlayer& operator=(SolverPlayer&&) noexcept;

  template <std::size_t N>
  [[nodiscard]] Action play(const State<N>& state) {
    return play(StateEnum(state), DecisionCheck{});
  }
  template <std::size_t N>
  [[nodiscard]] Action play(const State<N>& state, const DecisionCheck& check) {
    return play(StateEnum(state), check);
  }
  [[nodiscard]] Action play(const StateEnum& state, const DecisionCheck& check);

  // What the solver last answered, if it was asked at all.
  [[nodiscard]] const std::optional<solver::SolveResult>& last_solution() const {
    return last_solution_;
  }
  [[nodiscard]] const SolverSettings& settings() const { return settings_; }

 private:
  // The winning line being followed: line_[i] is to be played in states_[i].
  [[nodiscard]] std::optional<Action> next_on_line(const StateEnum& state);
  void follow(const StateEnum& from, const std::vector<Action>& line);

  SolverSettings settings_;
  std::unique_ptr<solver::Solver> solver_;  // made on first use
  std::vector<Action> line_;
  std::vector<StateEnum> states_;
  std::size_t next_ = 0;
  std::optional<solver::SolveResult> last_solution_;
};
static_assert(Play<SolverPlayer>);

}  // namespace tornquil
