// The C++ layer over the CPython C API that both extension modules share: owned references,
// errors raised as C++ exceptions, and the one argument parser with its conversions. Nothing here
// knows a module or a game. Everything here is called with the interpreter lock held.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if defined(__GLIBCXX__)
#endif

#include <array>
#include <concepts>
#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace tornquil::capi {

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
[[nodiscard]] Ref text(std::string_view utf8);
[[nodiscard]] Ref integer(std::size_t value);
[[nodiscard]] Ref bytes(const void* data, std::size_t size);

// Holds `object`'s own lock for the length of a scope in a free-threaded interpreter, where
// Python threads run at once. Elsewhere the interpreter lock already lets one thread at a time
// into a call, and this does nothing. The scope must not wait for another Python thread.
class ObjectLock {
 public:
  explicit ObjectLock(PyObject* object) {
#ifdef Py_GIL_DISABLED
    PyCriticalSection_Begin(&section_, object);
#else
    (void)object;
#endif
  }
  ~ObjectLock() {
#ifdef Py_GIL_DISABLED
    PyCriticalSection_End(&section_);
#endif
  }
  ObjectLock(const ObjectLock&) = delete;
  ObjectLock& operator=(const ObjectLock&) = delete;

 private:
#ifdef Py_GIL_DISABLED
  PyCriticalSection section_;
#endif
};

// Thrown once a Python exception has been set; `guarded` passes it on to the interpreter.
struct ErrorAlreadySet {};

// Inside a handler: whether the exception being handled is the unwinding with which the C library
// ends a thread (an interpreter that is shutting down ends this way any other thread that asks
// for its lock), or another that no C++ object carries. It must pass every handler untouched (a
// handler that swallows it aborts the process) and must meet no frame that may not throw. No
// exception_ptr can hold it, which is how it is told; a handler of its type would bind a
// reference to no object.
[[nodiscard]] inline bool handling_thread_exit() { return !std::current_exception(); }

[[noreturn]] void raise(PyObject* type, const std::string& message);
[[noreturn]] void raise_already_set();

// The type's own name without its module, as the interpreter's messages show it.
[[nodiscard]] std::string type_name(PyObject* object);
[[nodiscard]] std::string class_name(PyTypeObject* type);
// repr(object), as messages quote a value.
[[nodiscard]] std::string repr_text(PyObject* object);
// "'int' object cannot be converted to 'Card'": the standard conversion failure.
[[nodiscard]] std::string conversion_failure(PyObject* object, const char* target);

// Turns the exception being handled into the Python error it stands for, internal faults into
// `panic_type` (SystemError when there is none). Call only from a catch block.
void translate_exception(PyObject* panic_type) noexcept;

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

// A real number (anything with __float__ or __index__, but no truth value: True is no number of
// seconds); other kinds raise TypeError naming the parameter.
[[nodiscard]] double to_double(const Argument& argument);

// A str argument as UTF-8; other kinds raise TypeError naming the parameter.
[[nodiscard]] std::string to_string(const Argument& argument);
// The same, or none for a str that UTF-8 cannot hold (a lone surrogate).
[[nodiscard]] std::optional<std::string> to_string_if_encodable(const Argument& argument);

// Calls `each` with every element of a sequence argument (a str is not taken as a sequence of
// its characters).
template <typename Each>
void for_each_item(const Argument& argument, Each&& each) {
  if (!PySequence_Check(argument.object) || PyUnicode_Check(argument.object)) {
    argument.refuse(conversion_failure(argument.object, "Sequence"));
  }
  // A tuple of its own: the items stay put whatever other threads do to a list meanwhile.
  const Ref items = Ref::checked(PySequence_Tuple(argument.object));
  const Py_ssize_t count = PyTuple_Size(items.get());
  for (Py_ssize_t i = 0; i < count; ++i) each(PyTuple_GetItem(items.get(), i));
}
}  // namespace tornquil::capi
