#include "players/random_player.hpp"

#include "base/error.hpp"

namespace tornquil {
RandomPlayer::RandomPlayer(std::optional<std::uint64_t> seed)
    : rng_(StdRng::from_optional_seed(seed)) {}

template <std::size_t N>
Action RandomPlayer::play(const State<N>& state) {
  const std::vector<Action> actions = state.get_action_space();
  if (actions.empty()) fault("RandomPlayer was given a state without legal actions");
  return actions[uniform_index(rng_, static_cast<std::uint32_t>(actions.size()))];
}

template Action RandomPlayer::play(const State<1>&);
template Action RandomPlayer::play(const State<2>&);
template Action RandomPlayer::play(const State<3>&);
template Action RandomPlayer::play(const State<4>&);

}  // namespace tornquil
