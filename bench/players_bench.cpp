// Play strength of one player configuration: seeded games with the same kind of player in every
// seat, game i of a row on the deal of seed `first` + i, split among `jobs` processes. Prints
// per player count the games won with the 95% Wilson interval, the mean level with its 95% normal
// interval and the mean seconds a decision, one line a row.
//
//   players_bench --player mcts|solver|fair|random [--games G] [--first S] [--players 1,2,3,4]
//                 [--jobs J] [--threads T] [--playouts P] [--seconds S] [--information full|own]
//                 [--playout-policy random|informed] [--nodes K]
//                 [--exploration C] [--level-reward R] [--partners policy|tree]
//
// For the fair player --playouts bounds the iterations of a decision, and --exploration,
// --level-reward and --partners set its tree (its own defaults otherwise).
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "players/fair_player.hpp"
#include "players/game_driver.hpp"
#include "players/mcts_player.hpp"
#include "players/random_player.hpp"
#include "players/solver_player.hpp"
#include "strength_tally.hpp"

namespace tornquil {
namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
  std::string player = "mcts";
  int games = 100;
  std::uint64_t first = 1000;
  std::vector<int> players = {1, 2, 3, 4};
  int jobs = 1;
  std::size_t threads = 2;
  std::uint32_t playouts = 100'000;
  std::optional<double> seconds;
  Information information = Information::Full;
  PlayoutPolicy playout_policy = PlayoutPolicy::Random;
  std::uint64_t nodes = 1'000'000;
  std::optional<double> exploration = FairSettings{}.exploration;
  double level_reward = FairSettings{}.level_reward;
  bool partners_by_policy = FairSettings{}.partners_by_policy;
};

// One game's outcome, as a child process reports it through its pipe.
struct Record {
  int level;  // 12 for a won game
  int won;
  double decision_seconds;
  int decisions;
};

using AnyPlayer = std::variant<RandomPlayer, MCTSPlayer, SolverPlayer, FairPlayer>;

AnyPlayer make_player(const Settings& settings, std::uint64_t seed) {
  if (settings.player == "random") return RandomPlayer(seed);
  if (settings.player == "fair") {
    FairSettings fair;
    fair.seconds = settings.seconds;
    fair.threads = settings.threads;
    fair.iterations = settings.playouts;
    fair.exploration = settings.exploration;
    fair.level_reward = settings.level_reward;
    fair.partners_by_policy = settings.partners_by_policy;
    return FairPlayer(fair);
  }
  if (settings.player == "solver") {
    SolverSettings solver;
    solver.per_decision.nodes = settings.nodes;
    solver.per_decision.seconds = settings.seconds;
    return SolverPlayer(solver);
  }
  MCTSOptions options;
  options.seconds = settings.seconds;
  options.information = settings.information;
  options.playout_policy = settings.playout_policy;
  return MCTSPlayer(settings.playouts, settings.threads, true, 3, options);
}

template <typename P>
Record play_game(std::size_t players, std::uint64_t seed, P player) {
  StateEnum state = std::get<StateEnum>(StateEnum::create(players, seed));
  Record record{0, 0, 0.0, 0};
  const GameOutcome outcome = play_to_end(state, [&](const StateEnum& now) {
    const auto start = Clock::now();
    const Action action = play_any(player, now);
    record.decision_seconds += std::chrono::duration<double>(Clock::now() - start).count();
    ++record.decisions;
    return action;
  });
  if (const auto* illegal = std::get_if<IllegalAction>(&outcome)) {
    fault("a player chose an action the state does not offer: " + debug_text(illegal->action));
  }
  const GameResult result = std::get<GameResult>(outcome);
  record.won = result.is_won() ? 1 : 0;
  record.level = result.is_won() ? GameResult::max_score() : result.level();
  return record;
}

Record play_one(const Settings& settings, std::size_t players, std::uint64_t seed) {
  return std::visit([&](auto player) { return play_game(players, seed, std::move(player)); },
                    make_player(settings, seed));
}

// Plays the row's games on `jobs` child processes, game i on child i mod jobs.
std::vector<Record> play_row(const Settings& settings, std::size_t players) {
  std::vector<int> pipes;
  std::vector<pid_t> children;
  for (int job = 0; job < settings.jobs; ++job) {
    int ends[2];
    if (pipe(ends) != 0) fault("no pipe");
    const pid_t child = fork();
    if (child == 0) {
      close(ends[0]);
      for (int game = job; game < settings.games; game += settings.jobs) {
        const Record record =
            play_one(settings, players, settings.first + static_cast<std::uint64_t>(game));
        if (write(ends[1], &record, sizeof record) != sizeof record) _exit(1);
      }
      _exit(0);
    }
    close(ends[1]);
    pipes.push_back(ends[0]);
    children.push_back(child);
  }
  std::vector<Record> records;
  for (const int end : pipes) {
    Record record{};
    while (read(end, &record, sizeof record) == sizeof record) records.push_back(record);
    close(end);
  }
  for (const pid_t child : children) waitpid(child, nullptr, 0);
  return records;
}

void report(const Settings& settings, std::size_t players, const std::vector<Record>& records,
            double seconds) {
  bench::Tally tally;
  double decision_seconds = 0;
  double decisions = 0;
  for (const Record& record : records) {
    tally.add(record.won ? GameResult::won()
                         : GameResult::lost(static_cast<std::uint8_t>(record.level)));
    decision_seconds += record.decision_seconds;
    decisions += record.decisions;
  }
  const auto [low, high] = tally.wilson();
  std::printf("| %zu | %s | %d | %.1f%% [%.1f, %.1f] | %.2f ± %.2f | %.3f | %.0f s |\n", players,
              settings.player.c_str(), tally.games, 100.0 * tally.wins / tally.games, low, high,
              tally.mean_level(), tally.level_half_width(),
              decision_seconds / std::max(1.0, decisions), seconds);
  std::fflush(stdout);
}

[[noreturn]] void usage(const std::string& problem) {
  std::fprintf(stderr, "players_bench: %s\n", problem.c_str());
  std::exit(2);
}

Settings parse(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const std::string value = argv[i + 1];
    if (flag == "--player") {
      settings.player = value;
    } else if (flag == "--games") {
      settings.games = std::stoi(value);
    } else if (flag == "--first") {
      settings.first = std::stoull(value);
    } else if (flag == "--players") {
      settings.players.clear();
      for (const char c : value) {
        if (c >= '1' && c <= '4') settings.players.push_back(c - '0');
      }
    } else if (flag == "--jobs") {
      settings.jobs = std::stoi(value);
    } else if (flag == "--threads") {
      settings.threads = std::stoul(value);
    } else if (flag == "--playouts") {
      settings.playouts = static_cast<std::uint32_t>(std::stoul(value));
    } else if (flag == "--seconds") {
      settings.seconds = std::stod(value);
    } else if (flag == "--information") {
      settings.information = value == "own" ? Information::Own : Information::Full;
    } else if (flag == "--playout-policy") {
      settings.playout_policy =
          value == "informed" ? PlayoutPolicy::Informed : PlayoutPolicy::Random;
    } else if (flag == "--partners") {
      settings.partners_by_policy = value == "policy";
    } else if (flag == "--level-reward") {
      settings.level_reward = std::stod(value);
    } else if (flag == "--exploration") {
      settings.exploration = std::stod(value);
    } else if (flag == "--nodes") {
      settings.nodes = std::stoull(value);
    } else {
      usage("no such flag: " + flag);
    }
  }
  return settings;
}

}  // namespace
}  // namespace tornquil

int main(int argc, char** argv) {
  const tornquil::Settings settings = tornquil::parse(argc, argv);
  std::printf(
      "| players | player | games | won [95%%] | mean level ± 95%% | s a decision | time |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (const int players : settings.players) {
    const auto start = tornquil::Clock::now();
    const auto records = tornquil::play_row(settings, static_cast<std::size_t>(players));
    const double seconds = std::chrono::duration<double>(tornquil::Clock::now() - start).count();
    tornquil::report(settings, static_cast<std::size_t>(players), records, seconds);
  }
}
