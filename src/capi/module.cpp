#include "capi/module.hpp"

namespace tornquil::capi {

void create_panic_exception(ModuleBase& state, const char* qualified_name) {
  Py_CLEAR(state.panic_exception);
  state.panic_exception =
      Ref::checked(PyErr_NewException(qualified_name, PyExc_BaseException, nullptr)).release();
}

}  // namespace tornquil::capi
