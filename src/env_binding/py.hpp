// What the environment's native module adds to the shared C-API layer: its module state and
// `guarded`, through which every entry point runs so that no C++ exception reaches the
// interpreter. The module keeps what it creates in its module state, so each of its instances
// (one per interpreter) has its own. Everything here is called with the interpreter lock held.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <string>
#include <utility>

#include "capi/capi.hpp"

namespace tornquil::env::py {

using namespace tornquil::capi;

// What one instance of the module owns.
struct ModuleState {
  PyObject* game_type = nullptr;
  // Internal faults become this, derived directly from BaseException like the engine's own.
  PyObject* panic_exception = nullptr;
};

[[nodiscard]] inline ModuleState& module_state(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}
// The state of the module that made `type`.
[[nodiscard]] inline ModuleState& module_state_of(PyTypeObject* type) {
  return *static_cast<ModuleState*>(PyType_GetModuleState(type));
}

// Runs an entry point's body, which returns the result as a Ref; any exception becomes the
// matching Python error and a null result.
template <typename Body>
[[nodiscard]] PyObject* guarded(const ModuleState& state, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)().release();
  } catch (...) {
    translate_exception(state.panic_exception);
    return nullptr;
  }
}

[[nodiscard]] Ref integer(std::size_t value);
[[nodiscard]] Ref text(const std::string& value);
[[nodiscard]] Ref bytes(const void* data, std::size_t size);

}  // namespace tornquil::env::py
