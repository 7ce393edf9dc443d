// PositionKey: 128 bits that stand for everything in a state that decides its future, so that
// equal positions meet in the solver's table and different ones practically never do.
//
// What is keyed: the castle deck (every enemy with its health, attack and jester mark), the tavern
// deck, the discard pile and the attack cards in their order (the Hearts shuffle draws on the
// discard pile's order, and attack cards join it in order), every hand as a multiset (its order
// only changes the order of the action list), the seat to move, the yields in a row, the phase
// with its amount, the level, the seed of the next random step and the player count. Not keyed:
// `has_ended`, which the rules never read. Cards must be real cards or jesters, as the rules make.
//
// The key is built in layers, so that the solver can reuse the parts a move leaves alone: the
// table key (the castle deck below the current enemy, the tavern deck and the discard pile, which
// only kills, Hearts and Diamonds change), then the current enemy and the attack cards, then the
// turn, and last the hands, added to the mix of the rest.
//
// Two different positions share a key only by accident of the hash: both halves are 64-bit mixes
// of every word but the hands, to which the hands add one independent sum of random card codes
// each (see with_hands), and the table compares 112 of the 128 bits (the rest choose the bucket).
// Over 10^12 probes of 4-entry buckets the chance of one false match is about 10^12 * 4 / 2^112,
// below 10^-21: a proven-lost entry never lies in practice.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "rules/state.hpp"

namespace tornquil::solver {

struct PositionKey {
  std::uint64_t high = 0;  // picks the bucket; its top 48 bits are also stored
  std::uint64_t low = 0;   // stored whole
  friend constexpr bool operator==(PositionKey, PositionKey) = default;
};

namespace detail {

// Random 64-bit values for every card byte pair (suit 0-4, value 0-13), one table per key half.
// A hand's key is the sum of its cards' values: the same for every order of the same cards.
struct CardCodes {
  std::array<std::uint64_t, 80> first;
  std::array<std::uint64_t, 80> second;
};

constexpr std::uint64_t split_mix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

constexpr CardCodes make_card_codes() {
  CardCodes codes{};
  std::uint64_t state = 0x7A3C1E55D00DF00DULL;
  for (auto& code : codes.first) code = split_mix(state);
  for (auto& code : codes.second) code = split_mix(state);
  return codes;
}

inline constexpr CardCodes card_codes = make_card_codes();

constexpr std::size_t card_code_index(Card card) {
  return static_cast<std::size_t>(card.suit) * 14 + static_cast<std::size_t>(card.value);
}

// Four lanes, two for each half of the key, each word going to one lane of each half in turn, so
// that every word reaches both halves while the lanes' multiplications overlap in time. Each step
// (xor the word, multiply by an odd constant, fold the high bits down) is a bijection of the lane
// for a fixed word.
class KeyHasher {
 public:
  // One word into both halves of the key.
  [[gnu::always_inline]] void word(std::uint64_t value) { word2(value, value); }
  // `for_high` into the high half and `for_low` into the low half: for values that are themselves
  // two independent 64-bit hashes.
  [[gnu::always_inline]] void word2(std::uint64_t for_high, std::uint64_t for_low) {
    if (odd_) {
      high_b_ = step(high_b_ ^ for_high, 0xD6E8FEB86659FD93ULL, 29);
      low_b_ = step(low_b_ ^ for_low, 0xC2B2AE3D27D4EB4FULL, 31);
    } else {
      high_a_ = step(high_a_ ^ for_high, 0x9FB21C651E98DF25ULL, 32);
      low_a_ = step(low_a_ ^ for_low, 0xFF51AFD7ED558CCDULL, 33);
    }
    odd_ = !odd_;
  }

  // `count` bytes from `data`, then their count: sixteen bytes at a time, then the last sixteen
  // again (overlapping the block before) when the count is not a multiple of sixteen, or, for
  // fewer than sixteen, all sixteen with those past the count masked off; as for cards, the count
  // and the words give back every byte. `data` must have sixteen readable bytes.
  void bytes(const void* data, std::size_t count) {
    const auto* from = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    for (; done + 16 <= count; done += 16) pair(load(from + done), load(from + done + 8));
    if (count >= 16 && done < count) {
      pair(load(from + count - 16), load(from + count - 8));
    } else if (count < 16 && count != 0) {
      pair(load(from) & low_bytes(count), load(from + 8) & low_bytes(count < 8 ? 0 : count - 8));
    }
    word(count);
  }

  // The cards of a pile, then their count: eight cards at a time, then the last eight cards
  // again (overlapping the block before) when the count is not a multiple of eight, or, in a pile
  // of fewer than eight, its cards with the slots past its end masked off. The count and the words
  // give back every card, so different piles give different words; `data` must have room for
  // eight cards, since a short pile is read whole and masked.
  void cards(const Card* data, std::size_t count) {
    std::size_t done = 0;
    for (; done + 8 <= count; done += 8) pair(load(data + done), load(data + done + 4));
    if (count >= 8 && done < count) {
      pair(load(data + count - 8), load(data + count - 4));
    } else if (count < 8 && count != 0) {
      pair(load(data) & kShortPileMasks[count][0], load(data + 4) & kShortPileMasks[count][1]);
    }
    word(count);
  }

  // Two words, the first to the even lanes and the second to the odd ones, with no turn taken.
  [[gnu::always_inline]] void pair(std::uint64_t first, std::uint64_t second) {
    high_a_ = step(high_a_ ^ first, 0x9FB21C651E98DF25ULL, 32);
    low_a_ = step(low_a_ ^ first, 0xFF51AFD7ED558CCDULL, 33);
    high_b_ = step(high_b_ ^ second, 0xD6E8FEB86659FD93ULL, 29);
    low_b_ = step(low_b_ ^ second, 0xC2B2AE3D27D4EB4FULL, 31);
  }

  [[nodiscard]] PositionKey finish() const {
    const std::uint64_t high = step(high_a_ ^ rotate(high_b_, 23), 0x94D049BB133111EBULL, 31);
    const std::uint64_t low = step(low_a_ ^ rotate(low_b_, 41), 0xBF58476D1CE4E5B9ULL, 30);
    return {step(high ^ (low >> 17), 0xD6E8FEB86659FD93ULL, 32),
            step(low, 0x9E3779B97F4A7C15ULL, 29)};
  }

 private:
  static constexpr std::uint64_t step(std::uint64_t value, std::uint64_t factor, int shift) {
    value *= factor;
    return value ^ (value >> shift);
  }
  // Eight bytes (four cards) as one word, the first in the low bits.
  static std::uint64_t load(const void* from) {
    std::uint64_t word;
    std::memcpy(&word, from, sizeof word);
    return word;
  }
  // The first `count` bytes of a word, for count <= 8.
  static constexpr std::uint64_t low_bytes(std::size_t count) {
    return count >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * count)) - 1;
  }
  static_assert(std::endian::native == std::endian::little, "the masks keep a pile's first cards");
  static constexpr std::array<std::array<std::uint64_t, 2>, 8> kShortPileMasks = [] {
    std::array<std::array<std::uint64_t, 2>, 8> masks{};
    for (std::size_t count = 0; count < 8; ++count) {
      for (std::size_t card = 0; card < count; ++card) {
        masks[count][card / 4] |= std::uint64_t{0xFFFF} << (16 * (card % 4));
      }
    }
    return masks;
  }();

  static constexpr std::uint64_t rotate(std::uint64_t value, int by) {
    return (value << by) | (value >> (64 - by));
  }

  std::uint64_t high_a_ = 0x243F6A8885A308D3ULL;
  std::uint64_t high_b_ = 0x13198A2E03707344ULL;
  std::uint64_t low_a_ = 0xA4093822299F31D0ULL;
  std::uint64_t low_b_ = 0x082EFA98EC4E6C89ULL;
  bool odd_ = false;
};

}  // namespace detail

template <std::size_t Capacity>
void key_pile(detail::KeyHasher& hasher, const CardList<Capacity>& pile) {
  static_assert(Capacity >= 8, "a short pile is read as eight cards");
  hasher.cards(pile.data(), pile.size());
}

// A hand as a multiset: one 64-bit sum of card codes for each half of the key.
struct HandCode {
  std::uint64_t first = 0;
  std::uint64_t second = 0;

  void add(Card card) {
    first += detail::card_codes.first[detail::card_code_index(card)];
    second += detail::card_codes.second[detail::card_code_index(card)];
  }
  void remove(const HandCode& cards) {
    first -= cards.first;
    second -= cards.second;
  }
};

[[nodiscard]] inline HandCode hand_code(const Hand& hand) {
  HandCode code;
  for (const Card card : hand) code.add(card);
  return code;
}

// The castle deck below the current enemy, the tavern deck and the discard pile.
template <std::size_t N>
[[nodiscard]] PositionKey table_key(const State<N>& state) {
  detail::KeyHasher hasher;
  const Table& table = state.table;
  const std::size_t below = table.castle_deck.empty() ? 0 : table.castle_deck.size() - 1;
  static_assert(CastleDeck::capacity() * sizeof(Enemy) >= 16,
                "the castle deck is read as 16 bytes");
  hasher.bytes(table.castle_deck.data(), below * sizeof(Enemy));
  key_pile(hasher, table.tavern_deck);
  key_pile(hasher, table.discard_pile);
  return hasher.finish();
}

// The table key, the current enemy and the attack cards: what a discard leaves alone.
template <std::size_t N>
[[nodiscard]] detail::KeyHasher key_prefix(PositionKey table, const State<N>& state) {
  detail::KeyHasher hasher;
  hasher.word2(table.high, table.low);
  std::uint64_t enemy = 0;
  if (const Enemy* current = state.current_enemy()) std::memcpy(&enemy, current, sizeof(Enemy));
  hasher.word(enemy | std::uint64_t{state.table.castle_deck.size()} << 56);
  key_pile(hasher, state.table.attack_cards);
  return hasher;
}

// Per seat, an odd factor that weighs its hand's code: the hands go into the key as one sum, and
// moving cards between seats changes it as surely as changing the cards.
inline constexpr std::array<std::uint64_t, 4> kSeatFactors = {
    0x9E3779B97F4A7C15ULL, 0xC2B2AE3D27D4EB4FULL, 0x165667B19E3779F9ULL, 0xD6E8FEB86659FD93ULL};

// The key of a position but for its hands: the prefix and the turn. Yields in a row beyond 255
// are keyed as 255: from N - 1 on every count has the same future (the next yield loses, a play
// resets it), so this merges only positions that are the same game. A seat to move beyond 255 is
// no seat of any game and is keyed as 255, apart from every real one.
template <std::size_t N>
[[nodiscard]] PositionKey key_without_hands(detail::KeyHasher hasher, std::uint64_t rng_seed,
                                            std::size_t times_yielded, PlayerId has_turn,
                                            ActionType action_type, std::uint8_t level,
                                            std::uint8_t max_hand_size) {
  hasher.word(rng_seed);
  hasher.word(static_cast<std::uint64_t>(action_type.kind()) |
              std::uint64_t{action_type.discard_amount()} << 8 | std::uint64_t{level} << 16 |
              std::uint64_t{max_hand_size} << 24 | std::uint64_t{N} << 32 |
              std::uint64_t{std::min<std::size_t>(times_yielded, 255)} << 40 |
              std::uint64_t{std::min<std::size_t>(has_turn.index, 255)} << 48);
  return hasher.finish();
}

// The hands added to a key without them: each half gains one sum of random card codes, each hand's
// weighted by its seat, as a table of random codes keys a board. Two positions that differ
// elsewhere have independent mixes to which the sums add; two that differ only in their hands
// have sums that differ by a combination of independent random codes. So the hands cost a
// collision no more than if they were mixed in with the rest, and a move that changes only one
// hand (a discard) changes the key by one product a half.
template <std::size_t N>
[[nodiscard]] PositionKey with_hands(PositionKey key, const std::array<HandCode, N>& hands) {
  for (std::size_t seat = 0; seat < N; ++seat) {
    key.high += hands[seat].first * kSeatFactors[seat];
    key.low += hands[seat].second * kSeatFactors[3 - seat];
  }
  return key;
}

// The key of a position whose hands' codes are `hands`, from its prefix and its turn.
template <std::size_t N>
[[nodiscard]] PositionKey key_suffix(detail::KeyHasher hasher, const std::array<HandCode, N>& hands,
                                     std::uint64_t rng_seed, std::size_t times_yielded,
                                     PlayerId has_turn, ActionType action_type, std::uint8_t level,
                                     std::uint8_t max_hand_size) {
  return with_hands<N>(key_without_hands<N>(hasher, rng_seed, times_yielded, has_turn, action_type,
                                            level, max_hand_size),
                       hands);
}

template <std::size_t N>
[[nodiscard]] std::array<HandCode, N> hand_codes(const State<N>& state) {
  std::array<HandCode, N> codes;
  for (std::size_t seat = 0; seat < N; ++seat) codes[seat] = hand_code(state.players[seat].hand);
  return codes;
}

// The key of a position whose table key and hand codes are known.
template <std::size_t N>
[[nodiscard]] PositionKey position_key(PositionKey table, const State<N>& state,
                                       const std::array<HandCode, N>& hands) {
  return key_suffix<N>(key_prefix(table, state), hands, state.rng_seed, state.times_yielded,
                       state.has_turn, state.action_type, state.level, state.max_hand_size);
}

template <std::size_t N>
[[nodiscard]] PositionKey position_key(PositionKey table, const State<N>& state) {
  return position_key(table, state, hand_codes(state));
}

template <std::size_t N>
[[nodiscard]] PositionKey position_key(const State<N>& state) {
  return position_key(table_key(state), state);
}

static_assert(sizeof(Enemy) == 5, "enemies are keyed by their bytes: no padding may hide in them");

}  // namespace tornquil::solver
