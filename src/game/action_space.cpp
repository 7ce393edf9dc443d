// The legal actions of a state, in their fixed order. Every consumer (players, the driver's
// legality check, the search tree and its rollouts) relies on this exact order.
#include <bit>
#include <span>

#include "game/state.hpp"

namespace tornquil {
namespace {

// For every hand size h up to 8, the non-empty subsets of h cards as bit masks over hand
// positions: by size, and within a size in lexicographic order of their position tuples.
struct SubsetTable {
  std::array<std::uint8_t, 502> masks{};
  std::array<std::uint16_t, max_hand_capacity + 2> offsets{};
};

constexpr SubsetTable make_subset_table() {
  SubsetTable table;
  std::size_t next = 0;
  for (int hand_size = 0; hand_size <= static_cast<int>(max_hand_capacity); ++hand_size) {
    table.offsets[static_cast<std::size_t>(hand_size)] = static_cast<std::uint16_t>(next);
    for (int k = 1; k <= hand_size; ++k) {
      std::array<int, max_hand_capacity> positions{};
      for (int i = 0; i < k; ++i) positions[static_cast<std::size_t>(i)] = i;
      while (true) {
        std::uint8_t mask = 0;
        for (int i = 0; i < k; ++i) mask |= static_cast<std::uint8_t>(1U << positions[static_cast<std::size_t>(i)]);
        table.masks[next++] = mask;
        int i = k - 1;
        while (i >= 0 && positions[static_cast<std::size_t>(i)] == hand_size - k + i) --i;
        if (i < 0) break;
        ++positions[static_cast<std::size_t>(i)];
        for (int j = i + 1; j < k; ++j) {
          positions[static_cast<std::size_t>(j)] = positions[static_cast<std::size_t>(j - 1)] + 1;
        }
      }
    }
  }
  table.offsets[max_hand_capacity + 1] = static_cast<std::uint16_t>(next);
  return table;
}

constexpr SubsetTable subsets = make_subset_table();

// The subsets of `size` cards, in order.
constexpr std::span<const std::uint8_t> subsets_of(std::size_t size) {
  return {subsets.masks.data() + subsets.offsets[size],
          static_cast<std::size_t>(subsets.offsets[size + 1] - subsets.offsets[size])};
}

template <std::size_t Capacity, std::size_t From>
CardList<Capacity> cards_of_mask(const CardList<From>& cards, std::uint8_t mask) {
  CardList<Capacity> chosen;
  for (; mask != 0; mask &= static_cast<std::uint8_t>(mask - 1)) {
    chosen.push_back(cards[static_cast<std::size_t>(std::countr_zero(mask))]);
  }
  return chosen;
}

// An ace pairs with any card but a jester; with another ace only when that ace's suit ranks
// strictly below its own, so two aces give one combo.
bool is_partner_of(Card ace, Card card) {
  if (card.value == CardValue::Jester) return false;
  return card.value != CardValue::Ace || compare_suits(card.suit, ace.suit) < 0;
}

template <typename Out>
void append_attack_actions(const Hand& hand, Out& out) {
  for (const Card card : hand) out.push_back(action::Play{card});
  for (const Card ace : hand) {
    if (ace.value != CardValue::Ace) continue;
    for (const Card card : hand) {
      if (is_partner_of(ace, card)) out.push_back(action::AnimalCombo{ace, card});
    }
  }
  for (const CardValue value : {CardValue::Two, CardValue::Three, CardValue::Four, CardValue::Five}) {
    Hand same_value;
    for (const Card card : hand) {
      if (card.value == value) same_value.push_back(card);
    }
    for (const std::uint8_t mask : subsets_of(same_value.size())) {
      const int size = std::popcount(mask);
      if (size < 2 || size > static_cast<int>(max_combo_size)) continue;
      if (size * attack_values[static_cast<std::uint8_t>(value)] > 10) continue;
      out.push_back(action::Combo{cards_of_mask<max_combo_size>(same_value, mask)});
    }
  }
  out.push_back(action::Yield{});
}

template <typename Out>
void append_discard_actions(const Hand& hand, std::uint8_t discard_amount, Out& out) {
  // Sums of every subset, each from a smaller one: sum(mask) = sum(mask without its lowest card)
  // plus that card.
  std::array<std::uint16_t, 1U << max_hand_capacity> sums;
  sums[0] = 0;
  const unsigned subset_count = 1U << hand.size();
  for (unsigned mask = 1; mask < subset_count; ++mask) {
    sums[mask] = static_cast<std::uint16_t>(sums[mask & (mask - 1)] +
                                            attack_value(hand[static_cast<std::size_t>(std::countr_zero(mask))]));
  }
  for (const std::uint8_t mask : subsets_of(hand.size())) {
    if (sums[mask] >= discard_amount) out.push_back(action::Discard{cards_of_mask<max_hand_capacity>(hand, mask)});
  }
}

template <std::size_t N, typename Out>
void append_jester_actions(Out& out) {
  for (std::size_t seat = 0; seat < N; ++seat) out.push_back(action::ChangePlayer{PlayerId{seat}});
}

template <std::size_t N, typename Out>
void append_action_space(const State<N>& state, Out& out) {
  switch (state.action_type.kind()) {
    case ActionType::Kind::PlayCards:
      append_attack_actions(state.current_player().hand, out);
      return;
    case ActionType::Kind::Discard:
      append_discard_actions(state.current_player().hand, state.action_type.discard_amount(), out);
      return;
    case ActionType::Kind::Jester:
      append_jester_actions<N>(out);
      return;
  }
}

}  // namespace

template <std::size_t N>
std::vector<Action> State<N>::get_action_space() const {
  std::vector<Action> actions;
  actions.reserve(16);
  append_action_space(*this, actions);
  return actions;
}

template <std::size_t N>
void State<N>::fill_action_space(ActionBuffer& actions) const {
  actions.clear();
  append_action_space(*this, actions);
}

template std::vector<Action> State<1>::get_action_space() const;
template std::vector<Action> State<2>::get_action_space() const;
template std::vector<Action> State<3>::get_action_space() const;
template std::vector<Action> State<4>::get_action_space() const;
template void State<1>::fill_action_space(ActionBuffer&) const;
template void State<2>::fill_action_space(ActionBuffer&) const;
template void State<3>::fill_action_space(ActionBuffer&) const;
template void State<4>::fill_action_space(ActionBuffer&) const;

}  // namespace tornquil
