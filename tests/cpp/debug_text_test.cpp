#include "rules/debug_text.hpp"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "test_helpers.hpp"

namespace tornquil {
namespace {

using namespace tornquil::testing;

struct Point {
  int x = 0;
  int y = 0;
};

void describe(DebugWriter& writer, const Point& point) {
  RecordWriter(writer, "Point").field("x", point.x).field("y", point.y).finish();
}

struct Marker {};

void describe(DebugWriter& writer, const Marker&) { RecordWriter(writer, "Marker").finish(); }

TEST(DebugText, NumbersOfEveryWidthPrintInDecimal) {
  EXPECT_EQ(plain(std::int8_t{-128}), "-128");
  EXPECT_EQ(plain(std::uint8_t{200}), "200");
  EXPECT_EQ(plain(std::uint64_t{18446744073709551615ULL}), "18446744073709551615");
  EXPECT_EQ(plain(true), "true");
}

TEST(DebugText, RecordWithoutFieldsIsItsNameAlone) {
  EXPECT_EQ(plain(Marker{}), "Marker");
  EXPECT_EQ(debug_text(Marker{}, Layout::Pretty, Colouring::Off), "Marker");
}

TEST(DebugText, CompactListsAndOptionalsNestOnOneLine) {
  const std::vector<Point> points{{1, 2}, {3, -4}};
  EXPECT_EQ(plain(points), "[Point { x: 1, y: 2 }, Point { x: 3, y: -4 }]");
  EXPECT_EQ(plain(std::vector<int>{}), "[]");
  EXPECT_EQ(plain(std::optional<int>{7}), "Some(7)");
  EXPECT_EQ(plain(std::optional<int>{}), "None");
}

TEST(DebugText, PrettyLayoutPutsEveryEntryOnItsOwnLineWithATrailingComma) {
  const std::vector<Point> points{{1, 2}};
  EXPECT_EQ(debug_text(points, Layout::Pretty, Colouring::Off),
            "[\n"
            "    Point {\n"
            "        x: 1,\n"
            "        y: 2,\n"
            "    },\n"
            "]");
  EXPECT_EQ(debug_text(std::vector<int>{}, Layout::Pretty, Colouring::Off), "[]");
}

TEST(QuotedText, PlainTextIsOnlyQuoted) {
  EXPECT_EQ(quoted_text("abc"), "\"abc\"");
  EXPECT_EQ(quoted_text(""), "\"\"");
  EXPECT_EQ(quoted_text("\u2660 10"), "\"\u2660 10\"");
}

TEST(QuotedText, EscapesQuotesBackslashesAndLineBreaks) {
  EXPECT_EQ(quoted_text("abc\n"), "\"abc\\n\"");
  EXPECT_EQ(quoted_text("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(quoted_text("\t\r"), "\"\\t\\r\"");
  EXPECT_EQ(quoted_text(std::string_view("\0", 1)), "\"\\0\"");
}

TEST(QuotedText, OtherControlCharactersBecomeUnicodeEscapes) {
  EXPECT_EQ(quoted_text("\x1b[0m"), "\"\\u{1b}[0m\"");
  EXPECT_EQ(quoted_text("\x7f"), "\"\\u{7f}\"");
  EXPECT_EQ(quoted_text("\x01"), "\"\\u{1}\"");
}

// The colouring decision is cached for the life of a process, and earlier tests in this
// process may already have made it. So each case runs in a child that re-executes this binary
// with a marker variable; the probe below answers through the exit code before any test runs.
constexpr const char* probe_marker = "TORNQUIL_TEST_COLOURING_PROBE";
constexpr int probe_says_on = 10;
constexpr int probe_says_off = 11;

const bool probe_installed = [] {
  if (std::getenv(probe_marker) != nullptr) {
    std::_Exit(colouring_enabled() ? probe_says_on : probe_says_off);
  }
  return true;
}();

enum class Stdout : std::uint8_t { Pipe, Terminal };

struct Environment {
  std::optional<std::string> clicolor_force;
  std::optional<std::string> no_color;
  std::optional<std::string> clicolor;
};

void set_or_unset(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

[[noreturn]] void run_probe(const Environment& environment) {
  set_or_unset("CLICOLOR_FORCE", environment.clicolor_force);
  set_or_unset("NO_COLOR", environment.no_color);
  set_or_unset("CLICOLOR", environment.clicolor);
  setenv(probe_marker, "1", 1);
  char name[] = "tornquil_tests";
  char* const argv[] = {name, nullptr};
  execv("/proc/self/exe", argv);
  _exit(127);
}

// Whether a fresh process in `environment`, with standard output on a pipe or a terminal,
// decides to colour; nullopt when the probe could not be run.
std::optional<bool> decision_of(const Environment& environment, Stdout out) {
  int parent_end = -1;
  int child_end = -1;
  if (out == Stdout::Terminal) {
    if (openpty(&parent_end, &child_end, nullptr, nullptr, nullptr) != 0) return std::nullopt;
  } else {
    int ends[2];
    if (pipe(ends) != 0) return std::nullopt;
    parent_end = ends[0];
    child_end = ends[1];
  }
  const pid_t child = fork();
  if (child == 0) {
    dup2(child_end, STDOUT_FILENO);
    close(child_end);
    close(parent_end);
    run_probe(environment);
  }
  close(child_end);
  int status = 0;
  const bool waited = child > 0 && waitpid(child, &status, 0) == child;
  close(parent_end);
  if (!waited || !WIFEXITED(status)) return std::nullopt;
  switch (WEXITSTATUS(status)) {
    case probe_says_on:
      return true;
    case probe_says_off:
      return false;
    default:
      return std::nullopt;
  }
}

bool expected_decision(const Environment& environment, Stdout out) {
  if (environment.clicolor_force && *environment.clicolor_force != "0") return true;
  if (environment.no_color) return false;
  if (environment.clicolor && *environment.clicolor == "0") return false;
  return out == Stdout::Terminal;
}

std::string describe_case(const Environment& environment, Stdout out) {
  const auto show = [](const std::optional<std::string>& value) {
    return value ? "\"" + *value + "\"" : std::string("unset");
  };
  return "CLICOLOR_FORCE=" + show(environment.clicolor_force) +
         " NO_COLOR=" + show(environment.no_color) + " CLICOLOR=" + show(environment.clicolor) +
         (out == Stdout::Terminal ? " on a terminal" : " on a pipe");
}

TEST(ColouringDecision, ForceOtherThanZeroWinsOverNoColor) {
  EXPECT_EQ(decision_of({"1", "1", "0"}, Stdout::Pipe), true);
  EXPECT_EQ(decision_of({"", "1", std::nullopt}, Stdout::Pipe), true);
}

TEST(ColouringDecision, ForceZeroCountsAsUnset) {
  EXPECT_EQ(decision_of({"0", std::nullopt, std::nullopt}, Stdout::Pipe), false);
  EXPECT_EQ(decision_of({"0", "", std::nullopt}, Stdout::Terminal).value_or(false), false);
}

TEST(ColouringDecision, EmptyNoColorSwitchesColourOffOnATerminal) {
  EXPECT_EQ(decision_of({std::nullopt, "", std::nullopt}, Stdout::Terminal).value_or(false), false);
}

TEST(ColouringDecision, ClicolorOnlySwitchesOffAndNeverForcesOn) {
  EXPECT_EQ(decision_of({std::nullopt, std::nullopt, "1"}, Stdout::Pipe), false);
  EXPECT_EQ(decision_of({std::nullopt, std::nullopt, "0"}, Stdout::Terminal).value_or(false),
            false);
}

TEST(ColouringDecision, EveryCombinationFollowsForceThenNoColorThenClicolorThenTheTerminal) {
  ASSERT_TRUE(probe_installed);
  const std::vector<std::optional<std::string>> force_values{std::nullopt, "0", "1"};
  const std::vector<std::optional<std::string>> no_color_values{std::nullopt, "", "1"};
  const std::vector<std::optional<std::string>> clicolor_values{std::nullopt, "0", "1"};
  bool terminal_missing = false;
  for (const auto& force : force_values) {
    for (const auto& no_color : no_color_values) {
      for (const auto& clicolor : clicolor_values) {
        for (const Stdout out : {Stdout::Pipe, Stdout::Terminal}) {
          const Environment environment{force, no_color, clicolor};
          const std::optional<bool> decision = decision_of(environment, out);
          if (!decision && out == Stdout::Terminal) {
            terminal_missing = true;
            continue;
          }
          ASSERT_TRUE(decision.has_value()) << describe_case(environment, out);
          EXPECT_EQ(*decision, expected_decision(environment, out))
              << describe_case(environment, out);
        }
      }
    }
  }
  if (terminal_missing) GTEST_SKIP() << "no pseudo-terminal here; only the pipe cases ran";
}

TEST(ColouringDecision, ColourOnTerminalWhenNothingIsSet) {
  const std::optional<bool> decision = decision_of({}, Stdout::Terminal);
  if (!decision) GTEST_SKIP() << "no pseudo-terminal here";
  EXPECT_TRUE(*decision);
  EXPECT_EQ(decision_of({}, Stdout::Pipe), false);
}

}  // namespace
}  // namespace tornquil
