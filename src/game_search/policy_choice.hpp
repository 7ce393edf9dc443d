// The tree policy a search player names by number, scaled to this game's largest reward.
#pragma once

#include <cstdint>
#include <optional>

#include "search/tree_policy.hpp"

namespace tornquil {

using search::MyPolicy;

// Absent or 0, 3 and 4 name a policy; any other number is an internal fault.
[[nodiscard]] MyPolicy policy_from_number(std::optional<std::uint8_t> policy_variation);

}  // namespace tornquil
