// A tiny deterministic game for the search tests: each move adds its number plus one to a total,
// a game offers `branching` moves until `length` moves have been made, and the evaluator values a
// state by its total, so every reward a test sees can be worked out by hand.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/error.hpp"
#include "search/manager.hpp"
#include "search/mcts.hpp"
#include "search/search_tree.hpp"
#include "search/tree_policy.hpp"

namespace tornquil::counting {

using search::MyPolicy;
using search::UCTBase;

inline constexpr std::uint32_t endless = std::numeric_limits<std::uint32_t>::max();

struct CountingState {
  std::uint32_t branching = 2;
  std::uint32_t length = endless;
  std::uint32_t moves_made = 0;
  std::int64_t total = 0;

  [[nodiscard]] int current_player() const { return static_cast<int>(moves_made % 2); }
  [[nodiscard]] std::vector<int> available_moves() const {
    std::vector<int> moves;
    if (moves_made >= length) return moves;
    for (std::uint32_t move = 0; move < branching; ++move) moves.push_back(static_cast<int>(move));
    return moves;
  }
  void make_move(int move) {
    ++moves_made;
    total += move + 1;
  }
};

// What the evaluator was asked, shared with the test that owns it.
struct EvaluationLog {
  std::atomic<int> new_states{0};
  std::atomic<int> existing_states{0};
  std::atomic<int> in_flight{0};
  std::atomic<std::uint32_t> deepest_existing{0};
  std::uint32_t fault_at_depth = endless;
  std::atomic<int> edge_lists{0};
  // Runs inside every evaluation of a new non-root node, before it is valued.
  std::function<void()> on_new_node;
  // Runs inside every listing of a non-root node's edges, before they are published.
  std::function<void()> on_new_edges;
  std::mutex threads_mutex;
  std::vector<std::thread::id> threads;
};

class InFlight {
 public:
  explicit InFlight(EvaluationLog& log) : log_(log) { ++log_.in_flight; }
  InFlight(const InFlight&) = delete;
  InFlight& operator=(const InFlight&) = delete;
  ~InFlight() { --log_.in_flight; }

 private:
  EvaluationLog& log_;
};

// Rewards are zero-sum between the two seats, so a test can tell whose view an edge holds.
struct CountingEvaluator {
  using StateEvaluation = std::int64_t;
  EvaluationLog* log;

  template <typename Handle>
  [[nodiscard]] std::int64_t evaluate_new_state(const CountingState& state, Handle* handle) const {
    const InFlight in_flight(*log);
    ++log->new_states;
    record_thread();
    if (state.moves_made == log->fault_at_depth) fault("evaluator refused the state");
    if (handle != nullptr && log->on_new_node) log->on_new_node();
    return state.total;
  }

  template <typename Moves, typename Evaluations, typename Handle>
  void evaluate_moves(const CountingState& /*state*/, const Moves& /*moves*/,
                      Evaluations& /*evaluations*/, Handle* handle) const {
    ++log->edge_lists;
    if (handle != nullptr && log->on_new_edges) log->on_new_edges();
  }

  template <typename Handle>
  [[nodiscard]] std::int64_t evaluate_existing_state(const CountingState& state,
                                                     const std::int64_t& /*existing*/,
                                                     Handle& /*handle*/) const {
    const InFlight in_flight(*log);
    ++log->existing_states;
    record_thread();
    std::uint32_t deepest = log->deepest_existing.load();
    while (state.moves_made > deepest &&
           !log->deepest_existing.compare_exchange_weak(deepest, state.moves_made)) {
    }
    return state.total;
  }

  [[nodiscard]] std::int64_t interpret_evaluation_for_player(const std::int64_t& evaln,
                                                             const int& player) const {
    return player == 0 ? evaln : -evaln;
  }

  void record_thread() const {
    const std::lock_guard lock(log->threads_mutex);
    log->threads.push_back(std::this_thread::get_id());
  }
};

struct CountingSpec : search::DefaultHooks {
  using State = CountingState;
  using Move = int;
  using Player = int;
  using Evaluator = CountingEvaluator;
  using TreePolicy = MyPolicy;
  using TranspositionTable = search::EmptyTable;
  using NodeData = search::Empty;
  using ExtraThreadData = search::Empty;

  [[noreturn]] static void fault(const std::string& message) { tornquil::fault(message); }
};

using Tree = search::SearchTree<CountingSpec>;
using Manager = search::MCTSManager<CountingSpec>;
using Node = search::SearchNode<CountingSpec>;
using Edge = search::MoveInfo<CountingSpec>;

[[nodiscard]] inline MyPolicy base_policy() { return MyPolicy(UCTBase{12.0}); }

[[nodiscard]] inline CountingState game(std::uint32_t branching, std::uint32_t length = endless) {
  return CountingState{branching, length, 0, 0};
}

[[nodiscard]] inline std::size_t count_nodes(const Node& node) {
  std::size_t count = 1;
  for (const Edge& edge : node.moves()) {
    if (const Node* const child = edge.child()) count += count_nodes(*child);
  }
  return count;
}

template <typename AnyNode>
[[nodiscard]] std::uint64_t sum_of_edge_visits(const AnyNode& node) {
  std::uint64_t total = 0;
  for (const auto& edge : node.moves()) total += edge.visits();
  return total;
}

}  // namespace tornquil::counting
