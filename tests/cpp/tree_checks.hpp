// Checks of a search tree's counts that hold for any game once no playout is running.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

namespace tornquil::testing {

// Every playout that took an edge below a node took the edge leading to the node first, so no
// node's edges count more visits than its own edge, and a node exists only once it was reached.
template <typename Node>
void expect_edges_count_every_playout_below(const Node& node) {
  for (const auto& edge : node.moves()) {
    const auto* const child = edge.child();
    if (child == nullptr) continue;
    std::uint64_t below = 0;
    for (const auto& child_edge : child->moves()) below += child_edge.visits();
    EXPECT_GE(edge.visits(), below);
    EXPECT_GE(edge.visits(), 1U);
    expect_edges_count_every_playout_below(*child);
  }
}

}  // namespace tornquil::testing
