// What the companion module offers: a function that solves one position, a seat that plays the
// solver's lines, and a seat that decides only from what it can see.
#pragma once

#include "companion/engine_objects.hpp"

namespace tornquil::companion {

// What one instance of the companion module owns.
struct ModuleState : ModuleBase {
  PyTypeObject* solver_player_type = nullptr;
  PyTypeObject* fair_player_type = nullptr;

  template <typename Visit>
  void for_each_reference(Visit&& visit) {
    visit(panic_exception);
    visit(solver_player_type);
    visit(fair_player_type);
  }
};

template <typename Anchor, typename Body>
[[nodiscard]] PyObject* guarded(Anchor* anchor, Body&& body) {
  return capi::guarded<ModuleState>(anchor, std::forward<Body>(body));
}

// solve(state=None, *, players=None, seed=None, nodes=..., seconds=None, table_mib=256)
PyObject* solve(PyObject* module, PyObject* args, PyObject* kwargs);

// Make the SolverPlayer and FairPlayer classes of the module being built.
void add_solver_player_class(ModuleState& state, PyObject* module);
void add_fair_player_class(ModuleState& state, PyObject* module);

}  // namespace tornquil::companion
