#include "players/input_player.hpp"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/error.hpp"

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

// One line with its line ending; the end of input and read errors are internal faults.
std::string read_line(std::FILE* in) {
  char* buffer = nullptr;
  std::size_t capacity = 0;
  errno = 0;
  const ssize_t length = getline(&buffer, &capacity, in);
  const std::unique_ptr<char, decltype(&std::free)> owned(buffer, &std::free);
  if (length < 0) {
    const char* reason = std::ferror(in) ? std::strerror(errno) : "end of input";
    fault(std::string("Error reading input.: ").append(reason));
  }
  return std::string(buffer, static_cast<std::size_t>(length));
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
                                  const std::vector<Action>& actions) {
  write(out, prompt(turn, enemy, actions));
  while (true) {
    const std::string line = read_line(in);
    const std::optional<std::uint64_t> number = parse_action_number(line);
    if (!number) {
      write(out, std::string("Failed to parse input ").append(quoted_text(line)).append(". Please try again!\n"));
    } else if (*number >= actions.size()) {
      write(out, "Could not match input with any action. Please try again!\n");
    } else {
      return actions[static_cast<std::size_t>(*number)];
    }
  }
}

}  // namespace tornquil
