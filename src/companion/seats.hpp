// The companion module's seats: a built-in player of the engine wrapped in a Python class whose
// `play(state)` takes the state object a seat receives and answers with the engine's own action
// object, so that it can sit in a TornquilGame like any object with a `play` method. One seat
// object decides for one caller at a time; a second call meanwhile (another thread while the
// lock is released, or code that a signal handler runs) is refused.
#pragma once

#include <array>
#include <atomic>
#include <string>
#include <utility>

#include "companion/engine_objects.hpp"
#include "players/mcts_player.hpp"

namespace tornquil::companion {

template <typename P>
struct Seat {
  Seat(P seat_player, bool release) : player(std::move(seat_player)), release_gil(release) {}
  Seat(Seat&& other) noexcept : player(std::move(other.player)), release_gil(other.release_gil) {}

  P player;
  bool release_gil;
  std::atomic<bool> busy{false};
};

// Holds a seat for one call, or refuses it with RuntimeError naming the class.
template <typename P>
class Busy {
 public:
  Busy(Seat<P>& seat, const char* class_name) : seat_(seat) {
    if (seat_.busy.exchange(true, std::memory_order_acquire)) {
      raise(PyExc_RuntimeError, std::string(class_name) + " is in use: its play() is running");
    }
  }
  ~Busy() { seat_.busy.store(false, std::memory_order_release); }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  Seat<P>& seat_;
};

// seat.play(state): the player decides on a copy of the state inside the state object, checking
// for Ctrl-C as it goes and without the lock when the seat was made with release_gil=True.
template <typename State, typename P>
PyObject* seat_play(PyObject* self, PyObject* args, PyObject* kwargs, const char* class_name) {
  return capi::guarded<State>(self, [&](const State&) {
    const auto [state] = parse_arguments("play", std::array{"state"}, 1, args, kwargs);
    const StateEnum position = to_state(state);
    const py::ModuleState& engine = *engine_state_of(state.object);
    Seat<P>& seat = value_of<Seat<P>>(self);
    const Action action = [&] {
      const Busy<P> busy(seat, class_name);
      return py::compute_responsively(seat.release_gil, [&](const DecisionCheck& check) {
        return play_any(seat.player, position, check);
      });
    }();
    return py::action_to_python(engine, action);
  });
}

// seat.ranked_actions(): the root's actions of the last decision as (action, visits, mean level)
// tuples, most visited first; empty before the first decision.
template <typename State, typename P>
PyObject* seat_ranked_actions(PyObject* self, const char* class_name) {
  return capi::guarded<State>(self, [&](const State&) {
    Seat<P>& seat = value_of<Seat<P>>(self);
    const std::vector<RankedAction> ranking = [&] {
      const Busy<P> busy(seat, class_name);
      return seat.player.ranked_actions().value_or(std::vector<RankedAction>{});
    }();
    const py::ModuleState& engine = imported_engine_state();
    Ref list = Ref::checked(PyList_New(0));
    for (const RankedAction& entry : ranking) {
      const Ref action = py::action_to_python(engine, entry.action);
      const Ref tuple = Ref::checked(Py_BuildValue("(OKd)", action.get(),
                                                   static_cast<unsigned long long>(entry.visits),
                                                   entry.average_reward));
      if (PyList_Append(list.get(), tuple.get()) < 0) raise_already_set();
    }
    return list;
  });
}

// The Python class of seats of P named `Name`, made with `make`: its `play(state)`, and
// `ranked_actions()` for a player that ranks its moves. Added to `module` and returned.
template <typename State, typename P, const char* Name>
PyTypeObject* add_seat_class(PyObject* module, newfunc make) {
  // The entries past the last method stay zero: the table's end.
  static std::array<PyMethodDef, 3> methods = [] {
    std::array<PyMethodDef, 3> table{};
    table[0] = {"play",
                reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
                    +[](PyObject* self, PyObject* args, PyObject* kwargs) {
                      return seat_play<State, P>(self, args, kwargs, Name);
                    })),
                METH_VARARGS | METH_KEYWORDS, nullptr};
    if constexpr (requires(const P& player) { player.ranked_actions(); }) {
      table[1] = {
          "ranked_actions",
          +[](PyObject* self, PyObject*) { return seat_ranked_actions<State, P>(self, Name); },
          METH_NOARGS, nullptr};
    }
    return table;
  }();
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(make)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<Seat<P>>)},
      {Py_tp_methods, methods.data()},
      {0, nullptr},
  };
  PyTypeObject* type = make_type<Seat<P>>(module, Name, slots);
  add_to_module(module, Name, reinterpret_cast<PyObject*>(type));
  return type;
}

}  // namespace tornquil::companion
