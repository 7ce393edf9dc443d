// The extension module's entry point: builds `tornquil` with its submodules and classes, in the
// order that fixes each module's __all__. The module is initialised in phases: the interpreter
// makes the module object with room for its state, and exec fills it, so every interpreter
// that imports the module gets classes of its own.
#include "python/classes.hpp"

namespace tornquil::py {
namespace {

// Plain module objects attached to the top module; they never enter sys.modules.
Ref new_submodule(const char* name) {
  Ref submodule = Ref::checked(PyModule_New(name));
  if (PyObject_SetAttrString(submodule.get(), "__doc__", Py_None) < 0) raise_already_set();
  return submodule;
}

template <typename AddClasses>
void add_submodule(PyObject* top, const char* name, AddClasses&& add_classes) {
  const Ref submodule = new_submodule(name);
  add_classes(submodule.get());
  add_to_module(top, name, submodule.get());
}

ModuleState& state_of(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}

int exec_module(PyObject* top) {
  return guarded_exec<ModuleState>(top, [top](ModuleState& state) {
    create_panic_exception(state, "tornquil.PanicException");
    ModuleBuilder builder{state, top};
    make_unlisted_value_classes(builder);
    make_state_classes(builder);
    const auto with_builder = [&builder](auto add_classes) {
      return [&builder, add_classes](PyObject* submodule) { add_classes(builder, submodule); };
    };
    add_submodule(top, "card", with_builder(add_card_classes));
    add_submodule(top, "actions", with_builder(add_action_classes));
    add_submodule(top, "players", with_builder(add_player_classes));
    add_game_class(builder, top);
  });
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  ModuleState& state = state_of(module);
  Py_VISIT(state.panic_exception);
  for (PyTypeObject* type : state.classes) Py_VISIT(type);
  return 0;
}

int clear_module(PyObject* module) {
  ModuleState& state = state_of(module);
  Py_CLEAR(state.panic_exception);
  for (PyTypeObject*& type : state.classes) Py_CLEAR(type);
  return 0;
}

void free_module(void* module) { (void)clear_module(static_cast<PyObject*>(module)); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
#ifdef Py_mod_gil
    // Every object that Python threads may share guards itself (see the classes).
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
#ifdef Py_mod_multiple_interpreters
    // Nothing of an instance is shared with another, but the search threads are started by
    // whichever interpreter calls; one GIL per interpreter is not yet claimed.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_SUPPORTED},
#endif
    {0, nullptr},
};

}  // namespace

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "tornquil",
    .m_doc =
        "A cooperative card game engine with built-in players and a parallel Monte Carlo tree "
        "search.",
    .m_size = sizeof(ModuleState),
    .m_methods = nullptr,
    .m_slots = module_slots,
    .m_traverse = &traverse_module,
    .m_clear = &clear_module,
    .m_free = &free_module,
};

}  // namespace tornquil::py

PyMODINIT_FUNC PyInit_tornquil() { return PyModuleDef_Init(&tornquil::py::module_def); }
