// Native values boxed in Python objects, and the heap classes that hold them: how every class of
// the project's modules is made, filled, allocated and freed. Everything here is called with the
// interpreter lock held.
#pragma once

#include <new>
#include <utility>

#include "capi/capi.hpp"

namespace tornquil::capi {

// A native value of type T boxed in a Python object.
template <typename T>
struct Object {
  PyObject_HEAD T value;
};

template <typename T>
[[nodiscard]] T& value_of(PyObject* object) {
  return reinterpret_cast<Object<T>*>(object)->value;
}

// A new object of `type`, whose instances box a T, holding `value`.
template <typename T>
[[nodiscard]] Ref box(PyTypeObject* type, T value) {
  auto* allocate = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  Ref object = Ref::checked(allocate(type, 0));
  new (&value_of<T>(object.get())) T(std::move(value));
  return object;
}

// tp_dealloc of a class whose instances box a T.
template <typename T>
void dealloc(PyObject* object) {
  PyTypeObject* type = Py_TYPE(object);
  if (PyType_GetFlags(type) & Py_TPFLAGS_HAVE_GC) PyObject_GC_UnTrack(object);
  value_of<T>(object).~T();
  reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(object);
  Py_DECREF(type);
}

// Makes a heap class of `module` from `slots`, with instances of `basic_size` bytes. `name` is
// the bare class name ("Card") and must live as long as the process (a literal). No flag allows
// subclassing, and the class is immutable: its attributes cannot be rebound.
[[nodiscard]] PyTypeObject* make_type(PyObject* module, const char* name, std::size_t basic_size,
                                      unsigned int flags, PyType_Slot* slots);
template <typename T>
[[nodiscard]] PyTypeObject* make_type(PyObject* module, const char* name, PyType_Slot* slots,
                                      unsigned int flags = 0) {
  return make_type(module, name, sizeof(Object<T>), flags, slots);
}

// Sets a class attribute (CardSuit.Spades) on a class whose attributes are otherwise immutable;
// only while the module is being built.
void add_class_attribute(PyTypeObject* type, const char* name, Ref value);

// tp_new of the classes that Python code may not instantiate.
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// Adds `name` to `module`'s __all__ (made on first use) and then as an attribute.
void add_to_module(PyObject* module, const char* name, PyObject* value);

}  // namespace tornquil::capi
