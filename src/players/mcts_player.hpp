// MCTSPlayer: chooses each action by a Monte Carlo tree search run afresh from the state it is
// given, on several threads, and keeps the ranking of the root's actions from its last decision.
// A player is touched by one thread at a time; its searches start and join their own workers.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "rules/state.hpp"

namespace tornquil {

struct RankedAction {
  Action action;
  std::uint64_t visits = 0;
  double average_reward = 0.0;  // NaN for an action never visited
};

class MCTSPlayer {
 public:
  MCTSPlayer(std::uint32_t playouts, std::size_t num_threads, bool use_heuristics,
             std::optional<std::uint8_t> policy_variation)
      : playouts_(playouts),
        num_threads_(num_threads),
        use_heuristics_(use_heuristics),
        policy_variation_(policy_variation) {}

  template <std::size_t N>
  [[nodiscard]] Action play(const State<N>& state) {
    return use_heuristics_ ? play_generic<N, true>(state) : play_generic<N, false>(state);
  }

  // One decision: most visits first, then the higher reward sum, then action-list order.
  template <std::size_t N, bool Heuristics>
  [[nodiscard]] Action play_generic(const State<N>& state);

  // None before the first decision.
  [[nodiscard]] const std::optional<std::vector<RankedAction>>& ranked_actions() const {
    return ranked_actions_;
  }

  [[nodiscard]] std::uint32_t playouts() const { return playouts_; }
  [[nodiscard]] std::size_t num_threads() const { return num_threads_; }
  [[nodiscard]] bool use_heuristics() const { return use_heuristics_; }
  [[nodiscard]] std::optional<std::uint8_t> policy_variation() const { return policy_variation_; }

 private:
  std::uint32_t playouts_;
  std::size_t num_threads_;
  bool use_heuristics_;
  std::optional<std::uint8_t> policy_variation_;
  std::optional<std::vector<RankedAction>> ranked_actions_;
};

}  // namespace tornquil
