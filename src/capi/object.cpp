#include "capi/object.hpp"

#include <cstring>
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

#ifdef Py_LIMITED_API
// The stable ABI hides a class's record, yet two of its fields are where every CPython since the
// first has kept them, right after the object header: the name, then eighteen words on, the
// flags. Each is written only after it has been found there holding what the interpreter says it
// holds; otherwise nothing is written and the class keeps the interpreter's value.
constexpr std::size_t kNameOffset = 3 * sizeof(void*);
constexpr std::size_t kFlagsOffset = kNameOffset + 18 * sizeof(void*);

template <typename Field>
Field* field_at(PyTypeObject* type, std::size_t offset) {
  return reinterpret_cast<Field*>(reinterpret_cast<char*>(type) + offset);
}

void set_bare_name(PyTypeObject* type, const char* dotted, const char* name) {
  const char** field = field_at<const char*>(type, kNameOffset);
  if (*field != nullptr && std::strcmp(*field, dotted) == 0) *field = name;
}

// Whether the class's attributes may be rebound: only while the module sets them.
void set_immutable(PyTypeObject* type, bool immutable) {
  unsigned long* field = field_at<unsigned long>(type, kFlagsOffset);
  if (*field != PyType_GetFlags(type)) return;
  *field = immutable ? (*field | immutable_type)
                     : (*field & ~static_cast<unsigned long>(immutable_type));
  PyType_Modified(type);
}
#endif

}  // namespace

PyTypeObject* make_type(PyObject* module, const char* name, std::size_t basic_size,
                        unsigned int flags, PyType_Slot* slots) {
  // Our classes carry bare names, like the interpreter's own types. A PyType_Spec name without a
  // module makes the interpreter warn (fatal under -W error) and leaves __module__ unset, so the
  // class is made as "builtins.<name>" and then given its bare name back.
  const char* dotted = dotted_name(name);
  PyType_Spec spec = {
      .name = dotted,
      .basicsize = static_cast<int>(basic_size),
      .itemsize = 0,
      .flags = Py_TPFLAGS_DEFAULT | immutable_type | flags,
      .slots = slots,
  };
  auto* type = reinterpret_cast<PyTypeObject*>(
      Ref::checked(PyType_FromModuleAndSpec(module, &spec, nullptr)).release());
#ifdef Py_LIMITED_API
  set_bare_name(type, dotted, name);
#else
  type->tp_name = name;
#endif
  return type;
}

void add_class_attribute(PyTypeObject* type, const char* name, Ref value) {
#ifdef Py_LIMITED_API
  // The stable ABI offers no way into an immutable class's dictionary but setattr, which such a
  // class refuses: it is opened for the one attribute.
  set_immutable(type, false);
  const int failed = PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), name, value.get());
  set_immutable(type, true);
  if (failed < 0) raise_already_set();
#else
  if (PyDict_SetItemString(type->tp_dict, name, value.get()) < 0) raise_already_set();
  PyType_Modified(type);
#endif
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
