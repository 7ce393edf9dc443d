// The game's reproducible random source: ChaCha keystream generators (StdRng has 12 rounds),
// seeded from 32 key bytes or from a 64-bit number through PCG32, with the uniform index draw
// and the shuffle that every random step of the rules uses.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

namespace tornquil {

using ChaChaKey = std::array<std::uint8_t, 32>;

// One 64-byte keystream block in the 64-bit counter and 64-bit stream layout.
template <int Rounds>
[[nodiscard]] std::array<std::uint32_t, 16> chacha_block(const ChaChaKey& key,
                                                         std::uint64_t counter,
                                                         std::uint64_t stream);

template <int Rounds>
class ChaChaRng {
 public:
  explicit ChaChaRng(const ChaChaKey& key, std::uint64_t stream = 0) : key_(key), stream_(stream) {}

  // The key is eight PCG32 outputs of a generator whose state starts at `seed`, little-endian.
  [[nodiscard]] static ChaChaRng seed_from_u64(std::uint64_t seed);
  // A key from the calling thread's entropy-seeded generator; each such generator differs.
  [[nodiscard]] static ChaChaRng from_entropy();
  // Seeded from `seed` when there is one, otherwise from entropy: how games and random players
  // make their generators.
  [[nodiscard]] static ChaChaRng from_optional_seed(std::optional<std::uint64_t> seed) {
    return seed ? seed_from_u64(*seed) : from_entropy();
  }

  [[nodiscard]] std::uint32_t next_u32() {
    if (index_ == block_.size()) refill();
    return block_[index_++];
  }
  // The first word is the low half.
  [[nodiscard]] std::uint64_t next_u64() {
    const std::uint64_t low = next_u32();
    const std::uint64_t high = next_u32();
    return (high << 32) | low;
  }

  friend bool operator==(const ChaChaRng&, const ChaChaRng&) = default;

 private:
  void refill() {
    block_ = chacha_block<Rounds>(key_, counter_++, stream_);
    index_ = 0;
  }

  ChaChaKey key_;
  std::uint64_t counter_ = 0;
  std::uint64_t stream_ = 0;
  std::array<std::uint32_t, 16> block_{};
  std::size_t index_ = 16;
};

using StdRng = ChaChaRng<12>;
static_assert(std::is_trivially_copyable_v<StdRng>);

// A uniform index in [0, n) for 1 <= n < 2^32, by widening multiplication with rejection of the
// low products above the zone, one 32-bit draw per attempt.
template <typename Rng>
[[nodiscard]] std::uint32_t uniform_index(Rng& rng, std::uint32_t n) {
  const std::uint32_t zone = (n << std::countl_zero(n)) - 1;
  while (true) {
    const std::uint64_t product = static_cast<std::uint64_t>(rng.next_u32()) * n;
    if (static_cast<std::uint32_t>(product) <= zone)
      return static_cast<std::uint32_t>(product >> 32);
  }
}

// Fisher-Yates from the back: for i from L - 1 down to 1, swap i with a uniform j in [0, i].
template <typename Rng, typename List>
void shuffle(Rng& rng, List& list) {
  for (std::size_t i = list.size(); i-- > 1;) {
    const std::size_t j = uniform_index(rng, static_cast<std::uint32_t>(i + 1));
    std::swap(list[i], list[j]);
  }
}

// 32 key bytes from the calling thread's generator, which is seeded once from the operating
// system. Failing to reach the entropy source is an internal fault.
[[nodiscard]] ChaChaKey entropy_key();

// Words straight from the operating system's entropy source, for seeding the per-thread
// generators; failing to reach it is an internal fault.
void read_os_entropy(std::span<std::uint32_t> words);

}  // namespace tornquil
