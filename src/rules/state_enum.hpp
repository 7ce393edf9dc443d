// StateEnum: a game state whose player count is known only at run time. Every operation
// forwards to the State<N> inside; the count is fixed when the value is made.
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "base/error.hpp"
#include "rules/state.hpp"

namespace tornquil {

// Calls body(std::integral_constant<std::size_t, N>{}) with the player count N that `players`
// names, turning a run-time count into the compile-time one a State<N> needs. A count outside
// 1 to 4 is an internal fault: callers check it first.
template <typename Body>
decltype(auto) with_player_count(std::size_t players, Body&& body) {
  switch (players) {
    case 1:
      return body(std::integral_constant<std::size_t, 1>{});
    case 2:
      return body(std::integral_constant<std::size_t, 2>{});
    case 3:
      return body(std::integral_constant<std::size_t, 3>{});
    case 4:
      return body(std::integral_constant<std::size_t, 4>{});
    default:
      fault("a game has 1 to 4 players, not " + std::to_string(players));
  }
}

class StateEnum {
 public:
  using Variant = std::variant<State<1>, State<2>, State<3>, State<4>>;

  template <std::size_t N>
  explicit StateEnum(const State<N>& state) : state_(state) {}

  // A new game for 1 to 4 players; any other count is WrongNumberOfPlayers.
  [[nodiscard]] static std::variant<StateEnum, TornquilError> create(
      std::size_t players, std::optional<std::uint64_t> seed);

  [[nodiscard]] std::size_t player_count() const { return state_.index() + 1; }
  [[nodiscard]] const Variant& variant() const { return state_; }
  [[nodiscard]] Variant& variant() { return state_; }
  template <typename F>
  decltype(auto) visit(F&& f) const {
    return std::visit(std::forward<F>(f), state_);
  }

  [[nodiscard]] PlayerId has_turn() const;
  [[nodiscard]] Hand current_hand() const;
  [[nodiscard]] std::optional<Enemy> current_enemy() const;
  [[nodiscard]] std::uint8_t reward() const;
  [[nodiscard]] std::vector<Action> get_action_space() const;
  [[nodiscard]] std::string debug_text(Layout layout = Layout::Compact) const;
  [[nodiscard]] std::string display_text() const;

  // Applies the action to a copy of the held state. While the game goes on the new state is
  // kept; when it ends, the result comes back and the held state stays as it was before.
  [[nodiscard]] std::optional<GameResult> take_action(const Action& action);

  friend bool operator==(const StateEnum&, const StateEnum&) = default;

 private:
  Variant state_;
};

void describe(DebugWriter& writer, const StateEnum& state);

}  // namespace tornquil
