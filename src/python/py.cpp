#include "python/py.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <exception>
#include <system_error>

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

void raise_panic(const char* message) noexcept {
  PyObject* panic = current_state != nullptr ? current_state->panic_exception : nullptr;
  PyErr_SetString(panic != nullptr ? panic : PyExc_SystemError, message);
}

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

// The message of the pending error, which is cleared, when it is of `type`; otherwise the
// error stays pending and nothing is returned.
std::optional<std::string> take_message_if(PyObject* type) {
  if (!PyErr_ExceptionMatches(type)) return std::nullopt;
#if PY_VERSION_HEX >= 0x030C0000
  const Ref value = Ref::steal(PyErr_GetRaisedException());
#else
  PyObject* raw_type = nullptr;
  PyObject* raw_value = nullptr;
  PyObject* raw_traceback = nullptr;
  PyErr_Fetch(&raw_type, &raw_value, &raw_traceback);
  PyErr_NormalizeException(&raw_type, &raw_value, &raw_traceback);
  const Ref owned_type = Ref::steal(raw_type);
  const Ref value = Ref::steal(raw_value);
  const Ref traceback = Ref::steal(raw_traceback);
#endif
  const Ref text = Ref::checked(PyObject_Str(value.get()));
  const char* utf8 = PyUnicode_AsUTF8(text.get());
  if (utf8 == nullptr) raise_already_set();
  return std::string(utf8);
}

Ref index_of(const Argument& argument) {
  PyObject* index = PyNumber_Index(argument.object);
  if (index == nullptr) {
    if (std::optional<std::string> message = take_message_if(PyExc_TypeError)) {
      argument.refuse(*message);
    }
    raise_already_set();
  }
  return Ref::steal(index);
}

std::string positional_count(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " positional argument" : " positional arguments");
}

}  // namespace

Ref Ref::checked(PyObject* object) {
  if (object == nullptr) raise_already_set();
  return Ref(object);
}

void raise(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw ErrorAlreadySet{};
}

void raise_already_set() {
  if (!PyErr_Occurred()) {
    PyErr_SetString(PyExc_SystemError, "a call failed without setting an error");
  }
  throw ErrorAlreadySet{};
}

std::string type_name(PyObject* object) {
  const char* name = Py_TYPE(object)->tp_name;
  const char* last_dot = std::strrchr(name, '.');
  return last_dot ? last_dot + 1 : name;
}

std::string repr_text(PyObject* object) {
  const Ref text = Ref::checked(PyObject_Repr(object));
  const char* utf8 = PyUnicode_AsUTF8(text.get());
  if (utf8 == nullptr) raise_already_set();
  return utf8;
}

std::string conversion_failure(PyObject* object, const char* target) {
  return "'" + type_name(object) + "' object cannot be converted to '" + target + "'";
}

ModuleScope::ModuleScope(PyObject* anchor)
    : previous_state_(current_state), previous_module_(current_module) {
  PyTypeObject* type = PyType_Check(anchor) ? reinterpret_cast<PyTypeObject*>(anchor)
                                            : Py_TYPE(anchor);
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

void create_panic_exception(ModuleState& state) {
  Py_CLEAR(state.panic_exception);
  state.panic_exception =
      Ref::checked(PyErr_NewException("tornquil.PanicException", PyExc_BaseException, nullptr))
          .release();
}

void translate_current_exception() noexcept {
  try {
    throw;
  } catch (const ErrorAlreadySet&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error indicator lost");
  } catch (const InternalFault& fault) {
    raise_panic(fault.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::system_error& error) {
    // The machine refused a resource (a thread, say): an ordinary error, not a broken invariant.
    PyErr_SetString(PyExc_RuntimeError, error.what());
  } catch (const std::exception& error) {
    raise_panic(error.what());
  } catch (...) {
    raise_panic("unknown C++ exception");
  }
}

void Argument::refuse(const std::string& reason) const {
  raise(PyExc_TypeError, std::string("argument '") + name + "': " + reason);
}

void bind_arguments(const char* function, std::span<const char* const> names, std::size_t required,
                    PyObject* args, PyObject* kwargs, std::span<Argument> bound,
                    std::size_t positional) {
  const std::size_t given = args ? static_cast<std::size_t>(PyTuple_GET_SIZE(args)) : 0;
  const std::size_t most = std::min(positional, names.size());
  if (given > most) {
    raise(PyExc_TypeError, std::string(function) + "() takes " + positional_count(most) +
                               " but " + std::to_string(given) + " were given");
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    bound[i] = {names[i], i < given ? PyTuple_GET_ITEM(args, static_cast<Py_ssize_t>(i)) : nullptr};
  }
  if (kwargs != nullptr) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t position = 0;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      const char* keyword = PyUnicode_Check(key) ? PyUnicode_AsUTF8(key) : nullptr;
      if (keyword == nullptr) {
        PyErr_Clear();
        raise(PyExc_TypeError, std::string(function) + "() keywords must be strings");
      }
      std::size_t i = 0;
      while (i < names.size() && std::strcmp(names[i], keyword) != 0) ++i;
      if (i == names.size()) {
        raise(PyExc_TypeError, std::string(function) + "() got an unexpected keyword argument '" +
                                   keyword + "'");
      }
      if (bound[i].object != nullptr) {
        raise(PyExc_TypeError, std::string(function) + "() got multiple values for argument '" +
                                   keyword + "'");
      }
      bound[i].object = value;
    }
  }
  for (std::size_t i = 0; i < required; ++i) {
    if (bound[i].object == nullptr) {
      raise(PyExc_TypeError, std::string(function) + "() missing required argument '" + names[i] +
                                 "' (pos " + std::to_string(i + 1) + ")");
    }
  }
}

std::uint64_t to_u64(const Argument& argument) {
  const Ref index = index_of(argument);
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) raise_already_set();
  return value;
}

std::optional<std::uint64_t> to_optional_u64(const Argument& argument) {
  if (argument.absent_or_none()) return std::nullopt;
  return to_u64(argument);
}

bool to_exact_bool(const Argument& argument) {
  if (!PyBool_Check(argument.object)) argument.refuse(conversion_failure(argument.object, "PyBool"));
  return argument.object == Py_True;
}

double to_double(const Argument& argument) {
  if (!PyFloat_Check(argument.object) && !PyNumber_Check(argument.object)) {
    argument.refuse("must be real number, not " + type_name(argument.object));
  }
  const double value = PyFloat_AsDouble(argument.object);
  if (value == -1.0 && PyErr_Occurred()) {
    if (std::optional<std::string> message = take_message_if(PyExc_TypeError)) {
      argument.refuse(*message);
    }
    raise_already_set();
  }
  return value;
}

std::string to_string(const Argument& argument) {
  if (!PyUnicode_Check(argument.object)) {
    argument.refuse("must be str, not " + type_name(argument.object));
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(argument.object, &size);
  if (utf8 == nullptr) raise_already_set();
  return std::string(utf8, static_cast<std::size_t>(size));
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
