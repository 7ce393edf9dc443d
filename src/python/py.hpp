// The thin C++ layer over the CPython C API that every binding file uses: owned references,
// the one argument parser with its conversions, native values boxed in Python objects, and
// `guarded`, through which every entry point runs so that no C++ exception reaches the
// interpreter. Everything here is called with the interpreter lock held.
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

namespace tornquil::py {

// A strong reference: takes over a new reference and releases it on destruction.
class Ref {
 public:
  Ref() = default;
  // Takes over `object`, which may be null.
  [[nodiscard]] static Ref steal(PyObject* object) { return Ref(object); }
  // Takes over a new reference returned by the C API; null means the call failed with a
  // Python error set, which is thrown on as ErrorAlreadySet.
  [[nodiscard]] static Ref checked(PyObject* object);
  [[nodiscard]] static Ref borrow(PyObject* object) {
    Py_XINCREF(object);
    return Ref(object);
  }

  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    Ref(std::move(other)).swap(*this);
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(object_); }

  [[nodiscard]] PyObject* get() const { return object_; }
  // Hands the reference to the caller, who now owns it.
  [[nodiscard]] PyObject* release() { return std::exchange(object_, nullptr); }
  void reset() { Ref().swap(*this); }
  explicit operator bool() const { return object_ != nullptr; }
  void swap(Ref& other) noexcept { std::swap(object_, other.object_); }

 private:
  explicit Ref(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

[[nodiscard]] inline Ref none() { return Ref::borrow(Py_None); }
[[nodiscard]] inline Ref boolean(bool value) { return Ref::borrow(value ? Py_True : Py_False); }
[[nodiscard]] inline Ref not_implemented() { return Ref::borrow(Py_NotImplemented); }

// Thrown once a Python exception has been set; `guarded` passes it on to the interpreter.
struct ErrorAlreadySet {};

[[noreturn]] void raise(PyObject* type, const std::string& message);
[[noreturn]] void raise_already_set();

// The type's own name without its module, as the interpreter's messages show it.
[[nodiscard]] std::string type_name(PyObject* object);
// repr(object), as messages quote a value.
[[nodiscard]] std::string repr_text(PyObject* object);
// "'int' object cannot be converted to 'Card'": the standard conversion failure.
[[nodiscard]] std::string conversion_failure(PyObject* object, const char* target);

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

// One parameter's argument of a call: the object given, or null when it was left out.
struct Argument {
  const char* name;
  PyObject* object;

  [[nodiscard]] bool absent_or_none() const { return object == nullptr || object == Py_None; }
  // Raises TypeError "argument '<name>': <reason>".
  [[noreturn]] void refuse(const std::string& reason) const;
};

// Binds the arguments of a call by position or keyword to `names`, of which the first
// `required` must be given and only the first `positional` may be given by position (the rest
// are keyword-only). Too many, unknown, repeated or missing arguments raise TypeError.
inline constexpr std::size_t all_positional = std::numeric_limits<std::size_t>::max();
void bind_arguments(const char* function, std::span<const char* const> names, std::size_t required,
                    PyObject* args, PyObject* kwargs, std::span<Argument> bound,
                    std::size_t positional = all_positional);

template <std::size_t K>
[[nodiscard]] std::array<Argument, K> parse_arguments(const char* function,
                                                      const std::array<const char*, K>& names,
                                                      std::size_t required, PyObject* args,
                                                      PyObject* kwargs,
                                                      std::size_t positional = all_positional) {
  std::array<Argument, K> bound{};
  bind_arguments(function, names, required, args, kwargs, bound, positional);
  return bound;
}

// An integer argument (anything with __index__) as an unsigned 64-bit value. Other kinds raise
// TypeError naming the parameter; negative or too large values raise the interpreter's own
// OverflowError.
[[nodiscard]] std::uint64_t to_u64(const Argument& argument);
[[nodiscard]] std::optional<std::uint64_t> to_optional_u64(const Argument& argument);

// Narrower unsigned integers: out of range raises OverflowError without naming the parameter.
template <std::unsigned_integral T>
[[nodiscard]] T to_unsigned(const Argument& argument) {
  const std::uint64_t value = to_u64(argument);
  if (value > std::numeric_limits<T>::max()) {
    raise(PyExc_OverflowError, "out of range integral type conversion attempted");
  }
  return static_cast<T>(value);
}

// Exactly True or False; integers are refused.
[[nodiscard]] bool to_exact_bool(const Argument& argument);

// A real number (anything with __float__ or __index__); other kinds raise TypeError naming the
// parameter.
[[nodiscard]] double to_double(const Argument& argument);

// A str argument as UTF-8; other kinds raise TypeError naming the parameter.
[[nodiscard]] std::string to_string(const Argument& argument);

// Calls `each` with every element of a sequence argument (a str is not taken as a sequence of
// its characters).
template <typename Each>
void for_each_item(const Argument& argument, Each&& each) {
  if (!PySequence_Check(argument.object) || PyUnicode_Check(argument.object)) {
    argument.refuse(conversion_failure(argument.object, "Sequence"));
  }
  const Ref items = Ref::checked(PySequence_Fast(argument.object, "expected a sequence"));
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.get());
  for (Py_ssize_t i = 0; i < count; ++i) each(PySequence_Fast_GET_ITEM(items.get(), i));
}

// A native value of type T boxed in a Python object. Every class of the module is one of these.
template <typename T>
struct Object {
  PyObject_HEAD
  T value;
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
