// The legal actions of a state, in their fixed order. Every consumer (players, the driver's
// legality check, the search tree and its rollouts) relies on this exact order.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "base/error.hpp"
#include "rules/attack_actions.hpp"
#include "rules/state.hpp"

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
        for (int i = 0; i < k; ++i)
          mask |= static_cast<std::uint8_t>(1U << positions[static_cast<std::size_t>(i)]);
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

// The number of cards in every subset mask. A table, because std::popcount is a library call on
// the baseline x86-64 that the module is built for.
constexpr std::array<std::uint8_t, 1U << max_hand_capacity> subset_sizes = [] {
  std::array<std::uint8_t, 1U << max_hand_capacity> sizes{};
  for (unsigned mask = 1; mask < sizes.size(); ++mask) {
    sizes[mask] = static_cast<std::uint8_t>(sizes[mask & (mask - 1)] + 1);
  }
  return sizes;
}();

// Discards are listed by the hundred in the rollouts, so a subset's cards are assembled from two
// tables of four-card halves instead of card by card. A half's chosen cards are packed from the low
// end of a word, two bytes a card, which is their order in memory on a little-endian machine;
// unused slots hold zero, the bytes of Card{}, as an emptied list holds them.
static_assert(std::endian::native == std::endian::little);
static_assert(std::bit_cast<std::uint16_t>(Card{}) == 0);
inline constexpr std::size_t half_hand = max_hand_capacity / 2;

struct HalfSubsets {
  std::array<std::uint64_t, 1U << half_hand> cards;
  std::array<std::uint16_t, 1U << half_hand> sums;
};

// The subsets of the up to four hand positions from `first`. Only the masks over cards the hand
// holds are filled, and only those are ever asked for.
HalfSubsets half_subsets(const Hand& hand, std::size_t first) {
  HalfSubsets half;
  half.cards[0] = 0;
  half.sums[0] = 0;
  const std::size_t held = hand.size() > first ? std::min(hand.size() - first, half_hand) : 0;
  for (unsigned mask = 1; mask < (1U << held); ++mask) {
    const auto last = static_cast<std::size_t>(std::bit_width(mask) - 1);
    const unsigned without_last = mask ^ (1U << last);
    const Card card = hand[first + last];
    half.cards[mask] = half.cards[without_last] | (std::uint64_t{std::bit_cast<std::uint16_t>(card)}
                                                   << (16 * subset_sizes[without_last]));
    half.sums[mask] = static_cast<std::uint16_t>(half.sums[without_last] + attack_value(card));
  }
  return half;
}

struct HandSubsets {
  HalfSubsets low;
  HalfSubsets high;

  explicit HandSubsets(const Hand& hand)
      : low(half_subsets(hand, 0)), high(half_subsets(hand, half_hand)) {}

  [[nodiscard]] std::uint16_t sum(unsigned mask) const {
    return static_cast<std::uint16_t>(low.sums[mask & 15U] + high.sums[mask >> half_hand]);
  }
  // The chosen cards of the low half, then those of the high half right after them.
  [[nodiscard]] Hand cards(unsigned mask) const {
    const std::uint64_t low_cards = low.cards[mask & 15U];
    const std::uint64_t high_cards = high.cards[mask >> half_hand];
    const unsigned shift = 16U * subset_sizes[mask & 15U];
    std::array<std::uint64_t, 2> words{low_cards, 0};
    if (shift == 64) {
      words[1] = high_cards;
    } else {
      words[0] |= high_cards << shift;
      if (shift != 0) words[1] = high_cards >> (64 - shift);
    }
    // memcpy rather than bit_cast: GCC turns a bit_cast to an array of Card into byte shuffling.
    std::array<Card, max_hand_capacity> cards;
    std::memcpy(static_cast<void*>(cards.data()), words.data(), sizeof cards);
    return Hand(cards, subset_sizes[mask]);
  }
};

// An ace pairs with any card but a jester; with another ace only when that ace's suit ranks
// strictly below its own, so two aces give one combo.
bool is_partner_of(Card ace, Card card) {
  if (card.value == CardValue::Jester) return false;
  return card.value != CardValue::Ace || compare_suits(card.suit, ace.suit) < 0;
}

template <typename Out>
void append_animal_combos(const Hand& hand, Out& out) {
  for (const Card ace : hand) {
    if (ace.value != CardValue::Ace) continue;
    for (const Card card : hand) {
      if (is_partner_of(ace, card)) out.push_back(action::AnimalCombo{ace, card});
    }
  }
}

// Only Twos to Fives combine, and only up to a total of ten.
inline constexpr std::size_t combo_values = 4;
constexpr std::size_t combo_index(CardValue value) { return static_cast<std::size_t>(value) - 2; }
constexpr bool combines(CardValue value) {
  return value >= CardValue::Two && value <= CardValue::Five;
}

constexpr bool is_combo(std::size_t size, std::uint16_t value) {
  return size >= 2 && size <= max_combo_size && size * value <= 10;
}

template <typename Out>
void append_same_value_combos(const std::array<Hand, combo_values>& by_value, Out& out) {
  for (std::size_t index = 0; index < combo_values; ++index) {
    const Hand& same_value = by_value[index];
    if (same_value.size() < 2) continue;
    const std::uint16_t value = attack_value(same_value[0]);
    for (const std::uint8_t mask : subsets_of(same_value.size())) {
      if (!is_combo(subset_sizes[mask], value)) continue;
      out.push_back(action::Combo{cards_at<max_combo_size>(same_value, mask)});
    }
  }
}

// How many combos the cards of one combining value form, by that value and by how many of them a
// hand holds: the subsets that append_same_value_combos keeps.
constexpr auto combo_counts = [] {
  std::array<std::array<std::uint8_t, max_hand_capacity + 1>, combo_values> counts{};
  for (std::size_t index = 0; index < combo_values; ++index) {
    const auto value = static_cast<std::uint16_t>(index + 2);
    for (std::size_t held = 2; held <= max_hand_capacity; ++held) {
      for (const std::uint8_t mask : subsets_of(held)) {
        if (is_combo(subset_sizes[mask], value)) ++counts[index][held];
      }
    }
  }
  return counts;
}();

// One pass over the hand lists the single plays and sorts out the aces and the cards that
// combine, so the later groups look only at what can form them.
template <typename Out>
void append_attack_actions(const Hand& hand, Out& out) {
  bool has_ace = false;
  std::array<Hand, combo_values> by_value;
  for (const Card card : hand) {
    out.push_back(action::Play{card});
    has_ace = has_ace || card.value == CardValue::Ace;
    if (combines(card.value)) by_value[combo_index(card.value)].push_back(card);
  }
  if (has_ace) append_animal_combos(hand, out);
  append_same_value_combos(by_value, out);
  out.push_back(action::Yield{});
}

// For each card value, one in the byte of its combining value, or nothing; summed over a hand,
// how many cards of each combining value it holds.
constexpr auto combining_counter = [] {
  std::array<std::uint32_t, attack_values.size()> counters{};
  for (std::size_t value = 0; value < counters.size(); ++value) {
    const auto card_value = static_cast<CardValue>(value);
    if (combines(card_value)) counters[value] = 1U << (8 * combo_index(card_value));
  }
  return counters;
}();
static_assert(max_hand_capacity < 256, "a count of one value fits in its byte");

// Counts what it is given and keeps the one at `wanted`, if any: a list that the generators above
// can write to without its being built.
struct ActionAt {
  std::size_t wanted = SIZE_MAX;
  std::size_t seen = 0;
  Action found;

  void push_back(const Action& action) {
    if (seen++ == wanted) found = action;
  }
};

template <typename Out>
void append_discard_actions(const Hand& hand, std::uint8_t discard_amount, Out& out) {
  const HandSubsets of_hand(hand);
  for (const std::uint8_t mask : subsets_of(hand.size())) {
    if (of_hand.sum(mask) >= discard_amount) out.push_back(action::Discard{of_hand.cards(mask)});
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

// Random games count the attacks of a hand at nearly every other step, and whether a card
// combines is as good as random: the cards of each combining value are counted in a byte of one
// word, with no branch on the card.
AttackActions::AttackActions(const Hand& hand) : hand_(hand), size_(hand.size() + 1) {
  std::uint32_t of_value = 0;
  bool has_ace = false;
  for (const Card card : hand) {
    has_ace |= card.value == CardValue::Ace;
    of_value += combining_counter[static_cast<std::size_t>(card.value)];
  }
  for (std::size_t index = 0; index < combo_values; ++index) {
    size_ += combo_counts[index][(of_value >> (8 * index)) & 0xFFU];
  }
  if (has_ace) {
    ActionAt animal_combos;
    append_animal_combos(hand, animal_combos);
    size_ += animal_combos.seen;
  }
}

Action AttackActions::combo_at(std::size_t index) const {
  ActionAt at{index, 0, action::Yield{}};
  append_attack_actions(hand_, at);
  if (index >= size_ || at.seen != size_) {
    fault("attack " + std::to_string(index) + " asked of " + std::to_string(at.seen) +
          " attacks, counted as " + std::to_string(size_));
  }
  return at.found;
}

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
