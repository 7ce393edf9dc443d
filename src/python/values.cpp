// Card, CardSuit and CardValue (the `card` module), Enemy and PlayerId (in no module: Python
// code meets them only as results).
#include <array>

#include "python/classes.hpp"
#include "python/enum_class.hpp"
#include "rules/enemy.hpp"

namespace tornquil::py {
namespace {

constexpr std::array<const char*, 5> suit_names = {"Spades", "Hearts", "Diamonds", "Clubs", "None"};
constexpr std::array<const char*, 14> value_names = {"Jester", "Ace",  "Two",   "Three", "Four",
                                                     "Five",   "Six",  "Seven", "Eight", "Nine",
                                                     "Ten",    "Jack", "Queen", "King"};

template <typename E, typename Values>
Ref enum_list(const ModuleState& module, const Values& values) {
  Ref list = Ref::checked(PyList_New(0));
  for (const E value : values) {
    if (PyList_Append(list.get(), wrap(module, value).get()) < 0) raise_already_set();
  }
  return list;
}

PyObject* all_suits(PyObject* cls, PyObject*) {
  return guarded(cls,
                 [](const ModuleState& module) { return enum_list<CardSuit>(module, real_suits); });
}

PyObject* number_values(PyObject* cls, PyObject*) {
  return guarded(cls, [](const ModuleState& module) {
    std::array<CardValue, 10> numbers{};
    for (std::size_t i = 0; i < numbers.size(); ++i) numbers[i] = static_cast<CardValue>(i + 1);
    return enum_list<CardValue>(module, numbers);
  });
}

PyObject* royal_values(PyObject* cls, PyObject*) {
  return guarded(cls, [](const ModuleState& module) {
    return enum_list<CardValue>(module,
                                std::array{CardValue::King, CardValue::Queen, CardValue::Jack});
  });
}

PyMethodDef suit_methods[] = {
    {"all", &all_suits, METH_NOARGS | METH_CLASS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};
PyMethodDef value_methods[] = {
    {"numbers", &number_values, METH_NOARGS | METH_CLASS, nullptr},
    {"royals", &royal_values, METH_NOARGS | METH_CLASS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* new_card(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(type, [&](const ModuleState& module) {
    const auto [suit, value] =
        parse_arguments("Card", std::array{"suit", "value"}, 2, args, kwargs);
    return wrap(module, Card{to_value<CardSuit>(module, suit), to_value<CardValue>(module, value)});
  });
}

void make_card_type(ModuleBuilder& builder) {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&new_card)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<Card>)},
      {Py_tp_str, reinterpret_cast<void*>(&debug_str<Card>)},
      {Py_tp_richcompare, reinterpret_cast<void*>(&compare_by_value<Card>)},
      {Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)},
      {0, nullptr},
  };
  builder.make_class<Card>("Card", slots);
}

}  // namespace

void add_card_classes(ModuleBuilder& builder, PyObject* card_module) {
  make_card_type(builder);
  make_enum_type<CardSuit>(builder, "CardSuit", {"CardSuit", suit_names}, suit_methods);
  make_enum_type<CardValue>(builder, "CardValue", {"CardValue", value_names}, value_methods);
  const ModuleState& module = builder.state;
  add_to_module(card_module, "Card", reinterpret_cast<PyObject*>(module.type<Card>()));
  add_to_module(card_module, "CardSuit", reinterpret_cast<PyObject*>(module.type<CardSuit>()));
  add_to_module(card_module, "CardValue", reinterpret_cast<PyObject*>(module.type<CardValue>()));
}

void make_unlisted_value_classes(ModuleBuilder& builder) {
  PyType_Slot enemy_slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&no_constructor)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<Enemy>)},
      {Py_tp_str, reinterpret_cast<void*>(&debug_str<Enemy>)},
      {0, nullptr},
  };
  builder.make_class<Enemy>("Enemy", enemy_slots);
  PyType_Slot player_id_slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&no_constructor)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<PlayerId>)},
      {0, nullptr},
  };
  builder.make_class<PlayerId>("PlayerId", player_id_slots);
}

}  // namespace tornquil::py
