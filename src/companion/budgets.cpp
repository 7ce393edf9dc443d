#include "companion/budgets.hpp"

#include <cmath>
#include <string>

namespace tornquil::companion {
namespace {

constexpr std::uint64_t kDefaultTableMib = 256;
// A terabyte: more than any machine this runs on has, and far from overflowing a byte count.
constexpr std::uint64_t kLargestTableMib = std::uint64_t{1} << 20;
// As the search player: more threads than this only cost memory and start-up time.
constexpr std::uint64_t kMostThreads = 256;

}  // namespace

std::uint64_t to_count(const Argument& argument, std::uint64_t absent) {
  if (argument.absent_or_none()) return absent;
  if (PyBool_Check(argument.object)) argument.refuse("must be an integer count, not bool");
  return to_u64(argument);
}

std::optional<double> to_seconds(const Argument& argument) {
  if (argument.absent_or_none()) return std::nullopt;
  const double seconds = to_double(argument);
  if (std::isnan(seconds) || seconds < 0) {
    raise(PyExc_ValueError,
          "seconds must be a number of at least 0, got " + repr_text(argument.object));
  }
  return seconds;
}

std::size_t to_table_bytes(const Argument& argument) {
  const std::uint64_t mib = to_count(argument, kDefaultTableMib);
  if (mib < 1 || mib > kLargestTableMib) {
    raise(PyExc_ValueError, "table_mib must be from 1 to " + std::to_string(kLargestTableMib) +
                                ", got " + std::to_string(mib));
  }
  return static_cast<std::size_t>(mib) << 20;
}

std::size_t to_threads(const Argument& argument, std::size_t absent) {
  const std::uint64_t threads = to_count(argument, absent);
  if (threads < 1 || threads > kMostThreads) {
    raise(PyExc_ValueError, "threads must be from 1 to " + std::to_string(kMostThreads) + ", got " +
                                std::to_string(threads));
  }
  return static_cast<std::size_t>(threads);
}

}  // namespace tornquil::companion
