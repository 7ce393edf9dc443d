// The built-in players' classes in the `players` module, and the conversion of a game's player
// list entries into seats.
#include <array>
#include <cmath>
#include <string>

#include "python/classes.hpp"

namespace tornquil::py {
namespace {

PyObject* new_random_player(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(type, [&](const ModuleState& module) {
    const auto [seed] = parse_arguments("RandomPlayer", std::array{"seed"}, 0, args, kwargs);
    return wrap(module, RandomPlayer(to_optional_u64(seed)));
  });
}

PyMethodDef random_player_methods[] = {
    {"play",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&native_play_method<RandomPlayer>)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* make_random_player_type(ModuleBuilder& builder) {
  return reinterpret_cast<PyObject*>(
      builder.make_class<RandomPlayer>("RandomPlayer", &new_random_player, random_player_methods));
}

// Takes no parameters; whatever is passed is ignored. The class has no `play`: an InputPlayer
// only makes sense as a seat of a game.
PyObject* new_input_player(PyTypeObject* type, PyObject*, PyObject*) {
  return guarded(type, [](const ModuleState& module) { return wrap(module, InputPlayer{}); });
}

PyObject* make_input_player_type(ModuleBuilder& builder) {
  return reinterpret_cast<PyObject*>(
      builder.make_class<InputPlayer>("InputPlayer", &new_input_player, nullptr));
}

std::optional<double> to_time_budget(const Argument& seconds) {
  if (seconds.absent_or_none()) return std::nullopt;
  const double value = to_double(seconds);
  if (!(std::isfinite(value) && value > 0.0)) {
    raise(PyExc_ValueError,
          "seconds must be a positive, finite number, got " + repr_text(seconds.object));
  }
  return value;
}

Information to_information(const Argument& information) {
  if (information.object == nullptr) return Information::Full;
  // A name that UTF-8 cannot hold names nothing either.
  if (const std::optional<std::string> name = to_string_if_encodable(information)) {
    if (const std::optional<Information> named = information_named(*name)) return *named;
  }
  raise(PyExc_ValueError,
        "information must be 'full' or 'own', got " + repr_text(information.object));
}

PlayoutPolicy to_playout_policy(const Argument& policy) {
  if (policy.object == nullptr) return PlayoutPolicy::Random;
  const std::optional<std::string> name = to_string_if_encodable(policy);
  if (name == "random") return PlayoutPolicy::Random;
  if (name == "informed") return PlayoutPolicy::Informed;
  raise(PyExc_ValueError,
        "playout_policy must be 'random' or 'informed', got " + repr_text(policy.object));
}

PyObject* new_mcts_player(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(type, [&](const ModuleState& module) {
    const auto [playouts, num_threads, use_heuristics, policy_variation, seconds, information,
                release_gil, playout_policy] =
        parse_arguments("MCTSPlayer",
                        std::array{"playouts", "num_threads", "use_heuristics", "policy_variation",
                                   "seconds", "information", "release_gil", "playout_policy"},
                        3, args, kwargs, 4);
    // Every argument is converted before the player is made, so a bad one makes none.
    const auto playout_count = to_unsigned<std::uint32_t>(playouts);
    const auto thread_count = static_cast<std::size_t>(to_u64(num_threads));
    const bool heuristics = to_exact_bool(use_heuristics);
    std::optional<std::uint8_t> policy;
    if (!policy_variation.absent_or_none()) policy = to_unsigned<std::uint8_t>(policy_variation);
    MCTSOptions options;
    options.seconds = to_time_budget(seconds);
    options.information = to_information(information);
    options.release_gil = release_gil.object != nullptr && to_exact_bool(release_gil);
    options.playout_policy = to_playout_policy(playout_policy);
    return wrap(module, MCTSPlayer(playout_count, thread_count, heuristics, policy, options));
  });
}

// Holds a player object for one call; a second call meanwhile (from another thread while the
// lock is released, or from code that a signal handler runs) is refused.
class InUse {
 public:
  explicit InUse(MCTSPlayer& player) : player_(player) {
    if (!player_.try_begin_use()) refuse();
  }
  ~InUse() { player_.end_use(); }
  InUse(const InUse&) = delete;
  InUse& operator=(const InUse&) = delete;

  [[noreturn]] static void refuse() {
    raise(PyExc_RuntimeError, "MCTSPlayer is in use: its play() is running");
  }

 private:
  MCTSPlayer& player_;
};

PyObject* mcts_play(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded(self, [&](const ModuleState& module) {
    const auto [state] = parse_arguments("play", std::array{"state"}, 1, args, kwargs);
    MCTSPlayer& player = value_of<MCTSPlayer>(self);
    const StateEnum copy = to_value<PyState>(module, state).state_enum;
    const Action action = [&] {
      const InUse in_use(player);
      return decide(player, copy);
    }();
    return action_to_python(module, action);
  });
}

Ref ranked_entry(const ModuleState& module, const RankedAction& entry) {
  Ref action = action_to_python(module, entry.action);
  Ref visits = Ref::checked(PyLong_FromUnsignedLongLong(entry.visits));
  Ref average = Ref::checked(PyFloat_FromDouble(entry.average_reward));
  return Ref::checked(PyTuple_Pack(3, action.get(), visits.get(), average.get()));
}

PyObject* mcts_ranked_actions(PyObject* self, PyObject* /*unused*/) {
  return guarded(self, [&](const ModuleState& module) {
    MCTSPlayer& player = value_of<MCTSPlayer>(self);
    // Making the objects may run any Python code (the collector, a finalizer that calls play on
    // this very player), so the walk is over a copy of its own, taken while no decision runs.
    const std::vector<RankedAction> ranking = [&] {
      const InUse in_use(player);
      return player.ranked_actions().value_or(std::vector<RankedAction>{});
    }();
    Ref list = Ref::checked(PyList_New(0));
    for (const RankedAction& entry : ranking) {
      Ref tuple = ranked_entry(module, entry);
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
    {"play", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&mcts_play)),
     METH_VARARGS | METH_KEYWORDS, mcts_play_doc},
    {"ranked_actions", &mcts_ranked_actions, METH_NOARGS, mcts_ranked_actions_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* make_mcts_player_type(ModuleBuilder& builder) {
  return reinterpret_cast<PyObject*>(
      builder.make_class<MCTSPlayer>("MCTSPlayer", &new_mcts_player, mcts_player_methods));
}

// A game's own copy of a built-in player. A search player whose decision runs on another thread
// is writing its ranking, so it cannot be copied then.
template <typename P>
P seat_copy(PyObject* object, const P& player) {
  const ObjectLock lock(object);
  return player;
}
MCTSPlayer seat_copy(PyObject* /*object*/, MCTSPlayer& player) {
  std::optional<MCTSPlayer> copy = player.copy_unless_in_use();
  if (!copy) InUse::refuse();
  return std::move(*copy);
}

// The first built-in player class that `object` is an instance of, tried in the order of the
// NativePlayer alternatives, gives a copy of its player.
template <std::size_t... Kinds>
std::optional<NativePlayer> to_native_player(const ModuleState& module, PyObject* object,
                                             std::index_sequence<Kinds...>) {
  std::optional<NativePlayer> player;
  const auto try_kind = [&]<typename P>(std::type_identity<P>) {
    if (player) return;
    if (P* value = value_if<P>(module, object)) player.emplace(seat_copy(object, *value));
  };
  (try_kind(std::type_identity<std::variant_alternative_t<Kinds, NativePlayer>>{}), ...);
  return player;
}

}  // namespace

void add_player_classes(ModuleBuilder& builder, PyObject* players_module) {
  add_to_module(players_module, "RandomPlayer", make_random_player_type(builder));
  add_to_module(players_module, "InputPlayer", make_input_player_type(builder));
  add_to_module(players_module, "MCTSPlayer", make_mcts_player_type(builder));
}

PyPlayer to_py_player(const ModuleState& module, PyObject* object) {
  if (std::optional<NativePlayer> native = to_native_player(
          module, object, std::make_index_sequence<std::variant_size_v<NativePlayer>>{})) {
    return std::move(*native);
  }
  return Ref::borrow(object);
}

}  // namespace tornquil::py
