#include "game/policy.hpp"

#include <string>

#include "error.hpp"
#include "game/action.hpp"

namespace tornquil {

std::uint32_t PolicyRng::next_u32() {
  const std::uint32_t t = x_ ^ (x_ << 11);
  x_ = y_;
  y_ = z_;
  z_ = w_;
  w_ = w_ ^ (w_ >> 19) ^ t ^ (t >> 8);
  return w_;
}

std::uint32_t PolicyRng::uniform_below(std::uint32_t n) {
  constexpr std::uint32_t all = std::numeric_limits<std::uint32_t>::max();
  const std::uint32_t zone = all - all % n;
  for (;;) {
    const std::uint32_t value = next_u32();
    if (value < zone) return value % n;
  }
}

MyPolicy MyPolicy::from_number(std::optional<std::uint8_t> policy_variation) {
  // The reward of a won game, the largest a playout can bring back.
  constexpr double max_score = static_cast<double>(GameResult::max_score());
  switch (policy_variation.value_or(0)) {
    case 0:
      return MyPolicy(UCTBase{max_score});
    case 3:
      return MyPolicy(UCTVariation3{max_score, 0.001});
    case 4:
      return MyPolicy(UCTVariation4{max_score});
    default:
      fault("Could not determine policy from number '" +
            std::to_string(static_cast<unsigned>(*policy_variation)) + "'");
  }
}

}  // namespace tornquil
