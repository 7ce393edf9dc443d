// The solver's depth-first search for one player count: one pass from a root with a discrepancy
// budget. A pass with an unbounded budget is a plain depth-first search; with a budget b it tries
// only the lines whose children's ranks (0 for the best-ordered child) add up to at most b, which
// finds wins under an early mistake of the ordering long before the plain search would return
// to it.
//
// Internal to the solver layer. One Search belongs to one thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "solver/move_order.hpp"
#include "solver/position_key.hpp"
#include "solver/position_table.hpp"

namespace tornquil::solver {

inline constexpr unsigned kUnbounded = ~0U;

enum class PassOutcome : std::uint8_t { Won, Lost, Open };

template <std::size_t N>
struct Child {
  State<N> state;
  PositionKey key;
  Action action;
  std::int32_t score = 0;
  std::int16_t known = -1;  // what the table held for it: -1, a failed budget or kLost
};

// The children of every position on the current path, each position's behind its parent's. The
// slots are allocated once and reused: pushing a child writes a state into a slot and never
// builds one.
template <std::size_t N>
class ChildStack {
 public:
  [[nodiscard]] std::size_t size() const { return size_; }
  Child<N>& operator[](std::size_t index) { return slots_[index]; }
  // A slot past the top, with whatever an earlier child left in it; room for `more` is made first
  // so that references taken after this call stay valid until the next reserve.
  void reserve_more(std::size_t more) {
    if (size_ + more <= capacity_) return;
    const std::size_t capacity = std::max(capacity_ * 2, size_ + more + 1024);
    std::unique_ptr<Child<N>[]> grown(new Child<N>[capacity]);
    std::copy_n(slots_.get(), size_, grown.get());
    slots_ = std::move(grown);
    capacity_ = capacity;
  }
  Child<N>& push() { return slots_[size_++]; }
  void pop() { --size_; }
  void truncate(std::size_t size) { size_ = size; }

 private:
  std::unique_ptr<Child<N>[]> slots_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// The working memory of the searches of one player count, kept from solve to solve.
template <std::size_t N>
struct SearchScratch {
  ChildStack<N> children;
  std::vector<std::uint32_t> order;  // the ranked children of every position on the path
  ActionBuffer actions;
  std::vector<Action> path;
};

// What bounds a solve, shared by its passes.
struct SearchLimits {
  using Clock = std::chrono::steady_clock;
  std::uint64_t node_limit = 0;
  std::optional<Clock::time_point> deadline;
  const std::function<void()>* check = nullptr;
};

// What a solve has found so far, carried from pass to pass.
struct SearchProgress {
  std::uint64_t nodes = 0;
  std::uint8_t best_level = 0;
  std::vector<Action> best_line;
  std::vector<Action> winning_line;
  bool stopped = false;  // the nodes or the time ran out
};

template <std::size_t N>
class Search {
 public:
  using Clock = SearchLimits::Clock;
  static constexpr std::uint64_t kPollNodes = 1024;
  static constexpr auto kCheckPeriod = std::chrono::milliseconds(10);

  Search(PositionTable& table, SearchScratch<N>& scratch, const SearchLimits& limits,
         SearchProgress& progress)
      : table_(table), scratch_(scratch), limits_(limits), progress_(progress) {
    last_check_ = Clock::now();
  }

  // One pass from `root` with the discrepancy budget `budget` (kUnbounded for a plain search).
  PassOutcome run(const State<N>& root, unsigned budget) {
    scratch_.children.truncate(0);
    scratch_.order.clear();
    scratch_.path.clear();
    scratch_.children.reserve_more(1);
    Child<N>& slot = scratch_.children.push();
    slot.state = root;
    slot.key = position_key(root);
    if (root.level > progress_.best_level) {
      progress_.best_level = root.level;
      progress_.best_line.clear();
    }
    return visit(0, budget);
  }

 private:
  enum class Expansion : std::uint8_t { Done, Won, Stopped };

  // Generates every child of the position at `index` onto the stack: nodes are counted here. Stops
  // at a child that wins, with the winning line noted.
  Expansion expand(std::size_t index) {
    ActionBuffer& actions = scratch_.actions;
    scratch_.children[index].state.fill_action_space(actions);
    scratch_.children.reserve_more(actions.size());
    const State<N>& parent = scratch_.children[index].state;
    for (const Action& action : actions) {
      if (progress_.stopped || progress_.nodes >= limits_.node_limit) {
        progress_.stopped = true;
        return Expansion::Stopped;
      }
      if (++progress_.nodes % kPollNodes == 0) poll();
      Child<N>& child = scratch_.children.push();
      child.state = parent;
      if (const auto result = child.state.apply_action_in_place(action)) {
        scratch_.children.pop();
        if (result->is_won()) {
          progress_.winning_line = scratch_.path;
          progress_.winning_line.push_back(action);
          return Expansion::Won;
        }
        continue;  // this move loses at once: no line through it wins
      }
      child.key = position_key(child.state);
      table_.prefetch(child.key);
      child.action = action;
      child.score = move_score(parent, child.state, action);
      if (child.state.level > progress_.best_level) {
        progress_.best_level = child.state.level;
        progress_.best_line = scratch_.path;
        progress_.best_line.push_back(action);
      }
    }
    return Expansion::Done;
  }

  // Ranks the children from `first` on: the ones the table knows lost are left out (no line
  // through them wins), and so is every child equal to one ranked before it (a hand with both
  // jesters lists the same play twice; the same position needs searching once). Returns how many
  // were ranked.
  std::size_t rank(std::size_t first, std::size_t order_base) {
    auto& order = scratch_.order;
    for (std::size_t index = first; index < scratch_.children.size(); ++index) {
      Child<N>& child = scratch_.children[index];
      child.known = static_cast<std::int16_t>(table_.lookup(child.key));
      if (child.known != kLost) order.push_back(static_cast<std::uint32_t>(index));
    }
    auto& children = scratch_.children;
    std::sort(order.begin() + static_cast<std::ptrdiff_t>(order_base), order.end(),
              [&](std::uint32_t a, std::uint32_t b) {
                if (children[a].score != children[b].score)
                  return children[a].score > children[b].score;
                if (children[a].key.high != children[b].key.high)
                  return children[a].key.high < children[b].key.high;
                return a < b;
              });
    const auto unique_end = std::unique(
        order.begin() + static_cast<std::ptrdiff_t>(order_base), order.end(),
        [&](std::uint32_t a, std::uint32_t b) { return children[a].key == children[b].key; });
    order.erase(unique_end, order.end());
    return order.size() - order_base;
  }

  PassOutcome visit(std::size_t index, unsigned budget) {
    const std::uint64_t nodes_before = progress_.nodes;
    const std::size_t first_child = scratch_.children.size();
    const std::size_t order_base = scratch_.order.size();
    const auto finish = [&](PassOutcome outcome) {
      scratch_.children.truncate(first_child);
      scratch_.order.resize(order_base);
      return outcome;
    };
    switch (expand(index)) {
      case Expansion::Won:
        return finish(PassOutcome::Won);
      case Expansion::Stopped:
        return finish(PassOutcome::Open);
      case Expansion::Done:
        break;
    }
    const std::size_t ranked = rank(first_child, order_base);

    // Lost needs every child lost: at once, in the table, or by a search of its own.
    bool all_lost = true;
    for (std::size_t rank_index = 0; rank_index < ranked; ++rank_index) {
      const auto cost = static_cast<unsigned>(rank_index);
      if (budget != kUnbounded && cost > budget) {
        all_lost = false;
        break;
      }
      const std::size_t child_index = scratch_.order[order_base + rank_index];
      const unsigned child_budget = budget == kUnbounded ? kUnbounded : budget - cost;
      const std::int16_t known = scratch_.children[child_index].known;
      if (known >= 0 && child_budget != kUnbounded &&
          static_cast<unsigned>(known) >= child_budget) {
        all_lost = false;  // a hunt with at least this budget found nothing there already
        continue;
      }
      scratch_.path.push_back(scratch_.children[child_index].action);
      const PassOutcome outcome = visit(child_index, child_budget);
      scratch_.path.pop_back();
      if (outcome == PassOutcome::Won) return finish(outcome);
      if (outcome == PassOutcome::Open) all_lost = false;
      if (progress_.stopped) return finish(PassOutcome::Open);
    }
    const PositionKey key = scratch_.children[index].key;
    const std::uint64_t work = progress_.nodes - nodes_before;
    if (all_lost) {
      table_.store(key, kLost, work);
      return finish(PassOutcome::Lost);
    }
    if (budget != kUnbounded) {
      table_.store(key, static_cast<std::uint8_t>(std::min(budget, unsigned{kMaxFailedBudget})),
                   work);
    }
    return finish(PassOutcome::Open);
  }

  // Every kPollNodes nodes: the clock, the caller's check, and the table's growth.
  void poll() {
    const Clock::time_point now = Clock::now();
    if (limits_.deadline && now >= *limits_.deadline) progress_.stopped = true;
    if (limits_.check != nullptr && *limits_.check && now - last_check_ >= kCheckPeriod) {
      last_check_ = now;
      (*limits_.check)();
    }
    static const std::function<void()> nothing_to_check;
    table_.grow_if_needed(limits_.check != nullptr ? *limits_.check : nothing_to_check);
  }

  PositionTable& table_;
  SearchScratch<N>& scratch_;
  const SearchLimits& limits_;
  SearchProgress& progress_;
  Clock::time_point last_check_;
};

}  // namespace tornquil::solver
