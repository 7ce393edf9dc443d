#include "rules/player.hpp"

#include <algorithm>

namespace tornquil {

void Player::remove_from_hand(const Hand& cards) {
  for (const Card card : cards) {
    const auto match = std::find(hand.begin(), hand.end(), card);
    if (match != hand.end()) hand.erase(static_cast<std::size_t>(match - hand.begin()));
  }
}

void describe(DebugWriter& writer, PlayerId id) {
  TupleWriter(writer, "PlayerId").field(id.index).finish();
}

void describe(DebugWriter& writer, const Player& player) {
  RecordWriter(writer, "Player").field("id", player.id).field("hand", player.hand).finish();
}

}  // namespace tornquil
