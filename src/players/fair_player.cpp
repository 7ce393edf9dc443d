#include "players/fair_player.hpp"

#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <random>
#include <thread>

#include "game_search/evaluator.hpp"
#include "game_search/fast_rng.hpp"
#include "game_search/informed_policy.hpp"
#include "game_search/move_code.hpp"
#include "players/player_settings.hpp"
#include "rules/distinct_actions.hpp"
#include "rules/seat_view.hpp"

namespace tornquil {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kNone = 0xFFFF'FFFF;
// Iterations between two looks at the clock and the stop flag.
constexpr std::uint64_t kIterationsPerLook = 32;

// A discard that gives up a card it does not need is never the careful choice: the tree offers
// only the discards from which no card can be left out.
void keep_minimal_discards(ActionBuffer& actions, std::uint8_t amount) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < actions.size(); ++i) {
    const auto* discard = std::get_if<action::Discard>(&actions[i]);
    bool minimal = true;
    if (discard != nullptr) {
      const int sum = attack_sum(discard->cards);
      for (const Card card : discard->cards) minimal = minimal && sum - attack_value(card) < amount;
    }
    if (minimal) actions[kept++] = actions[i];
  }
  actions.resize_down(kept);
}

// The moves the tree offers in a state: the rules' list, each distinct effect once, and for a
// discard only the minimal ones.
template <std::size_t N>
void tree_moves(const State<N>& state, ActionBuffer& actions) {
  actions.clear();
  state.fill_action_space(actions);
  drop_repeated_effects(actions, state.current_player().hand);
  if (state.action_type.kind() == ActionType::Kind::Discard) {
    keep_minimal_discards(actions, state.action_type.discard_amount());
  }
}

struct TreeNode {
  MoveCode move{};
  std::uint32_t first_child = kNone;
  std::uint32_t next_sibling = kNone;
  std::uint32_t visits = 0;
  std::uint32_t available = 0;  // how often its move could be made when its parent was passed
  double reward = 0;            // the sum of its playouts' rewards, each 0 to 1
  double levels = 0;            // the sum of its playouts' levels, 12 for a win
};

struct RootTally {
  MoveCode move;
  std::uint64_t visits = 0;
  double reward = 0;
  double levels = 0;
};

// One thread's tree and its own worlds and playouts.
template <std::size_t N>
class InformationSetSearch {
 public:
  InformationSetSearch(const State<N>& root, std::uint64_t seed, const FairSettings& settings)
      : root_(root),
        sampling_(StdRng::seed_from_u64(seed)),
        playout_rng_(seed ^ 0x5851F42D4C957F2DULL),
        exploration_(settings.exploration.value_or(N == 1 ? FairSettings::kSoloExploration
                                                          : FairSettings::kPartyExploration)),
        level_reward_(settings.level_reward),
        partners_by_policy_(settings.partners_by_policy) {
    nodes_.push_back(TreeNode{});
  }

  void iterate() {
    State<N> world = sample_world(root_, root_.has_turn, sampling_);
    path_.clear();
    path_.push_back(0);
    std::uint32_t node = 0;
    std::optional<GameResult> ended;
    while (true) {
      tree_moves(world, moves_);
      if (moves_.empty()) {
        ended = GameResult::lost(world.reward());
        break;
      }
      const bool partner = partners_by_policy_ && world.has_turn != root_.has_turn;
      const auto [child, expanded] = partner ? follow_partner(node, world) : choose(node);
      const Action move = decode_move(nodes_[child].move);
      path_.push_back(child);
      node = child;
      if (const auto result = world.apply_action_in_place(move)) {
        ended = result;
        break;
      }
      if (expanded) break;
    }
    const GameResult result =
        ended ? *ended : informed_rollout(world, playout_weights(), playout_rng_);
    const double reward = result.is_won() ? 1.0 : level_reward_ * result.level();
    for (const std::uint32_t on_path : path_) {
      ++nodes_[on_path].visits;
      nodes_[on_path].reward += reward;
      nodes_[on_path].levels += result.score();
    }
  }

  [[nodiscard]] std::vector<RootTally> root_tallies() const {
    std::vector<RootTally> tallies;
    for (std::uint32_t child = nodes_[0].first_child; child != kNone;
         child = nodes_[child].next_sibling) {
      tallies.push_back(
          {nodes_[child].move, nodes_[child].visits, nodes_[child].reward, nodes_[child].levels});
    }
    return tallies;
  }

 private:
  // The child to take from `node` among the moves this world allows: a move not yet in the tree
  // (which is added), else the best by the availability-counted UCB rule.
  std::pair<std::uint32_t, bool> choose(std::uint32_t node) {
    codes_.clear();
    for (const Action& move : moves_) codes_.push_back(encode_move(move));
    std::uint32_t best = kNone;
    double best_key = -1;
    std::size_t in_tree = 0;
    for (std::uint32_t child = nodes_[node].first_child; child != kNone;
         child = nodes_[child].next_sibling) {
      const MoveCode move = nodes_[child].move;
      if (std::find(codes_.begin(), codes_.end(), move) == codes_.end()) continue;
      ++in_tree;
      TreeNode& seen = nodes_[child];
      ++seen.available;
      const double key = seen.reward / seen.visits +
                         exploration_ * std::sqrt(std::log(seen.available) / seen.visits);
      if (key > best_key) {
        best_key = key;
        best = child;
      }
    }
    if (in_tree < codes_.size()) return {add_child(node), true};
    return {best, false};
  }

  // Another seat's move, as that seat would make it knowing its own cards in this world: the
  // playout policy's. The tree keeps it, so that what follows is told apart by it.
  std::pair<std::uint32_t, bool> follow_partner(std::uint32_t node, const State<N>& world) {
    const Action move = *informed_action(world, policy_moves_, playout_rng_, playout_weights());
    const MoveCode code = encode_move(move);
    for (std::uint32_t child = nodes_[node].first_child; child != kNone;
         child = nodes_[child].next_sibling) {
      if (nodes_[child].move == code) return {child, false};
    }
    return {add_child_with(node, code), true};
  }

  std::uint32_t add_child_with(std::uint32_t node, MoveCode code) {
    const auto index = static_cast<std::uint32_t>(nodes_.size());
    TreeNode child;
    child.move = code;
    child.available = 1;
    child.next_sibling = nodes_[node].first_child;
    nodes_.push_back(child);
    nodes_[node].first_child = index;
    return index;
  }

  // Adds a child for one of this world's moves that the node does not have yet, drawn at random.
  std::uint32_t add_child(std::uint32_t node) {
    missing_.clear();
    for (const MoveCode code : codes_) {
      bool present = false;
      for (std::uint32_t child = nodes_[node].first_child; child != kNone && !present;
           child = nodes_[child].next_sibling) {
        present = nodes_[child].move == code;
      }
      if (!present) missing_.push_back(code);
    }
    return add_child_with(
        node, missing_[playout_rng_.uniform(static_cast<std::uint32_t>(missing_.size()))]);
  }

  const State<N> root_;
  StdRng sampling_;
  Xoshiro256 playout_rng_;
  double exploration_;
  double level_reward_;
  std::vector<TreeNode> nodes_;
  std::vector<std::uint32_t> path_;
  ActionBuffer moves_;
  ActionBuffer policy_moves_;
  bool partners_by_policy_;
  std::vector<MoveCode> codes_;
  std::vector<MoveCode> missing_;
};

std::uint64_t fresh_seed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

}  // namespace

template <std::size_t N>
Action FairPlayer::play(const State<N>& state, const DecisionCheck& check) {
  // A move that is the only one is taken without a search.
  ActionBuffer only;
  tree_moves(state, only);
  if (only.size() == 1) {
    ranked_actions_ = std::vector<RankedAction>{RankedAction{only[0], 0, std::nan("")}};
    return only[0];
  }
  const std::size_t threads = std::clamp<std::size_t>(settings_.threads, 1, 256);
  const std::uint64_t base_seed = settings_.seed ? *settings_.seed : fresh_seed();
  const std::optional<Clock::time_point> deadline =
      settings_.seconds
          ? std::optional(Clock::now() +
                          std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(std::min(*settings_.seconds, 1e6))))
          : std::nullopt;
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> claimed{0};
  std::vector<std::vector<RootTally>> tallies(threads);
  std::vector<std::exception_ptr> failures(threads);
  const auto search = [&](std::size_t index, const DecisionCheck* own_check) {
    InformationSetSearch<N> tree(state, base_seed + 0x9E3779B97F4A7C15ULL * (index + 1), settings_);
    Clock::time_point last_check = Clock::now();
    while (!stop.load(std::memory_order_relaxed)) {
      const std::uint64_t first = claimed.fetch_add(kIterationsPerLook, std::memory_order_relaxed);
      if (first >= settings_.iterations) break;
      const std::uint64_t count = std::min(kIterationsPerLook, settings_.iterations - first);
      for (std::uint64_t i = 0; i < count; ++i) tree.iterate();
      const Clock::time_point now = Clock::now();
      if (deadline && now >= *deadline) break;
      if (own_check != nullptr && *own_check && now - last_check >= kDecisionCheckPeriod) {
        last_check = now;
        (*own_check)();
      }
    }
    tallies[index] = tree.root_tallies();
  };
  std::vector<std::thread> helpers;
  try {
    for (std::size_t index = 1; index < threads; ++index) {
      helpers.emplace_back([&, index] {
        try {
          search(index, nullptr);
        } catch (...) {
          failures[index] = std::current_exception();
          stop = true;
        }
      });
    }
    search(0, &check);
  } catch (...) {
    // Whatever ends the decision on this thread (a check that threw, the thread's own end) waits
    // for the helpers first: they refer to this frame.
    stop = true;
    for (std::thread& helper : helpers) helper.join();
    throw;
  }
  stop = true;
  for (std::thread& helper : helpers) helper.join();
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }

  // The root's moves as the rules list them, each distinct effect once; each with its statistics
  // added up over the threads.
  ActionBuffer moves;
  tree_moves(state, moves);
  std::vector<RankedAction> ranking;
  struct Total {
    std::uint64_t visits = 0;
    double reward = 0;
    double levels = 0;
  };
  std::vector<Total> totals(moves.size());
  for (std::size_t i = 0; i < moves.size(); ++i) {
    const MoveCode code = encode_move(moves[i]);
    for (const auto& thread_tallies : tallies) {
      for (const RootTally& tally : thread_tallies) {
        if (tally.move == code) {
          totals[i].visits += tally.visits;
          totals[i].reward += tally.reward;
          totals[i].levels += tally.levels;
        }
      }
    }
  }
  std::vector<std::size_t> order(moves.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  // Most visits first, then the higher reward, then the rules' order.
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (totals[a].visits != totals[b].visits) return totals[a].visits > totals[b].visits;
    return totals[a].reward > totals[b].reward;
  });
  for (const std::size_t i : order) {
    ranking.push_back(
        {moves[i], totals[i].visits, totals[i].levels / static_cast<double>(totals[i].visits)});
  }
  if (ranking.empty()) fault("the fair player was given a state without actions");
  ranked_actions_ = std::move(ranking);
  return ranked_actions_->front().action;
}

template Action FairPlayer::play(const State<1>&, const DecisionCheck&);
template Action FairPlayer::play(const State<2>&, const DecisionCheck&);
template Action FairPlayer::play(const State<3>&, const DecisionCheck&);
template Action FairPlayer::play(const State<4>&, const DecisionCheck&);

}  // namespace tornquil
