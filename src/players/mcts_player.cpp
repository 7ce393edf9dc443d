#include "players/mcts_player.hpp"

#include <algorithm>
#include <chrono>
#include <span>
#include <string>

#include "game_search/search_settings.hpp"
#include "rules/seat_view.hpp"

namespace tornquil {
namespace {

template <typename Edge>
std::vector<const Edge*> rank_edges(std::span<const Edge> edges) {
  std::vector<const Edge*> order;
  order.reserve(edges.size());
  for (const Edge& edge : edges) order.push_back(&edge);
  // Two stable sorts: the second key decides, the first breaks its ties, and equal edges keep
  // the action-list order.
  std::stable_sort(order.begin(), order.end(), [](const Edge* a, const Edge* b) {
    return a->sum_rewards() > b->sum_rewards();
  });
  std::stable_sort(order.begin(), order.end(), [](const Edge* a, const Edge* b) {
    return static_cast<std::int64_t>(a->visits()) > static_cast<std::int64_t>(b->visits());
  });
  return order;
}

template <typename Edge>
RankedAction ranked(const Edge& edge) {
  const auto visits = edge.visits();
  return RankedAction{edge.get_move(), visits,
                      static_cast<double>(edge.sum_rewards()) / static_cast<double>(visits)};
}

using Clock = std::chrono::steady_clock;

// Budgets beyond a year are taken as no time limit, so the deadline cannot overflow the clock.
constexpr double kLongestTimeBudget = 365.0 * 24 * 3600;

std::optional<Clock::time_point> deadline_after(std::optional<double> seconds) {
  if (!seconds || !(*seconds < kLongestTimeBudget)) return std::nullopt;
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(std::max(*seconds, 0.0)));
}

// Plays the budget out on `workers` (a thread count, or a pool lent to several searches), asking
// `check` and watching the deadline from the calling thread.
template <typename Search, typename Workers>
void run_search(Search& mcts, std::uint32_t playouts, Workers& workers,
                std::optional<double> seconds, const DecisionCheck& check) {
  const std::optional<Clock::time_point> deadline = deadline_after(seconds);
  Clock::duration period = deadline || check ? kDecisionCheckPeriod : std::chrono::hours(1);
  if (deadline) period = std::min(period, std::max<Clock::duration>(*deadline - Clock::now(), {}));
  mcts.playout_n_parallel(playouts, workers, period, [&] {
    if (check) check();
    const bool expired = deadline && Clock::now() >= *deadline;
    return expired ? search::Supervision::Stop : search::Supervision::Continue;
  });
}

// A root action's statistics added up over the worlds searched, shaped like a root edge so that
// both rank alike.
struct WorldsTally {
  Action move;
  std::uint64_t visit_count = 0;
  std::int64_t reward_sum = 0;

  [[nodiscard]] std::uint64_t visits() const { return visit_count; }
  [[nodiscard]] std::int64_t sum_rewards() const { return reward_sum; }
  [[nodiscard]] const Action& get_move() const { return move; }
};

}  // namespace

template <std::size_t N, bool Heuristics, bool Informed>
void MCTSPlayer::rank_over_worlds(const State<N>& state, const DecisionCheck& check) {
  constexpr Playouts kPlayouts = Informed ? Playouts::Informed : Playouts::Random;
  const std::uint32_t worlds = worlds_for(playouts_);
  const std::optional<Clock::time_point> deadline = deadline_after(options_.seconds);
  StdRng sampling = StdRng::from_optional_seed(options_.sampling_seed);
  std::vector<WorldsTally> totals;
  // One set of workers for every world: starting threads afresh for each would cost more than
  // a world's search on a machine of many cores. A world's share of playouts is small, so it is
  // searched by no more workers than have kMinPlayoutsPerWorldWorker playouts each to do.
  const std::uint32_t most_per_world = playouts_ / worlds + (playouts_ % worlds != 0 ? 1U : 0U);
  std::optional<search::WorkerPool> pool;
  if (most_per_world > 0 && num_threads_ > 0) {
    const std::uint32_t useful = std::max(1U, most_per_world / kMinPlayoutsPerWorldWorker);
    pool.emplace(GameSearch<N, Heuristics, kPlayouts>::workers_for(useful, num_threads_));
  }
  for (std::uint32_t world = 0; world < worlds; ++world) {
    // The time left is shared out evenly among the worlds still to come; the first world is
    // searched however late, since it alone lists the root's actions.
    std::optional<double> seconds;
    if (deadline) {
      const double left = std::chrono::duration<double>(*deadline - Clock::now()).count();
      if (world > 0 && left <= 0) break;
      seconds = std::max(left, 0.0) / static_cast<double>(worlds - world);
    }
    const std::uint32_t share = playouts_ / worlds + (world < playouts_ % worlds ? 1U : 0U);
    auto mcts = new_game_search<N, Heuristics, kPlayouts>(
        sample_world(state, state.has_turn, sampling), policy_from_number(policy_variation_));
    if (pool) {
      run_search(mcts, share, *pool, seconds, check);
    } else {
      run_search(mcts, share, num_threads_, seconds, check);
    }

    const auto edges = mcts.tree().root_node().moves();
    if (world == 0) {
      for (const auto& edge : edges) totals.push_back(WorldsTally{edge.get_move()});
    }
    if (edges.size() != totals.size()) {
      fault("the sampled worlds offer different numbers of root actions: " +
            std::to_string(totals.size()) + " and " + std::to_string(edges.size()));
    }
    for (std::size_t i = 0; i < edges.size(); ++i) {
      if (!(edges[i].get_move() == totals[i].move)) {
        fault("the sampled worlds offer different root actions at position " + std::to_string(i));
      }
      totals[i].visit_count += edges[i].visits();
      totals[i].reward_sum += edges[i].sum_rewards();
    }
  }

  std::vector<RankedAction> ranking;
  for (const WorldsTally* tally : rank_edges(std::span<const WorldsTally>(totals))) {
    ranking.push_back(ranked(*tally));
  }
  ranked_actions_ = std::move(ranking);
}

template <std::size_t N, bool Heuristics>
Action MCTSPlayer::play_generic(const State<N>& state, const DecisionCheck& check) {
  // The informed policy chooses its own discards: the Diamonds heuristic has nothing to add.
  if (options_.playout_policy == PlayoutPolicy::Informed) {
    rank<N, false, true>(state, check);
  } else {
    rank<N, Heuristics, false>(state, check);
  }
  if (ranked_actions_->empty()) fault("the search found no action to take: the state has none");
  return ranked_actions_->front().action;
}

template <std::size_t N, bool Heuristics, bool Informed>
void MCTSPlayer::rank(const State<N>& state, const DecisionCheck& check) {
  constexpr Playouts kPlayouts = Informed ? Playouts::Informed : Playouts::Random;
  if (options_.information == Information::Own) {
    rank_over_worlds<N, Heuristics, Informed>(state, check);
  } else {
    auto mcts =
        new_game_search<N, Heuristics, kPlayouts>(state, policy_from_number(policy_variation_));
    run_search(mcts, playouts_, num_threads_, options_.seconds, check);
    std::vector<RankedAction> ranking;
    for (const auto* edge : rank_edges(mcts.tree().root_node().moves())) {
      ranking.push_back(ranked(*edge));
    }
    ranked_actions_ = std::move(ranking);
  }
}

template Action MCTSPlayer::play_generic<1, false>(const State<1>&, const DecisionCheck&);
template Action MCTSPlayer::play_generic<2, false>(const State<2>&, const DecisionCheck&);
template Action MCTSPlayer::play_generic<3, false>(const State<3>&, const DecisionCheck&);
template Action MCTSPlayer::play_generic<4, false>(const State<4>&, const DecisionCheck&);
template Action MCTSPlayer::play_generic<1, true>(const State<1>&, const DecisionCheck&);
template Action MCTSPlayer::play_generic<2, true>(const State<2>&, const DecisionCheck&);
template Action MCTSPlayer::play_generic<3, true>(const State<3>&, const DecisionCheck&);
template Action MCTSPlayer::play_generic<4, true>(const State<4>&, const DecisionCheck&);

}  // namespace tornquil
