// A fast non-cryptographic generator for the search's rollouts (xoshiro256++), and the calling
// thread's generator that seeds one per rollout; the thread's own is seeded once from the
// operating system. Rollouts need speed and independence, not reproducibility.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "rules/rng.hpp"

namespace tornquil {

class Xoshiro256 {
 public:
  // Expands one 64-bit number into the four words with splitmix64, so no word is left zero.
  explicit Xoshiro256(std::uint64_t seed) {
    for (auto& word : state_) {
      seed += 0x9e3779b97f4a7c15ULL;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
      word = z ^ (z >> 31);
    }
  }

  [[nodiscard]] std::uint64_t next() {
    const std::uint64_t result = std::rotl(state_[0] + state_[3], 23) + state_[0];
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = std::rotl(state_[3], 45);
    return result;
  }

  // The high half, the better-mixed bits of a draw.
  [[nodiscard]] std::uint32_t next_u32() { return static_cast<std::uint32_t>(next() >> 32); }

  // A uniform index in [0, n) for n >= 1, by widening multiplication with rejection of the
  // biased low products (Lemire's method). Not the rules' uniform_index: that one must repeat
  // the reference draws and rejects up to half of its draws; a rollout needs only uniformity,
  // and this one almost never draws twice.
  [[nodiscard]] std::uint32_t uniform(std::uint32_t n) {
    std::uint64_t product = static_cast<std::uint64_t>(next_u32()) * n;
    auto low = static_cast<std::uint32_t>(product);
    if (low < n) {
      const std::uint32_t threshold = (0U - n) % n;
      while (low < threshold) {
        product = static_cast<std::uint64_t>(next_u32()) * n;
        low = static_cast<std::uint32_t>(product);
      }
    }
    return static_cast<std::uint32_t>(product >> 32);
  }

 private:
  std::array<std::uint64_t, 4> state_{};
};

// A new generator for one rollout, seeded from the calling thread's entropy-seeded generator.
[[nodiscard]] Xoshiro256 rollout_rng();

}  // namespace tornquil
