// The six action classes. Each holds exactly the payload of its kind of Action, so converting
// either way copies the payload, card order included.
#include <array>
#include <string_view>

#include "python/classes.hpp"

namespace tornquil::py {
namespace {

// The Python class of each kind of action, and the name of its variant in conversion errors.
template <typename T>
struct ActionClass;
template <>
struct ActionClass<action::Play> {
  static constexpr const char* name = "ActionPlay";
  static constexpr const char* variant = "PyActionPlay";
};
template <>
struct ActionClass<action::AnimalCombo> {
  static constexpr const char* name = "ActionAnimalCombo";
  static constexpr const char* variant = "PyActionAnimalCombo";
};
template <>
struct ActionClass<action::Combo> {
  static constexpr const char* name = "ActionCombo";
  static constexpr const char* variant = "PyActionCombo";
};
template <>
struct ActionClass<action::Yield> {
  static constexpr const char* name = "ActionYield";
  static constexpr const char* variant = "PyActionYield";
};
template <>
struct ActionClass<action::Discard> {
  static constexpr const char* name = "ActionDiscard";
  static constexpr const char* variant = "PyActionDiscard";
};
template <>
struct ActionClass<action::ChangePlayer> {
  static constexpr const char* name = "ActionChangePlayer";
  static constexpr const char* variant = "PyActionChangePlayer";
};

// Calls `each` with a value of every action kind, in the order of the Action variant.
template <typename Each, std::size_t... Kinds>
void for_each_kind(Each&& each, std::index_sequence<Kinds...>) {
  (each(std::variant_alternative_t<Kinds, Action>{}), ...);
}
template <typename Each>
void for_each_kind(Each&& each) {
  for_each_kind(std::forward<Each>(each), std::make_index_sequence<std::variant_size_v<Action>>{});
}

template <std::size_t Capacity>
CardList<Capacity> to_cards(const ModuleState& module, const Argument& argument) {
  CardList<Capacity> cards;
  for_each_item(argument, [&](PyObject* item) {
    cards.push_back(to_value<Card>(module, {argument.name, item}));
  });
  return cards;
}

// A constructor per class; each takes exactly its payload.
action::Play parse(const ModuleState& module, std::type_identity<action::Play>, PyObject* args,
                   PyObject* kwargs) {
  const auto [card] = parse_arguments("ActionPlay", std::array{"card"}, 1, args, kwargs);
  return {to_value<Card>(module, card)};
}
action::AnimalCombo parse(const ModuleState& module, std::type_identity<action::AnimalCombo>,
                          PyObject* args, PyObject* kwargs) {
  const auto [first, second] =
      parse_arguments("ActionAnimalCombo", std::array{"c1", "c2"}, 2, args, kwargs);
  return {to_value<Card>(module, first), to_value<Card>(module, second)};
}
action::Combo parse(const ModuleState& module, std::type_identity<action::Combo>, PyObject* args,
                    PyObject* kwargs) {
  const auto [cards] = parse_arguments("ActionCombo", std::array{"cards"}, 1, args, kwargs);
  return {to_cards<max_combo_size>(module, cards)};
}
// Reads nothing: any arguments given are ignored.
action::Yield parse(const ModuleState&, std::type_identity<action::Yield>, PyObject*, PyObject*) {
  return {};
}
action::Discard parse(const ModuleState& module, std::type_identity<action::Discard>,
                      PyObject* args, PyObject* kwargs) {
  const auto [cards] = parse_arguments("ActionDiscard", std::array{"cards"}, 1, args, kwargs);
  return {to_cards<max_hand_capacity>(module, cards)};
}
action::ChangePlayer parse(const ModuleState& module, std::type_identity<action::ChangePlayer>,
                           PyObject* args, PyObject* kwargs) {
  const auto [id] = parse_arguments("ActionChangePlayer", std::array{"id"}, 1, args, kwargs);
  return {to_value<PlayerId>(module, id)};
}

template <typename T>
PyObject* new_action(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(type, [&](const ModuleState& module) {
    return wrap(module, parse(module, std::type_identity<T>{}, args, kwargs));
  });
}

template <typename T>
PyObject* action_text(PyObject* self) {
  return guarded(self,
                 [&](const ModuleState&) { return text(debug_text(Action(value_of<T>(self)))); });
}

template <typename T>
void add_action_class(ModuleBuilder& builder, PyObject* actions_module) {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&new_action<T>)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<T>)},
      {Py_tp_str, reinterpret_cast<void*>(&action_text<T>)},
      {Py_tp_repr, reinterpret_cast<void*>(&action_text<T>)},
      {Py_tp_richcompare, reinterpret_cast<void*>(&compare_by_value<T>)},
      {Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)},
      {0, nullptr},
  };
  add_to_module(actions_module, ActionClass<T>::name,
                reinterpret_cast<PyObject*>(builder.make_class<T>(ActionClass<T>::name, slots)));
}

std::string extraction_failure(PyObject* object) {
  std::string variants;
  std::string reasons;
  for_each_kind([&]<typename T>(T) {
    if (!variants.empty()) variants += " | ";
    variants += ActionClass<T>::variant;
    reasons.append("\n- variant ").append(ActionClass<T>::variant).append(" (");
    reasons.append(ActionClass<T>::variant).append("): ");
    reasons.append(conversion_failure(object, ActionClass<T>::name));
  });
  return "failed to extract enum PyAction ('" + variants + "')" + reasons;
}

}  // namespace

void add_action_classes(ModuleBuilder& builder, PyObject* actions_module) {
  for_each_kind([&]<typename T>(T) { add_action_class<T>(builder, actions_module); });
}

Ref action_to_python(const ModuleState& module, const Action& action) {
  return std::visit([&](const auto& kind) { return wrap(module, kind); }, action);
}

Action action_from_python(const ModuleState& module, PyObject* object) {
  std::optional<Action> action;
  for_each_kind([&]<typename T>(T) {
    if (action) return;
    if (const T* value = value_if<T>(module, object)) action = *value;
  });
  if (!action) raise(PyExc_TypeError, extraction_failure(object));
  return *action;
}

}  // namespace tornquil::py
