// The engine's tunables in one place: how many threads a search starts, how much budget a worker
// claims at once, how much of the top of the tree each thread keeps to itself, and how the
// arenas grow. Each value says why it is what it is; the code that uses it says how.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tornquil::search::tuning {

// The most worker threads one call starts, whatever it is asked for: beyond the machine's cores
// more threads only cost memory and start-up time, and a request for millions must not try.
inline constexpr std::size_t kMaxSearchThreads = 256;

// A worker claims at most this many playouts of budget at once, and publishes its counts at the
// top of the tree when they are done: enough to keep the shared counter and the top's lines off
// the path of most playouts, few enough that other threads see its playouts soon.
inline constexpr std::int64_t kMaxBatch = 64;
// ...and never more than this fraction (1 / kBatchShareDivisor) of its share of the budget, so
// that a small budget is claimed one playout at a time and still spreads over every worker.
inline constexpr std::int64_t kBatchShareDivisor = 64;

// The most edges one thread's view of the top of the tree keeps, some 48 bytes each, so that
// hundreds of threads keep little; the top of a tree whose nodes have tens of moves takes a few
// thousand, and a node that does not fit is counted in the tree directly.
inline constexpr std::size_t kMaxTopViewEdges = std::size_t{1} << 14;

// Arena blocks: small first blocks keep a tree of a few playouts small; doubling keeps large
// trees to a few hundred blocks; the cap bounds what each thread leaves unused at the end of a
// block, a small share of a 100,000-playout tree.
inline constexpr std::size_t kFirstArenaBlockBytes = std::size_t{16} << 10;
inline constexpr std::size_t kMaxArenaBlockBytes = std::size_t{1} << 20;

}  // namespace tornquil::search::tuning
