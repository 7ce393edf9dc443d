// TornquilGame: plays whole games between a list of seats. The only place where built-in
// players, Python players and the rules engine meet in one loop.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>
#include <vector>

#include "players/game_driver.hpp"
#include "python/classes.hpp"

namespace tornquil::py {
namespace {

// Who is using a game: nobody, a short look (reward(), print()), or a playout. A playout lends the
// game to its loop, and every other use meanwhile (from a Python player's own code, or from
// another thread) is refused; short looks from several threads take turns.
class UseMark {
 public:
  enum Use : std::uint8_t { kFree, kLook, kPlayout };

  UseMark() = default;
  // A game is copied only while it is made, never while it is used.
  UseMark(UseMark&& /*other*/) noexcept {}

  void take(Use use) {
    std::uint8_t expected = kFree;
    while (!use_.compare_exchange_weak(expected, use, std::memory_order_acquire)) {
      if (expected == kPlayout) {
        raise(PyExc_RuntimeError, "TornquilGame is in use: its playout() is running");
      }
      // Another thread's short look, or a spurious failure: it is over in a moment.
      expected = kFree;
      std::this_thread::yield();
    }
  }
  void give_back() { use_.store(kFree, std::memory_order_release); }

 private:
  std::atomic<std::uint8_t> use_{kFree};
};

struct Game {
  PyState state;
  std::vector<PyPlayer> players;  // seat i plays for PlayerId i
  UseMark use;
};

// Holds a game for one use, or refuses it while a playout runs.
class InUse {
 public:
  InUse(Game& game, UseMark::Use use) : game_(game) { game_.use.take(use); }
  ~InUse() { game_.use.give_back(); }
  InUse(const InUse&) = delete;
  InUse& operator=(const InUse&) = delete;

 private:
  Game& game_;
};

PyObject* new_game(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(type, [&](const ModuleState& module) {
    const auto [players, seed] =
        parse_arguments("TornquilGame", std::array{"players", "seed"}, 1, args, kwargs);
    std::vector<PyPlayer> seats;
    for_each_item(players,
                  [&](PyObject* player) { seats.push_back(to_py_player(module, player)); });
    auto created = StateEnum::create(seats.size(), to_optional_u64(seed));
    StateEnum* state = std::get_if<StateEnum>(&created);
    if (state == nullptr) raise(PyExc_ValueError, "Only 1-4 players are allowed");
    return wrap(module, Game{PyState{*state}, std::move(seats), UseMark{}});
  });
}

// Looked up afresh on every turn: changes the Python code makes to its player are seen.
Action ask_python_player(const ModuleState& module, PyObject* player, PyObject* state_object) {
  const Ref play = Ref::checked(PyObject_GetAttrString(player, "play"));
  const Ref no_arguments = Ref::checked(PyTuple_New(0));
  const Ref keywords = Ref::checked(PyDict_New());
  if (PyDict_SetItemString(keywords.get(), "state", state_object) < 0) raise_already_set();
  const Ref chosen = Ref::checked(PyObject_Call(play.get(), no_arguments.get(), keywords.get()));
  return action_from_python(module, chosen.get());
}

Action ask_seat(const ModuleState& module, PyPlayer& seat, const StateEnum& state) {
  // The game is borrowed for the whole loop, so its state holds still while a search that
  // released the lock runs.
  if (auto* native = std::get_if<NativePlayer>(&seat)) return decide(*native, state);
  // Our own reference: the call may run any Python code.
  const Ref player = Ref::borrow(std::get<Ref>(seat).get());
  const Ref state_object = wrap(module, PyState{state});
  return ask_python_player(module, player.get(), state_object.get());
}

[[noreturn]] void refuse(const IllegalAction& illegal) {
  raise(PyExc_KeyError,
        "'" + debug_text(illegal.action) +
            "' is not a legal action. Legal actions are: " + debug_text(illegal.legal));
}

PyObject* playout(PyObject* self, PyObject*) {
  return guarded(self, [&](const ModuleState& module) {
    Game& game = value_of<Game>(self);
    const InUse in_use(game, UseMark::kPlayout);
    const GameOutcome outcome = play_to_end(game.state.state_enum, [&](const StateEnum& state) {
      return ask_seat(module, game.players[state.has_turn().index], state);
    });
    if (const auto* illegal = std::get_if<IllegalAction>(&outcome)) refuse(*illegal);
    return game_result_to_python(module, std::get<GameResult>(outcome));
  });
}

void write_to_standard_error(const std::string& text) {
  std::fflush(stderr);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t count = ::write(STDERR_FILENO, text.data() + written, text.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      PyErr_SetFromErrno(PyExc_OSError);
      raise_already_set();
    }
    written += static_cast<std::size_t>(count);
  }
}

PyObject* print_state(PyObject* self, PyObject*) {
  return guarded(self, [&](const ModuleState&) {
    Game& game = value_of<Game>(self);
    const InUse in_use(game, UseMark::kLook);
    write_to_standard_error("[src/lib:55] &self.state = " + debug_text(game.state, Layout::Pretty) +
                            "\n");
    return none();
  });
}

PyObject* reward(PyObject* self, PyObject*) {
  return guarded(self, [&](const ModuleState&) {
    Game& game = value_of<Game>(self);
    const InUse in_use(game, UseMark::kLook);
    return Ref::checked(PyLong_FromLong(game.state.state_enum.reward()));
  });
}

// The game holds Python players, which may hold the game: the collector must see them.
int traverse(PyObject* self, visitproc visit, void* arg) {
  for (const PyPlayer& seat : value_of<Game>(self).players) {
    if (const Ref* player = std::get_if<Ref>(&seat)) Py_VISIT(player->get());
  }
  Py_VISIT(Py_TYPE(self));
  return 0;
}

// Breaks a cycle. A cleared seat holds None, so a game that is still used afterwards fails
// with an ordinary AttributeError rather than touching freed memory.
int clear(PyObject* self) {
  for (PyPlayer& seat : value_of<Game>(self).players) {
    if (Ref* player = std::get_if<Ref>(&seat)) *player = none();
  }
  return 0;
}

PyMethodDef game_methods[] = {
    {"playout", &playout, METH_NOARGS, nullptr},
    {"print", &print_state, METH_NOARGS, nullptr},
    {"reward", &reward, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void add_game_class(ModuleBuilder& builder, PyObject* top_module) {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&new_game)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<Game>)},
      {Py_tp_traverse, reinterpret_cast<void*>(&traverse)},
      {Py_tp_clear, reinterpret_cast<void*>(&clear)},
      {Py_tp_methods, game_methods},
      {0, nullptr},
  };
  add_to_module(top_module, "TornquilGame",
                reinterpret_cast<PyObject*>(
                    builder.make_class<Game>("TornquilGame", slots, Py_TPFLAGS_HAVE_GC)));
}

}  // namespace tornquil::py
