// What the environment's native module adds to the shared C-API layer: its module state and its
// `guarded`, which finds that state from the object, class or module an entry point was called
// on. Everything here is called with the interpreter lock held.
#pragma once

#include "capi/capi.hpp"
#include "capi/module.hpp"
#include "capi/object.hpp"

namespace tornquil::env::py {

using namespace tornquil::capi;

// What one instance of the module owns: its one class and its fault exception.
struct ModuleState : ModuleBase {
  PyTypeObject* game_type = nullptr;

  template <typename Visit>
  void for_each_reference(Visit&& visit) {
    visit(panic_exception);
    visit(game_type);
  }
};

template <typename Anchor, typename Body>
[[nodiscard]] PyObject* guarded(Anchor* anchor, Body&& body) {
  return capi::guarded<ModuleState>(anchor, std::forward<Body>(body));
}

}  // namespace tornquil::env::py
