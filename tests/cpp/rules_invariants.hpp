// What must hold while the rules are driven by actions they did not list: the GoogleTest driver
// and the coverage-guided target both check games through this header, so the two cannot drift
// apart. Nothing here depends on a test framework; a broken invariant comes back as its text.
#pragma once

#include <algorithm>
#include <array>
#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "rules/state.hpp"

namespace tornquil::invariants {

using CardCounts = std::array<int, 5 * 14>;

inline std::size_t slot(Card card) {
  return static_cast<std::size_t>(card.suit) * 14 + static_cast<std::size_t>(card.value);
}

template <std::size_t N>
CardCounts cards_in_play(const State<N>& state) {
  CardCounts counts{};
  const auto add = [&](const auto& cards) {
    for (const Card card : cards) ++counts[slot(card)];
  };
  for (const Player& player : state.players) add(player.hand);
  add(state.table.tavern_deck);
  add(state.table.discard_pile);
  add(state.table.attack_cards);
  for (const Enemy& enemy : state.table.castle_deck) ++counts[slot(enemy.card())];
  return counts;
}

// The cards an action names, whatever its kind.
inline Hand named_cards(const Action& action) {
  if (const auto* play = std::get_if<action::Play>(&action)) return Hand{play->card};
  if (const auto* combo = std::get_if<action::AnimalCombo>(&action))
    return Hand{combo->ace, combo->partner};
  if (const auto* combo = std::get_if<action::Combo>(&action))
    return from_card_iter<max_hand_capacity>(combo->cards);
  if (const auto* discard = std::get_if<action::Discard>(&action)) return discard->cards;
  return Hand{};
}

// Where the off-list actions come from: a seeded generator in the GoogleTest driver, the input's
// bytes in the coverage-guided one.
template <typename Choices>
concept ChoiceSource = requires(Choices& choices, std::uint32_t n) {
  { choices.below(n) } -> std::convertible_to<std::uint32_t>;
};

// Distinct hand positions chosen at random: an unlisted action can only name cards once each.
template <ChoiceSource Choices>
Hand random_subset(const Hand& hand, Choices& choices, std::size_t at_most) {
  Hand chosen;
  for (const Card card : hand) {
    if (chosen.size() < at_most && choices.below(2) == 0) chosen.push_back(card);
  }
  return chosen;
}

// An action the list need not hold, made from cards the hand really holds: the wrong
// combination, the wrong phase, any seat.
template <std::size_t N, ChoiceSource Choices>
Action unlisted_action(const State<N>& state, Choices& choices) {
  const Hand& hand = state.current_player().hand;
  switch (choices.below(6)) {
    case 0:
      if (!hand.empty())
        return action::Play{hand[choices.below(static_cast<std::uint32_t>(hand.size()))]};
      return action::Yield{};
    case 1: {
      const Hand pair = random_subset(hand, choices, 2);
      if (pair.size() == 2) return action::AnimalCombo{pair[0], pair[1]};
      return action::Yield{};
    }
    case 2:
      return action::Combo{
          from_card_iter<max_combo_size>(random_subset(hand, choices, max_combo_size))};
    case 3:
      return action::Yield{};
    case 4:
      return action::Discard{random_subset(hand, choices, max_hand_capacity)};
    default:
      return action::ChangePlayer{PlayerId{choices.below(N)}};
  }
}

inline constexpr std::string_view damage_limit = "That's a lot of damage!";
inline constexpr std::string_view not_a_seat = "the player to move is not a seat of this game";
inline constexpr std::string_view pile_overflow = "capacity of a fixed-capacity list exceeded: 54";

// Follows one game step by step. The rules take every action on trust: a discard takes from the
// hand only the named cards it holds, and a play puts every named card on the table, held or
// not. The ledger books both, so that the cards the state holds can be checked after each step
// against the cards dealt, plus those an action invented, minus those discarded.
template <std::size_t N>
class GameWatch {
 public:
  explicit GameWatch(const State<N>& dealt) : expected_(cards_in_play(dealt)) {}

  // An empty list, which only a state off the rules' own paths may have: such as a discard phase
  // that the hand can no longer pay.
  [[nodiscard]] std::optional<std::string> check_has_actions(bool listed_empty) const {
    if (listed_empty && !went_off_the_list_) return "a reachable state has no action";
    return std::nullopt;
  }

  // Call before applying `action` to `before`.
  void record(const State<N>& before, const Action& action, bool listed) {
    last_listed_ = listed;
    went_off_the_list_ = went_off_the_list_ || !listed;
    if (const auto* change = std::get_if<action::ChangePlayer>(&action)) {
      seat_outside_game_ = seat_outside_game_ || change->id.index >= N;
    }
    if (std::holds_alternative<action::Yield>(action) ||
        std::holds_alternative<action::ChangePlayer>(action)) {
      return;
    }
    Hand held = before.current_player().hand;
    const bool discards = std::holds_alternative<action::Discard>(action);
    for (const Card card : named_cards(action)) {
      const auto match = std::find(held.begin(), held.end(), card);
      const bool was_held = match != held.end();
      if (was_held) held.erase(static_cast<std::size_t>(match - held.begin()));
      if (discards && was_held) --expected_[slot(card)];
      if (!discards && !was_held) ++expected_[slot(card)];
    }
    int total = 0;
    for (const int count : expected_) total += count;
    over_deck_capacity_ = over_deck_capacity_ || total > static_cast<int>(deck_capacity);
  }

  // A fault the rules raised since the last recorded action: nothing when they were entitled to
  // it, otherwise what makes it a finding. Only the damage limit may stop an unlisted play; a
  // seat outside the game and more cards than a pile can hold stop anything that follows them.
  [[nodiscard]] std::optional<std::string> judge_fault(std::string_view message) const {
    if (seat_outside_game_ && message == not_a_seat) return std::nullopt;
    if (over_deck_capacity_ && message == pile_overflow) return std::nullopt;
    if (last_listed_) return "a listed action faulted: " + std::string(message);
    if (message != damage_limit) return "an unlisted action faulted: " + std::string(message);
    return std::nullopt;
  }

  // Call after a step that did not end the game.
  [[nodiscard]] std::optional<std::string> check_state(const State<N>& state) const {
    if (cards_in_play(state) != expected_) return "cards appeared or vanished";
    for (const Player& player : state.players) {
      if (player.hand.size() > state.max_hand_size) return "a hand holds more than its size";
    }
    return std::nullopt;
  }

 private:
  CardCounts expected_;
  bool went_off_the_list_ = false;
  bool last_listed_ = true;
  bool seat_outside_game_ = false;
  bool over_deck_capacity_ = false;
};

}  // namespace tornquil::invariants
