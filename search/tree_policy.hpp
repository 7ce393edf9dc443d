// The tree policy: three upper-confidence-bound variants that take an unvisited child first and
// otherwise the child with the best mean reward plus exploration bonus, with ties broken by
// PolicyRng, a small generator with a fixed seed that every search thread owns. It knows nothing
// of any game but the largest reward a playout can bring back, which scales the exploration.
//
// Concurrency: a MyPolicy is immutable and shared by all search threads; choose_child reads only
// the counts it is given and changes nothing but the calling thread's own PolicyRng.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <span>
#include <type_traits>
#include <variant>
#include <vector>

#include "search/mcts.hpp"
#include "search/search_tree.hpp"

namespace tornquil::search {

// xorshift128 with a fixed seed, so that the tie-breaks of a one-thread search are reproducible;
// seed_stream gives a search thread after the first a stream of its own.
class PolicyRng {
 public:
  // A stream fixed by `index` and, for any index but 0, unlike the fixed seed's: splitmix64 of the
  // index spreads neighbouring indices apart. Index 0 is the fixed seed itself.
  void seed_stream(std::uint64_t index) {
    if (index == 0) {
      *this = PolicyRng();
      return;
    }
    std::uint64_t z = index * 0x9e3779b97f4a7c15ULL;
    const auto next = [&z] {
      z += 0x9e3779b97f4a7c15ULL;
      std::uint64_t word = z;
      word = (word ^ (word >> 30)) * 0xbf58476d1ce4e5b9ULL;
      word = (word ^ (word >> 27)) * 0x94d049bb133111ebULL;
      return word ^ (word >> 31);
    };
    const std::uint64_t low = next();
    const std::uint64_t high = next();
    x_ = static_cast<std::uint32_t>(low);
    y_ = static_cast<std::uint32_t>(low >> 32);
    z_ = static_cast<std::uint32_t>(high);
    w_ = static_cast<std::uint32_t>(high >> 32);
    // xorshift128 must not start from all zeros, which it would never leave.
    if ((x_ | y_ | z_ | w_) == 0) w_ = 1;
  }

  [[nodiscard, gnu::always_inline]] std::uint32_t next_u32() {
    const std::uint32_t t = x_ ^ (x_ << 11);
    x_ = y_;
    y_ = z_;
    z_ = w_;
    w_ = w_ ^ (w_ >> 19) ^ t ^ (t >> 8);
    return w_;
  }

  // Whether uniform_below(n) would be 0, with the same numbers drawn; a tie-break asks only that.
  // Inlined, so that a run of tie-breaks keeps the generator in registers.
  [[nodiscard, gnu::always_inline]] bool one_in(std::uint32_t n) {
    if (n >= kTabled) return uniform_below(n) == 0;
    // n divides value exactly when value times the inverse, wrapped, is at most the inverse less
    // one; for n = 1 the inverse wraps to 0 and every value passes.
    const Divisor& divisor = kDivisors[n];
    for (;;) {
      const std::uint32_t value = next_u32();
      if (value < divisor.zone) return divisor.inverse * value <= divisor.inverse - 1;
    }
  }

  // Uniform in [0, n) for n of at least 2, by rejecting the incomplete top zone and taking the
  // remainder. Unlike the multiply-and-shift draw of the other generators, the tie-break numbers
  // are fixed by this modulo form.
  [[nodiscard]] std::uint32_t uniform_below(std::uint32_t n) {
    const std::uint32_t zone = kAll - kAll % n;
    for (;;) {
      const std::uint32_t value = next_u32();
      if (value < zone) return value % n;
    }
  }

  // As select_by_key, for keys that are infinite exactly for the elements `unvisited` holds for.
  // Once an infinite key has been met, only the infinite keys after it can tie with it, so no
  // other key is computed after it; the choice and every number drawn stay as select_by_key's.
  template <typename T, typename Unvisited, typename Key>
  [[nodiscard]] T* select_unvisited_first(std::span<T> elements, Unvisited&& unvisited, Key&& key) {
    double best = -std::numeric_limits<double>::infinity();
    T* choice = nullptr;
    std::uint32_t ties = 0;
    auto element = elements.begin();
    for (; element != elements.end(); ++element) {
      if (unvisited(*element)) break;
      const double k = key(*element);
      if (k > best) {
        choice = &*element;
        best = k;
        ties = 1;
      } else if (k == best) {
        ++ties;
        if (ties == 1 || one_in(ties)) choice = &*element;
      }
    }
    if (element == elements.end()) return choice;
    choice = &*element;
    ties = 1;
    // A wide node draws once for nearly every edge here: a local copy of the generator stays in
    // registers for the whole run.
    PolicyRng rng = *this;
    for (++element; element != elements.end(); ++element) {
      if (!unvisited(*element)) continue;
      ++ties;
      if (rng.one_in(ties)) choice = &*element;
    }
    *this = rng;
    return choice;
  }

  // The element with the greatest key; a tie keeps each of the tied elements with equal
  // probability, and only a second or later tie draws a number. Null for no elements; a key that
  // is not a number is never chosen.
  template <typename T, typename Key>
  [[nodiscard]] T* select_by_key(std::span<T> elements, Key&& key) {
    double best = -std::numeric_limits<double>::infinity();
    T* choice = nullptr;
    std::uint32_t ties = 0;
    for (T& element : elements) {
      const double k = key(element);
      if (k > best) {
        choice = &element;
        best = k;
        ties = 1;
      } else if (k == best) {
        ++ties;
        if (ties == 1 || one_in(ties)) choice = &element;
      }
    }
    return choice;
  }

 private:
  static constexpr std::uint32_t kAll = std::numeric_limits<std::uint32_t>::max();
  // Below this many ties, a tie-break takes the zone and the divisibility test from a table
  // instead of two divisions.
  static constexpr std::uint32_t kTabled = 256;
  struct Divisor {
    std::uint32_t zone;
    std::uint64_t inverse;
  };
  static constexpr std::array<Divisor, kTabled> kDivisors = [] {
    std::array<Divisor, kTabled> divisors{};
    for (std::uint32_t n = 1; n < kTabled; ++n) {
      divisors[n] = {kAll - kAll % n, std::numeric_limits<std::uint64_t>::max() / n + 1};
    }
    return divisors;
  }();

  std::uint32_t x_ = 1;
  std::uint32_t y_ = 2;
  std::uint32_t z_ = 3;
  std::uint32_t w_ = 4;
};

// The per-selection key functions: each variant's key_for takes the logarithms of N_i (the
// children's visits plus one) once, and the result values one child in a few operations.
namespace uct {

[[nodiscard]] inline double mean(std::uint64_t visits, std::int64_t sum_rewards) {
  return static_cast<double>(sum_rewards) / static_cast<double>(visits);
}

// Each key is the mean reward plus a bonus that depends on the child's visits alone, so a node
// whose children share visit counts computes each bonus once (see select_edge).
// A key is the child's mean reward plus the key's own exploration bonus.
template <typename Key>
struct MeanPlusBonus {
  [[nodiscard]] double operator()(std::uint64_t visits, std::int64_t sum_rewards) const {
    return mean(visits, sum_rewards) + static_cast<const Key&>(*this).bonus(visits);
  }
};

struct BaseKey : MeanPlusBonus<BaseKey> {
  double exploration_constant;
  double two_log_total;
  [[nodiscard]] double bonus(std::uint64_t visits) const {
    const double n = static_cast<double>(visits);
    return exploration_constant * std::sqrt(two_log_total / n);
  }
};

struct Variation3Key : MeanPlusBonus<Variation3Key> {
  double max_score;
  double delta;
  [[nodiscard]] double bonus(std::uint64_t visits) const {
    const double n = static_cast<double>(visits);
    const double numerator = (1.0 + 1.0 / n) * std::log(std::sqrt(n + 1.0) / delta);
    return max_score * std::sqrt(numerator / (2.0 * n));
  }
};

struct Variation4Key : MeanPlusBonus<Variation4Key> {
  double max_score;
  double numerator;
  [[nodiscard]] double bonus(std::uint64_t visits) const {
    const double n = static_cast<double>(visits);
    return max_score * std::sqrt(numerator / (2.0 * n));
  }
};

// std::log of a whole number of visits: from a table below 4096, filled once with std::log
// itself, so the same numbers as computing them; a node below that many visits asks for its
// logarithm at every selection.
[[nodiscard]] inline double log_of_count(double count) {
  constexpr std::size_t kTabled = 4096;
  static const std::array<double, kTabled> logs = [] {
    std::array<double, kTabled> table{};
    for (std::size_t n = 1; n < kTabled; ++n) table[n] = std::log(static_cast<double>(n));
    return table;
  }();
  if (count >= 1.0 && count < static_cast<double>(kTabled)) {
    const auto index = static_cast<std::size_t>(count);
    if (static_cast<double>(index) == count) return logs[index];
  }
  return std::log(count);
}

// The bonuses of one selection for the visit counts below kRemembered, each computed the first
// time it is asked for; the most frequent counts in a wide node are the small ones.
template <typename Key>
class RememberedBonus {
 public:
  explicit RememberedBonus(const Key& key) : key_(key) {}

  [[nodiscard]] double operator()(std::uint64_t visits, std::int64_t sum_rewards) {
    if (visits >= kRemembered) return key_(visits, sum_rewards);
    const auto index = static_cast<std::size_t>(visits);
    const std::uint64_t bit = std::uint64_t{1} << index;
    if ((known_ & bit) == 0) {
      bonuses_[index] = key_.bonus(visits);
      known_ |= bit;
    }
    return mean(visits, sum_rewards) + bonuses_[index];
  }

 private:
  static constexpr std::uint64_t kRemembered = 64;
  const Key& key_;
  std::uint64_t known_ = 0;
  std::array<double, kRemembered> bonuses_;
};

}  // namespace uct

struct UCTBase {
  double exploration_constant;
  [[nodiscard]] uct::BaseKey key_for(double total_visits) const {
    return {{}, exploration_constant, 2.0 * uct::log_of_count(total_visits)};
  }
};

struct UCTVariation3 {
  double max_score;
  double delta;
  // Its bonus shrinks with the child's own visits only.
  [[nodiscard]] uct::Variation3Key key_for(double /*total_visits*/) const {
    return {{}, max_score, delta};
  }
};

struct UCTVariation4 {
  double max_score;
  [[nodiscard]] uct::Variation4Key key_for(double total_visits) const {
    const double log_total = uct::log_of_count(total_visits);
    return {{}, max_score, log_total + 3.0 * std::log(1.0 + log_total)};
  }
};

class MyPolicy {
 public:
  using MoveEvaluation = Empty;
  using ThreadData = PolicyRng;
  using Variant = std::variant<UCTBase, UCTVariation3, UCTVariation4>;

  explicit MyPolicy(Variant variant) : variant_(variant) {}

  // The numbers that name a policy, in the order tools list them; nothing else names one.
  static constexpr std::array<std::uint8_t, 3> kNumbers{0, 3, 4};

  // The policy a search player names by number: absent or one of kNumbers, with `max_score` the
  // largest reward a playout can bring back. Any other number names none, and `refuse`, which
  // must not return, is called with it.
  template <typename Refuse>
  [[nodiscard]] static MyPolicy from_number(std::optional<std::uint8_t> policy_variation,
                                            double max_score, Refuse&& refuse) {
    switch (policy_variation.value_or(0)) {
      case 0:
        return MyPolicy(UCTBase{max_score});
      case 3:
        return MyPolicy(UCTVariation3{max_score, 0.001});
      case 4:
        return MyPolicy(UCTVariation4{max_score});
      default:
        refuse(*policy_variation);
        std::abort();  // refuse does not return
    }
  }

  [[nodiscard]] const Variant& variant() const { return variant_; }

  template <typename Spec>
  [[nodiscard]] const EdgeCounts* choose_child(std::span<const EdgeCounts> children,
                                               SearchHandle<Spec>& handle) const {
    return select_among(children, handle.thread_data().policy_data);
  }

  template <typename Spec>
  void validate_evaluations(const MoveEvaluations<Spec>& /*evaluations*/) const {}

  // Works on anything with visits() and sum_rewards(), in the order given. Each edge's counters
  // are read once, in the pass that copies them, and the choice is made among the copies: a
  // counter can be a load through a pointer to another node, and every key then sees the same
  // numbers even while other threads add to them. The search itself hands choose_child counts
  // already read.
  template <typename Edge>
  [[nodiscard]] const Edge* select_edge(std::span<const Edge> edges, PolicyRng& rng) const {
    std::vector<EdgeCounts> counts;
    counts.reserve(edges.size());
    for (const Edge& edge : edges) counts.push_back({edge.visits(), edge.sum_rewards()});
    const EdgeCounts* const chosen = select_among(counts, rng);
    if (chosen == nullptr) return nullptr;
    return &edges[static_cast<std::size_t>(chosen - counts.data())];
  }

  // The choice among counts already read.
  [[nodiscard]] const EdgeCounts* select_among(std::span<const EdgeCounts> children,
                                               PolicyRng& rng) const {
    std::uint64_t total = 0;
    for (const EdgeCounts& child : children) total += child.visits;
    const double total_visits = static_cast<double>(total) + 1.0;
    return std::visit(
        [&](const auto& variant) {
          const auto key = variant.key_for(total_visits);
          uct::RememberedBonus<std::decay_t<decltype(key)>> remembered(key);
          return rng.select_unvisited_first(
              children, [](const EdgeCounts& child) { return child.visits == 0; },
              [&](const EdgeCounts& child) { return remembered(child.visits, child.sum_rewards); });
        },
        variant_);
  }

 private:
  Variant variant_;
};

}  // namespace tornquil::search
