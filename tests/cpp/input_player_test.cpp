#include "players/input_player.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/error.hpp"

namespace tornquil {
namespace {

struct Dialogue {
  std::string output;
  std::optional<Action> chosen;
  std::string fault;
};

// Runs the console dialogue on `typed` as standard input, with colouring off.
Dialogue converse(const std::string& typed, const std::vector<Action>& actions,
                  std::optional<Enemy> enemy = std::nullopt) {
  std::string input = typed;
  std::unique_ptr<std::FILE, decltype(&std::fclose)> in(fmemopen(input.data(), input.size(), "r"),
                                                        &std::fclose);
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  Dialogue dialogue;
  try {
    dialogue.chosen = InputPlayer::choose_action(in.get(), out, PlayerId{1}, enemy, actions);
  } catch (const InternalFault& fault) {
    dialogue.fault = fault.what();
  }
  std::fclose(out);
  dialogue.output.assign(buffer, size);
  std::free(buffer);
  return dialogue;
}

const std::vector<Action> three_actions = {action::Play{Card{CardSuit::Hearts, CardValue::Five}},
                                           action::Play{Card{CardSuit::Clubs, CardValue::Two}},
                                           action::Yield{}};

TEST(ParseActionNumber, AcceptsDigitsWithSurroundingSpaceAndAPlusSign) {
  EXPECT_EQ(parse_action_number(" 1 \n"), 1U);
  EXPECT_EQ(parse_action_number("+1\n"), 1U);
  EXPECT_EQ(parse_action_number("18446744073709551615"), UINT64_MAX);
}

TEST(ParseActionNumber, RefusesSignsInnerSpacesOverflowAndEmptyLines) {
  for (const char* line :
       {"-1\n", "1 2\n", "\n", "", "+", "++1", "abc", "18446744073709551616", "0x1"}) {
    EXPECT_EQ(parse_action_number(line), std::nullopt) << line;
  }
}

TEST(InputPlayer, RetriesUntilANumberNamesAnAction) {
  const Dialogue dialogue = converse("abc\n3\n-1\n 2 \n", three_actions);
  EXPECT_EQ(dialogue.chosen, Action(action::Yield{}));
  EXPECT_NE(dialogue.output.find("Failed to parse input \"abc\\n\". Please try again!\n"
                                 "Could not match input with any action. Please try again!\n"
                                 "Failed to parse input \"-1\\n\". Please try again!\n"),
            std::string::npos);
}

TEST(InputPlayer, WithOneActionOnlyZeroIsAccepted) {
  const Dialogue dialogue = converse("1\n0\n", {action::Yield{}});
  EXPECT_EQ(dialogue.chosen, Action(action::Yield{}));
  EXPECT_NE(dialogue.output.find("\n0: Yield \n\nType number to select an action:\n"
                                 "Could not match input with any action. Please try again!\n"),
            std::string::npos);
}

TEST(InputPlayer, EndOfInputIsAReadFaultInsteadOfAnEndlessRetry) {
  const Dialogue dialogue = converse("\n", three_actions);
  EXPECT_EQ(dialogue.fault, "Error reading input.: end of input");
  EXPECT_NE(dialogue.output.find("Failed to parse input \"\\n\". Please try again!\n"),
            std::string::npos);
}

TEST(InputPlayer, OverlongLineIsDroppedUpToItsEndAndQuotedOnlyInPart) {
  const std::string overlong(InputPlayer::kMaxLineBytes + 10, '1');
  const Dialogue dialogue = converse(overlong + "\n1\n", three_actions);
  // A line of digits beyond the limit is never read as a number, and the next line still is.
  EXPECT_EQ(dialogue.chosen, Action(action::Play{Card{CardSuit::Clubs, CardValue::Two}}));
  const std::string quoted(InputPlayer::kQuotedBytesOfOverlongLine, '1');
  EXPECT_NE(dialogue.output.find("Failed to parse input \"" + quoted +
                                 "\" (cut: a line longer than 65536 bytes). Please try again!\n"),
            std::string::npos);
  EXPECT_LT(dialogue.output.size(), 2000U);
}

TEST(InputPlayer, LineOfExactlyTheLimitIsStillReadWhole) {
  std::string line(InputPlayer::kMaxLineBytes - 2, ' ');
  line += "2\n";
  EXPECT_EQ(converse(line, three_actions).chosen, Action(action::Yield{}));
}

TEST(InputPlayer, LastLineWithoutLineBreakIsReadAndEndOfInputLeavesTheStreamReadable) {
  EXPECT_EQ(converse("0", three_actions).chosen,
            Action(action::Play{Card{CardSuit::Hearts, CardValue::Five}}));

  // After the end of input has been reported, a stream that has grown is read on.
  char path[] = "/tmp/tornquil-input-XXXXXX";
  const int descriptor = mkstemp(path);
  ASSERT_GE(descriptor, 0);
  std::FILE* writer = ::fdopen(descriptor, "w");
  std::FILE* reader = std::fopen(path, "r");
  ::unlink(path);
  std::FILE* out = std::fopen("/dev/null", "w");
  EXPECT_THROW(
      (void)InputPlayer::choose_action(reader, out, PlayerId{0}, std::nullopt, three_actions),
      InternalFault);
  std::fputs("2\n", writer);
  std::fflush(writer);
  EXPECT_EQ(InputPlayer::choose_action(reader, out, PlayerId{0}, std::nullopt, three_actions),
            Action(action::Yield{}));
  std::fclose(out);
  std::fclose(reader);
  std::fclose(writer);
}

}  // namespace
}  // namespace tornquil
