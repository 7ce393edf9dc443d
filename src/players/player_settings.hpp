// The built-in players' settings in one place: how often a long decision lets its caller check
// for an interruption, and how a search that may not peek shares its budget among sampled worlds.
#pragma once

#include <chrono>
#include <cstdint>

namespace tornquil {

// A long decision pauses for its caller's check at least this often: Ctrl-C is then felt within
// a few hundredths of a second, while the check costs nothing a search would notice.
inline constexpr std::chrono::milliseconds kDecisionCheckPeriod{20};

// How long the console player, meeting the end of its input, waits for a signal that may have been
// sent with it (Ctrl-C in a pipeline ends the input too) before it reports the end: long enough
// for a signal sent at the same moment to arrive, short enough to go unnoticed.
inline constexpr std::chrono::nanoseconds kSignalGraceAtEndOfInput = std::chrono::milliseconds{50};

// Under Information::Own a search decision searches one sampled world per this many playouts of
// its budget, so that each world's tree gets enough playouts to tell its first moves apart...
inline constexpr std::uint32_t kPlayoutsPerWorld = 250;
// ...and at most this many worlds, so that a large budget goes into deeper trees rather than into
// ever more shallow ones.
inline constexpr std::uint32_t kMaxWorlds = 40;

// A world is searched by no more workers than have this many of its playouts each: waking a
// worker costs about as much as a few playouts, and a world's tree gains little from more
// workers than that.
inline constexpr std::uint32_t kMinPlayoutsPerWorldWorker = 16;

// How many worlds a decision with `playouts` samples under Information::Own (at least one).
[[nodiscard]] constexpr std::uint32_t worlds_for(std::uint32_t playouts) {
  const std::uint32_t worlds = playouts / kPlayoutsPerWorld;
  return worlds < 1 ? 1 : (worlds > kMaxWorlds ? kMaxWorlds : worlds);
}

}  // namespace tornquil
