// The extension module's entry point: builds `tornquil` with its submodules and classes, in the
// order that fixes each module's __all__.
#include "python/classes.hpp"

namespace tornquil::py {
namespace {

PyModuleDef top_module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "tornquil",
    .m_doc = "A cooperative card game engine with built-in players and a parallel Monte Carlo tree search.",
    .m_size = -1,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

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

Ref build_module() {
  create_panic_exception();
  make_unlisted_value_classes();
  make_state_classes();
  Ref top = Ref::checked(PyModule_Create(&top_module_def));
  add_submodule(top.get(), "card", add_card_classes);
  add_submodule(top.get(), "actions", add_action_classes);
  add_submodule(top.get(), "players", add_player_classes);
  add_game_class(top.get());
  return top;
}

}  // namespace
}  // namespace tornquil::py

PyMODINIT_FUNC PyInit_tornquil() { return tornquil::py::guarded(tornquil::py::build_module); }
