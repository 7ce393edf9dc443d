// A seeded random driver of the rules: games from arbitrary seeds where most steps take a listed
// action and the rest an action the list does not hold, made from cards the hand really holds
// (the wrong combination, the wrong phase, any seat). Cards must never appear or vanish, no list
// may overflow, and only the damage limit may stop an unlisted play. TORNQUIL_FUZZ_SECONDS
// lengthens the run; tests/fuzz holds the coverage-guided driver with the same checks.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>

#include "rules/state.hpp"
#include "rules_invariants.hpp"

namespace tornquil {
namespace {

struct RngChoices {
  StdRng rng;
  std::uint32_t below(std::uint32_t n) { return uniform_index(rng, n); }
};

// Plays one game; an unlisted play that hits the damage limit ends it.
template <std::size_t N>
void fuzz_game(std::uint64_t seed) {
  RngChoices choices{StdRng::seed_from_u64(seed ^ 0xf022)};
  State<N> state = State<N>::create(seed);
  invariants::GameWatch<N> watch(state);
  for (int step = 0; step < 3000; ++step) {
    const auto listed = state.get_action_space();
    if (const auto broken = watch.check_has_actions(listed.empty()))
      FAIL() << *broken << ", seed " << seed;
    if (listed.empty()) return;
    const bool take_listed = choices.below(8) != 0;
    const Action action = take_listed
                              ? listed[choices.below(static_cast<std::uint32_t>(listed.size()))]
                              : invariants::unlisted_action(state, choices);
    watch.record(state, action, take_listed);
    std::optional<GameResult> result;
    try {
      result = state.apply_action_in_place(action);
    } catch (const InternalFault& fault) {
      if (const auto broken = watch.judge_fault(fault.what()))
        FAIL() << *broken << ", seed " << seed;
      return;
    }
    if (result) return;
    if (const auto broken = watch.check_state(state)) {
      FAIL() << *broken << ", seed " << seed << ", step " << step;
    }
  }
}

double fuzz_seconds() {
  const char* configured = std::getenv("TORNQUIL_FUZZ_SECONDS");
  return configured ? std::atof(configured) : 2.0;
}

TEST(RulesFuzz, ArbitraryActionsNeverCreateOrLoseCardsOrFaultOnListedOnes) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(fuzz_seconds());
  std::uint64_t seed = std::random_device{}();
  std::size_t games = 0;
  while (std::chrono::steady_clock::now() < deadline || games < 400) {
    fuzz_game<1>(seed++);
    fuzz_game<2>(seed++);
    fuzz_game<3>(seed++);
    fuzz_game<4>(seed++);
    games += 4;
    if (HasFailure()) return;
  }
  RecordProperty("games", std::to_string(games));
}

}  // namespace
}  // namespace tornquil
