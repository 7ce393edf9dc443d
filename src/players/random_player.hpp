// RandomPlayer: picks one of the legal actions uniformly at random from a generator of its own.
// The generator's position is part of the value, so a copy continues the same sequence.
#pragma once

#include <cstdint>
#include <optional>

#include "players/play.hpp"
#include "rules/rng.hpp"

namespace tornquil {

class RandomPlayer {
 public:
  // Seeded by the same 64-bit expansion as a game; unseeded players draw their key from
  // operating-system entropy, so each one differs.
  explicit RandomPlayer(std::optional<std::uint64_t> seed);

  // One uniform index draw per decision. A state without legal actions is an internal fault,
  // raised before the generator is touched.
  template <std::size_t N>
  [[nodiscard]] Action play(const State<N>& state);

  friend bool operator==(const RandomPlayer&, const RandomPlayer&) = default;

 private:
  StdRng rng_;
};
static_assert(std::is_trivially_copyable_v<RandomPlayer>);
static_assert(Play<RandomPlayer>);

extern template Action RandomPlayer::play(const State<1>&);
extern template Action RandomPlayer::play(const State<2>&);
extern template Action RandomPlayer::play(const State<3>&);
extern template Action RandomPlayer::play(const State<4>&);

}  // namespace tornquil
