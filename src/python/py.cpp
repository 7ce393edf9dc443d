#include "python/py.hpp"

#include <atomic>
#include <mutex>
#include <set>
#include <string>

#include "base/error.hpp"

namespace tornquil::py {
namespace {

thread_local ModuleState* current_state = nullptr;
thread_local PyObject* current_module = nullptr;

// Class attributes such as CardSuit.Spades are the single values of their kind; nobody may
// rebind them.
#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned int immutable_type = Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned int immutable_type = 0;
#endif

ModuleState& state_of_class(PyTypeObject* type) {
  // Our classes cannot be subclassed, so the class of an anchor is one of ours.
#if PY_VERSION_HEX >= 0x030B0000
  PyObject* module = PyType_GetModuleByDef(type, &module_def);
#else
  PyObject* module = PyType_GetModule(type);
#endif
  if (module == nullptr) raise_already_set();
  void* state = PyModule_GetState(module);
  if (state == nullptr) raise_already_set();
  return *static_cast<ModuleState*>(state);
}

}  // namespace

ModuleScope::ModuleScope(PyObject* anchor)
    : previous_state_(current_state), previous_module_(current_module) {
  PyTypeObject* type =
      PyType_Check(anchor) ? reinterpret_cast<PyTypeObject*>(anchor) : Py_TYPE(anchor);
  current_state = &state_of_class(type);
  current_module = nullptr;
}

ModuleScope::ModuleScope(PyObject* module, ModuleState& state)
    : previous_state_(current_state), previous_module_(current_module) {
  current_state = &state;
  current_module = module;
}

ModuleScope::~ModuleScope() {
  current_state = previous_state_;
  current_module = previous_module_;
}

ModuleState& module_state() {
  if (current_state == nullptr) fault("the module's state was used outside of any of its calls");
  return *current_state;
}

PyObject* module_being_built() {
  if (current_module == nullptr) fault("a class was made outside of the module's initialisation");
  return current_module;
}

std::size_t next_class_slot() {
  static std::atomic<std::size_t> next{0};
  const std::size_t slot = next.fetch_add(1);
  if (slot >= max_classes) fault("the module makes more classes than its state holds");
  return slot;
}

void translate_current_exception() noexcept {
  translate_exception(current_state != nullptr ? current_state->panic_exception : nullptr);
}

void create_panic_exception(ModuleState& state) {
  Py_CLEAR(state.panic_exception);
  state.panic_exception =
      Ref::checked(PyErr_NewException("tornquil.PanicException", PyExc_BaseException, nullptr))
          .release();
}

PyTypeObject* make_type(const char* name, std::size_t basic_size, unsigned int flags,
                        PyType_Slot* slots) {
  // Our classes carry bare names, like the interpreter's own types. A PyType_Spec name without a
  // module makes the interpreter warn (fatal under -W error) and leaves __module__ unset, so
  // the type is made as "builtins.<name>" and then given its bare name back. The dotted name
  // must outlive every type made with it, in any instance of the module: one per name, kept.
  static std::mutex dotted_names_mutex;
  static std::set<std::string> dotted_names;
  const std::string* dotted = nullptr;
  {
    const std::lock_guard<std::mutex> lock(dotted_names_mutex);
    dotted = &*dotted_names.insert(std::string("builtins.") + name).first;
  }
  PyType_Spec spec = {
      .name = dotted->c_str(),
      .basicsize = static_cast<int>(basic_size),
      .itemsize = 0,
      .flags = Py_TPFLAGS_DEFAULT | immutable_type | flags,
      .slots = slots,
  };
  auto* type = reinterpret_cast<PyTypeObject*>(
      Ref::checked(PyType_FromModuleAndSpec(module_being_built(), &spec, nullptr)).release());
  type->tp_name = name;
  return type;
}

PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "No constructor defined");
  return nullptr;
}

void add_to_module(PyObject* module, const char* name, PyObject* value) {
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) raise_already_set();
    PyErr_Clear();
    all = Ref::checked(PyList_New(0));
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) raise_already_set();
  }
  const Ref text = Ref::checked(PyUnicode_FromString(name));
  if (PyList_Append(all.get(), text.get()) < 0) raise_already_set();
  if (PyObject_SetAttrString(module, name, value) < 0) raise_already_set();
}

void add_class_attribute(PyTypeObject* type, const char* name, Ref value) {
  if (PyDict_SetItemString(type->tp_dict, name, value.get()) < 0) raise_already_set();
  PyType_Modified(type);
}

}  // namespace tornquil::py
