// The budgets the companion module's functions and seats take from Python, each checked where it
// is given: counts of nodes or iterations, seconds, the table's size, thread counts.
#pragma once

#include <cstdint>
#include <optional>

#include "capi/capi.hpp"

namespace tornquil::companion {

using namespace tornquil::capi;

// A count (of nodes, iterations): an integer from 0 up, not a truth value; `absent` when left out.
// TypeError for another kind, OverflowError outside 0 to 2**64 - 1.
[[nodiscard]] std::uint64_t to_count(const Argument& argument, std::uint64_t absent);

// None, or seconds of at least 0 (infinity included); ValueError for NaN and negative numbers.
[[nodiscard]] std::optional<double> to_seconds(const Argument& argument);

// A table size in MiB, 1 to 2**20 (256 when left out), as bytes; ValueError outside.
[[nodiscard]] std::size_t to_table_bytes(const Argument& argument);

// A thread count from 1 to 256 (`absent` when left out); ValueError outside.
[[nodiscard]] std::size_t to_threads(const Argument& argument, std::size_t absent);

}  // namespace tornquil::companion
