#include "capi/capi.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>

#include "base/error.hpp"

namespace tornquil::capi {
namespace {

void raise_panic(PyObject* panic_type, const char* message) noexcept {
  PyErr_SetString(panic_type != nullptr ? panic_type : PyExc_SystemError, message);
}

// The message of the pending error, which is cleared, when it is of `type`; otherwise the
// error stays pending and nothing is returned.
std::optional<std::string> take_message_if(PyObject* type) {
  if (!PyErr_ExceptionMatches(type)) return std::nullopt;
#if PY_VERSION_HEX >= 0x030C0000 && (!defined(Py_LIMITED_API) || Py_LIMITED_API >= 0x030C0000)
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
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), nullptr);
  if (utf8 == nullptr) raise_already_set();
  return std::string(utf8);
}

// True and False, and NumPy's, which are no int and so carry no __index__ of their own.
bool is_truth_value(PyObject* object) {
  if (PyBool_Check(object)) return true;
  const std::string name = type_name(object);
  if (name != "bool_" && name != "bool") return false;
  const Ref module = Ref::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__module__"));
  if (!module) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_Check(module.get()) &&
         PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0;
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

Ref text(std::string_view utf8) {
  return Ref::checked(
      PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
}

Ref integer(std::size_t value) { return Ref::checked(PyLong_FromSize_t(value)); }

Ref bytes(const void* data, std::size_t size) {
  return Ref::checked(
      PyBytes_FromStringAndSize(static_cast<const char*>(data), static_cast<Py_ssize_t>(size)));
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

std::string class_name(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030B0000
  const Ref name = Ref::checked(PyType_GetName(type));
  const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), nullptr);
  if (utf8 == nullptr) raise_already_set();
  return utf8;
#else
  const char* name = type->tp_name;
  const char* last_dot = std::strrchr(name, '.');
  return last_dot ? last_dot + 1 : name;
#endif
}

std::string type_name(PyObject* object) { return class_name(Py_TYPE(object)); }

std::string repr_text(PyObject* object) {
  const Ref text = Ref::checked(PyObject_Repr(object));
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), nullptr);
  if (utf8 == nullptr) raise_already_set();
  return utf8;
}

std::string conversion_failure(PyObject* object, const char* target) {
  return "'" + type_name(object) + "' object cannot be converted to '" + target + "'";
}

void translate_exception(PyObject* panic_type) noexcept {
  try {
    throw;
  } catch (const ErrorAlreadySet&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error indicator lost");
  } catch (const InternalFault& fault) {
    raise_panic(panic_type, fault.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::system_error& error) {
    // The machine refused a resource (a thread, say): an ordinary error, not a broken invariant.
    PyErr_SetString(PyExc_RuntimeError, error.what());
  } catch (const std::exception& error) {
    raise_panic(panic_type, error.what());
  } catch (...) {
    raise_panic(panic_type, "unknown C++ exception");
  }
}

void Argument::refuse(const std::string& reason) const {
  raise(PyExc_TypeError, std::string("argument '") + name + "': " + reason);
}

void bind_arguments(const char* function, std::span<const char* const> names, std::size_t required,
                    PyObject* args, PyObject* kwargs, std::span<Argument> bound,
                    std::size_t positional) {
  const std::size_t given = args ? static_cast<std::size_t>(PyTuple_Size(args)) : 0;
  const std::size_t most = std::min(positional, names.size());
  if (given > most) {
    raise(PyExc_TypeError, std::string(function) + "() takes " + positional_count(most) + " but " +
                               std::to_string(given) + " were given");
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    bound[i] = {names[i], i < given ? PyTuple_GetItem(args, static_cast<Py_ssize_t>(i)) : nullptr};
  }
  if (kwargs != nullptr) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t position = 0;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      const char* keyword = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, nullptr) : nullptr;
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
  if (!PyBool_Check(argument.object)) argument.refuse(conversion_failure(argument.object, "bool"));
  return argument.object == Py_True;
}

double to_double(const Argument& argument) {
  if (is_truth_value(argument.object) ||
      (!PyFloat_Check(argument.object) && !PyNumber_Check(argument.object))) {
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
  std::optional<std::string> text = to_string_if_encodable(argument);
  if (!text) raise_already_set();
  return std::move(*text);
}

std::optional<std::string> to_string_if_encodable(const Argument& argument) {
  if (!PyUnicode_Check(argument.object)) {
    argument.refuse("must be str, not " + type_name(argument.object));
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(argument.object, &size);
  if (utf8 == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) raise_already_set();
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string(utf8, static_cast<std::size_t>(size));
}

}  // namespace tornquil::capi
