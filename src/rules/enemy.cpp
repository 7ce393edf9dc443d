#include "rules/enemy.hpp"

namespace tornquil {
namespace {

constexpr char lot_of_damage[] = "That's a lot of damage!";

}  // namespace

Enemy::Enemy(Card card) : card_(card) {
  switch (card.value) {
    case CardValue::Jack:
      health_ = 20;
      attack_ = 10;
      break;
    case CardValue::Queen:
      health_ = 30;
      attack_ = 15;
      break;
    case CardValue::King:
      health_ = 40;
      attack_ = 20;
      break;
    default:
      fault(debug_text(card) + " is not an enemy");
  }
}

void Enemy::take_damage(std::uint16_t amount) {
  if (amount >= 128) fault(lot_of_damage);
  health_ = static_cast<std::int8_t>(health_ - static_cast<std::int8_t>(amount));
}

void Enemy::decrease_attack(std::uint16_t by) {
  if (by >= 256) fault(lot_of_damage);
  attack_ = by >= attack_ ? 0 : static_cast<std::uint8_t>(attack_ - by);
}

void describe(DebugWriter& writer, const Enemy& enemy) {
  RecordWriter(writer, "Enemy")
      .field("card", enemy.card())
      .field("health", enemy.health())
      .field("attack", enemy.attack_value())
      .field("jester_applied", enemy.jester_applied())
      .finish();
}

}  // namespace tornquil
