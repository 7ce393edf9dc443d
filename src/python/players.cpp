// The built-in players' classes in the `players` module, and the conversion of a game's player
// list entries into seats.
#include <array>

#include "python/classes.hpp"

namespace tornquil::py {
namespace {

PyObject* new_random_player(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    const auto [seed] = parse_arguments("RandomPlayer", std::array{"seed"}, 0, args, kwargs);
    return wrap(RandomPlayer(to_optional_u64(seed)));
  });
}

PyMethodDef random_player_methods[] = {
    {"play", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&native_play_method<RandomPlayer>)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* make_random_player_type() {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&new_random_player)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<RandomPlayer>)},
      {Py_tp_methods, random_player_methods},
      {0, nullptr},
  };
  return reinterpret_cast<PyObject*>(make_type<RandomPlayer>("RandomPlayer", slots));
}

// Takes no parameters; whatever is passed is ignored.
PyObject* new_input_player(PyTypeObject*, PyObject*, PyObject*) {
  return guarded([] { return wrap(InputPlayer{}); });
}

// `play` lets a Python seat put something of its own before the person's prompt (the command's
// hints) and still leave the prompt and the reading to the console player.
PyMethodDef input_player_methods[] = {
    {"play", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&native_play_method<InputPlayer>)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* make_input_player_type() {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&new_input_player)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<InputPlayer>)},
      {Py_tp_methods, input_player_methods},
      {0, nullptr},
  };
  return reinterpret_cast<PyObject*>(make_type<InputPlayer>("InputPlayer", slots));
}

PyObject* new_mcts_player(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    const auto [playouts, num_threads, use_heuristics, policy_variation] = parse_arguments(
        "MCTSPlayer", std::array{"playouts", "num_threads", "use_heuristics", "policy_variation"},
        3, args, kwargs);
    // Every argument is converted before the player is made, so a bad one makes none.
    const auto playout_count = to_unsigned<std::uint32_t>(playouts);
    const auto thread_count = static_cast<std::size_t>(to_u64(num_threads));
    const bool heuristics = to_exact_bool(use_heuristics);
    if (policy_variation.absent_or_none()) {
      return wrap(MCTSPlayer(playout_count, thread_count, heuristics, std::nullopt));
    }
    const auto policy = to_unsigned<std::uint8_t>(policy_variation);
    return wrap(MCTSPlayer(playout_count, thread_count, heuristics, policy));
  });
}

Ref ranked_entry(const RankedAction& entry) {
  Ref action = action_to_python(entry.action);
  Ref visits = Ref::checked(PyLong_FromUnsignedLongLong(entry.visits));
  Ref average = Ref::checked(PyFloat_FromDouble(entry.average_reward));
  return Ref::checked(PyTuple_Pack(3, action.get(), visits.get(), average.get()));
}

PyObject* mcts_ranked_actions(PyObject* self, PyObject* /*unused*/) {
  return guarded([&] {
    const auto& ranking = value_of<MCTSPlayer>(self).ranked_actions();
    Ref list = Ref::checked(PyList_New(0));
    if (!ranking) return list;
    for (const RankedAction& entry : *ranking) {
      Ref tuple = ranked_entry(entry);
      if (PyList_Append(list.get(), tuple.get()) < 0) raise_already_set();
    }
    return list;
  });
}

constexpr char mcts_play_doc[] = "Choose an action based on the given state";
constexpr char mcts_ranked_actions_doc[] =
    "List actions with associated stats, sorted by most visits in the MCTS.\n"
    "The first Action in the list is considered the best move to play, and is\n"
    "also what `play()` will return.\n"
    "\n"
    "Updates on calls to `play()`.\n"
    "\n"
    "# Returns\n"
    "List of tuples in the form `(action, visits, avg_reward)`";

PyMethodDef mcts_player_methods[] = {
    {"play", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&native_play_method<MCTSPlayer>)),
     METH_VARARGS | METH_KEYWORDS, mcts_play_doc},
    {"ranked_actions", &mcts_ranked_actions, METH_NOARGS, mcts_ranked_actions_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* make_mcts_player_type() {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&new_mcts_player)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<MCTSPlayer>)},
      {Py_tp_methods, mcts_player_methods},
      {0, nullptr},
  };
  return reinterpret_cast<PyObject*>(make_type<MCTSPlayer>("MCTSPlayer", slots));
}

// The first built-in player class that `object` is an instance of, tried in the order of the
// NativePlayer alternatives, gives a copy of its player.
template <std::size_t... Kinds>
std::optional<NativePlayer> to_native_player(PyObject* object, std::index_sequence<Kinds...>) {
  std::optional<NativePlayer> player;
  const auto try_kind = [&]<typename P>(std::type_identity<P>) {
    if (player) return;
    if (const P* value = value_if<P>(object)) player.emplace(*value);
  };
  (try_kind(std::type_identity<std::variant_alternative_t<Kinds, NativePlayer>>{}), ...);
  return player;
}

}  // namespace

void add_player_classes(PyObject* players_module) {
  add_to_module(players_module, "RandomPlayer", make_random_player_type());
  add_to_module(players_module, "InputPlayer", make_input_player_type());
  add_to_module(players_module, "MCTSPlayer", make_mcts_player_type());
}

PyPlayer to_py_player(PyObject* object) {
  if (std::optional<NativePlayer> native =
          to_native_player(object, std::make_index_sequence<std::variant_size_v<NativePlayer>>{})) {
    return std::move(*native);
  }
  return Ref::borrow(object);
}

}  // namespace tornquil::py
