// MCTSPlayer: chooses each action by a Monte Carlo tree search run afresh from the state it is
// given, on several threads, and keeps the ranking of the root's actions from its last decision.
// A player is touched by one thread at a time; its searches start and join their own workers.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "players/play.hpp"
#include "players/player_settings.hpp"
#include "rules/seat_view.hpp"
#include "rules/state.hpp"

namespace tornquil {

struct RankedAction {
  Action action;
  std::uint64_t visits = 0;
  double average_reward = 0.0;  // NaN for an action never visited
};

// The moves of the games that value a search's new nodes: uniformly random (with the Diamonds
// heuristic when it is on), or those of a careful player who sees only its own seat.
enum class PlayoutPolicy : std::uint8_t { Random, Informed };

// The options beyond the four positional settings; the defaults are the plain search.
struct MCTSOptions {
  // A wall-clock budget for one decision, in seconds (positive and finite), checked between
  // playouts: the decision ends at whichever comes first, the playouts or the time.
  std::optional<double> seconds;
  Information information = Information::Full;
  // Not used by the player itself: tells an embedding interpreter that it may let its other
  // threads run while this player decides.
  bool release_gil = false;
  // Seeds the generator that samples the worlds under Information::Own, the same for every
  // decision; without one each decision seeds it afresh from the operating system.
  std::optional<std::uint64_t> sampling_seed = std::nullopt;
  // How a new node is valued: by a game of random moves, or of the informed playout policy's.
  PlayoutPolicy playout_policy = PlayoutPolicy::Random;
};

class MCTSPlayer {
 public:
  MCTSPlayer(std::uint32_t playouts, std::size_t num_threads, bool use_heuristics,
             std::optional<std::uint8_t> policy_variation, MCTSOptions options = {})
      : playouts_(playouts),
        num_threads_(num_threads),
        use_heuristics_(use_heuristics),
        policy_variation_(policy_variation),
        options_(options) {}

  template <std::size_t N>
  [[nodiscard]] Action play(const State<N>& state) {
    return play(state, DecisionCheck{});
  }
  // `check` runs on this thread while the workers search (see DecisionCheck); when it throws,
  // the workers stop, the exception passes on and the ranking stays as it was.
  template <std::size_t N>
  [[nodiscard]] Action play(const State<N>& state, const DecisionCheck& check) {
    return use_heuristics_ ? play_generic<N, true>(state, check)
                           : play_generic<N, false>(state, check);
  }

  // One decision: most visits first, then the higher reward sum, then action-list order. Under
  // Information::Own the visits and sums are those of every sampled world added together.
  template <std::size_t N, bool Heuristics>
  [[nodiscard]] Action play_generic(const State<N>& state, const DecisionCheck& check);

  // None before the first decision.
  [[nodiscard]] const std::optional<std::vector<RankedAction>>& ranked_actions() const {
    return ranked_actions_;
  }

  [[nodiscard]] const MCTSOptions& options() const { return options_; }

  // Taken by whoever drives one player object from several threads (the binding does) for the
  // length of each decision, and of each read or copy of the player, so that none of these
  // overlaps a decision: one that would is refused instead of racing on the ranking. A copy of a
  // player is never in use.
  [[nodiscard]] bool try_begin_use() {
    return !in_use_.value.exchange(true, std::memory_order_acquire);
  }
  void end_use() { in_use_.value.store(false, std::memory_order_release); }

  // A copy of the player, ranking included, or none while it is in use.
  [[nodiscard]] std::optional<MCTSPlayer> copy_unless_in_use() {
    if (!try_begin_use()) return std::nullopt;
    std::optional<MCTSPlayer> copy(*this);
    end_use();
    return copy;
  }

 private:
  std::uint32_t playouts_;
  std::size_t num_threads_;
  bool use_heuristics_;
  std::optional<std::uint8_t> policy_variation_;
  template <std::size_t N, bool Heuristics, bool Informed>
  void rank(const State<N>& state, const DecisionCheck& check);
  template <std::size_t N, bool Heuristics, bool Informed>
  void rank_over_worlds(const State<N>& state, const DecisionCheck& check);

  MCTSOptions options_;
  std::optional<std::vector<RankedAction>> ranked_actions_;
  struct UseMark {
    UseMark() = default;
    UseMark(const UseMark& /*other*/) {}
    UseMark& operator=(const UseMark& /*other*/) { return *this; }
    std::atomic<bool> value{false};
  } in_use_;
};

}  // namespace tornquil
