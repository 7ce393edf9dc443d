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

// Takes no parameters; whatever is passed is ignored. The class has no `play`: an InputPlayer
// only makes sense as a seat of a game.
PyObject* new_input_player(PyTypeObject*, PyObject*, PyObject*) {
  return guarded([] { return wrap(InputPlayer{}); });
}

PyObject* make_input_player_type() {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&new_input_player)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<InputPlayer>)},
      {0, nullptr},
  };
  return reinterpret_cast<PyObject*>(make_type<InputPlayer>("InputPlayer", slots));
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
  // MCTSPlayer is registered here, after InputPlayer: the order of registration is the order of
  // the module's __all__ (RandomPlayer, InputPlayer, MCTSPlayer).
}

PyPlayer to_py_player(PyObject* object) {
  if (std::optional<NativePlayer> native =
          to_native_player(object, std::make_index_sequence<std::variant_size_v<NativePlayer>>{})) {
    return std::move(*native);
  }
  return Ref::borrow(object);
}

}  // namespace tornquil::py
