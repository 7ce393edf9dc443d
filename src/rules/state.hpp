// State<N>: the complete game for N players (1 to 4) as one flat value. Applying an action to a
// state gives the next state or the game's result. A state may be copied and sent between
// threads freely; it is never shared while it changes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "rules/action.hpp"
#include "rules/table.hpp"

namespace tornquil {

// Room for every action list a state can have: at most 255 discards of an 8-card hand.
inline constexpr std::size_t max_actions = 256;
using ActionBuffer = StaticVec<Action, max_actions>;

template <std::size_t N>
struct State;

// The outcome of applying an action: the game goes on from a state, or it has ended.
template <std::size_t N>
using GameStatus = std::variant<State<N>, GameResult>;

template <std::size_t N>
struct State {
  static_assert(N >= 1 && N <= 4, "tornquil is a game for one to four players");
  static constexpr std::size_t player_count = N;
  static constexpr std::uint8_t hand_size = std::array<std::uint8_t, 4>{8, 7, 6, 5}[N - 1];
  static constexpr std::uint8_t jesters = std::array<std::uint8_t, 4>{0, 0, 1, 2}[N - 1];

  Table table;
  std::array<Player, N> players{};
  PlayerId has_turn;
  std::size_t times_yielded = 0;  // Yields since the last action other than a yield or discard.
  std::uint8_t max_hand_size = hand_size;
  ActionType action_type;
  // Absent in every state the rules produce; the search records an ended game here.
  std::optional<GameResult> has_ended;
  std::uint8_t level = 0;      // enemies defeated
  std::uint64_t rng_seed = 0;  // seeds the generator of the next random step

  // A new game dealt from `seed`, or from operating-system entropy when there is none.
  [[nodiscard]] static State create(std::optional<std::uint64_t> seed);
  [[nodiscard]] static StdRng new_rng(std::optional<std::uint64_t> seed);

  // A fresh generator seeded from rng_seed; rng_seed moves on to its first 64-bit draw.
  [[nodiscard]] StdRng get_rng();

  [[nodiscard]] const Player& current_player() const;
  [[nodiscard]] Player& current_player_mut();
  [[nodiscard]] Hand current_hand() const { return current_player().hand; }
  [[nodiscard]] const Enemy* current_enemy() const { return table.current_enemy(); }
  [[nodiscard]] std::uint8_t reward() const { return level; }
  void next_player() { has_turn = has_turn.next_id(N); }

  // Applies `action` to a copy; this state is unchanged.
  [[nodiscard]] GameStatus<N> take_action(const Action& action) const;
  [[nodiscard]] GameStatus<N> apply_action(const Action& action) &&;
  [[nodiscard]] GameStatus<N> play_cards(const Hand& cards) &&;

  // The same rules applied in place, for the hot loops: the result when the game has ended, in
  // which case this state is left part-way through the move and must not be used any more. A
  // caller that applies many moves to copies of one position may pass one `draw` for all of
  // them, so that its Hearts shuffle is drawn once; the result is the same with or without it.
  [[nodiscard]] std::optional<GameResult> apply_action_in_place(const Action& action,
                                                                HeartsDraw* draw = nullptr);
  [[nodiscard]] std::optional<GameResult> play_cards_in_place(const Hand& cards,
                                                              HeartsDraw* draw = nullptr);

  // The legal actions of the player to move, in their fixed order. The search fills a buffer it
  // reuses; everyone else takes a new list.
  [[nodiscard]] std::vector<Action> get_action_space() const;
  void fill_action_space(ActionBuffer& actions) const;

  // Three lines: whose turn, their hand and the current enemy.
  [[nodiscard]] std::string display_text() const;

  friend bool operator==(const State&, const State&) = default;

 private:
  void apply_suit_powers(std::uint8_t played_suits, std::uint16_t& attack, HeartsDraw* draw);
  void deal_diamonds(std::uint16_t count);
  [[nodiscard]] std::optional<GameResult> resolve_damage(std::uint16_t attack);
};

template <std::size_t N>
void describe(DebugWriter& writer, const State<N>& state);

extern template struct State<1>;
extern template struct State<2>;
extern template struct State<3>;
extern template struct State<4>;

}  // namespace tornquil
