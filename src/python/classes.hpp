// What the binding files share: the native values behind the classes that more than one file
// hands out or accepts, the conversions between game values and Python objects, and the
// functions that make each file's classes at module initialisation.
#pragma once

#include <functional>
#include <optional>
#include <utility>
#include <variant>

#include "players/native_player.hpp"
#include "python/py.hpp"
#include "rules/state_enum.hpp"

namespace tornquil::py {

// The state object that players written in Python receive: always a copy of a game's state.
struct PyState {
  StateEnum state_enum;
};
void describe(DebugWriter& writer, const PyState& state);

enum class PyGameResult : std::uint8_t { Won = 0, Lost = 1 };

// The str (and for actions the repr) of a boxed game value: its debug text, which is also its
// display text.
template <typename T>
PyObject* debug_str(PyObject* self) {
  return guarded(self, [&](const ModuleState&) { return text(debug_text(value_of<T>(self))); });
}

// values.cpp: Card, CardSuit and CardValue in the `card` module; Enemy and PlayerId in none.
void add_card_classes(ModuleBuilder& builder, PyObject* card_module);
void make_unlisted_value_classes(ModuleBuilder& builder);

// actions.cpp: the six action classes, in the order that conversions try them.
void add_action_classes(ModuleBuilder& builder, PyObject* actions_module);
[[nodiscard]] Ref action_to_python(const ModuleState& module, const Action& action);
// The action an object of one of the six classes stands for; anything else raises the
// TypeError that lists every class tried.
[[nodiscard]] Action action_from_python(const ModuleState& module, PyObject* object);

// state.cpp: PyState and GameResult, registered in no module.
void make_state_classes(ModuleBuilder& builder);
[[nodiscard]] Ref game_result_to_python(const ModuleState& module, GameResult result);

// players.cpp: the built-in players' classes, and the seats of a game.
void add_player_classes(ModuleBuilder& builder, PyObject* players_module);

// == and != by value between two objects of T's class; other classes are left to the
// interpreter, and ordering is refused.
template <typename T>
PyObject* compare_by_value(PyObject* self, PyObject* other, int op) {
  return guarded(self, [&](const ModuleState& module) {
    const T* other_value = value_if<T>(module, other);
    if (other_value == nullptr) return not_implemented();
    const bool equal = value_of<T>(self) == *other_value;
    if (op == Py_EQ) return boolean(equal);
    if (op == Py_NE) return boolean(!equal);
    raise(PyExc_TypeError, "Operation not supported");
  });
}

// decisions.cpp: long native work (a built-in player's decision, a solve) done so that the
// interpreter stays responsive. While it runs, this thread checks for signals through the check
// it is handed; a handler that raises abandons the work and its exception passes on. With
// `release_lock` the interpreter lock is released meanwhile, so other Python threads run; `work`
// must then touch no Python object.
void run_responsively(bool release_lock, const std::function<void(const DecisionCheck&)>& work);

template <typename Work>
[[nodiscard]] auto compute_responsively(bool release_lock, Work&& work) {
  std::optional<decltype(work(std::declval<const DecisionCheck&>()))> result;
  run_responsively(release_lock, [&](const DecisionCheck& check) { result.emplace(work(check)); });
  return std::move(*result);
}

[[nodiscard]] inline bool releases_lock(const MCTSPlayer& player) {
  return player.options().release_gil;
}
template <typename P>
[[nodiscard]] bool releases_lock(const P& /*player*/) {
  return false;
}

// Decides on `state`, which must not change while the lock is released: a private copy, or a
// game's state while the game is borrowed.
template <Play P>
[[nodiscard]] Action decide(P& player, const StateEnum& state) {
  return compute_responsively(releases_lock(player), [&](const DecisionCheck& check) {
    return play_any(player, state, check);
  });
}
[[nodiscard]] inline Action decide(NativePlayer& player, const StateEnum& state) {
  return std::visit([&](auto& alternative) { return decide(alternative, state); }, player);
}

// The bridge behind every built-in player's Python `play`: the player decides on a private copy
// of the State inside the state object, and the action comes back as a new action object.
template <Play P>
[[nodiscard]] Ref play_py(const ModuleState& module, P& player, const Argument& state) {
  const StateEnum copy = to_value<PyState>(module, state).state_enum;
  return action_to_python(module, decide(player, copy));
}

// The method `play(state)` of a built-in player's class, for its method table with
// METH_VARARGS | METH_KEYWORDS.
// The player's own lock is held for the decision: two threads asking one random player at once
// take their turns on its generator. (The search player, whose decisions take long and release
// the interpreter lock, refuses a second caller instead.)
template <Play P>
PyObject* native_play_method(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded(self, [&](const ModuleState& module) {
    const auto [state] = parse_arguments("play", std::array{"state"}, 1, args, kwargs);
    const ObjectLock lock(self);
    return play_py(module, value_of<P>(self), state);
  });
}
// A seat: a copy of a built-in player, or the Python object itself, asked through its `play`.
using PyPlayer = std::variant<NativePlayer, Ref>;
[[nodiscard]] PyPlayer to_py_player(const ModuleState& module, PyObject* object);

// game.cpp: TornquilGame, at the top of the module.
void add_game_class(ModuleBuilder& builder, PyObject* top_module);

}  // namespace tornquil::py
