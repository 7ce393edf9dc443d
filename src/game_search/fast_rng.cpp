#include "game_search/fast_rng.hpp"

#include <exception>
#include <random>
#include <string>

#include "base/error.hpp"

namespace tornquil {
namespace {

std::uint64_t os_seed() {
  try {
    std::random_device device;
    return static_cast<std::uint64_t>(device()) << 32 | device();
  } catch (const std::exception& error) {
    fault(std::string("could not seed the rollout generator from operating-system entropy: ") +
          error.what());
  }
}

}  // namespace

Xoshiro256 rollout_rng() {
  thread_local Xoshiro256 thread_rng(os_seed());
  return Xoshiro256(thread_rng.next());
}

}  // namespace tornquil
