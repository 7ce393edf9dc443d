#include "players/input_player.hpp"

#include <time.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/error.hpp"
#include "players/player_settings.hpp"

namespace tornquil {
namespace {

constexpr std::string_view white_space = " \t\n\r\v\f";

void write(std::FILE* out, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

std::string prompt(PlayerId turn, const std::optional<Enemy>& enemy,
                   const std::vector<Action>& actions) {
  std::string text(60, '=');
  text.append("\nCurrent player: ").append(debug_text(turn)).append("\n");
  text.append("Current enemy: \n\n").append(debug_text(enemy, Layout::Pretty)).append("\n\n");
  text.append("Available actions are: \n ");
  for (std::size_t i = 0; i < actions.size(); ++i) {
    text.append("\n").append(std::to_string(i)).append(": ").append(debug_text(actions[i]));
  }
  text.append(" \n\nType number to select an action:\n");
  return text;
}

struct Line {
  std::string text;  // with its line ending, at most kMaxLineBytes of it
  bool overlong = false;
};

[[noreturn]] void fail_to_read(std::FILE* in, const char* reason) {
  std::clearerr(in);
  fault(std::string("Error reading input.: ").append(reason));
}

// Ctrl-C in a pipeline reaches this process and ends the input of the pipe at once, and the end
// of input may be seen a moment before the signal arrives. The signal is what ended the dialogue,
// so it goes first: a short pause, which a signal cuts short, gives it the time to arrive, and
// `check` raises what its handler raised.
void await_late_signal(const DecisionCheck& check) {
  check();
  timespec pause{0, kSignalGraceAtEndOfInput.count()};
  (void)nanosleep(&pause, nullptr);
  check();
}

// One line with its line ending; the end of input and read errors are internal faults.
Line read_line(std::FILE* in, const DecisionCheck& check) {
  // A signal that came while the prompt was written has already interrupted nothing.
  if (check) check();
  Line line;
  while (true) {
    errno = 0;
    const int c = std::getc(in);
    if (c == EOF) {
      if (std::ferror(in)) {
        const int error = errno;
        if (error != EINTR) fail_to_read(in, std::strerror(error));
        std::clearerr(in);
        if (check) check();
        continue;
      }
      if (line.text.empty() && !line.overlong) {
        if (check) await_late_signal(check);
        fail_to_read(in, "end of input");
      }
      std::clearerr(in);
      return line;
    }
    if (line.text.size() < InputPlayer::kMaxLineBytes) {
      line.text.push_back(static_cast<char>(c));
    } else {
      line.overlong = true;
    }
    if (c == '\n') return line;
  }
}

std::string parse_failure(const Line& line) {
  if (!line.overlong) {
    return std::string("Failed to parse input ")
        .append(quoted_text(line.text))
        .append(". Please try again!\n");
  }
  const std::string_view start =
      std::string_view(line.text).substr(0, InputPlayer::kQuotedBytesOfOverlongLine);
  return std::string("Failed to parse input ")
      .append(quoted_text(start))
      .append(" (cut: a line longer than ")
      .append(std::to_string(InputPlayer::kMaxLineBytes))
      .append(" bytes). Please try again!\n");
}

}  // namespace

std::optional<std::uint64_t> parse_action_number(std::string_view line) {
  const std::size_t first = line.find_first_not_of(white_space);
  if (first == std::string_view::npos) return std::nullopt;
  std::string_view digits = line.substr(first, line.find_last_not_of(white_space) + 1 - first);
  if (digits.starts_with('+')) digits.remove_prefix(1);
  std::uint64_t number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return number;
}

Action InputPlayer::choose_action(std::FILE* in, std::FILE* out, PlayerId turn,
                                  const std::optional<Enemy>& enemy,
                                  const std::vector<Action>& actions, const DecisionCheck& check) {
  write(out, prompt(turn, enemy, actions));
  while (true) {
    const Line line = read_line(in, check);
    const std::optional<std::uint64_t> number =
        line.overlong ? std::nullopt : parse_action_number(line.text);
    if (!number) {
      write(out, parse_failure(line));
    } else if (*number >= actions.size()) {
      write(out, "Could not match input with any action. Please try again!\n");
    } else {
      return actions[static_cast<std::size_t>(*number)];
    }
  }
}

}  // namespace tornquil
