// _tornquil_env: the native side of the learning environment. One class, Game, holds a state and,
// once the game is over, its result; it speaks in action indices and observation vectors, which
// the pure-Python environment wraps in the conventions of the agent libraries. Built with
// multi-phase initialisation: each import in each interpreter gets a module with its own state.
#include <array>
#include <optional>
#include <string>

#include "env/encoding.hpp"
#include "env_binding/py.hpp"

namespace tornquil::env::py {
namespace {

struct Game {
  StateEnum state;
  std::optional<GameResult> result;
};

// The game inside `self`, under the object's own lock for as long as this lives, so that threads
// that share a game take turns with it.
class Locked {
 public:
  explicit Locked(PyObject* self) : lock_(self), game_(value_of<Game>(self)) {}
  Game& operator*() const { return game_; }
  Game* operator->() const { return &game_; }

 private:
  ObjectLock lock_;
  Game& game_;
};

Ref wrap_game(const ModuleState& module, Game game) {
  return box(module.game_type, std::move(game));
}

Information to_information(const Argument& argument) {
  const std::optional<std::string> name = to_string_if_encodable(argument);
  if (name) {
    if (const std::optional<Information> information = information_named(*name))
      return *information;
  }
  // A name that UTF-8 cannot hold (a lone surrogate) is shown as Python writes it.
  const std::string shown = name ? "'" + *name + "'" : repr_text(argument.object);
  raise(PyExc_ValueError, "information must be 'own' or 'full', not " + shown);
}

std::size_t to_seat(const Argument& argument, const StateEnum& state) {
  const std::uint64_t seat = to_u64(argument);
  if (seat >= state.player_count()) {
    raise(PyExc_ValueError, "seat " + std::to_string(seat) + " is not a seat of this " +
                                std::to_string(state.player_count()) + "-player game");
  }
  return static_cast<std::size_t>(seat);
}

Ref result_name(const std::optional<GameResult>& result) {
  if (!result) return none();
  return text(result->is_won() ? "Won" : "Lost");
}

PyObject* new_game(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(type, [&](const ModuleState& module) {
    const auto [players, seed] =
        parse_arguments("Game", std::array{"players", "seed"}, 1, args, kwargs);
    auto created = StateEnum::create(to_u64(players), to_optional_u64(seed));
    const StateEnum* state = std::get_if<StateEnum>(&created);
    if (state == nullptr) raise(PyExc_ValueError, "Only 1-4 players are allowed");
    return wrap_game(module, Game{*state, std::nullopt});
  });
}

PyObject* player_count(PyObject* self, PyObject*) {
  return guarded(self,
                 [&](const ModuleState&) { return integer(Locked(self)->state.player_count()); });
}

PyObject* has_turn(PyObject* self, PyObject*) {
  return guarded(self,
                 [&](const ModuleState&) { return integer(Locked(self)->state.has_turn().index); });
}

// An ended game offers nothing.
PyObject* legal_mask(PyObject* self, PyObject*) {
  return guarded(self, [&](const ModuleState&) {
    const Locked game(self);
    std::array<std::int8_t, action_count> mask{};
    if (!game->result) mask = env::legal_mask(game->state);
    return bytes(mask.data(), mask.size());
  });
}

PyObject* legal_indices(PyObject* self, PyObject*) {
  return guarded(self, [&](const ModuleState&) {
    const Locked game(self);
    Ref list = Ref::checked(PyList_New(0));
    if (game->result) return list;
    for (const std::size_t index : env::legal_indices(game->state)) {
      if (PyList_Append(list.get(), integer(index).get()) < 0) raise_already_set();
    }
    return list;
  });
}

PyObject* step(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded(self, [&](const ModuleState&) {
    const auto [index_argument] = parse_arguments("step", std::array{"index"}, 1, args, kwargs);
    const std::uint64_t index = to_u64(index_argument);
    const Locked game(self);
    if (game->result) raise(PyExc_RuntimeError, "the game has ended");
    const std::optional<Action> action =
        index < action_count ? legal_action_at(game->state, static_cast<std::size_t>(index))
                             : std::nullopt;
    if (!action)
      raise(PyExc_ValueError, "action " + std::to_string(index) + " is not legal in this state");
    game->result = game->state.take_action(*action);
    return result_name(game->result);
  });
}

PyObject* result(PyObject* self, PyObject*) {
  return guarded(self, [&](const ModuleState&) { return result_name(Locked(self)->result); });
}

// The enemies defeated so far; all twelve once the game is won.
PyObject* level(PyObject* self, PyObject*) {
  return guarded(self, [&](const ModuleState&) {
    const Locked game(self);
    return integer(game->result ? game->result->score() : game->state.reward());
  });
}

PyObject* observation(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded(self, [&](const ModuleState&) {
    const auto [seat, information] =
        parse_arguments("observation", std::array{"seat", "information"}, 2, args, kwargs);
    const Locked game(self);
    const std::vector<float> values =
        observe(game->state, to_seat(seat, game->state), to_information(information));
    return bytes(values.data(), values.size() * sizeof(float));
  });
}

PyObject* action_text(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded(self, [&](const ModuleState&) {
    const auto [index_argument] =
        parse_arguments("action_text", std::array{"index"}, 1, args, kwargs);
    const std::uint64_t index = to_u64(index_argument);
    const Locked game(self);
    const std::optional<Action> action =
        index < action_count
            ? action_at(static_cast<std::size_t>(index), game->state.current_hand())
            : std::nullopt;
    if (!action)
      raise(PyExc_ValueError,
            "action " + std::to_string(index) + " cannot be formed from this hand");
    return text(debug_text(*action));
  });
}

PyObject* copy(PyObject* self, PyObject*) {
  return guarded(self, [&](const ModuleState& module) { return wrap_game(module, *Locked(self)); });
}

PyObject* resample(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded(self, [&](const ModuleState& module) {
    const auto [seat, seed] =
        parse_arguments("resample_hidden", std::array{"seat", "seed"}, 2, args, kwargs);
    const Locked game(self);
    if (game->result) raise(PyExc_RuntimeError, "the game has ended");
    return wrap_game(
        module,
        Game{resample_hidden(game->state, to_seat(seat, game->state), to_u64(seed)), std::nullopt});
  });
}

PyObject* display(PyObject* self) {
  return guarded(self,
                 [&](const ModuleState&) { return text(Locked(self)->state.display_text()); });
}

PyMethodDef game_methods[] = {
    {"player_count", &player_count, METH_NOARGS, "The number of seats."},
    {"has_turn", &has_turn, METH_NOARGS, "The seat to move."},
    {"legal_mask", &legal_mask, METH_NOARGS,
     "One byte per action index: 1 where the action is legal."},
    {"legal_indices", &legal_indices, METH_NOARGS,
     "The legal action indices in the order the rules list them."},
    {"step", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&step)),
     METH_VARARGS | METH_KEYWORDS,
     "Takes the action at the index; returns 'Won' or 'Lost' when that ends the game, else None."},
    {"result", &result, METH_NOARGS, "'Won', 'Lost', or None while the game goes on."},
    {"level", &level, METH_NOARGS, "The enemies defeated."},
    {"observation", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&observation)),
     METH_VARARGS | METH_KEYWORDS, "The observation vector of a seat as float32 bytes."},
    {"action_text", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&action_text)),
     METH_VARARGS | METH_KEYWORDS, "The text of the action an index stands for in this state."},
    {"copy", &copy, METH_NOARGS, "An independent copy."},
    {"resample_hidden", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&resample)),
     METH_VARARGS | METH_KEYWORDS,
     "A game the seat cannot tell from this one, its hidden cards dealt anew."},
    {nullptr, nullptr, 0, nullptr},
};

#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned int immutable_type = Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned int immutable_type = 0;
#endif

PyType_Slot game_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&new_game)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<Game>)},
    {Py_tp_str, reinterpret_cast<void*>(&display)},
    {Py_tp_methods, game_methods},
    {0, nullptr},
};

PyType_Spec game_spec = {
    .name = "_tornquil_env.Game",
    .basicsize = sizeof(Object<Game>),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | immutable_type,
    .slots = game_slots,
};

PyObject* observation_size(PyObject* module, PyObject* args, PyObject* kwargs) {
  return guarded_in_module<ModuleState>(module, [&](const ModuleState&) {
    const auto [information] =
        parse_arguments("observation_size", std::array{"information"}, 1, args, kwargs);
    return integer(env::observation_size(to_information(information)));
  });
}

PyObject* observation_high(PyObject* module, PyObject* args, PyObject* kwargs) {
  return guarded_in_module<ModuleState>(module, [&](const ModuleState&) {
    const auto [information] =
        parse_arguments("observation_high", std::array{"information"}, 1, args, kwargs);
    const std::vector<float> high = env::observation_high(to_information(information));
    return bytes(high.data(), high.size() * sizeof(float));
  });
}

void add_object(PyObject* module, const char* name, Ref value) {
  if (PyModule_AddObject(module, name, value.get()) < 0) raise_already_set();
  (void)value.release();
}

Ref action_blocks() {
  const std::array<std::pair<const char*, ActionBlock>, 6> blocks = {{
      {"play", play_block},
      {"animal_combo", animal_combo_block},
      {"combo", combo_block},
      {"yield", yield_block},
      {"discard", discard_block},
      {"change_player", change_player_block},
  }};
  Ref dict = Ref::checked(PyDict_New());
  for (const auto& [name, block] : blocks) {
    const Ref range = Ref::checked(Py_BuildValue("(nn)", static_cast<Py_ssize_t>(block.first),
                                                 static_cast<Py_ssize_t>(block.count)));
    if (PyDict_SetItemString(dict.get(), name, range.get()) < 0) raise_already_set();
  }
  return dict;
}

int exec_module(PyObject* module) {
  return guarded_exec<ModuleState>(module, [module](ModuleState& state) {
    create_panic_exception(state, "_tornquil_env.PanicException");
    state.game_type = reinterpret_cast<PyTypeObject*>(
        Ref::checked(PyType_FromModuleAndSpec(module, &game_spec, nullptr)).release());
    if (PyModule_AddType(module, state.game_type) < 0) raise_already_set();
    add_object(module, "ACTION_COUNT", integer(action_count));
    add_object(module, "ACTION_BLOCKS", action_blocks());
  });
}

PyMethodDef module_functions[] = {
    {"observation_size",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&observation_size)),
     METH_VARARGS | METH_KEYWORDS,
     "The length of an observation with 'own' or 'full' information."},
    {"observation_high",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&observation_high)),
     METH_VARARGS | METH_KEYWORDS,
     "The largest value of each observation entry, as float32 bytes."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = module_definition<ModuleState, &exec_module>(
    "_tornquil_env",
    "The native side of tornquil_env: action indices, legal masks and observation vectors.",
    module_functions);

}  // namespace
}  // namespace tornquil::env::py

PyMODINIT_FUNC PyInit__tornquil_env() { return PyModuleDef_Init(&tornquil::env::py::module_def); }
