// Hand-made game states for the rules tests. Cards are written as short codes: a value (A, 2 to
// 10, J, Q, K) and a suit letter (s, h, d, c), or "jester"; "5c 2s Ad" is three cards. Every pile
// lists its cards from the bottom up, so the last card of the tavern deck is the next one drawn and
// the last enemy of the castle deck is the one being fought.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "rules/state.hpp"

namespace tornquil::testing {

inline Card card(std::string_view code) {
  if (code == "jester") return jester_card;
  const std::string_view value = code.substr(0, code.size() - 1);
  CardValue parsed_value;
  if (value == "A") {
    parsed_value = CardValue::Ace;
  } else if (value == "J") {
    parsed_value = CardValue::Jack;
  } else if (value == "Q") {
    parsed_value = CardValue::Queen;
  } else if (value == "K") {
    parsed_value = CardValue::King;
  } else {
    parsed_value = static_cast<CardValue>(std::stoi(std::string(value)));
  }
  switch (code.back()) {
    case 's':
      return Card{CardSuit::Spades, parsed_value};
    case 'h':
      return Card{CardSuit::Hearts, parsed_value};
    case 'd':
      return Card{CardSuit::Diamonds, parsed_value};
    case 'c':
      return Card{CardSuit::Clubs, parsed_value};
    default:
      ADD_FAILURE() << "no such card: " << code;
      return jester_card;
  }
}

template <std::size_t Capacity = deck_capacity>
CardList<Capacity> cards(std::string_view codes) {
  CardList<Capacity> list;
  std::istringstream words{std::string(codes)};
  for (std::string word; words >> word;) list.push_back(card(word));
  return list;
}

inline Hand hand(std::string_view codes) { return cards<max_hand_capacity>(codes); }

// An enemy part-way through its fight: `damage` already taken, attack lowered by `attack_lost`.
inline Enemy enemy(std::string_view code, std::uint16_t damage = 0, std::uint16_t attack_lost = 0,
                   bool jester_applied = false) {
  Enemy enemy{card(code)};
  enemy.take_damage(damage);
  enemy.decrease_attack(attack_lost);
  if (jester_applied) enemy.apply_jester();
  return enemy;
}

template <std::size_t N>
class StateBuilder {
 public:
  StateBuilder() {
    for (std::size_t seat = 0; seat < N; ++seat) state_.players[seat].id = PlayerId{seat};
    state_.rng_seed = 1;
  }

  StateBuilder& hand(std::size_t seat, std::string_view codes) {
    state_.players[seat].hand = testing::hand(codes);
    return *this;
  }
  // Enemies from the bottom of the castle deck up: the last one is the current enemy.
  StateBuilder& castle(std::initializer_list<Enemy> enemies) {
    state_.table.castle_deck.clear();
    for (const Enemy& enemy : enemies) state_.table.castle_deck.push_back(enemy);
    return *this;
  }
  StateBuilder& tavern(std::string_view codes) {
    state_.table.tavern_deck = cards(codes);
    return *this;
  }
  StateBuilder& discard_pile(std::string_view codes) {
    state_.table.discard_pile = cards(codes);
    return *this;
  }
  StateBuilder& attack_cards(std::string_view codes) {
    state_.table.attack_cards = cards(codes);
    return *this;
  }
  StateBuilder& turn(std::size_t seat) {
    state_.has_turn = PlayerId{seat};
    return *this;
  }
  StateBuilder& phase(ActionType type) {
    state_.action_type = type;
    return *this;
  }
  StateBuilder& yielded(std::size_t times) {
    state_.times_yielded = times;
    return *this;
  }
  StateBuilder& level(std::uint8_t level) {
    state_.level = level;
    return *this;
  }
  StateBuilder& ended(GameResult result) {
    state_.has_ended = result;
    return *this;
  }

  [[nodiscard]] State<N> build() const { return state_; }
  operator State<N>() const { return state_; }

 private:
  State<N> state_;
};

template <typename T>
std::string text(const T& value) {
  return debug_text(value, Layout::Compact, Colouring::Off);
}

inline Action play(std::string_view code) { return action::Play{card(code)}; }
inline Action animal_combo(std::string_view ace, std::string_view partner) {
  return action::AnimalCombo{card(ace), card(partner)};
}
inline Action combo(std::string_view codes) { return action::Combo{cards<max_combo_size>(codes)}; }
inline Action yield_turn() { return action::Yield{}; }
inline Action discard(std::string_view codes) { return action::Discard{hand(codes)}; }
inline Action change_player(std::size_t seat) { return action::ChangePlayer{PlayerId{seat}}; }

// The state after `action`, which must not end the game.
template <std::size_t N>
State<N> after(const State<N>& state, const Action& action) {
  GameStatus<N> status = state.take_action(action);
  if (const auto* result = std::get_if<GameResult>(&status)) {
    ADD_FAILURE() << text(action) << " ended the game: " << text(*result);
    return state;
  }
  return std::get<State<N>>(status);
}

// The result of `action`, or nothing when the game goes on.
template <std::size_t N>
std::optional<GameResult> result_of(const State<N>& state, const Action& action) {
  GameStatus<N> status = state.take_action(action);
  if (const auto* result = std::get_if<GameResult>(&status)) return *result;
  return std::nullopt;
}

}  // namespace tornquil::testing
