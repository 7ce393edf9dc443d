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

// The decision itself, case by case: force (unless "0") beats NO_COLOR, which beats CLICOLOR=0,
// which beats the terminal test; a variable set to the empty text counts as set.
TEST(ColouringDecision, ForceThenNoColorThenClicolorThenTheTerminal) {
  using V = std::optional<std::string_view>;
  const V unset;
  struct Case {
    V force, no_color, clicolor;
    bool terminal, coloured;
  };
  const Case cases[] = {
      {unset, unset, unset, false, false}, {unset, unset, unset, true, true},
      {"1", unset, unset, false, true},    {"", unset, unset, false, true},
      {"0", unset, unset, false, false},   {"0", unset, unset, true, true},
      {"1", "1", unset, false, true},      {"1", unset, "0", false, true},
      {"", "1", unset, false, true},       {unset, "", unset, false, false},
      {unset, "", unset, true, false},     {unset, "1", unset, true, false},
      {"0", "", unset, true, false},       {unset, unset, "1", false, false},
      {unset, unset, "1", true, true},     {unset, unset, "0", true, false},
      {"0", unset, "1", false, false},     {unset, "1", "1", true, false},
  };
  for (const Case& c : cases) {
    const ColourSettings settings{c.force, c.no_color, c.clicolor, c.terminal};
    EXPECT_EQ(decide_colouring(settings), c.coloured)
        << "CLICOLOR_FORCE=" << c.force.value_or("(unset)")
        << " NO_COLOR=" << c.no_color.value_or("(unset)")
        << " CLICOLOR=" << c.clicolor.value_or("(unset)") << (c.terminal ? " terminal" : " pipe");
  }
}

// A fresh process reads its own environment and standard output into that decision.
TEST(ColouringDecision, AProcessDecidesFromItsEnvironmentAndItsStandardOutput) {
  ASSERT_TRUE(probe_installed);
  EXPECT_EQ(decision_of({}, Stdout::Pipe), false);
  EXPECT_EQ(decision_of({"", std::nullopt, std::nullopt}, Stdout::Pipe), true);
  const std::optional<bool> on_terminal = decision_of({}, Stdout::Terminal);
  if (!on_terminal) GTEST_SKIP() << "no pseudo-terminal here; only the pipe cases ran";
  EXPECT_EQ(on_terminal, true);
  EXPECT_EQ(decision_of({std::nullopt, "", std::nullopt}, Stdout::Terminal), false);
  EXPECT_EQ(decision_of({std::nullopt, std::nullopt, "0"}, Stdout::Terminal), false);
}

}  // namespace
}  // namespace tornquil
