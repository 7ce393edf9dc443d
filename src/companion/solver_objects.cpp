#include "companion/solver_objects.hpp"

#include <atomic>
#include <cmath>
#include <limits>
#include <string>

#include "players/solver_player.hpp"

namespace tornquil::companion {
namespace {

constexpr std::uint64_t kDefaultSolveNodes = 10'000'000;
constexpr std::uint64_t kDefaultDecisionNodes = 1'000'000;
constexpr std::uint64_t kDefaultTableMib = 256;
// A terabyte: more than any machine this runs on has, and far from overflowing a byte count.
constexpr std::uint64_t kLargestTableMib = std::uint64_t{1} << 20;

// A count of nodes: an integer, not a truth value, from 0 up.
std::uint64_t to_nodes(const Argument& argument, std::uint64_t absent) {
  if (argument.object == nullptr) return absent;
  if (PyBool_Check(argument.object)) {
    argument.refuse("must be an integer number of nodes, not bool");
  }
  return to_u64(argument);
}

std::optional<double> to_seconds(const Argument& argument) {
  if (argument.absent_or_none()) return std::nullopt;
  const double seconds = to_double(argument);
  if (std::isnan(seconds) || seconds < 0) {
    raise(PyExc_ValueError,
          "seconds must be a number of at least 0, got " + repr_text(argument.object));
  }
  return seconds;
}

std::size_t to_table_bytes(const Argument& argument) {
  const std::uint64_t mib = to_nodes(argument, kDefaultTableMib);
  if (mib < 1 || mib > kLargestTableMib) {
    raise(PyExc_ValueError, "table_mib must be from 1 to " + std::to_string(kLargestTableMib) +
                                ", got " + std::to_string(mib));
  }
  return static_cast<std::size_t>(mib) << 20;
}

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

const char* verdict_name(SolveVerdict verdict) {
  switch (verdict) {
    case SolveVerdict::Won:
      return "Won";
    case SolveVerdict::Lost:
      return "Lost";
    case SolveVerdict::Unknown:
      break;
  }
  return "Unknown";
}

// (verdict, line, best level, nodes, seconds), the line as the engine's own action objects.
Ref solution_tuple(const py::ModuleState& engine, const Solution& solution) {
  Ref line = Ref::checked(PyList_New(0));
  for (const Action& action : solution.line) {
    if (PyList_Append(line.get(), py::action_to_python(engine, action).get()) < 0) {
      raise_already_set();
    }
  }
  return Ref::checked(Py_BuildValue(
      "(sOiKd)", verdict_name(solution.verdict), line.get(), static_cast<int>(solution.best_level),
      static_cast<unsigned long long>(solution.nodes), solution.seconds));
}

// A seat object: the player, and the mark of a decision in progress, so that a second use meanwhile
// (another thread while the lock is released, or code a signal handler runs) is refused.
struct SolverSeat {
  SolverSeat(SolverSettings settings, bool release) : player(settings), release_gil(release) {}
  SolverSeat(SolverSeat&& other) noexcept
      : player(std::move(other.player)), release_gil(other.release_gil) {}
  SolverPlayer player;
  bool release_gil;
  std::atomic<bool> busy{false};
};

class Busy {
 public:
  explicit Busy(SolverSeat& seat) : seat_(seat) {
    if (seat_.busy.exchange(true, std::memory_order_acquire)) {
      raise(PyExc_RuntimeError, "SolverPlayer is in use: its play() is running");
    }
  }
  ~Busy() { seat_.busy.store(false, std::memory_order_release); }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  SolverSeat& seat_;
};

PyObject* new_solver_player(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(type, [&](const ModuleState&) {
    const auto [nodes, seconds, table_mib, release_gil] =
        parse_arguments("SolverPlayer", std::array{"nodes", "seconds", "table_mib", "release_gil"},
                        0, args, kwargs, 0);
    SolverSettings settings;
    settings.per_decision.nodes = to_nodes(nodes, kDefaultDecisionNodes);
    settings.per_decision.seconds = to_seconds(seconds);
    settings.table_bytes = to_table_bytes(table_mib);
    const bool release = release_gil.object != nullptr && to_exact_bool(release_gil);
    return box(type, SolverSeat(settings, release));
  });
}

PyObject* solver_player_play(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded(self, [&](const ModuleState&) {
    const auto [state] = parse_arguments("play", std::array{"state"}, 1, args, kwargs);
    const StateEnum position = to_state(state);
    const py::ModuleState& engine = *engine_state_of(state.object);
    SolverSeat& seat = value_of<SolverSeat>(self);
    const Action action = [&] {
      const Busy busy(seat);
      return py::compute_responsively(seat.release_gil, [&](const DecisionCheck& check) {
        return seat.player.play(position, check);
      });
    }();
    return py::action_to_python(engine, action);
  });
}

PyMethodDef solver_player_methods[] = {
    {"play", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&solver_player_play)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyObject* solve(PyObject* module, PyObject* args, PyObject* kwargs) {
  return guarded_in_module<ModuleState>(module, [&](const ModuleState&) {
    const auto [state, players, seed, nodes, seconds, table_mib] = parse_arguments(
        "solve", std::array{"state", "players", "seed", "nodes", "seconds", "table_mib"}, 0, args,
        kwargs, 1);
    const StateEnum position = to_position(state, players, seed);
    const py::ModuleState& engine =
        state.absent_or_none() ? imported_engine_state() : *engine_state_of(state.object);
    const SolveBudget budget{to_nodes(nodes, kDefaultSolveNodes), to_seconds(seconds)};
    const std::size_t table_bytes = to_table_bytes(table_mib);
    // The solve works on its own copy, so other threads may run meanwhile.
    const Solution solution = py::compute_responsively(true, [&](const DecisionCheck& check) {
      return solve_position(position, budget, table_bytes, check);
    });
    return solution_tuple(engine, solution);
  });
}

void add_solver_player_class(ModuleState& state, PyObject* module) {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&new_solver_player)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<SolverSeat>)},
      {Py_tp_methods, solver_player_methods},
      {0, nullptr},
  };
  state.solver_player_type = make_type<SolverSeat>(module, "SolverPlayer", slots);
  add_to_module(module, "SolverPlayer", reinterpret_cast<PyObject*>(state.solver_player_type));
}

}  // namespace tornquil::companion
