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
    return choose_action(stdin, stdout, state.has_turn, optional_enemy(state.current_enemy()),
                         state.get_action_space());
  }

  // The dialogue itself, on any pair of streams. The end of `in`, like a read error, is an
  // internal fault: at the end of input every further read would give the same empty line,
  // and the retry loop would never finish.
  [[nodiscard]] static Action choose_action(std::FILE* in, std::FILE* out, PlayerId turn,
                                            const std::optional<Enemy>& enemy,
                                            const std::vector<Action>& actions);

  friend bool operator==(const InputPlayer&, const InputPlayer&) = default;
};
static_assert(Play<InputPlayer>);

// The number typed by the user: surrounding white space is dropped, a leading "+" is accepted,
// and anything else that is not a decimal digit fails.
[[nodiscard]] std::optional<std::uint64_t> parse_action_number(std::string_view line);

}  // namespace tornquil
