#include "rules/player.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tornquil {

#if defined(__SSE2__)

namespace {

// For 0 <= slot <= 8, the bits of the slots below `slot`.
constexpr std::array<std::array<std::uint16_t, max_hand_capacity>, max_hand_capacity + 1>
    kBelowSlot = [] {
      std::array<std::array<std::uint16_t, max_hand_capacity>, max_hand_capacity + 1> masks{};
      for (std::size_t slot = 0; slot <= max_hand_capacity; ++slot) {
        for (std::size_t below = 0; below < slot; ++below) masks[slot][below] = 0xFFFF;
      }
      return masks;
    }();

__m128i below_slot(std::size_t slot) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kBelowSlot[slot].data()));
}

// The even bit 2i of a byte mask stands for the card slot i.
constexpr unsigned kEvenBits = 0x5555;

}  // namespace

// Plays and discards remove cards at every step of a random game, and where a card sits in the
// hand is as good as random. So the hand's eight slots sit in one vector register: each named card
// is compared with all of them at once, and each removed slot is cut out by shifting the slots
// above it down, with no branch on where the cards sat and no store of single cards that a wide
// load would then wait for.
void Player::remove_from_hand(const Hand& cards) {
  static_assert(sizeof(Hand::value_type) * max_hand_capacity == sizeof(__m128i));
  __m128i slots = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hand.data()));
  const unsigned held = ((1U << (2 * hand.size())) - 1) & kEvenBits;
  unsigned removed = 0;
  for (const Card card : cards) {
    const __m128i named = _mm_set1_epi16(static_cast<short>(std::bit_cast<std::uint16_t>(card)));
    unsigned matches = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(slots, named)));
    matches &= held & ~removed;
    removed |= matches & (0U - matches);  // the first match not yet taken
  }
  if (removed == 0) return;
  // The slots past the hand are cleared, as an emptied list holds them.
  slots = _mm_and_si128(slots, below_slot(hand.size()));
  std::size_t size = hand.size();
  // From the highest removed slot down, so that the slots still to be cut keep their places.
  while (removed != 0) {
    const auto bit = static_cast<unsigned>(std::bit_width(removed) - 1);
    const __m128i below = below_slot(bit / 2);
    slots = _mm_or_si128(_mm_and_si128(slots, below),
                         _mm_andnot_si128(below, _mm_srli_si128(slots, 2)));
    removed ^= 1U << bit;
    --size;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(hand.data()), slots);
  hand.resize_down(size);
}

#else

namespace {

// Bit i set where the 16-bit lane i of `word` is zero. A lane's low 15 bits plus 0x7FFF carry
// into its top bit unless they are all zero, and never out of the lane.
constexpr unsigned zero_lanes(std::uint64_t word) {
  constexpr std::uint64_t low_bits = 0x7FFF'7FFF'7FFF'7FFFULL;
  const std::uint64_t top_bits = ~(((word & low_bits) + low_bits) | word | low_bits);
  // The four top bits, brought down to bits 48 to 51 by one multiplication whose other partial
  // products all fall below bit 48 or beyond bit 63.
  return static_cast<unsigned>(((top_bits >> 15) * 0x0001'0002'0004'0008ULL) >> 48);
}

// The eight slots of a hand, slot 0 in the low bits as a little-endian machine lays them out.
__extension__ using HandBits = unsigned __int128;
static_assert(std::endian::native == std::endian::little);

// The bits of the slots below `slot`, for 0 <= slot <= 8.
constexpr HandBits below_slot(std::size_t slot) {
  return slot == max_hand_capacity ? ~HandBits{0} : (HandBits{1} << (16 * slot)) - 1;
}

}  // namespace

// Plays and discards remove cards at every step of a random game, and where a card sits in the
// hand is as good as random. So the hand is handled as one 128-bit number, a card being its two
// bytes: each named card is compared with all eight slots at once, and each removed slot is cut
// out by shifting the slots above it down, with no branch on where the cards sat and no store of
// single cards that a wide load would then wait for.
void Player::remove_from_hand(const Hand& cards) {
  static_assert(sizeof(Hand::value_type) * max_hand_capacity == sizeof(HandBits));
  HandBits slots;
  std::memcpy(&slots, hand.data(), sizeof slots);
  const unsigned held = (1U << hand.size()) - 1;
  unsigned removed = 0;
  for (const Card card : cards) {
    const std::uint64_t named = std::bit_cast<std::uint16_t>(card) * 0x0001'0001'0001'0001ULL;
    const auto low = static_cast<std::uint64_t>(slots);
    const auto high = static_cast<std::uint64_t>(slots >> 64);
    unsigned matches = zero_lanes(low ^ named) | zero_lanes(high ^ named) << 4;
    matches &= held & ~removed;
    removed |= matches & (0U - matches);  // the first match not yet taken
  }
  if (removed == 0) return;
  // The slots past the hand are cleared, as an emptied list holds them.
  slots &= below_slot(hand.size());
  std::size_t size = hand.size();
  // From the highest removed slot down, so that the slots still to be cut keep their places.
  while (removed != 0) {
    const auto slot = static_cast<std::size_t>(std::bit_width(removed) - 1);
    const HandBits below = below_slot(slot);
    slots = (slots & below) | ((slots >> 16) & ~below);
    removed ^= 1U << slot;
    --size;
  }
  std::memcpy(static_cast<void*>(hand.data()), &slots, sizeof slots);
  hand.resize_down(size);
}

#endif

void describe(DebugWriter& writer, PlayerId id) {
  TupleWriter(writer, "PlayerId").field(id.index).finish();
}

void describe(DebugWriter& writer, const Player& player) {
  RecordWriter(writer, "Player").field("id", player.id).field("hand", player.hand).finish();
}

}  // namespace tornquil
