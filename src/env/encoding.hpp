// The game as numbers, for learning agents: a fixed index for every action the game can offer,
// the legal-action mask over those indices, and an observation vector of fixed length for one
// seat. Everything here translates; the rules themselves stay in `rules`. The functions are pure
// and may be called from any thread on values that no other thread changes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "rules/seat_view.hpp"
#include "rules/state_enum.hpp"

namespace tornquil::env {

using tornquil::Information;

// A card's number: suit * 13 + value - 1 for Ace to King of the four suits, then the jester.
inline constexpr std::size_t card_ids = 53;
inline constexpr std::size_t jester_id = 52;
// A royal's number among the twelve enemies: suit * 3 + (value - Jack).
inline constexpr std::size_t royal_ids = 12;
inline constexpr std::size_t max_seats = 4;

[[nodiscard]] std::size_t card_id(Card card);
[[nodiscard]] Card card_of_id(std::size_t id);
[[nodiscard]] std::size_t royal_id(Card card);

// The action indices, one block per kind of action. A block has room for every action of its
// kind that any hand could form, so an index means the same thing in every state; the mask says
// which of them the state offers.
struct ActionBlock {
  std::size_t first;
  std::size_t count;
};
inline constexpr ActionBlock play_block{0, card_ids};  // by card id
// By the ace's suit and the partner's card id (the jester is never a partner).
inline constexpr ActionBlock animal_combo_block{play_block.first + play_block.count, 4 * jester_id};
// By value (Two to Five) and the set of suits (bit per suit: spades 1, hearts 2, diamonds 4,
// clubs 8); only sets of two or more whose total is at most 10 are ever legal.
inline constexpr ActionBlock combo_block{animal_combo_block.first + animal_combo_block.count,
                                         4 * 16};
inline constexpr ActionBlock yield_block{combo_block.first + combo_block.count, 1};
// By the bit mask of hand positions, 1 to 255: index first + mask - 1.
inline constexpr ActionBlock discard_block{yield_block.first + yield_block.count, 255};
// By the seat that acts next.
inline constexpr ActionBlock change_player_block{discard_block.first + discard_block.count,
                                                 max_seats};
inline constexpr std::size_t action_count = change_player_block.first + change_player_block.count;

// The index of `action` as the player holding `hand` would take it. A discard's cards are
// matched to the first unused hand positions that hold them.
[[nodiscard]] std::size_t action_index(const Action& action, const Hand& hand);
// The action an index stands for given the hand of the player to move, or none when the hand
// cannot form it (a combo of cards it lacks, a discard of positions past its end).
[[nodiscard]] std::optional<Action> action_at(std::size_t index, const Hand& hand);

// The action at `index` when the state offers it, else none.
[[nodiscard]] std::optional<Action> legal_action_at(const StateEnum& state, std::size_t index);
// The indices of the state's legal actions in the order the rules list them; actions the rules
// list twice (two jesters in one hand) appear once.
[[nodiscard]] std::vector<std::size_t> legal_indices(const StateEnum& state);
[[nodiscard]] std::array<std::int8_t, action_count> legal_mask(const StateEnum& state);

// The blocks of an observation, in order. The counts of a pile are per card id.
struct ObservationLayout {
  static constexpr std::size_t hand_slots = 0;  // 8 x 53, one-hot by position
  static constexpr std::size_t attack_cards = hand_slots + 8 * card_ids;  // played at this enemy
  static constexpr std::size_t discard_pile = attack_cards + card_ids;
  static constexpr std::size_t out_of_game = discard_pile + card_ids;   // discarded by the players
  static constexpr std::size_t tavern_royals = out_of_game + card_ids;  // 12: depth from top + 1
  static constexpr std::size_t enemies_beaten = tavern_royals + royal_ids;  // 12
  static constexpr std::size_t current_enemy = enemies_beaten + royal_ids;  // 12, one-hot
  static constexpr std::size_t enemy_health = current_enemy + royal_ids;
  static constexpr std::size_t enemy_attack = enemy_health + 1;
  static constexpr std::size_t enemy_jester = enemy_attack + 1;
  static constexpr std::size_t tavern_size = enemy_jester + 1;
  static constexpr std::size_t castle_size = tavern_size + 1;
  static constexpr std::size_t discard_size = castle_size + 1;
  static constexpr std::size_t hand_sizes = discard_size + 1;      // 4, by seat
  static constexpr std::size_t observer = hand_sizes + max_seats;  // 4, one-hot
  static constexpr std::size_t has_turn = observer + max_seats;    // 4, one-hot
  static constexpr std::size_t phase = has_turn + max_seats;       // 3: play, discard, jester
  static constexpr std::size_t discard_amount = phase + 3;
  static constexpr std::size_t times_yielded = discard_amount + 1;
  static constexpr std::size_t players = times_yielded + 1;
  static constexpr std::size_t level = players + 1;
  static constexpr std::size_t max_hand_size = level + 1;
  static constexpr std::size_t own_size = max_hand_size + 1;
  // Only with full information:
  static constexpr std::size_t hands = own_size;  // 4 x 53 counts, by seat
  static constexpr std::size_t tavern_order =
      hands + max_seats * card_ids;  // 54: card id + 1, from the top
  static constexpr std::size_t castle_order =
      tavern_order + deck_capacity;  // 12: royal id + 1, from the current enemy
  static constexpr std::size_t full_size = castle_order + royal_ids;
};
// The README's tables give these numbers to the users of the environment.
static_assert(action_count == 585 && ObservationLayout::own_size == 645 &&
              ObservationLayout::full_size == 923);

[[nodiscard]] std::size_t observation_size(Information information);
// The largest value each entry can take; every entry is at least 0.
[[nodiscard]] std::vector<float> observation_high(Information information);
// The observation of the state for `seat`, which must be a seat of the game.
[[nodiscard]] std::vector<float> observe(const StateEnum& state, std::size_t seat,
                                         Information information);

// A state the seat cannot tell from this one: the world `sample_world` draws with a generator
// seeded from `seed`. It depends only on the seat's view and the seed, never on where the hidden
// cards really are, and the seat's own observation of it is unchanged.
[[nodiscard]] StateEnum resample_hidden(const StateEnum& state, std::size_t seat,
                                        std::uint64_t seed);

}  // namespace tornquil::env
