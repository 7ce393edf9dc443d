#include "env_binding/py.hpp"

#include <cstring>
#include <exception>
#include <new>

#include "base/error.hpp"

namespace tornquil::env::py {
namespace {

void raise_panic(const ModuleState& state, const char* message) noexcept {
  PyErr_SetString(state.panic_exception ? state.panic_exception : PyExc_SystemError, message);
}

std::string positional_count(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " positional argument" : " positional arguments");
}

std::string type_name(PyObject* object) {
  const char* name = Py_TYPE(object)->tp_name;
  const char* last_dot = std::strrchr(name, '.');
  return last_dot ? last_dot + 1 : name;
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
  if (!PyErr_Occurred())
    PyErr_SetString(PyExc_SystemError, "a call failed without setting an error");
  throw ErrorAlreadySet{};
}

void translate_current_exception(const ModuleState& state) noexcept {
  try {
    throw;
  } catch (const ErrorAlreadySet&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error indicator lost");
  } catch (const InternalFault& fault) {
    raise_panic(state, fault.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    raise_panic(state, error.what());
  } catch (...) {
    raise_panic(state, "unknown C++ exception");
  }
}

void Argument::refuse(const std::string& reason) const {
  raise(PyExc_TypeError, std::string("argument '") + name + "': " + reason);
}

void bind_arguments(const char* function, std::span<const char* const> names, std::size_t required,
                    PyObject* args, PyObject* kwargs, std::span<Argument> bound) {
  const std::size_t given = args ? static_cast<std::size_t>(PyTuple_GET_SIZE(args)) : 0;
  if (given > names.size()) {
    raise(PyExc_TypeError, std::string(function) + "() takes " + positional_count(names.size()) +
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
        raise(PyExc_TypeError,
              std::string(function) + "() got an unexpected keyword argument '" + keyword + "'");
      }
      if (bound[i].object != nullptr) {
        raise(PyExc_TypeError,
              std::string(function) + "() got multiple values for argument '" + keyword + "'");
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
  if (!PyIndex_Check(argument.object)) {
    argument.refuse("'" + type_name(argument.object) +
                    "' object cannot be interpreted as an integer");
  }
  const Ref index = Ref::checked(PyNumber_Index(argument.object));
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) raise_already_set();
  return value;
}

std::optional<std::uint64_t> to_optional_u64(const Argument& argument) {
  if (argument.absent_or_none()) return std::nullopt;
  return to_u64(argument);
}

std::string to_text(const Argument& argument) {
  if (!PyUnicode_Check(argument.object))
    argument.refuse("expected str, got " + type_name(argument.object));
  const char* utf8 = PyUnicode_AsUTF8(argument.object);
  if (utf8 == nullptr) raise_already_set();
  return utf8;
}

Ref integer(std::size_t value) { return Ref::checked(PyLong_FromSize_t(value)); }

Ref text(const std::string& value) {
  return Ref::checked(
      PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size())));
}

Ref bytes(const void* data, std::size_t size) {
  return Ref::checked(
      PyBytes_FromStringAndSize(static_cast<const char*>(data), static_cast<Py_ssize_t>(size)));
}

}  // namespace tornquil::env::py
