// The extension module's entry point: builds `tornquil` with its submodules.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace {

PyModuleDef top_module_def = {
    PyModuleDef_HEAD_INIT, "tornquil",
    "A cooperative card game engine with built-in players and a parallel Monte Carlo tree search.",
    -1, nullptr, nullptr, nullptr, nullptr, nullptr};

PyModuleDef card_module_def = {PyModuleDef_HEAD_INIT, "card", nullptr, -1, nullptr,
                               nullptr, nullptr, nullptr, nullptr};
PyModuleDef actions_module_def = {PyModuleDef_HEAD_INIT, "actions", nullptr, -1, nullptr,
                                  nullptr, nullptr, nullptr, nullptr};
PyModuleDef players_module_def = {PyModuleDef_HEAD_INIT, "players", nullptr, -1, nullptr,
                                  nullptr, nullptr, nullptr, nullptr};

// Appends `name` to the module's __all__ (created on first use), then sets the attribute.
// Steals `value`.
bool add_name(PyObject* module, const char* name, PyObject* value) {
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (all == nullptr) {
    PyErr_Clear();
    all = PyList_New(0);
    if (all == nullptr || PyModule_AddObjectRef(module, "__all__", all) < 0) {
      Py_XDECREF(all);
      Py_DECREF(value);
      return false;
    }
  }
  PyObject* text = PyUnicode_FromString(name);
  const bool appended = text != nullptr && PyList_Append(all, text) == 0;
  Py_XDECREF(text);
  Py_DECREF(all);
  const bool added = appended && PyModule_AddObjectRef(module, name, value) == 0;
  Py_DECREF(value);
  return added;
}

bool add_submodule(PyObject* top, PyModuleDef* def) {
  PyObject* submodule = PyModule_Create(def);
  if (submodule == nullptr) return false;
  PyObject* all = PyList_New(0);
  if (all == nullptr || PyModule_AddObject(submodule, "__all__", all) < 0) {
    Py_XDECREF(all);
    Py_DECREF(submodule);
    return false;
  }
  return add_name(top, def->m_name, submodule);
}

}  // namespace

PyMODINIT_FUNC PyInit_tornquil() {
  PyObject* top = PyModule_Create(&top_module_def);
  if (top == nullptr) return nullptr;
  if (!add_submodule(top, &card_module_def) || !add_submodule(top, &actions_module_def) ||
      !add_submodule(top, &players_module_def)) {
    Py_DECREF(top);
    return nullptr;
  }
  return top;
}
