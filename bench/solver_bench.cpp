// The solver's figures: nodes per second on one core, and the verdicts on a range of deals with
// the time each took, the median and 90th percentile of the time to a verdict and the peak
// memory. The deals' mode writes one CSV line per deal and runs on several processes, so that a
// ceiling over thousands of deals can be computed.
//
//   solver_bench speed [rounds] [nodes a deal] [players]
//   solver_bench deals [--players 1,2,3,4] [--seeds 1000-1099] [--seconds 10] [--nodes N]
//                      [--jobs 1] [--csv FILE] [--table-mib 256]
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "solver/solver.hpp"
#include "summary.hpp"

#ifndef TORNQUIL_BUILD_TYPE
#define TORNQUIL_BUILD_TYPE "unknown"
#endif

namespace tornquil {
namespace {

using bench::summarise;
using Clock = std::chrono::steady_clock;

// As the records of the command's solve write it: WON, LOST, UNKNOWN.
std::string verdict_name(solver::Verdict verdict) {
  std::string name = solver::verdict_text(verdict);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

// The processor time of the calling thread: other processes on the machine do not count in it.
double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

long peak_rss_kib(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_maxrss;
}

// A deal spoilt by a few random moves: most of these take the solver long to settle, and long
// solves are what the rate must be measured on, with the table grown to tens or hundreds of MiB
// so that most probes miss the cache, as at a verdict of several seconds.
StateEnum spoilt_deal(std::size_t players, std::uint64_t seed, int moves) {
  auto state = std::get<StateEnum>(StateEnum::create(players, seed));
  std::uint64_t random = seed;
  for (int move = 0; move < moves; ++move) {
    const std::vector<Action> actions = state.get_action_space();
    StateEnum before = state;
    random = random * 6364136223846793005ULL + 1442695040888963407ULL;
    if (state.take_action(actions[(random >> 33) % actions.size()])) return before;
  }
  return state;
}

// Nodes a second of processor time: spoilt deals from seed 1000 on, each solved with a fresh
// solver and at most `nodes_per_deal` nodes, until `total_nodes` have been searched.
double nodes_per_second(std::size_t players, std::uint64_t nodes_per_deal,
                        std::uint64_t total_nodes) {
  std::uint64_t nodes = 0;
  double seconds = 0;
  for (std::uint64_t seed = 1000; nodes < total_nodes; ++seed) {
    const StateEnum state = spoilt_deal(players, seed, 8);
    solver::Budget budget;
    budget.nodes = std::min(nodes_per_deal, total_nodes - nodes);
    const double start = thread_seconds();
    const solver::SolveResult result = solver::solve(state, budget);
    seconds += thread_seconds() - start;
    nodes += result.nodes;
  }
  return static_cast<double>(nodes) / seconds;
}

int run_speed(int rounds, std::uint64_t nodes_per_deal, const std::vector<std::size_t>& counts) {
  std::printf(
      "solver_bench speed, build type %s, %d rounds, one core, processor time, deals from seed "
      "1000 spoilt by 8 random moves, at most %llu nodes each, %llu nodes a player count\n",
      TORNQUIL_BUILD_TYPE, rounds, static_cast<unsigned long long>(nodes_per_deal),
      static_cast<unsigned long long>(2 * nodes_per_deal));
  std::printf("players | nodes a second: median (min to max)\n");
  std::map<std::size_t, std::vector<double>> rates;
  // Player counts interleaved in every round, so that a busy moment touches them all alike.
  for (int round = 0; round < rounds; ++round) {
    for (const std::size_t players : counts) {
      rates[players].push_back(nodes_per_second(players, nodes_per_deal, 2 * nodes_per_deal));
    }
  }
  for (auto& [players, values] : rates) {
    const bench::Summary summary = summarise(values);
    std::printf("%7zu | %6.2f M/s (%.2f to %.2f)\n", players, summary.median / 1e6,
                summary.low / 1e6, summary.high / 1e6);
  }
  std::printf("peak memory %.1f MiB\n", static_cast<double>(peak_rss_kib(RUSAGE_SELF)) / 1024);
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
}

struct DealsOptions {
  std::vector<std::size_t> players{1, 2, 3, 4};
  std::uint64_t first_seed = 1000;
  std::uint64_t last_seed = 1099;
  solver::Budget budget;
  int jobs = 1;
  std::string csv;
  std::size_t table_bytes = solver::kDefaultTableBytes;
};

struct DealLine {
  std::size_t players = 0;
  std::uint64_t seed = 0;
  solver::Verdict verdict = solver::Verdict::Unknown;
  unsigned best_level = 0;
  std::uint64_t nodes = 0;
  double seconds = 0;
  std::size_t line_length = 0;
};

std::string csv_line(const DealLine& line) {
  char text[160];
  std::snprintf(text, sizeof text, "%zu,%llu,%s,%u,%llu,%.3f,%zu\n", line.players,
                static_cast<unsigned long long>(line.seed), verdict_name(line.verdict).c_str(),
                line.best_level, static_cast<unsigned long long>(line.nodes), line.seconds,
                line.line_length);
  return text;
}

std::optional<DealLine> parse_line(const std::string& text) {
  DealLine line;
  char verdict[16] = {};
  unsigned long long seed = 0;
  unsigned long long nodes = 0;
  if (std::sscanf(text.c_str(), "%zu,%llu,%15[A-Z],%u,%llu,%lf,%zu", &line.players, &seed, verdict,
                  &line.best_level, &nodes, &line.seconds, &line.line_length) != 7) {
    return std::nullopt;
  }
  line.seed = seed;
  line.nodes = nodes;
  const std::string name = verdict;
  line.verdict = name == "WON"    ? solver::Verdict::Won
                 : name == "LOST" ? solver::Verdict::Lost
                                  : solver::Verdict::Unknown;
  return line;
}

// One deal, checked: a win is replayed to the end before it is reported.
DealLine solve_deal(std::size_t players, std::uint64_t seed, const DealsOptions& options) {
  auto state = std::get<StateEnum>(StateEnum::create(players, seed));
  solver::Solver solver(solver::SolverOptions{options.table_bytes});
  const solver::SolveResult result = solver.solve(state, options.budget);
  DealLine line{players,      seed,           result.verdict,    result.best_level,
                result.nodes, result.seconds, result.line.size()};
  if (result.verdict == solver::Verdict::Won) {
    std::optional<GameResult> end;
    for (const Action& action : result.line) {
      if (end) break;
      end = state.take_action(action);
    }
    if (!end || !end->is_won()) {
      std::fprintf(stderr,
                   "solver_bench: the winning line of %zu players, seed %llu does not win\n",
                   players, static_cast<unsigned long long>(seed));
      std::exit(3);
    }
  }
  return line;
}

// The deals of worker `job` of `jobs`, each written to `out` as its CSV line as it finishes.
void work_deals(const DealsOptions& options, int job, FILE* out) {
  std::size_t index = 0;
  for (const std::size_t players : options.players) {
    for (std::uint64_t seed = options.first_seed; seed <= options.last_seed; ++seed) {
      if (index++ % static_cast<std::size_t>(options.jobs) != static_cast<std::size_t>(job))
        continue;
      const std::string text = csv_line(solve_deal(players, seed, options));
      if (std::fputs(text.c_str(), out) == EOF || std::fflush(out) == EOF) std::exit(4);
    }
  }
}

void print_summary(const std::vector<DealLine>& lines, const DealsOptions& options) {
  std::printf("players | deals | won | lost | unknown | verdict seconds: median, p90 | nodes/s\n");
  for (const std::size_t players : options.players) {
    std::size_t counts[3] = {};
    std::vector<double> verdict_seconds;
    double seconds = 0;
    std::uint64_t nodes = 0;
    std::size_t deals = 0;
    for (const DealLine& line : lines) {
      if (line.players != players) continue;
      ++deals;
      ++counts[static_cast<int>(line.verdict)];
      if (line.verdict != solver::Verdict::Unknown) verdict_seconds.push_back(line.seconds);
      seconds += line.seconds;
      nodes += line.nodes;
    }
    std::sort(verdict_seconds.begin(), verdict_seconds.end());
    const auto at = [&](double fraction) {
      if (verdict_seconds.empty()) return 0.0;
      const auto position = static_cast<std::size_t>(fraction * (verdict_seconds.size() - 1) + 0.5);
      return verdict_seconds[position];
    };
    std::printf("%7zu | %5zu | %3zu | %4zu | %7zu | %10.3f s, %7.3f s        | %.2f M\n", players,
                deals, counts[0], counts[1], counts[2], at(0.5), at(0.9),
                seconds > 0 ? static_cast<double>(nodes) / seconds / 1e6 : 0.0);
  }
}

int run_deals(const DealsOptions& options) {
  FILE* csv = nullptr;
  if (!options.csv.empty()) {
    csv = std::fopen(options.csv.c_str(), "w");
    if (csv == nullptr) {
      std::fprintf(stderr, "solver_bench: cannot write %s: %s\n", options.csv.c_str(),
                   std::strerror(errno));
      return 2;
    }
    std::fputs("players,seed,verdict,best_level,nodes,seconds,line_length\n", csv);
  }
  std::printf("solver_bench deals, build type %s, seeds %llu-%llu, %s, %d jobs\n",
              TORNQUIL_BUILD_TYPE, static_cast<unsigned long long>(options.first_seed),
              static_cast<unsigned long long>(options.last_seed),
              options.budget.seconds
                  ? (std::to_string(*options.budget.seconds) + " s a deal").c_str()
                  : (std::to_string(options.budget.nodes) + " nodes a deal").c_str(),
              options.jobs);
  std::fflush(stdout);
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return 2;
  std::vector<pid_t> workers;
  for (int job = 0; job < options.jobs; ++job) {
    const pid_t pid = fork();
    if (pid < 0) {
      std::perror("solver_bench: fork");
      return 2;
    }
    if (pid == 0) {
      close(pipe_ends[0]);
      FILE* out = fdopen(pipe_ends[1], "w");
      work_deals(options, job, out);
      std::fclose(out);
      _exit(0);
    }
    workers.push_back(pid);
  }
  close(pipe_ends[1]);
  FILE* in = fdopen(pipe_ends[0], "r");
  std::vector<DealLine> lines;
  char buffer[256];
  bool csv_failed = false;
  while (std::fgets(buffer, sizeof buffer, in) != nullptr) {
    const auto line = parse_line(buffer);
    if (!line) continue;
    lines.push_back(*line);
    if (csv != nullptr && !csv_failed &&
        (std::fputs(buffer, csv) == EOF || std::fflush(csv) == EOF)) {
      // The run cannot keep its records: stop the workers rather than solve for nothing.
      std::fprintf(stderr, "solver_bench: cannot write %s\n", options.csv.c_str());
      csv_failed = true;
      for (const pid_t pid : workers) kill(pid, SIGTERM);
    }
  }
  std::fclose(in);
  int failures = 0;
  for (const pid_t pid : workers) {
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
  }
  if (csv != nullptr && std::fclose(csv) != 0 && !csv_failed) {
    std::fprintf(stderr, "solver_bench: cannot write %s\n", options.csv.c_str());
    csv_failed = true;
  }
  print_summary(lines, options);
  std::printf("peak memory of a worker %.1f MiB\n",
              static_cast<double>(peak_rss_kib(RUSAGE_CHILDREN)) / 1024);
  if (failures != 0 && !csv_failed) {
    std::fprintf(stderr, "solver_bench: %d worker(s) failed\n", failures);
  }
  // A summary that could not be written is a failed run too.
  const bool printed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  return failures != 0 || csv_failed || !printed ? 1 : 0;
}

[[noreturn]] void usage(const char* problem) {
  std::fprintf(stderr,
               "solver_bench: %s\nusage: solver_bench speed [rounds] [nodes a deal] [players]\n"
               "       solver_bench deals [--players 1,2,3,4] [--seeds FIRST-LAST] [--seconds S]\n"
               "                          [--nodes N] [--jobs J] [--csv FILE] [--table-mib M]\n",
               problem);
  std::exit(2);
}

std::uint64_t number(const std::string& text, std::uint64_t low, std::uint64_t high) {
  std::size_t used = 0;
  unsigned long long value = 0;
  try {
    value = std::stoull(text, &used);
  } catch (const std::exception&) {
    usage(("not a number: " + text).c_str());
  }
  if (used != text.size() || text[0] == '-' || value < low || value > high) {
    usage(("out of range: " + text).c_str());
  }
  return value;
}

DealsOptions parse_deals(int argc, char** argv) {
  DealsOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) usage(("no value for " + flag).c_str());
    const std::string value = argv[++i];
    if (flag == "--players") {
      options.players.clear();
      std::stringstream list(value);
      for (std::string item; std::getline(list, item, ',');) {
        options.players.push_back(number(item, 1, 4));
      }
    } else if (flag == "--seeds") {
      const std::size_t dash = value.find('-');
      if (dash == std::string::npos) usage("--seeds takes FIRST-LAST");
      options.first_seed = number(value.substr(0, dash), 0, UINT64_MAX - 1);
      options.last_seed = number(value.substr(dash + 1), options.first_seed, UINT64_MAX - 1);
    } else if (flag == "--seconds") {
      char* end = nullptr;
      const double seconds = std::strtod(value.c_str(), &end);
      if (*end != '\0' || !(seconds > 0) || seconds > 86400)
        usage("--seconds takes 0 < S <= 86400");
      options.budget.seconds = seconds;
      options.budget.nodes = UINT64_MAX;
    } else if (flag == "--nodes") {
      options.budget.nodes = number(value, 1, UINT64_MAX);
    } else if (flag == "--jobs") {
      options.jobs = static_cast<int>(number(value, 1, 64));
    } else if (flag == "--csv") {
      options.csv = value;
    } else if (flag == "--table-mib") {
      options.table_bytes = number(value, 1, 65536) << 20;
    } else {
      usage(("unknown option " + flag).c_str());
    }
  }
  return options;
}

}  // namespace
}  // namespace tornquil

int main(int argc, char** argv) {
#ifndef NDEBUG
  std::fprintf(stderr,
               "solver_bench: refusing to report from a build with assertions (build type %s)\n",
               TORNQUIL_BUILD_TYPE);
  return 1;
#else
  // A closed pipe ends a worker by its write error rather than by a signal.
  std::signal(SIGPIPE, SIG_IGN);
  const std::string mode = argc > 1 ? argv[1] : "speed";
  if (mode == "speed") {
    return tornquil::run_speed(argc > 2 ? static_cast<int>(tornquil::number(argv[2], 1, 1000)) : 3,
                               argc > 3 ? tornquil::number(argv[3], 1, UINT64_MAX / 4) : 20'000'000,
                               argc > 4 ? std::vector<std::size_t>{tornquil::number(argv[4], 1, 4)}
                                        : std::vector<std::size_t>{1, 2, 3, 4});
  }
  if (mode == "deals") return tornquil::run_deals(tornquil::parse_deals(argc, argv));
  tornquil::usage(("unknown mode " + mode).c_str());
#endif
}
