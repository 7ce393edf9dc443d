// Actions that the rules list apart but that do the same thing. Only a hand holding both jesters
// makes them: the list offers Play(Jester) once per jester, and a discard with one jester once
// for each jester, yet a hand gives up the first copy it holds of each card named, so either
// leaves the same state. A search that counted them as several choices would split its visits
// between equal moves.
#pragma once

#include "rules/state.hpp"

namespace tornquil {

// Whether `a` and `b` leave the same state wherever both are legal: equal actions, or discards
// of the same cards named in another order.
[[nodiscard]] bool same_effect(const Action& a, const Action& b);

// Drops every action of `actions` that does what an earlier one does, keeping the order of the
// rest. Cheap when the list has no such pairs, which needs a hand with two equal cards.
void drop_repeated_effects(ActionBuffer& actions, const Hand& hand);

}  // namespace tornquil
