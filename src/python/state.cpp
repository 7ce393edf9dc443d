// PyState, the read-only state object that Python players receive, and GameResult. Neither is
// registered in a module, and Python code cannot construct either.
#include <array>

#include "python/classes.hpp"
#include "python/enum_class.hpp"

namespace tornquil::py {
namespace {

constexpr std::array<const char*, 2> result_names = {"Won", "Lost"};

const StateEnum& state_of(PyObject* self) { return value_of<PyState>(self).state_enum; }

template <typename Items, typename Convert>
Ref list_of(const Items& items, Convert&& convert) {
  Ref list = Ref::checked(PyList_New(0));
  for (const auto& item : items) {
    if (PyList_Append(list.get(), convert(item).get()) < 0) raise_already_set();
  }
  return list;
}

PyObject* action_space(PyObject* self, PyObject*) {
  return guarded(self, [&](const ModuleState& module) {
    return list_of(state_of(self).get_action_space(),
                   [&](const Action& action) { return action_to_python(module, action); });
  });
}

PyObject* has_turn(PyObject* self, PyObject*) {
  return guarded(
      self, [&](const ModuleState& module) { return wrap(module, state_of(self).has_turn()); });
}

PyObject* current_hand(PyObject* self, PyObject*) {
  return guarded(self, [&](const ModuleState& module) {
    return list_of(state_of(self).current_hand(), [&](Card card) { return wrap(module, card); });
  });
}

PyObject* reward(PyObject* self, PyObject*) {
  return guarded(self, [&](const ModuleState&) {
    return Ref::checked(PyLong_FromLong(state_of(self).reward()));
  });
}

PyObject* current_enemy(PyObject* self, PyObject*) {
  return guarded(self, [&](const ModuleState& module) {
    const std::optional<Enemy> enemy = state_of(self).current_enemy();
    return enemy ? wrap(module, *enemy) : none();
  });
}

PyObject* display(PyObject* self) {
  return guarded(self, [&](const ModuleState&) { return text(state_of(self).display_text()); });
}

PyMethodDef state_methods[] = {
    {"action_space", &action_space, METH_NOARGS, nullptr},
    {"has_turn", &has_turn, METH_NOARGS, nullptr},
    {"current_hand", &current_hand, METH_NOARGS, nullptr},
    {"reward", &reward, METH_NOARGS, nullptr},
    {"current_enemy", &current_enemy, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef no_methods[] = {{nullptr, nullptr, 0, nullptr}};

}  // namespace

void describe(DebugWriter& writer, const PyState& state) {
  RecordWriter(writer, "PyState").field("state_enum", state.state_enum).finish();
}

void make_state_classes(ModuleBuilder& builder) {
  PyType_Slot state_slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&no_constructor)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<PyState>)},
      {Py_tp_str, reinterpret_cast<void*>(&display)},
      {Py_tp_methods, state_methods},
      {0, nullptr},
  };
  builder.make_class<PyState>("PyState", state_slots);
  make_enum_type<PyGameResult>(builder, "GameResult", {"PyGameResult", result_names}, no_methods);
}

Ref game_result_to_python(const ModuleState& module, GameResult result) {
  return wrap(module, result.is_won() ? PyGameResult::Won : PyGameResult::Lost);
}

}  // namespace tornquil::py
