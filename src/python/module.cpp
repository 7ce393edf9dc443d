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

}  // namespace

PyModuleDef module_def = module_definition<ModuleState, &exec_module>(
    "tornquil",
    "A cooperative card game engine with built-in players and a parallel Monte Carlo tree search.",
    nullptr);

}  // namespace tornquil::py

PyMODINIT_FUNC PyInit_tornquil() { return PyModuleDef_Init(&tornquil::py::module_def); }
