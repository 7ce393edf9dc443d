// A seat number and a player's hand.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rules/card.hpp"

namespace tornquil {

struct PlayerId {
  std::size_t index = 0;

  // The next seat; the last seat wraps to seat 0.
  [[nodiscard]] constexpr PlayerId next_id(std::size_t total_players) const {
    return PlayerId{(index + 1) % total_players};
  }
  friend constexpr bool operator==(PlayerId, PlayerId) = default;
};

inline constexpr std::size_t max_hand_capacity = 8;
using Hand = CardList<max_hand_capacity>;

struct Player {
  PlayerId id;
  Hand hand;  // in the order the cards arrived

  [[nodiscard]] std::uint16_t total_hand_value() const { return attack_sum(hand); }
  // Removes one hand copy per named card: the first match in hand order. Named cards the hand
  // does not hold are ignored, and the remaining cards keep their order. (Both jesters of a
  // four-player game can sit in one hand; playing one must not take the other out of the game.)
  void remove_from_hand(const Hand& cards);

  friend bool operator==(const Player&, const Player&) = default;
};
static_assert(std::is_trivially_copyable_v<Player>);

void describe(DebugWriter& writer, PlayerId id);
void describe(DebugWriter& writer, const Player& player);

}  // namespace tornquil
