// How every extension module of the project keeps and finds its state, and runs its entry points.
//
// A module keeps what it creates (its classes, the exception that internal faults become) in its
// module state, so each interpreter that imports it has its own. An entry point finds that state
// the way the interpreter documents: from its module object for a module function, from the class
// for a constructor, and from the class of `self` for a method, since every class is made with
// its module (PyType_FromModuleAndSpec) and none can be subclassed. Nothing is kept in a process
// or thread global. Everything here is called with the interpreter lock held.
#pragma once

#include <new>
#include <utility>

#include "capi/capi.hpp"

namespace tornquil::capi {

// The part every module state starts with.
struct ModuleBase {
  // Internal faults become this exception, derived directly from BaseException and kept here
  // only: it is an attribute of no module.
  PyObject* panic_exception = nullptr;
};

// Makes the module's fault exception under `qualified_name` ("tornquil.PanicException").
void create_panic_exception(ModuleBase& state, const char* qualified_name);

// The state of `module`, one of the project's modules whose state type is State.
template <typename State>
[[nodiscard]] State& module_state(PyObject* module) {
  void* state = PyModule_GetState(module);
  if (state == nullptr) raise_already_set();
  return *static_cast<State*>(state);
}

// The state of the module that made `type`.
template <typename State>
[[nodiscard]] State& state_of_class(PyTypeObject* type) {
  void* state = PyType_GetModuleState(type);
  if (state == nullptr) raise_already_set();
  return *static_cast<State*>(state);
}

// The state of the module behind an entry point's anchor: the class a constructor or a class
// method was called on, or the object a method was called on.
template <typename State>
[[nodiscard]] State& state_of_anchor(PyObject* anchor) {
  PyTypeObject* type =
      PyType_Check(anchor) ? reinterpret_cast<PyTypeObject*>(anchor) : Py_TYPE(anchor);
  return state_of_class<State>(type);
}

namespace detail {
// Runs `body` with the state `find` gives; the body returns the result as a Ref. Any exception
// becomes the matching Python error and a null result, except the end of the thread, which
// passes on (so this may not be noexcept).
template <typename State, typename Find, typename Body>
[[nodiscard]] PyObject* run_guarded(Find&& find, Body&& body) {
  const ModuleBase* base = nullptr;
  try {
    State& state = find();
    base = &state;
    return std::forward<Body>(body)(state).release();
  } catch (...) {
    if (handling_thread_exit()) throw;
    translate_exception(base != nullptr ? base->panic_exception : nullptr);
    return nullptr;
  }
}
}  // namespace detail

// Runs an entry point's body with the module state of `anchor` (see state_of_anchor), so that no
// C++ exception ever reaches the interpreter: any exception becomes the matching Python error,
// internal faults the module's own exception, and the result null.
template <typename State, typename Anchor, typename Body>
[[nodiscard]] PyObject* guarded(Anchor* anchor, Body&& body) {
  return detail::run_guarded<State>(
      [anchor]() -> State& { return state_of_anchor<State>(reinterpret_cast<PyObject*>(anchor)); },
      std::forward<Body>(body));
}

// The same for a module function, whose anchor is the module object itself.
template <typename State, typename Body>
[[nodiscard]] PyObject* guarded_in_module(PyObject* module, Body&& body) {
  return detail::run_guarded<State>([module]() -> State& { return module_state<State>(module); },
                                    std::forward<Body>(body));
}

// Runs a module's exec slot, which fills a new State in the module: 0 on success, -1 with the
// Python error set.
template <typename State, typename Body>
[[nodiscard]] int guarded_exec(PyObject* module, Body&& body) {
  PyObject* const result = detail::run_guarded<State>(
      [module]() -> State& { return *new (PyModule_GetState(module)) State{}; },
      [&body](State& state) {
        body(state);
        return none();
      });
  if (result == nullptr) return -1;
  Py_DECREF(result);
  return 0;
}

// What every module definition holds beyond its name, doc and functions: the collector sees and
// clears the references its state lists (State::for_each_reference calls its argument with each
// reference field), and the slots that run its exec and declare what it supports.
template <typename State>
int traverse_module(PyObject* module, visitproc visit, void* arg) {
  auto* state = static_cast<State*>(PyModule_GetState(module));
  int result = 0;
  if (state != nullptr) {
    state->for_each_reference([&](auto*& object) {
      if (result == 0 && object != nullptr)
        result = visit(reinterpret_cast<PyObject*>(object), arg);
    });
  }
  return result;
}

template <typename State>
int clear_module(PyObject* module) {
  auto* state = static_cast<State*>(PyModule_GetState(module));
  if (state != nullptr) state->for_each_reference([](auto*& object) { Py_CLEAR(object); });
  return 0;
}

template <typename State>
void free_module(void* module) {
  (void)clear_module<State>(static_cast<PyObject*>(module));
}

template <int (*Exec)(PyObject*)>
inline PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(Exec)},
#ifdef Py_mod_gil
    // Every object that Python threads may share guards itself (see the classes).
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
#ifdef Py_mod_multiple_interpreters
    // Nothing of an instance is shared with another, but search threads are started by whichever
    // interpreter calls; one GIL per interpreter is not yet claimed.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_SUPPORTED},
#endif
    {0, nullptr},
};

// The definition of a module whose state is a State, made by Exec: multi-phase initialisation,
// so that each interpreter that imports it gets an instance of its own.
template <typename State, int (*Exec)(PyObject*)>
[[nodiscard]] constexpr PyModuleDef module_definition(const char* name, const char* doc,
                                                      PyMethodDef* functions) {
  return {
      .m_base = PyModuleDef_HEAD_INIT,
      .m_name = name,
      .m_doc = doc,
      .m_size = sizeof(State),
      .m_methods = functions,
      .m_slots = module_slots<Exec>,
      .m_traverse = &traverse_module<State>,
      .m_clear = &clear_module<State>,
      .m_free = &free_module<State>,
  };
}

}  // namespace tornquil::capi
