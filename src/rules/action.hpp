// The vocabulary of moves and results: Action (one of six kinds of move), ActionType (the kind
// of action the player to move must take), GameResult.
#pragma once

#include <cstdint>
#include <variant>

#include "rules/card.hpp"
#include "rules/player.hpp"

namespace tornquil {

inline constexpr std::size_t max_combo_size = 4;
using ComboCards = CardList<max_combo_size>;

namespace action {
struct Play {
  Card card;
  friend bool operator==(const Play&, const Play&) = default;
};
// An ace (the animal companion) first, its partner second.
struct AnimalCombo {
  Card ace;
  Card partner;
  friend bool operator==(const AnimalCombo&, const AnimalCombo&) = default;
};
struct Combo {
  ComboCards cards;
  friend bool operator==(const Combo&, const Combo&) = default;
};
struct Yield {
  friend bool operator==(const Yield&, const Yield&) = default;
};
struct Discard {
  Hand cards;
  friend bool operator==(const Discard&, const Discard&) = default;
};
struct ChangePlayer {
  PlayerId id;
  friend bool operator==(const ChangePlayer&, const ChangePlayer&) = default;
};
}  // namespace action

// Equal actions have the same kind and equal contents, lists compared in order.
using Action = std::variant<action::Play, action::AnimalCombo, action::Combo, action::Yield,
                            action::Discard, action::ChangePlayer>;
static_assert(std::is_trivially_copyable_v<Action>);

class ActionType {
 public:
  enum class Kind : std::uint8_t { PlayCards = 0, Discard = 1, Jester = 2 };

  [[nodiscard]] static constexpr ActionType play_cards() { return ActionType(Kind::PlayCards, 0); }
  // The player must discard cards worth at least `amount`.
  [[nodiscard]] static constexpr ActionType discard(std::uint8_t amount) {
    return ActionType(Kind::Discard, amount);
  }
  // The player has just played a jester and chooses who acts next.
  [[nodiscard]] static constexpr ActionType jester() { return ActionType(Kind::Jester, 0); }

  constexpr ActionType() = default;
  [[nodiscard]] constexpr Kind kind() const { return kind_; }
  [[nodiscard]] constexpr std::uint8_t discard_amount() const { return amount_; }
  friend constexpr bool operator==(ActionType, ActionType) = default;

 private:
  constexpr ActionType(Kind kind, std::uint8_t amount) : kind_(kind), amount_(amount) {}
  Kind kind_ = Kind::PlayCards;
  std::uint8_t amount_ = 0;
};

class GameResult {
 public:
  enum class Kind : std::uint8_t { Won = 0, Lost = 1 };

  [[nodiscard]] static constexpr GameResult won() { return GameResult(Kind::Won, 0); }
  [[nodiscard]] static constexpr GameResult lost(std::uint8_t level) {
    return GameResult(Kind::Lost, level);
  }
  // The number of enemies: the reward of a won game and the most any game can earn.
  [[nodiscard]] static constexpr std::uint8_t max_score() { return 12; }

  constexpr GameResult() = default;
  [[nodiscard]] constexpr Kind kind() const { return kind_; }
  [[nodiscard]] constexpr bool is_won() const { return kind_ == Kind::Won; }
  // The enemies defeated before a loss; 0 for a win.
  [[nodiscard]] constexpr std::uint8_t level() const { return level_; }
  // The reward of the game: max_score for a win, the level reached for a loss.
  [[nodiscard]] constexpr std::uint8_t score() const { return is_won() ? max_score() : level_; }
  friend constexpr bool operator==(GameResult, GameResult) = default;

 private:
  constexpr GameResult(Kind kind, std::uint8_t level) : kind_(kind), level_(level) {}
  Kind kind_ = Kind::Won;
  std::uint8_t level_ = 0;
};

void describe(DebugWriter& writer, const Action& action);
void describe(DebugWriter& writer, ActionType type);
void describe(DebugWriter& writer, GameResult result);

}  // namespace tornquil
