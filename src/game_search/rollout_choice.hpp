// The rollouts' uniform choice among the legal discards, made without listing them. A discard
// phase can offer up to 255 subsets of a hand, and listing them dominated the cost of a random
// game; a uniform pick needs only the qualifying subsets as bit masks, in any order.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "game_search/fast_rng.hpp"
#include "game_search/pruning.hpp"
#include "rules/player.hpp"

namespace tornquil {

// A uniformly chosen subset of `hand` worth at least `amount`, as a mask over hand positions;
// 0 when none is. With `AvoidDiamonds`, a subset without Diamonds is chosen whenever one
// qualifies: the same choice as picking from the pruned list of discards.
template <bool AvoidDiamonds>
[[nodiscard]] std::uint8_t random_discard_mask(const Hand& hand, std::uint8_t amount,
                                               Xoshiro256& rng) {
  std::array<std::uint16_t, 1U << max_hand_capacity> sums;
  std::array<std::uint8_t, (1U << max_hand_capacity) - 1> qualifying;
  std::array<std::uint8_t, (1U << max_hand_capacity) - 1> without_diamonds;
  const std::uint8_t diamond_positions = kept_card_positions(hand);
  std::size_t qualifying_count = 0;
  std::size_t clean_count = 0;
  sums[0] = 0;
  const unsigned subset_count = 1U << hand.size();
  for (unsigned mask = 1; mask < subset_count; ++mask) {
    sums[mask] = static_cast<std::uint16_t>(
        sums[mask & (mask - 1)] +
        attack_value(hand[static_cast<std::size_t>(std::countr_zero(mask))]));
    // Written every time and kept by counting, since whether a subset qualifies is a coin flip
    // that no branch predictor learns.
    const bool qualifies = sums[mask] >= amount;
    qualifying[qualifying_count] = static_cast<std::uint8_t>(mask);
    qualifying_count += qualifies;
    if constexpr (AvoidDiamonds) {
      without_diamonds[clean_count] = static_cast<std::uint8_t>(mask);
      clean_count += qualifies & ((mask & diamond_positions) == 0);
    }
  }
  if (AvoidDiamonds && clean_count > 0) {
    return without_diamonds[rng.uniform(static_cast<std::uint32_t>(clean_count))];
  }
  if (qualifying_count == 0) return 0;
  return qualifying[rng.uniform(static_cast<std::uint32_t>(qualifying_count))];
}

}  // namespace tornquil
