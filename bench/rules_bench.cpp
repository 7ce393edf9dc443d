// Speed of the rules engine as the search's rollouts use it: random games played in place with
// one reused action buffer, and the action space alone, for every player count. Prints the
// median of several runs with their spread.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "game_search/rollout.hpp"
#include "summary.hpp"

#ifndef TORNQUIL_BUILD_TYPE
#define TORNQUIL_BUILD_TYPE "unknown"
#endif

namespace tornquil {
namespace {

constexpr int runs = 7;
constexpr std::size_t steps_per_run = 2'000'000;
constexpr std::size_t start_states = 64;
constexpr std::size_t sampled_states = 4096;
constexpr std::size_t fills_per_run = 4'000'000;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

using bench::summarise;
using bench::Summary;

template <std::size_t N>
std::vector<State<N>> new_games() {
  std::vector<State<N>> games;
  for (std::size_t seed = 0; seed < start_states; ++seed) games.push_back(State<N>::create(seed));
  return games;
}

// Random steps per second: each game starts from a copy of a dealt state, as a rollout does, and
// `choose` picks every action.
template <std::size_t N, typename Choose>
double steps_per_second(const std::vector<State<N>>& starts, std::uint64_t& checksum,
                        Choose&& choose) {
  ActionBuffer actions;
  std::size_t steps = 0;
  std::size_t game = 0;
  const Clock::time_point start = Clock::now();
  while (steps < steps_per_run) {
    State<N> state = starts[game++ % starts.size()];
    while (true) {
      ++steps;
      if (const auto result = state.apply_action_in_place(choose(state, actions))) {
        checksum += result->score();
        break;
      }
    }
  }
  return static_cast<double>(steps) / seconds_since(start);
}

// Every action list built in full, and a pick from it.
template <std::size_t N>
double random_steps_per_second(const std::vector<State<N>>& starts, Xoshiro256& rng,
                               std::uint64_t& checksum) {
  return steps_per_second(starts, checksum, [&](const State<N>& state, ActionBuffer& actions) {
    state.fill_action_space(actions);
    return actions[rng.uniform(static_cast<std::uint32_t>(actions.size()))];
  });
}

// The same games as the search's rollouts play them: discards are chosen from subset masks
// without listing them.
template <std::size_t N>
double rollout_steps_per_second(const std::vector<State<N>>& starts, Xoshiro256& rng,
                                std::uint64_t& checksum) {
  return steps_per_second(starts, checksum, [&](const State<N>& state, ActionBuffer& actions) {
    return *random_action<N, false>(state, actions, rng);
  });
}

// States met along random games, to time the action space over a realistic mix of phases.
template <std::size_t N>
std::vector<State<N>> sample_states(const std::vector<State<N>>& starts, Xoshiro256& rng) {
  std::vector<State<N>> states;
  ActionBuffer actions;
  for (std::size_t game = 0; states.size() < sampled_states; ++game) {
    State<N> state = starts[game % starts.size()];
    while (states.size() < sampled_states) {
      states.push_back(state);
      state.fill_action_space(actions);
      if (state.apply_action_in_place(
              actions[rng.uniform(static_cast<std::uint32_t>(actions.size()))]))
        break;
    }
  }
  return states;
}

template <std::size_t N>
double fills_per_second(const std::vector<State<N>>& states, std::uint64_t& checksum) {
  ActionBuffer actions;
  const Clock::time_point start = Clock::now();
  for (std::size_t call = 0; call < fills_per_run; ++call) {
    states[call % states.size()].fill_action_space(actions);
    checksum += actions.size();
  }
  return static_cast<double>(fills_per_run) / seconds_since(start);
}

template <std::size_t N>
void bench_player_count(std::uint64_t& checksum) {
  Xoshiro256 rng(0x5eed + N);
  const std::vector<State<N>> starts = new_games<N>();
  const std::vector<State<N>> states = sample_states<N>(starts, rng);
  std::vector<double> step_rates;
  std::vector<double> fill_rates;
  std::vector<double> rollout_rates;
  Xoshiro256 rollout_rng(0x5eed + N);
  for (int run = 0; run < runs; ++run) {
    step_rates.push_back(random_steps_per_second<N>(starts, rng, checksum));
    rollout_rates.push_back(rollout_steps_per_second<N>(starts, rollout_rng, checksum));
    fill_rates.push_back(fills_per_second<N>(states, checksum));
  }
  const Summary steps = summarise(step_rates);
  const Summary fills = summarise(fill_rates);
  const Summary rollout = summarise(rollout_rates);
  std::printf(
      "%7zu | %11.2f M/s %6.1f ns (%6.2f to %6.2f M/s) | %11.2f M/s %6.1f ns (%6.2f to %6.2f M/s) "
      "| %11.2f M/s %6.1f ns (%6.2f to %6.2f M/s)\n",
      N, steps.median / 1e6, 1e9 / steps.median, steps.low / 1e6, steps.high / 1e6,
      rollout.median / 1e6, 1e9 / rollout.median, rollout.low / 1e6, rollout.high / 1e6,
      fills.median / 1e6, 1e9 / fills.median, fills.low / 1e6, fills.high / 1e6);
}

}  // namespace
}  // namespace tornquil

int main() {
#ifndef NDEBUG
  std::fprintf(stderr,
               "rules_bench: refusing to report from a build with assertions (build type %s)\n",
               TORNQUIL_BUILD_TYPE);
  return 1;
#else
  std::printf("rules_bench, build type %s, median of %d runs (spread min to max)\n",
              TORNQUIL_BUILD_TYPE, tornquil::runs);
  std::printf(
      "players | random-game steps, every list built            | random-game steps as rollouts "
      "take them          | fill_action_space calls\n");
  std::uint64_t checksum = 0;
  tornquil::bench_player_count<1>(checksum);
  tornquil::bench_player_count<2>(checksum);
  tornquil::bench_player_count<3>(checksum);
  tornquil::bench_player_count<4>(checksum);
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(checksum));
  return 0;
#endif
}
