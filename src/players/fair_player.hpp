// FairPlayer: decides only from what its seat can know, by a search of one tree over the moves
// of the game as its seat sees them (an information-set search). Each iteration samples a world
// the seat cannot tell from the true state (the hidden cards dealt anew, the seed of the next
// random step new: see seat_view.hpp), walks the tree by the moves that world allows, adds one
// node, and values it by a game played to its end by the informed playout policy, which sees only
// the acting seat's cards. A move's statistics thus gather what it earned over every world in
// which it could be made, and the move with the most visits at the root is taken.
//
// Several threads search trees of their own from the same root, with worlds and playouts of
// their own, and their root statistics are added up (root parallelisation): nothing is shared
// while they search. A player is used by one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "players/mcts_player.hpp"
#include "players/play.hpp"
#include "rules/state.hpp"

namespace tornquil {

struct FairSettings {
  // Iterations a decision, over all threads; a time budget may end it earlier.
  std::uint64_t iterations = 1'000'000;
  std::optional<double> seconds = 0.25;
  std::size_t threads = 2;
  // The weight of exploration in the tree's choices, on rewards scaled to 0..1; none: the measured
  // best for the player count, kSoloExploration alone and kPartyExploration with partners.
  std::optional<double> exploration;
  static constexpr double kSoloExploration = 0.25;
  static constexpr double kPartyExploration = 0.4;
  // What a lost playout earns for each level it reached, a won one earning 1: well below 1/12, so
  // that reaching the end counts for much more than the levels on the way (0.05 beat 1/12 and
  // 0.02 alike in 100-deal sweeps).
  double level_reward = 0.05;
  // The other seats' moves in the tree are the playout policy's, made knowing their own cards in
  // the sampled world, rather than chosen by the tree as if they did not know them: the tree then
  // spends its iterations on the seat's own choices.
  bool partners_by_policy = true;
  // Seeds the worlds and playouts of every decision alike (each thread its own stream); without
  // one each decision draws its seeds from the operating system.
  std::optional<std::uint64_t> seed;
};

class FairPlayer {
 public:
  explicit FairPlayer(FairSettings settings = {}) : settings_(settings) {}

  template <std::size_t N>
  [[nodiscard]] Action play(const State<N>& state) {
    return play(state, DecisionCheck{});
  }
  template <std::size_t N>
  [[nodiscard]] Action play(const State<N>& state, const DecisionCheck& check);

  // The root's moves of the last decision, most visited first, as the search player ranks them.
  [[nodiscard]] const std::optional<std::vector<RankedAction>>& ranked_actions() const {
    return ranked_actions_;
  }
  [[nodiscard]] const FairSettings& settings() const { return settings_; }

 private:
  FairSettings settings_;
  std::optional<std::vector<RankedAction>> ranked_actions_;
};
static_assert(Play<FairPlayer>);

}  // namespace tornquil
