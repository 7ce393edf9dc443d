#include "game_search/policy_choice.hpp"

#include <string>

#include "base/error.hpp"
#include "rules/action.hpp"

namespace tornquil {

MyPolicy policy_from_number(std::optional<std::uint8_t> policy_variation) {
  // The reward of a won game, the largest a playout can bring back.
  constexpr double max_score = static_cast<double>(GameResult::max_score());
  return MyPolicy::from_number(policy_variation, max_score, [](std::uint8_t number) {
    fault("Could not determine policy from number '" + std::to_string(unsigned{number}) + "'");
  });
}

}  // namespace tornquil
