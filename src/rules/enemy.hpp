// Enemy: a royal card with its remaining health, its current attack and whether a jester has
// been played against it (until then it is immune to its own suit).
#pragma once

#include <cstdint>
#include <optional>

#include "rules/card.hpp"

namespace tornquil {

class Enemy {
 public:
  // Only a placeholder for fixed-capacity storage; every enemy of a game comes from Enemy(card).
  constexpr Enemy() = default;
  // The enemy for a Jack, Queen or King; any other card is an internal fault.
  explicit Enemy(Card card);

  [[nodiscard]] Card card() const { return card_; }
  [[nodiscard]] std::int8_t health() const { return health_; }
  [[nodiscard]] std::uint8_t attack_value() const { return attack_; }
  [[nodiscard]] bool jester_applied() const { return jester_applied_; }

  // Health may fall below 0 (an overkill). 128 or more is an internal fault.
  void take_damage(std::uint16_t amount);
  // Attack never falls below 0. 256 or more is an internal fault.
  void decrease_attack(std::uint16_t by);
  void apply_jester() { jester_applied_ = true; }

  friend bool operator==(const Enemy&, const Enemy&) = default;

 private:
  Card card_{CardSuit::Spades, CardValue::Jack};
  std::int8_t health_ = 0;
  std::uint8_t attack_ = 0;
  bool jester_applied_ = false;
};
static_assert(std::is_trivially_copyable_v<Enemy>);

void describe(DebugWriter& writer, const Enemy& enemy);

// A copy of the enemy a pointer shows, or none for no enemy.
[[nodiscard]] inline std::optional<Enemy> optional_enemy(const Enemy* enemy) {
  return enemy ? std::optional<Enemy>(*enemy) : std::nullopt;
}

}  // namespace tornquil
