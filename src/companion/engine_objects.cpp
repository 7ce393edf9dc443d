#include "companion/engine_objects.hpp"

namespace tornquil::companion {

const py::ModuleState* engine_state_of(PyObject* object) {
  PyObject* module = PyType_GetModule(Py_TYPE(object));
  if (module == nullptr) {
    // A class that no module made: not one of ours.
    PyErr_Clear();
    return nullptr;
  }
  if (PyModule_GetDef(module) != &py::module_def) return nullptr;
  return &module_state<py::ModuleState>(module);
}

const py::ModuleState& imported_engine_state() {
  const Ref module = Ref::checked(PyImport_ImportModule("tornquil"));
  if (PyModule_GetDef(module.get()) != &py::module_def) {
    raise(PyExc_ImportError, "the module imported as tornquil is not the one beside this library");
  }
  // The interpreter keeps the module in sys.modules, and its state lives as long as it does.
  return module_state<py::ModuleState>(module.get());
}

StateEnum to_state(const Argument& argument) {
  const py::ModuleState* engine = engine_state_of(argument.object);
  const py::PyState* state =
      engine != nullptr ? py::value_if<py::PyState>(*engine, argument.object) : nullptr;
  if (state == nullptr) argument.refuse(conversion_failure(argument.object, "PyState"));
  return state->state_enum;
}

}  // namespace tornquil::companion
