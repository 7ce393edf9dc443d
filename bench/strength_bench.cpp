// Play strength: seeded games with one kind of player in every seat, for each player count, two
// playout budgets, heuristics off and on, the three tree policies and what the search may know
// (the true state, or only its own seat's view), with a random-play baseline. Prints the win rate
// with its 95% Wilson interval and the mean level reached (enemies defeated; 12 for a won game)
// with its 95% normal interval. Game i of every row has seed 1000 + i, so rows are paired.
//
//   strength_bench [games at 1,000 playouts] [games at 10,000 playouts] [threads] [flags]
//
//   --players 1,2,3,4     player counts
//   --heuristics off,on   heuristics settings
//   --policies 0,3,4      tree policies
//   --information full    what the search knows: full, own, or both as full,own
//   --random GAMES        a random-play row per player count first (0: none, the default)
//   --cell-seconds S      a row stops starting games after S seconds and reports those it played
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "game_search/policy_choice.hpp"
#include "players/game_driver.hpp"
#include "players/mcts_player.hpp"
#include "players/random_player.hpp"
#include "strength_tally.hpp"

namespace tornquil {
namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
  int games_small = 20;
  int games_large = 5;
  std::size_t threads = 2;
  std::vector<int> players = {1, 2, 3, 4};
  std::vector<bool> heuristics = {false, true};
  std::vector<int> policies = {MyPolicy::kNumbers.begin(), MyPolicy::kNumbers.end()};
  std::vector<Information> information = {Information::Full};
  int random_games = 0;
  std::optional<double> cell_seconds;
};

using bench::Tally;

// One player object answers for every seat, so a seeded random player draws one sequence.
template <std::size_t N, typename Player>
GameResult play_game(std::uint64_t seed, Player player) {
  StateEnum state(State<N>::create(seed));
  const GameOutcome outcome =
      play_to_end(state, [&](const StateEnum& now) { return play_any(player, now); });
  if (const auto* illegal = std::get_if<IllegalAction>(&outcome)) {
    fault("a player chose an action the state does not offer: " + debug_text(illegal->action));
  }
  return std::get<GameResult>(outcome);
}

template <std::size_t N, typename MakePlayer>
Tally play_games(int games, std::optional<double> cell_seconds, MakePlayer make_player) {
  Tally tally;
  const auto start = Clock::now();
  for (int game = 0; game < games; ++game) {
    if (cell_seconds &&
        std::chrono::duration<double>(Clock::now() - start).count() >= *cell_seconds)
      break;
    tally.add(play_game<N>(1000 + static_cast<std::uint64_t>(game), make_player(game)));
  }
  return tally;
}

void print_row(std::size_t n, const char* playouts, const char* heuristics, const char* policy,
               const char* information, const Tally& tally, double seconds) {
  if (tally.games == 0) {
    std::printf("| %zu | %s | %s | %s | %s | 0 | - | - | %.1f s |\n", n, playouts, heuristics,
                policy, information, seconds);
    std::fflush(stdout);
    return;
  }
  const auto [low, high] = tally.wilson();
  const double mean = tally.level_total / tally.games;
  std::printf("| %zu | %s | %s | %s | %s | %d | %.1f%% [%.1f, %.1f] | %.2f ± %.2f | %.1f s |\n", n,
              playouts, heuristics, policy, information, tally.games,
              100.0 * tally.wins / tally.games, low, high, mean, tally.level_half_width(), seconds);
  std::fflush(stdout);
}

template <std::size_t N>
void report(const Settings& settings) {
  if (settings.random_games > 0) {
    const auto start = Clock::now();
    const Tally tally = play_games<N>(settings.random_games, settings.cell_seconds, [](int game) {
      return RandomPlayer(static_cast<std::uint64_t>(game));
    });
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    print_row(N, "random", "-", "-", "-", tally, elapsed.count());
  }
  for (const std::uint32_t playouts : {1000U, 10000U}) {
    const int games = playouts == 1000U ? settings.games_small : settings.games_large;
    if (games == 0) continue;
    for (const bool heuristics : settings.heuristics) {
      for (const int policy : settings.policies) {
        for (const Information information : settings.information) {
          const auto start = Clock::now();
          MCTSOptions options;
          options.information = information;
          const Tally tally = play_games<N>(games, settings.cell_seconds, [&](int /*game*/) {
            return MCTSPlayer(playouts, settings.threads, heuristics,
                              static_cast<std::uint8_t>(policy), options);
          });
          const std::chrono::duration<double> elapsed = Clock::now() - start;
          const std::string budget = std::to_string(playouts);
          const std::string policy_text = std::to_string(policy);
          print_row(N, budget.c_str(), heuristics ? "on" : "off", policy_text.c_str(),
                    information == Information::Own ? "own" : "full", tally, elapsed.count());
        }
      }
    }
  }
}

[[noreturn]] void usage(const char* problem) {
  std::fprintf(stderr,
               "strength_bench: %s\nusage: strength_bench [games at 1,000 playouts] [games at "
               "10,000 playouts] [threads] [--players 1,2,3,4] [--heuristics off,on] "
               "[--policies 0,3,4] [--information full,own] [--random GAMES] [--cell-seconds S]\n",
               problem);
  std::exit(2);
}

std::vector<std::string> split(const char* text) {
  std::vector<std::string> parts;
  std::string part;
  for (const char* c = text;; ++c) {
    if (*c == ',' || *c == '\0') {
      if (part.empty()) usage("an empty item in a list");
      parts.push_back(part);
      part.clear();
      if (*c == '\0') return parts;
    } else {
      part += *c;
    }
  }
}

int whole_number(const std::string& text, int low, int high) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < low || value > high) {
    usage(("not a number from " + std::to_string(low) + " to " + std::to_string(high) + ": " + text)
              .c_str());
  }
  return static_cast<int>(value);
}

Settings parse(int argc, char** argv) {
  Settings settings;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--", 0) == 0) {
      if (i + 1 >= argc) usage(("a value is missing after " + arg).c_str());
      const char* value = argv[++i];
      if (arg == "--players") {
        settings.players.clear();
        for (const auto& part : split(value)) settings.players.push_back(whole_number(part, 1, 4));
      } else if (arg == "--heuristics") {
        settings.heuristics.clear();
        for (const auto& part : split(value)) {
          if (part != "on" && part != "off") usage("heuristics are on or off");
          settings.heuristics.push_back(part == "on");
        }
      } else if (arg == "--policies") {
        settings.policies.clear();
        for (const auto& part : split(value)) {
          const int policy = whole_number(part, 0, 255);
          if (std::find(MyPolicy::kNumbers.begin(), MyPolicy::kNumbers.end(), policy) ==
              MyPolicy::kNumbers.end()) {
            usage("the policies are 0, 3 and 4");
          }
          settings.policies.push_back(policy);
        }
      } else if (arg == "--information") {
        settings.information.clear();
        for (const auto& part : split(value)) {
          if (part != "full" && part != "own") usage("information is full or own");
          settings.information.push_back(part == "own" ? Information::Own : Information::Full);
        }
      } else if (arg == "--random") {
        settings.random_games = whole_number(value, 0, 1'000'000);
      } else if (arg == "--cell-seconds") {
        char* end = nullptr;
        const double seconds = std::strtod(value, &end);
        if (*end != '\0' || !(seconds > 0)) usage("--cell-seconds takes a positive number");
        settings.cell_seconds = seconds;
      } else {
        usage(("no such flag: " + arg).c_str());
      }
    } else {
      switch (positional++) {
        case 0:
          settings.games_small = whole_number(arg, 0, 1'000'000);
          break;
        case 1:
          settings.games_large = whole_number(arg, 0, 1'000'000);
          break;
        case 2:
          settings.threads = static_cast<std::size_t>(whole_number(arg, 1, 256));
          break;
        default:
          usage("at most three numbers come before the flags");
      }
    }
  }
  return settings;
}

}  // namespace
}  // namespace tornquil

int main(int argc, char** argv) {
  const tornquil::Settings settings = tornquil::parse(argc, argv);
  std::printf("tornquil play strength (optimised build), game seeds from 1000, %zu thread(s)\n\n",
              settings.threads);
  std::printf(
      "| players | playouts | heuristics | policy | information | games | won [95%%] | mean level "
      "± 95%% | time |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  for (const int players : settings.players) {
    tornquil::with_player_count(static_cast<std::size_t>(players), [&](auto count) {
      tornquil::report<decltype(count)::value>(settings);
    });
  }
}
