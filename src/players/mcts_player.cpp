#include "players/mcts_player.hpp"

#include <algorithm>
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

}  // namespace

template <std::size_t N, bool Heuristics>
Action MCTSPlayer::play_generic(const State<N>& state) {
  auto mcts = new_game_search<N, Heuristics>(state, policy_from_number(policy_variation_));
  mcts.playout_n_parallel(playouts_, num_threads_);

  std::vector<RankedAction> ranking;
  for (const auto* edge : rank_edges(mcts.tree().root_node().moves())) {
    ranking.push_back(ranked(*edge));
  }
  ranked_actions_ = std::move(ranking);
  if (ranked_actions_->empty()) fault("the search found no action to take: the state has none");
  return ranked_actions_->front().action;
}

template Action MCTSPlayer::play_generic<1, false>(const State<1>&);
template Action MCTSPlayer::play_generic<2, false>(const State<2>&);
template Action MCTSPlayer::play_generic<3, false>(const State<3>&);
template Action MCTSPlayer::play_generic<4, false>(const State<4>&);
template Action MCTSPlayer::play_generic<1, true>(const State<1>&);
template Action MCTSPlayer::play_generic<2, true>(const State<2>&);
template Action MCTSPlayer::play_generic<3, true>(const State<3>&);
template Action MCTSPlayer::play_generic<4, true>(const State<4>&);

}  // namespace tornquil
