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

// A fingerprint of every visited edge's place and counts, in tree order. Unvisited edges count
// for nothing: whether a leaf has listed its edges is the tree's own affair.
template <typename Node>
[[nodiscard]] std::uint64_t tree_fingerprint(const Node& node,
                                             std::uint64_t hash = 1469598103934665603ULL) {
  std::uint64_t place = 0;
  for (const auto& edge : node.moves()) {
    ++place;
    if (edge.visits() == 0) continue;
    hash = (hash ^ place) * 1099511628211ULL;
    hash = (hash ^ edge.visits()) * 1099511628211ULL;
    hash = (hash ^ static_cast<std::uint64_t>(edge.sum_rewards())) * 1099511628211ULL;
    if (const auto* const child = edge.child()) hash = tree_fingerprint(*child, hash);
  }
  return hash;
}

}  // namespace tornquil::testing
