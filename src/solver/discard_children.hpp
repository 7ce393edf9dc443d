// The children of a position whose player must discard, derived from the position without
// applying a move: a discard only takes cards out of the hand, passes the turn and ends the phase,
// and never ends the game, so each child's key and order score follow from the parent's and the
// discarded cards'. The solver generates most of its nodes here.
#pragma once

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
      : parent_(parent),
        amount_(parent.action_type.discard_amount()),
        subsets_(1U << parent.current_player().hand.size()),
        prefix_(key_prefix(parent_table_key, parent)),
        hands_(hand_codes(parent)),
        worth_(position_worth(parent, kOrderWeights) + kOrderWeights.pending * amount_),
        hands_summary_(summarise_hands(parent)),
        health_(health_to_take(parent)) {
    const Hand& hand = parent.current_player().hand;
    sums_[0] = 0;
    smallest_[0] = UINT16_MAX;
    worths_[0] = 0;
    codes_[0] = HandCode{};
    diamonds_[0] = 0;
    for (unsigned mask = 1; mask < subsets_; ++mask) {
      const auto position = static_cast<std::size_t>(std::countr_zero(mask));
      const unsigned rest = mask & (mask - 1);
      const Card card = hand[position];
      sums_[mask] = static_cast<std::uint16_t>(sums_[rest] + attack_value(card));
      smallest_[mask] = std::min(smallest_[rest], attack_value(card));
      worths_[mask] = worths_[rest] + card_worth(card, kOrderWeights);
      codes_[mask] = codes_[rest];
      codes_[mask].add(card);
      diamonds_[mask] = diamonds_[rest] + (card.suit == CardSuit::Diamonds ? 1 : 0);
    }
  }

  // Masks over hand positions run from 1 to subsets() - 1.
  [[nodiscard]] unsigned subsets() const { return subsets_; }
  // Whether discarding the cards at `mask` absorbs the blow: the listed discards.
  [[nodiscard]] bool absorbs(unsigned mask) const { return sums_[mask] >= amount_; }

  [[nodiscard]] PositionKey key(unsigned mask) const {
    std::array<HandCode, N> hands = hands_;
    hands[parent_.has_turn.index].remove(codes_[mask]);
    return key_suffix<N>(prefix_, hands, parent_.rng_seed, parent_.times_yielded,
                         parent_.has_turn.next_id(N), ActionType::play_cards(), parent_.level,
                         parent_.max_hand_size);
  }

  // Whether cannot_win condemns the child, without making it.
  [[nodiscard]] bool cannot_win(unsigned mask) const {
    const HandsSummary left{hands_summary_.value - sums_[mask],
                            hands_summary_.diamonds - diamonds_[mask]};
    return starved(left, 0, health_);
  }

  // The order score of move_score for the child, without making it.
  [[nodiscard]] std::int32_t score(unsigned mask) const {
    const bool wasteful = sums_[mask] - smallest_[mask] >= amount_;
    return worth_ - worths_[mask] + (wasteful ? kOrderWeights.wasteful_discard : 0);
  }

 private:
  const State<N>& parent_;
  std::uint16_t amount_;
  unsigned subsets_;
  detail::KeyHasher prefix_;
  std::array<HandCode, N> hands_;
  std::int32_t worth_;
  HandsSummary hands_summary_;
  std::int32_t health_;
  std::array<std::uint16_t, 256> sums_;
  std::array<std::uint16_t, 256> smallest_;
  std::array<std::int32_t, 256> worths_;
  std::array<HandCode, 256> codes_;
  std::array<std::int32_t, 256> diamonds_;
};

}  // namespace tornquil::solver
