#include "game_search/fast_rng.hpp"

#include <array>

#include "rules/rng.hpp"

namespace tornquil {
namespace {

std::uint64_t os_seed() {
  std::array<std::uint32_t, 2> words;
  read_os_entropy(words);
  return static_cast<std::uint64_t>(words[0]) << 32 | words[1];
}

}  // namespace

Xoshiro256 rollout_rng() {
  thread_local Xoshiro256 thread_rng(os_seed());
  return Xoshiro256(thread_rng.next());
}

}  // namespace tornquil
