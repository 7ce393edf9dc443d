// _tornquil_companion: the native side of the companion modules (the solver's, the command
// line's), built into the same library as `tornquil` so that it can take that module's state
// objects and hand back its action objects. Python code reaches it through `_tornquil_native`,
// which loads it from that library. Multi-phase initialisation: each interpreter gets its own.
#include "companion/engine_objects.hpp"
#include "companion/solver_objects.hpp"
#include "players/input_player.hpp"

namespace tornquil::companion {
namespace {

// The console player's dialogue on the state inside a state object, as a seat of a game would
// hold it: the same prompt, line rule and answers, and Ctrl-C felt while it waits.
PyObject* console_play(PyObject* module, PyObject* args, PyObject* kwargs) {
  return guarded_in_module<ModuleState>(module, [&](const ModuleState&) {
    const auto [state] = parse_arguments("console_play", std::array{"state"}, 1, args, kwargs);
    const StateEnum game_state = to_state(state);
    // A state object came from the engine module whose actions the caller can use.
    const py::ModuleState& engine = *engine_state_of(state.object);
    InputPlayer player;
    return py::action_to_python(engine, py::decide(player, game_state));
  });
}

PyMethodDef functions[] = {
    {"console_play", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&console_play)),
     METH_VARARGS | METH_KEYWORDS,
     "Asks the person at the console for an action on a state, as the console player does."},
    {"solve", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&solve)),
     METH_VARARGS | METH_KEYWORDS,
     "Solves a position with every card known: (verdict, line, best level, nodes, seconds)."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
  return guarded_exec<ModuleState>(module, [module](ModuleState& state) {
    create_panic_exception(state, "_tornquil_companion.PanicException");
    add_solver_player_class(state, module);
    add_fair_player_class(state, module);
  });
}

PyModuleDef module_def = module_definition<ModuleState, &exec_module>(
    "_tornquil_companion", "The native side of tornquil's companion modules.", functions);

}  // namespace
}  // namespace tornquil::companion

PyMODINIT_FUNC PyInit__tornquil_companion() {
  return PyModuleDef_Init(&tornquil::companion::module_def);
}
