#include "capi/object.hpp"

#include <mutex>
#include <set>
#include <string>

namespace tornquil::capi {
namespace {

// Class attributes such as CardSuit.Spades are the single values of their kind; nobody may
// rebind them.
#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned int immutable_type = Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned int immutable_type = 0;
#endif

// The dotted name a class is made under; it must outlive every class made with it, in any
// instance of any module: one per name, kept for the life of the process.
const char* dotted_name(const char* name) {
  static std::mutex mutex;
  static std::set<std::string> names;
  const std::lock_guard<std::mutex> lock(mutex);
  return names.insert(std::string("builtins.") + name).first->c_str();
}

}  // namespace

PyTypeObject* make_type(PyObject* module, const char* name, std::size_t basic_size,
                        unsigned int flags, PyType_Slot* slots) {
  // Our classes carry bare names, like the interpreter's own types. A PyType_Spec name without a
  // module makes the interpreter warn (fatal under -W error) and leaves __module__ unset, so the
  // class is made as "builtins.<name>" and then given its bare name back.
  PyType_Spec spec = {
      .name = dotted_name(name),
      .basicsize = static_cast<int>(basic_size),
      .itemsize = 0,
      .flags = Py_TPFLAGS_DEFAULT | immutable_type | flags,
      .slots = slots,
  };
  auto* type = reinterpret_cast<PyTypeObject*>(
      Ref::checked(PyType_FromModuleAndSpec(module, &spec, nullptr)).release());
  type->tp_name = name;
  return type;
}

void add_class_attribute(PyTypeObject* type, const char* name, Ref value) {
  if (PyDict_SetItemString(type->tp_dict, name, value.get()) < 0) raise_already_set();
  PyType_Modified(type);
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

}  // namespace tornquil::capi
