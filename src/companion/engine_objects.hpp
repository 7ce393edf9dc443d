// How the companion modules meet the objects of the `tornquil` module: they live in the same
// library, so they recognise its state objects by the module that made their class and build its
// own action objects, never by parsing texts. Everything here is called with the interpreter
// lock held.
#pragma once

#include "python/classes.hpp"

namespace tornquil::companion {

using namespace tornquil::capi;

// The state of the `tornquil` module that made `object`'s class, or null when `object` is not
// one of its objects.
[[nodiscard]] const py::ModuleState* engine_state_of(PyObject* object);

// The state of the `tornquil` module imported in this interpreter (importing it if need be).
[[nodiscard]] const py::ModuleState& imported_engine_state();

// The state inside a state object that a Python seat receives; anything else raises TypeError
// naming the parameter.
[[nodiscard]] StateEnum to_state(const Argument& argument);

}  // namespace tornquil::companion
