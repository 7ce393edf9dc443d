#include "players/mcts_player.hpp"

#include <algorithm>
#include <chrono>
#include <span>

#include "game_search/search_settings.hpp"

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

// Plays the budget out, asking `check` and watching the deadline from the calling thread.
template <typename Search>
void run_search(Search& mcts, std::uint32_t playouts, std::size_t num_threads,
                std::optional<double> seconds, const DecisionCheck& check) {
  const std::optional<Clock::time_point> deadline = deadline_after(seconds);
  if (!deadline && !check) {
    mcts.playout_n_parallel(playouts, num_threads);
    return;
  }
  Clock::duration period = kDecisionCheckPeriod;
  if (deadline) period = std::min(period, std::max<Clock::duration>(*deadline - Clock::now(), {}));
  mcts.playout_n_parallel(playouts, num_threads, period, [&] {
    if (check) check();
    const bool expired = deadline && Clock::now() >= *deadline;
    return expired ? search::Supervision::Stop : search::Supervision::Continue;
  });
}

}  // namespace

template <std::size_t N, bool Heuristics>
Action MCTSPlayer::play_generic(const State<N>& state, const DecisionCheck& check) {
  auto mcts = new_game_search<N, Heuristics>(state, policy_from_number(policy_variation_));
  run_search(mcts, playouts_, num_threads_, options_.seconds, check);

  std::vector<RankedAction> ranking;
  for (const auto* edge : rank_edges(mcts.tree().root_node().moves())) {
    ranking.push_back(ranked(*edge));
  }
  ranked_actions_ = std::move(ranking);
  if (ranked_actions_->empty()) fault("the search found no action to take: the state has none");
  return ranked_actions_->front().action;
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
