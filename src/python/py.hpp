// What every file of the game's binding uses beyond the shared C-API layer: the module's state
// with its classes, and the game's values boxed in objects of those classes. Every entry point
// runs through `guarded`, which finds the state of the module that made the object or class it
// was called on. Everything here is called with the interpreter lock held.
#pragma once

#include <array>
#include <cstddef>

#include "capi/capi.hpp"
#include "capi/module.hpp"
#include "capi/object.hpp"

namespace tornquil::py {

using namespace tornquil::capi;

// The most classes the module makes.
inline constexpr std::size_t max_classes = 32;

// Each boxed type's place among the module state's classes; the numbering is the same for
// every instance of the module.
[[nodiscard]] std::size_t next_class_slot();
template <typename T>
[[nodiscard]] std::size_t class_slot() {
  static const std::size_t slot = next_class_slot();
  return slot;
}

// What one instance of the module owns: its classes and the exception that internal faults
// become.
struct ModuleState : ModuleBase {
  std::array<PyTypeObject*, max_classes> classes{};

  // The class whose objects box a T.
  template <typename T>
  [[nodiscard]] PyTypeObject* type() const {
    return classes[class_slot<T>()];
  }

  template <typename Visit>
  void for_each_reference(Visit&& visit) {
    visit(panic_exception);
    for (PyTypeObject*& type : classes) visit(type);
  }
};

// The module's definition: the companion modules recognise its objects by it.
extern PyModuleDef module_def;

// The module being built, for the functions that make its classes.
struct ModuleBuilder {
  ModuleState& state;
  PyObject* module;

  // Makes the class for T from `slots` and records it in the module state.
  template <typename T>
  PyTypeObject* make_class(const char* name, PyType_Slot* slots, unsigned int flags = 0) {
    PyTypeObject*& type = state.classes[class_slot<T>()];
    Py_CLEAR(type);
    type = make_type<T>(module, name, slots, flags);
    return type;
  }

  // The same for a class made by `make`, with `methods` (a null-terminated table) or none.
  template <typename T>
  PyTypeObject* make_class(const char* name, newfunc make, PyMethodDef* methods) {
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(make)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<T>)},
        {methods != nullptr ? Py_tp_methods : 0, methods},
        {0, nullptr},
    };
    return make_class<T>(name, slots);
  }
};

// Runs an entry point's body with the state of the module behind `anchor` (the object or class
// it was called on); see capi::guarded.
template <typename Anchor, typename Body>
[[nodiscard]] PyObject* guarded(Anchor* anchor, Body&& body) {
  return capi::guarded<ModuleState>(anchor, std::forward<Body>(body));
}

// A new object of T's class holding `value`.
template <typename T>
[[nodiscard]] Ref wrap(const ModuleState& module, T value) {
  return box(module.type<T>(), std::move(value));
}

// The boxed value when `object` is an instance of T's class, otherwise null.
template <typename T>
[[nodiscard]] T* value_if(const ModuleState& module, PyObject* object) {
  return PyObject_TypeCheck(object, module.type<T>()) ? &value_of<T>(object) : nullptr;
}

// The boxed value of an argument that must be of T's class; anything else raises TypeError
// naming the parameter.
template <typename T>
[[nodiscard]] T& to_value(const ModuleState& module, const Argument& argument) {
  T* value = value_if<T>(module, argument.object);
  if (value == nullptr) {
    argument.refuse(conversion_failure(argument.object, class_name(module.type<T>()).c_str()));
  }
  return *value;
}

}  // namespace tornquil::py
