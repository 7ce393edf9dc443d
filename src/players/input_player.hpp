// InputPlayer: a person at the console plays a seat. On its turn it writes who is to move, the
// current enemy and the numbered legal actions, and reads numbers until one names an action.
// It talks to the process's own standard streams through C stdio, not to any interpreter's
// stream objects, so redirecting those does not reach it.
#pragma once

#include <cstdio>
#include <optional>
#include <vector>

#include "players/play.hpp"

namespace tornquil {

class InputPlayer {
 public:
  template <std::size_t N>
  [[nodiscard]] Action play(const State<N>& state) const {
    return play(state, DecisionCheck{});
  }
  // A read broken by a signal asks `check` (which raises what the signal's handler raised) and
  // otherwise reads on.
  template <std::size_t N>
  [[nodiscard]] Action play(const State<N>& state, const DecisionCheck& check) const {
    return choose_action(stdin, stdout, state.has_turn, optional_enemy(state.current_enemy()),
                         state.get_action_space(), check);
  }

  // The dialogue itself, on any pair of streams. The end of `in`, like a read error, is an
  // internal fault: at the end of input every further read would give the same empty line,
  // and the retry loop would never finish. Either leaves `in` without its end or error mark, so
  // that a later dialogue reads what the stream may still hold.
  [[nodiscard]] static Action choose_action(std::FILE* in, std::FILE* out, PlayerId turn,
                                            const std::optional<Enemy>& enemy,
                                            const std::vector<Action>& actions,
                                            const DecisionCheck& check = {});

  // The longest line a dialogue keeps: the rest of a longer line is read and dropped, so that
  // endless input without line breaks costs no memory, and the line is answered as unreadable.
  static constexpr std::size_t kMaxLineBytes = 64 * 1024;
  // How much of an overlong line the answer quotes.
  static constexpr std::size_t kQuotedBytesOfOverlongLine = 64;

  friend bool operator==(const InputPlayer&, const InputPlayer&) = default;
};
static_assert(Play<InputPlayer>);

// The number typed by the user: surrounding white space is dropped, a leading "+" is accepted,
// and anything else that is not a decimal digit fails.
[[nodiscard]] std::optional<std::uint64_t> parse_action_number(std::string_view line);

}  // namespace tornquil
