#include "companion/solver_objects.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "companion/budgets.hpp"
#include "companion/seats.hpp"
#include "players/solver_player.hpp"

namespace tornquil::companion {
namespace {

constexpr std::uint64_t kDefaultSolveNodes = 10'000'000;
constexpr std::uint64_t kDefaultDecisionNodes = 1'000'000;

// The position a solve starts from: a state object, or a new deal for a player count and seed.
StateEnum to_position(const Argument& state, const Argument& players, const Argument& seed) {
  if (!state.absent_or_none()) {
    if (!players.absent_or_none() || !seed.absent_or_none()) {
      raise(PyExc_TypeError, "solve() takes a state or a deal's players and seed, not both");
    }
    return to_state(state);
  }
  if (players.absent_or_none()) {
    raise(PyExc_TypeError, "solve() needs a state, or the players and seed of a deal");
  }
  auto created = StateEnum::create(to_u64(players), to_optional_u64(seed));
  if (auto* position = std::get_if<StateEnum>(&created)) return *position;
  raise(PyExc_ValueError, "Only 1-4 players are allowed");
}

// (verdict, line, best level, nodes, seconds), the line as the engine's own action objects.
Ref solution_tuple(const py::ModuleState& engine, const solver::SolveResult& solution) {
  Ref line = Ref::checked(PyList_New(0));
  for (const Action& action : solution.line) {
    if (PyList_Append(line.get(), py::action_to_python(engine, action).get()) < 0) {
      raise_already_set();
    }
  }
  return Ref::checked(Py_BuildValue("(sOiKd)", solver::verdict_text(solution.verdict), line.get(),
                                    static_cast<int>(solution.best_level),
                                    static_cast<unsigned long long>(solution.nodes),
                                    solution.seconds));
}

constexpr char kSolverPlayerName[] = "SolverPlayer";

PyObject* new_solver_player(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(type, [&](const ModuleState&) {
    const auto [nodes, seconds, table_mib, release_gil] = parse_arguments(
        kSolverPlayerName, std::array{"nodes", "seconds", "table_mib", "release_gil"}, 0, args,
        kwargs, 0);
    SolverSettings settings;
    settings.per_decision.nodes = to_count(nodes, kDefaultDecisionNodes);
    settings.per_decision.seconds = to_seconds(seconds);
    settings.table_bytes = to_table_bytes(table_mib);
    const bool release = release_gil.object != nullptr && to_exact_bool(release_gil);
    return box(type, Seat<SolverPlayer>(SolverPlayer(settings), release));
  });
}

}  // namespace

PyObject* solve(PyObject* module, PyObject* args, PyObject* kwargs) {
  return guarded_in_module<ModuleState>(module, [&](const ModuleState&) {
    const auto [state, players, seed, nodes, seconds, table_mib] = parse_arguments(
        "solve", std::array{"state", "players", "seed", "nodes", "seconds", "table_mib"}, 0, args,
        kwargs, 1);
    const StateEnum position = to_position(state, players, seed);
    const py::ModuleState& engine =
        state.absent_or_none() ? imported_engine_state() : *engine_state_of(state.object);
    solver::Budget budget;
    budget.nodes = to_count(nodes, kDefaultSolveNodes);
    budget.seconds = to_seconds(seconds);
    const solver::SolverOptions options{to_table_bytes(table_mib)};
    // The solve works on its own copy, so other threads may run meanwhile.
    const solver::SolveResult solution =
        py::compute_responsively(true, [&](const DecisionCheck& check) {
          budget.check = check;
          return solver::solve(position, budget, options);
        });
    return solution_tuple(engine, solution);
  });
}

void add_solver_player_class(ModuleState& state, PyObject* module) {
  state.solver_player_type =
      add_seat_class<ModuleState, SolverPlayer, kSolverPlayerName>(module, &new_solver_player);
}

}  // namespace tornquil::companion
