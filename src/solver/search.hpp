// The solver's depth-first search for one player count: one pass from a root with a discrepancy
// budget. A pass with an unbounded budget is a plain depth-first search; with a budget b it tries
// only the lines whose children's ranks (0 for the best-ordered child) add up to at most b, which
// finds wins under an early mistake of the ordering long before the plain search would return
// to it.
//
// A node is one child generated: applied (or, for a discard, derived from its parent), keyed and
// looked up in the table. A move that ends the game, or whose child the starved-hands bound
// condemns, counts as a node though it is never keyed; a discard that the bound condemns from its
// cards alone is never made and does not count. A discard child is kept as its key and cards and
// made from its parent when the search steps into it; a play child keeps the state it was tried
// in, so that stepping into it applies nothing again (a play costs several times a discard, and a
// Hearts play draws a generator).
//
// Internal to the solver layer. One Search belongs to one thread.
#pragma once

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "solver/bounds.hpp"
#include "solver/discard_children.hpp"
#include "solver/move_order.hpp"
#include "solver/position_key.hpp"
#include "solver/position_table.hpp"

namespace tornquil::solver {

inline constexpr unsigned kUnbounded = ~0U;

enum class PassOutcome : std::uint8_t { Won, Lost, Open };

struct Child {
  PositionKey key;
  PositionKey table_key;
  Action action;  // unless discard_mask is set
  std::int32_t score = 0;
  std::int16_t known = -1;  // what the table held for it: -1, a failed budget or kLost
  std::uint32_t state = 0;  // a play's slot in SearchScratch::child_states
  // Non-zero for a discard: the positions in the hand of the cards discarded.
  std::uint8_t discard_mask = 0;
};

// The working memory of the searches of one player count, kept from solve to solve so that a
// solve allocates nothing once the first has grown it.
template <std::size_t N>
struct SearchScratch {
  std::vector<Child> children;       // the children of every position on the path, in turn
  std::vector<std::uint64_t> order;  // their ranks: score above, child index below
  // The position at each depth of the path: a slot of child_states, or kMadeHere when it was
  // made in made_states at that depth (the root, and a discard's child).
  std::vector<std::uint32_t> position_slots;
  std::vector<State<N>> made_states;
  std::vector<HeartsDraw> draws;  // the Hearts shuffle of each position on the path, once drawn
  // The states of the plays kept as children of the positions on the path, a stack: the slots
  // from child_state_count up are free, and the first of them is where the next move is tried.
  std::vector<State<N>> child_states;
  std::size_t child_state_count = 0;
  std::vector<Action> path;  // the moves to them
  ActionBuffer actions;
};

inline constexpr std::uint32_t kMadeHere = ~std::uint32_t{0};

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

// Whether a move leaves the table key of its position alone: the tavern deck and the discard pile
// change only by a kill, Hearts and Diamonds, and the castle deck below the current enemy only by
// a kill; a discard, a yield and a change of player touch none of them.
template <std::size_t N>
[[nodiscard]] bool keeps_table_key(const State<N>& parent, const State<N>& child,
                                   const Action& action) {
  if (child.level != parent.level) return false;
  const auto moves_piles = [](Card card) {
    return card.suit == CardSuit::Hearts || card.suit == CardSuit::Diamonds;
  };
  if (const auto* play = std::get_if<action::Play>(&action)) return !moves_piles(play->card);
  if (const auto* pair = std::get_if<action::AnimalCombo>(&action)) {
    return !moves_piles(pair->ace) && !moves_piles(pair->partner);
  }
  if (const auto* combo = std::get_if<action::Combo>(&action)) {
    return std::none_of(combo->cards.begin(), combo->cards.end(), moves_piles);
  }
  return true;
}

// Everything the solver asks of a new child's hands, in one pass over their cards: the codes for
// its key, the summary for the starved-hands bound and the worth for its order score.
template <std::size_t N>
struct HandsScan {
  std::array<HandCode, N> codes;
  HandsSummary summary;
  std::int32_t worth = 0;
};

// One hand's share of a HandsScan.
struct SeatScan {
  HandCode code;
  HandsSummary summary;
  std::int32_t worth = 0;
};

[[nodiscard, gnu::always_inline]] inline SeatScan scan_seat(const Hand& hand) {
  SeatScan scan;
  for (const Card card : hand) {
    scan.code.add(card);
    scan.summary.value += attack_value(card);
    scan.summary.diamonds += card.suit == CardSuit::Diamonds ? 1 : 0;
    scan.worth += card_worth(card, kOrderWeights);
  }
  return scan;
}

// The scan of `state`, whose hands other than the mover's are those of the position `before`
// scanned as `before_seats` wherever they hold as many cards: a hand that is not the mover's only
// changes by the Diamonds draw, which adds cards at its end.
template <std::size_t N>
[[nodiscard]] HandsScan<N> scan_hands(const State<N>& state, const State<N>& before,
                                      const std::array<SeatScan, N>& before_seats) {
  HandsScan<N> scan;
  for (std::size_t seat = 0; seat < N; ++seat) {
    const Hand& hand = state.players[seat].hand;
    const bool kept =
        seat != before.has_turn.index && hand.size() == before.players[seat].hand.size();
    const SeatScan part = kept ? before_seats[seat] : scan_seat(hand);
    scan.codes[seat] = part.code;
    scan.summary.value += part.summary.value;
    scan.summary.diamonds += part.summary.diamonds;
    scan.worth += part.worth;
  }
  return scan;
}

// A copy of a state in 16-byte moves. The plain assignment becomes a string move, whose stores the
// processor cannot forward to the loads that follow at once when the move is applied and the child
// keyed, and the copy then costs as much as everything else done to the child.
template <std::size_t N>
void copy_state(State<N>& to, const State<N>& from) {
  static_assert(std::is_trivially_copyable_v<State<N>>);
#if defined(__SSE2__)
  constexpr std::size_t blocks = sizeof(State<N>) / 16;
  auto* target = reinterpret_cast<unsigned char*>(&to);
  const auto* source = reinterpret_cast<const unsigned char*>(&from);
  // Unrolled: a loop of a load and a store costs twice the instructions.
#pragma GCC unroll 64
  for (std::size_t block = 0; block < blocks; ++block) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 16 * block),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 16 * block)));
  }
  std::memcpy(target + 16 * blocks, source + 16 * blocks, sizeof(State<N>) % 16);
#else
  to = from;
#endif
}

template <std::size_t N>
class Search {
 public:
  using Clock = SearchLimits::Clock;
  static constexpr std::uint64_t kPollNodes = 1024;
  // A quarter of the 20 ms the caller is promised, so that a moment without the processor seldom
  // breaks the promise.
  static constexpr auto kCheckPeriod = std::chrono::milliseconds(5);

  Search(PositionTable& table, SearchScratch<N>& scratch, const SearchLimits& limits,
         SearchProgress& progress)
      : table_(table), scratch_(scratch), limits_(limits), progress_(progress) {
    last_check_ = Clock::now();
  }

  // One pass from `root` with the discrepancy budget `budget` (kUnbounded for a plain search).
  PassOutcome run(const State<N>& root, unsigned budget) {
    scratch_.children.clear();
    scratch_.order.clear();
    scratch_.path.clear();
    scratch_.child_state_count = 0;
    if (scratch_.made_states.empty()) grow_path(64);
    scratch_.made_states[0] = root;
    scratch_.position_slots[0] = kMadeHere;
    Child& slot = scratch_.children.emplace_back();
    slot.table_key = table_key(root);
    slot.key = position_key(slot.table_key, root);
    if (root.level > progress_.best_level) {
      progress_.best_level = root.level;
      progress_.best_line.clear();
    }
    return visit(0, 0, budget);
  }

 private:
  enum class Expansion : std::uint8_t { Done, Won, Stopped };

  // Counts a node; false when the budget allows no more.
  bool take_node() {
    if (progress_.stopped || progress_.nodes >= limits_.node_limit) {
      progress_.stopped = true;
      return false;
    }
    if (++progress_.nodes % kPollNodes == 0) poll();
    return true;
  }

  // Every child of a position whose player plays or chooses who acts next, each tried on a copy.
  // Stops at a child that wins, with the winning line noted.
  Expansion expand_moves(std::size_t depth, PositionKey parent_table_key) {
    // Room for a state of every move, before `parent` (which may be one of them) is looked at: the
    // stack must not move while a reference into it lives.
    if (scratch_.child_states.size() < scratch_.child_state_count + max_actions) {
      scratch_.child_states.resize(scratch_.child_state_count + max_actions);
    }
    const State<N>& parent = position(depth);
    ActionBuffer& actions = scratch_.actions;
    parent.fill_action_space(actions);
    std::array<SeatScan, N> parent_seats;
    for (std::size_t seat = 0; seat < N; ++seat) {
      parent_seats[seat] = scan_seat(parent.players[seat].hand);
    }
    for (const Action& action : actions) {
      if (!take_node()) return Expansion::Stopped;
      State<N>& trial = scratch_.child_states[scratch_.child_state_count];
      copy_state(trial, parent);
      if (const auto result = trial.apply_action_in_place(action, &scratch_.draws[depth])) {
        if (result->is_won()) {
          progress_.winning_line = scratch_.path;
          progress_.winning_line.push_back(action);
          return Expansion::Won;
        }
        continue;  // this move loses at once: no line through it wins
      }
      if (trial.level > progress_.best_level) {
        progress_.best_level = trial.level;
        progress_.best_line = scratch_.path;
        progress_.best_line.push_back(action);
      }
      const HandsScan<N> hands = scan_hands(trial, parent, parent_seats);
      // The bound holds only while no hand holds a Diamonds card: only then is the health summed.
      if (hands.summary.diamonds == 0 &&
          starved(hands.summary, pending_discard(trial), health_to_take(trial))) {
        continue;
      }
      Child& child = scratch_.children.emplace_back();
      child.table_key =
          keeps_table_key(parent, trial, action) ? parent_table_key : table_key(trial);
      child.key = position_key(child.table_key, trial, hands.codes);
      table_.prefetch(child.key);
      child.action = action;
      child.score = move_score(parent, trial, action, hands.worth);
      child.state = static_cast<std::uint32_t>(scratch_.child_state_count++);
    }
    return Expansion::Done;
  }

  // Every discard that absorbs the blow, derived from the parent without a copy.
  Expansion expand_discards(std::size_t depth, PositionKey parent_table_key) {
    const DiscardChildren<N> discards(position(depth), parent_table_key);
    for (unsigned mask = 1; mask < discards.subsets(); ++mask) {
      if (!discards.absorbs(mask)) continue;
      // A discard that the bound condemns is not made, keyed or looked up: it is not a node.
      if (discards.cannot_win(mask)) continue;
      if (!take_node()) return Expansion::Stopped;
      Child& child = scratch_.children.emplace_back();
      child.table_key = parent_table_key;
      child.key = discards.key(mask);
      table_.prefetch(child.key);
      child.discard_mask = static_cast<std::uint8_t>(mask);
      child.score = discards.score(mask);
    }
    return Expansion::Done;
  }

  // Ranks the children from `first` on into the order stack from `order_base`: the ones the table
  // knows lost are left out (no line through them wins), and so is a child equal to one ranked
  // before it. Only a hand holding two equal cards (both jesters) lists the same move twice or
  // two discards with the same cards, so only then are keys compared. Returns how many ranked.
  std::size_t rank(std::size_t first, std::size_t order_base, bool may_repeat) {
    auto& children = scratch_.children;
    auto& order = scratch_.order;
    for (std::size_t index = first; index < children.size(); ++index) {
      Child& child = children[index];
      child.known = static_cast<std::int16_t>(table_.lookup(child.key));
      if (child.known == kLost) continue;
      if (may_repeat &&
          std::any_of(order.begin() + static_cast<std::ptrdiff_t>(order_base), order.end(),
                      [&](std::uint64_t ranked) {
                        return children[first + (0xFFFFFFFFU - (ranked & 0xFFFFFFFFU))].key ==
                               child.key;
                      })) {
        continue;
      }
      // Higher scores first; among equal scores, the earlier child first.
      const auto score_bits = static_cast<std::uint32_t>(child.score) ^ 0x80000000U;
      order.push_back(std::uint64_t{score_bits} << 32 |
                      static_cast<std::uint32_t>(0xFFFFFFFFU - (index - first)));
    }
    std::sort(order.begin() + static_cast<std::ptrdiff_t>(order_base), order.end(),
              std::greater<>());
    for (auto it = order.begin() + static_cast<std::ptrdiff_t>(order_base); it != order.end();
         ++it) {
      *it = first + (0xFFFFFFFFU - (*it & 0xFFFFFFFFU));
    }
    return order.size() - order_base;
  }

  // The move of a child of the position at `depth`.
  [[nodiscard]] Action move_of(const Child& child, std::size_t depth) const {
    if (child.discard_mask == 0) return child.action;
    return action::Discard{
        cards_at<max_hand_capacity>(position(depth).current_player().hand, child.discard_mask)};
  }

  static bool holds_equal_cards(const Hand& hand) {
    for (std::size_t i = 0; i < hand.size(); ++i) {
      for (std::size_t j = i + 1; j < hand.size(); ++j) {
        if (hand[i] == hand[j]) return true;
      }
    }
    return false;
  }

  // The position on the path at `depth`. A reference into child_states lives only until the stack
  // grows: take it again after an expansion.
  [[nodiscard]] const State<N>& position(std::size_t depth) const {
    const std::uint32_t slot = scratch_.position_slots[depth];
    return slot == kMadeHere ? scratch_.made_states[depth] : scratch_.child_states[slot];
  }

  // Makes the child `child_index` of the position at `depth` the position at depth + 1.
  void step_into(std::size_t depth, std::size_t child_index) {
    const Child& child = scratch_.children[child_index];
    if (child.discard_mask == 0) {
      scratch_.position_slots[depth + 1] = child.state;
      return;
    }
    State<N>& next = scratch_.made_states[depth + 1];
    copy_state(next, position(depth));
    // The discard was listed for this position and never ends the game.
    (void)next.apply_action_in_place(move_of(child, depth));
    scratch_.position_slots[depth + 1] = kMadeHere;
  }

  // The position at `depth` is position(depth); its key is children[index].
  PassOutcome visit(std::size_t depth, std::size_t index, unsigned budget) {
    const std::uint64_t nodes_before = progress_.nodes;
    const std::size_t first_child = scratch_.children.size();
    const std::size_t order_base = scratch_.order.size();
    const std::size_t first_state = scratch_.child_state_count;
    const auto finish = [&](PassOutcome outcome) {
      scratch_.children.resize(first_child);
      scratch_.order.resize(order_base);
      scratch_.child_state_count = first_state;
      return outcome;
    };
    const PositionKey table_key_here = scratch_.children[index].table_key;
    const bool discarding = position(depth).action_type.kind() == ActionType::Kind::Discard;
    switch (discarding ? expand_discards(depth, table_key_here)
                       : expand_moves(depth, table_key_here)) {
      case Expansion::Won:
        return finish(PassOutcome::Won);
      case Expansion::Stopped:
        return finish(PassOutcome::Open);
      case Expansion::Done:
        break;
    }
    const std::size_t ranked =
        rank(first_child, order_base, holds_equal_cards(position(depth).current_player().hand));
    if (scratch_.made_states.size() <= depth + 1) grow_path(scratch_.made_states.size() * 2);

    // Lost needs every child lost: at once, in the table, or by a search of its own.
    bool all_lost = true;
    for (std::size_t rank_index = 0; rank_index < ranked; ++rank_index) {
      const auto cost = static_cast<unsigned>(rank_index);
      if (budget != kUnbounded && cost > budget) {
        all_lost = false;
        break;
      }
      const auto child_index = static_cast<std::size_t>(scratch_.order[order_base + rank_index]);
      const unsigned child_budget = budget == kUnbounded ? kUnbounded : budget - cost;
      const std::int16_t known = scratch_.children[child_index].known;
      if (known >= 0 && child_budget != kUnbounded &&
          static_cast<unsigned>(known) >= child_budget) {
        all_lost = false;  // a hunt with at least this budget found nothing there already
        continue;
      }
      scratch_.path.push_back(move_of(scratch_.children[child_index], depth));
      step_into(depth, child_index);
      const PassOutcome outcome = visit(depth + 1, child_index, child_budget);
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

  void grow_path(std::size_t depths) {
    scratch_.position_slots.resize(depths);
    scratch_.made_states.resize(depths);
    scratch_.draws.resize(depths);
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
