#include "env_binding/py.hpp"

namespace tornquil::env::py {

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
