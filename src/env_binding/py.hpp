// The thin C++ layer over the CPython C API for the environment's native module: owned
// references, argument binding, and `guarded`, through which every entry point runs so that no
// C++ exception reaches the interpreter. The module keeps what it creates in its module state, so
// each of its instances (one per interpreter) has its own. Everything here is called with the
// interpreter lock held.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace tornquil::env::py {

// A strong reference: takes over a new reference and releases it on destruction.
class Ref {
 public:
  Ref() = default;
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
  [[nodiscard]] PyObject* release() { return std::exchange(object_, nullptr); }
  explicit operator bool() const { return object_ != nullptr; }
  void swap(Ref& other) noexcept { std::swap(object_, other.object_); }

 private:
  explicit Ref(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

[[nodiscard]] inline Ref none() { return Ref::borrow(Py_None); }

// Thrown once a Python exception has been set; `guarded` passes it on to the interpreter.
struct ErrorAlreadySet {};

[[noreturn]] void raise(PyObject* type, const std::string& message);
[[noreturn]] void raise_already_set();

// What one instance of the module owns.
struct ModuleState {
  PyObject* game_type = nullptr;
  // Internal faults become this, derived directly from BaseException like the engine's own.
  PyObject* panic_exception = nullptr;
};

[[nodiscard]] inline ModuleState& module_state(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}
// The state of the module that made `type`.
[[nodiscard]] inline ModuleState& module_state_of(PyTypeObject* type) {
  return *static_cast<ModuleState*>(PyType_GetModuleState(type));
}

// Turns the exception being handled into the Python error it stands for. Call only from a
// catch block.
void translate_current_exception(const ModuleState& state) noexcept;

// Runs an entry point's body, which returns the result as a Ref; any exception becomes the
// matching Python error and a null result.
template <typename Body>
[[nodiscard]] PyObject* guarded(const ModuleState& state, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)().release();
  } catch (...) {
    translate_current_exception(state);
    return nullptr;
  }
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
// `required` must be given. Too many, unknown, repeated or missing arguments raise TypeError.
void bind_arguments(const char* function, std::span<const char* const> names, std::size_t required,
                    PyObject* args, PyObject* kwargs, std::span<Argument> bound);

template <std::size_t K>
[[nodiscard]] std::array<Argument, K> parse_arguments(const char* function,
                                                      const std::array<const char*, K>& names,
                                                      std::size_t required, PyObject* args,
                                                      PyObject* kwargs) {
  std::array<Argument, K> bound{};
  bind_arguments(function, names, required, args, kwargs, bound);
  return bound;
}

// An integer argument (anything with __index__) as an unsigned 64-bit value. Other kinds raise
// TypeError naming the parameter; negative or too large values raise OverflowError.
[[nodiscard]] std::uint64_t to_u64(const Argument& argument);
[[nodiscard]] std::optional<std::uint64_t> to_optional_u64(const Argument& argument);
[[nodiscard]] std::string to_text(const Argument& argument);

[[nodiscard]] Ref integer(std::size_t value);
[[nodiscard]] Ref text(const std::string& value);
[[nodiscard]] Ref bytes(const void* data, std::size_t size);

}  // namespace tornquil::env::py
