// What every file of the game's binding uses beyond the shared C-API layer: the module's state,
// native values boxed in Python objects, and `guarded`, through which every entry point runs so
// that no C++ exception reaches the interpreter. Everything here is called with the interpreter
// lock held.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <concepts>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "capi/capi.hpp"

namespace tornquil::py {

using namespace tornquil::capi;

// The most classes the module makes.
inline constexpr std::size_t max_classes = 32;

// What one instance of the module owns: its classes and the exception that internal faults
// become. It lives in the module object (each interpreter that imports the module has its own),
// never in a process global.
struct ModuleState {
  PyObject* panic_exception = nullptr;
  std::array<PyTypeObject*, max_classes> classes{};
};

// The module's definition, whose state every class reaches through its own module.
extern PyModuleDef module_def;

// The state of the module instance whose code runs on this thread: set for the length of each
// entry point and of the module's initialisation. Entry points nest (a Python player's code may
// call back into the module), so each scope restores the one it found.
class ModuleScope {
 public:
  // From the object or class an entry point was called on (one of the module's own classes).
  explicit ModuleScope(PyObject* anchor);
  // For the module's initialisation: `module` is the one being built.
  ModuleScope(PyObject* module, ModuleState& state);
  ~ModuleScope();
  ModuleScope(const ModuleScope&) = delete;
  ModuleScope& operator=(const ModuleScope&) = delete;

 private:
  ModuleState* previous_state_;
  PyObject* previous_module_;
};
[[nodiscard]] ModuleState& module_state();
// The module being initialised; only during its initialisation.
[[nodiscard]] PyObject* module_being_built();

// Makes the exception that internal faults become, derived directly from BaseException and
// kept in the module state only: it is an attribute of no module.
void create_panic_exception(ModuleState& state);

// Turns the exception being handled into the Python error it stands for. Call only from a
// catch block.
void translate_current_exception() noexcept;

// Runs an entry point's body, which returns the result as a Ref, in the module scope of
// `anchor` (the object or class the entry point was called on); any exception becomes the
// matching Python error and a null result.
template <typename Body>
[[nodiscard]] PyObject* guarded(PyObject* anchor, Body&& body) noexcept {
  try {
    const ModuleScope scope(anchor);
    try {
      return std::forward<Body>(body)().release();
    } catch (...) {
      translate_current_exception();
      return nullptr;
    }
  } catch (...) {
    translate_current_exception();
    return nullptr;
  }
}
template <typename Body>
[[nodiscard]] PyObject* guarded(PyTypeObject* anchor, Body&& body) noexcept {
  return guarded(reinterpret_cast<PyObject*>(anchor), std::forward<Body>(body));
}

// A native value of type T boxed in a Python object. Every class of the module is one of these.
template <typename T>
struct Object {
  PyObject_HEAD T value;
};

// Each boxed type's place among the module state's classes; the numbering is the same for
// every instance of the module.
[[nodiscard]] std::size_t next_class_slot();
template <typename T>
[[nodiscard]] std::size_t class_slot() {
  static const std::size_t slot = next_class_slot();
  return slot;
}

// The Python class of each boxed type in the running module instance.
template <typename T>
[[nodiscard]] PyTypeObject* type_of() {
  return module_state().classes[class_slot<T>()];
}

// Makes the heap type for T from `slots`, as a class of the module being built, and records it
// in the module state; `name` must live as long as the process (a literal). No flag allows
// subclassing.
PyTypeObject* make_type(const char* name, std::size_t basic_size, unsigned int flags,
                        PyType_Slot* slots);
template <typename T>
PyTypeObject* make_type(const char* name, PyType_Slot* slots, unsigned int flags = 0) {
  PyTypeObject*& type = module_state().classes[class_slot<T>()];
  Py_CLEAR(type);
  type = make_type(name, sizeof(Object<T>), flags, slots);
  return type;
}

template <typename T>
[[nodiscard]] T& value_of(PyObject* object) {
  return reinterpret_cast<Object<T>*>(object)->value;
}

// The boxed value when `object` is an instance of T's class, otherwise null.
template <typename T>
[[nodiscard]] T* value_if(PyObject* object) {
  return PyObject_TypeCheck(object, type_of<T>()) ? &value_of<T>(object) : nullptr;
}

// The boxed value of an argument that must be of T's class; anything else raises TypeError
// naming the parameter.
template <typename T>
[[nodiscard]] T& to_value(const Argument& argument) {
  T* value = value_if<T>(argument.object);
  if (value == nullptr) argument.refuse(conversion_failure(argument.object, type_of<T>()->tp_name));
  return *value;
}

// A new object of T's class holding `value`.
template <typename T>
[[nodiscard]] Ref wrap(T value) {
  PyTypeObject* type = type_of<T>();
  Ref object = Ref::checked(type->tp_alloc(type, 0));
  new (&value_of<T>(object.get())) T(std::move(value));
  return object;
}

template <typename T>
void dealloc(PyObject* object) {
  PyTypeObject* type = Py_TYPE(object);
  if (PyType_IS_GC(type)) PyObject_GC_UnTrack(object);
  value_of<T>(object).~T();
  type->tp_free(object);
  Py_DECREF(type);
}

// tp_new of the classes that Python code may not instantiate.
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// Adds `name` to `module`'s __all__ (made on first use) and then as an attribute.
void add_to_module(PyObject* module, const char* name, PyObject* value);
// Sets a class attribute on a type whose instances are otherwise immutable.
void add_class_attribute(PyTypeObject* type, const char* name, Ref value);

}  // namespace tornquil::py
