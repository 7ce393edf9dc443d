// The Python face shared by the module's enumerations (CardSuit, CardValue, GameResult): single
// class attributes per value, int() of the number, "Prefix.Name" as repr, and an == that takes
// integers as numbers. Everything else (!=, ordering, hashing) is left to the interpreter.
#pragma once

#include <span>
#include <string>

#include "python/py.hpp"

namespace tornquil::py {

template <typename E>
struct EnumFace {
  const char* repr_prefix;             // "CardSuit" gives "CardSuit.Spades"
  std::span<const char* const> names;  // indexed by the value's number
};

template <typename E>
inline EnumFace<E> enum_face{};

template <typename E>
[[nodiscard]] long enum_number(PyObject* object) {
  return static_cast<long>(value_of<E>(object));
}

template <typename E>
PyObject* enum_repr(PyObject* self) {
  return guarded(self, [&](const ModuleState&) {
    const std::string text = std::string(enum_face<E>.repr_prefix) + "." +
                             enum_face<E>.names[static_cast<std::size_t>(enum_number<E>(self))];
    return Ref::checked(PyUnicode_FromString(text.c_str()));
  });
}

template <typename E>
PyObject* enum_int(PyObject* self) {
  return guarded(self, [&](const ModuleState&) {
    return Ref::checked(PyLong_FromLong(enum_number<E>(self)));
  });
}

// An integer compares by number (one too large for a C long equals no value); a value of the
// same class compares by value; anything else is a conversion failure.
template <typename E>
bool enum_equals(const ModuleState& module, PyObject* self, PyObject* other) {
  if (PyIndex_Check(other)) {
    const Ref index = Ref::checked(PyNumber_Index(other));
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (number == -1 && PyErr_Occurred()) raise_already_set();
    return overflow == 0 && number == enum_number<E>(self);
  }
  if (const E* value = value_if<E>(module, other)) return *value == value_of<E>(self);
  raise(PyExc_TypeError, conversion_failure(other, class_name(module.type<E>()).c_str()));
}

template <typename E>
PyObject* enum_compare(PyObject* self, PyObject* other, int op) {
  return guarded(self, [&](const ModuleState& module) {
    if (op != Py_EQ) return not_implemented();
    return boolean(enum_equals<E>(module, self, other));
  });
}

// The enumeration's class with one class attribute per value, named as in `face`. `methods`
// is a null-terminated method table, possibly holding only the terminator.
template <typename E>
PyTypeObject* make_enum_type(ModuleBuilder& builder, const char* type_name, const EnumFace<E>& face,
                             PyMethodDef* methods) {
  enum_face<E> = face;
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&no_constructor)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<E>)},
      {Py_tp_repr, reinterpret_cast<void*>(&enum_repr<E>)},
      {Py_tp_richcompare, reinterpret_cast<void*>(&enum_compare<E>)},
      {Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)},
      {Py_nb_int, reinterpret_cast<void*>(&enum_int<E>)},
      {Py_tp_methods, methods},
      {0, nullptr},
  };
  PyTypeObject* type = builder.make_class<E>(type_name, slots);
  for (std::size_t number = 0; number < face.names.size(); ++number) {
    add_class_attribute(type, face.names[number], wrap(builder.state, static_cast<E>(number)));
  }
  return type;
}

}  // namespace tornquil::py
