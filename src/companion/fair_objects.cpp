#include "companion/budgets.hpp"
#include "companion/seats.hpp"
#include "companion/solver_objects.hpp"
#include "players/fair_player.hpp"

namespace tornquil::companion {
namespace {

constexpr const char* kName = "FairPlayer";

PyObject* new_fair_player(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(type, [&](const ModuleState&) {
    const auto [seconds, threads, iterations, seed, release_gil] = parse_arguments(
        kName, std::array{"seconds", "threads", "iterations", "seed", "release_gil"}, 0, args,
        kwargs, 0);
    FairSettings settings;
    settings.seconds = seconds.object == nullptr ? std::optional(0.25) : to_seconds(seconds);
    settings.threads = to_threads(threads, 2);
    settings.iterations = to_count(iterations, std::numeric_limits<std::uint64_t>::max());
    settings.seed = to_optional_u64(seed);
    if (!settings.seconds && iterations.absent_or_none()) {
      raise(PyExc_ValueError, "a FairPlayer needs seconds or iterations to bound its decisions");
    }
    const bool release = release_gil.object != nullptr && to_exact_bool(release_gil);
    return box(type, Seat<FairPlayer>(FairPlayer(settings), release));
  });
}

PyObject* fair_player_play(PyObject* self, PyObject* args, PyObject* kwargs) {
  return seat_play<ModuleState, FairPlayer>(self, args, kwargs, kName);
}

PyObject* fair_player_ranked_actions(PyObject* self, PyObject*) {
  return seat_ranked_actions<ModuleState, FairPlayer>(self, kName);
}

PyMethodDef fair_player_methods[] = {
    {"play", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fair_player_play)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {"ranked_actions", &fair_player_ranked_actions, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void add_fair_player_class(ModuleState& state, PyObject* module) {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&new_fair_player)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<Seat<FairPlayer>>)},
      {Py_tp_methods, fair_player_methods},
      {0, nullptr},
  };
  state.fair_player_type = make_type<Seat<FairPlayer>>(module, kName, slots);
  add_to_module(module, kName, reinterpret_cast<PyObject*>(state.fair_player_type));
}

}  // namespace tornquil::companion
