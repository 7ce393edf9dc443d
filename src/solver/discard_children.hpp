// The children of a position whose player must discard, derived from the position without
// applying a move: a discard only takes cards out of the hand, passes the turn and ends the phase,
// and never ends the game, so each child's key and order score follow from the parent's and the
// discarded cards'. The solver generates most of its nodes here.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#include "solver/bounds.hpp"
#include "solver/move_order.hpp"
#include "solver/position_key.hpp"

namespace tornquil::solver {

template <std::size_t N>
class DiscardChildren {
 public:
  DiscardChildren(const State<N>& parent, PositionKey parent_table_key)
      : amount_(parent.action_type.discard_amount()),
        subsets_(1U << parent.current_player().hand.size()),
        mover_(parent.has_turn.index),
        full_key_(with_hands<N>(
            key_without_hands<N>(key_prefix(parent_table_key, parent), parent.rng_seed,
                                 parent.times_yielded, parent.has_turn.next_id(N),
                                 ActionType::play_cards(), parent.level, parent.max_hand_size),
            hand_codes(parent))),
        worth_(position_worth(parent, kOrderWeights) + kOrderWeights.pending * amount_),
        hands_summary_(summarise_hands(parent)),
        health_(health_to_take(parent)) {
    const Hand& hand = parent.current_player().hand;
    low_ = half_of(hand, 0);
    high_ = half_of(hand, kHalf);
  }

  // Masks over hand positions run from 1 to subsets() - 1.
  [[nodiscard]] unsigned subsets() const { return subsets_; }
  // Whether discarding the cards at `mask` absorbs the blow: the listed discards.
  [[nodiscard]] bool absorbs(unsigned mask) const { return sum(mask) >= amount_; }

  // The key of with_hands less the discarded cards' codes, weighed as the mover's hand is.
  [[nodiscard]] PositionKey key(unsigned mask) const {
    const HandCode& low = low_.codes[mask % 16];
    const HandCode& high = high_.codes[mask / 16];
    return {full_key_.high - (low.first + high.first) * kSeatFactors[mover_],
            full_key_.low - (low.second + high.second) * kSeatFactors[3 - mover_]};
  }

  // Whether cannot_win condemns the child, without making it.
  [[nodiscard]] bool cannot_win(unsigned mask) const {
    const HandsSummary left{
        hands_summary_.value - sum(mask),
        hands_summary_.diamonds - low_.diamonds[mask % 16] - high_.diamonds[mask / 16]};
    return starved(left, 0, health_);
  }

  // The order score of move_score for the child, without making it.
  [[nodiscard]] std::int32_t score(unsigned mask) const {
    const std::uint16_t smallest = std::min(low_.smallest[mask % 16], high_.smallest[mask / 16]);
    const bool wasteful = sum(mask) - smallest >= amount_;
    return worth_ - low_.worths[mask % 16] - high_.worths[mask / 16] +
           (wasteful ? kOrderWeights.wasteful_discard : 0);
  }

 private:
  // What the cards at the positions a mask picks among four of the hand's add up to; a mask over
  // the whole hand is one over its first four positions and one over the rest, so 2 x 15 subsets
  // are summed per position instead of 255.
  static constexpr std::size_t kHalf = 4;
  struct Half {
    std::array<std::uint16_t, 16> sums;
    std::array<std::uint16_t, 16> smallest;
    std::array<std::int32_t, 16> worths;
    std::array<HandCode, 16> codes;
    std::array<std::int32_t, 16> diamonds;
  };

  // The half from position `first`; only masks over the cards the hand holds are filled, and only
  // those are ever asked for.
  static Half half_of(const Hand& hand, std::size_t first) {
    Half half;
    half.sums[0] = 0;
    half.smallest[0] = UINT16_MAX;
    half.worths[0] = 0;
    half.codes[0] = HandCode{};
    half.diamonds[0] = 0;
    const std::size_t held = hand.size() > first ? std::min(hand.size() - first, kHalf) : 0;
    for (unsigned mask = 1; mask < (1U << held); ++mask) {
      const auto position = static_cast<std::size_t>(std::countr_zero(mask));
      const unsigned rest = mask & (mask - 1);
      const Card card = hand[first + position];
      half.sums[mask] = static_cast<std::uint16_t>(half.sums[rest] + attack_value(card));
      half.smallest[mask] = std::min(half.smallest[rest], attack_value(card));
      half.worths[mask] = half.worths[rest] + card_worth(card, kOrderWeights);
      half.codes[mask] = half.codes[rest];
      half.codes[mask].add(card);
      half.diamonds[mask] = half.diamonds[rest] + (card.suit == CardSuit::Diamonds ? 1 : 0);
    }
    return half;
  }

  [[nodiscard]] std::uint16_t sum(unsigned mask) const {
    return static_cast<std::uint16_t>(low_.sums[mask % 16] + high_.sums[mask / 16]);
  }

  std::uint16_t amount_;
  unsigned subsets_;
  std::size_t mover_;
  // The key of the child that discards nothing: the parent's cards, the next seat to play.
  PositionKey full_key_;
  std::int32_t worth_;
  HandsSummary hands_summary_;
  std::int32_t health_;
  Half low_;
  Half high_;
};

}  // namespace tornquil::solver
