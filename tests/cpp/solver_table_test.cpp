// The solver's table of positions: what it records, that it stays within its bound, and that it
// grows lazily and survives a check that throws while it grows.
#include <gtest/gtest.h>

#include <stdexcept>

#include "solver/position_table.hpp"

namespace tornquil::solver {
namespace {

PositionKey key_number(std::uint64_t n) {
  std::uint64_t state = n * 0x9E3779B97F4A7C15ULL + 1;
  const std::uint64_t high = detail::split_mix(state);
  return {high, detail::split_mix(state)};
}

TEST(PositionTable, KnowsWhatWasStoredAndNothingElse) {
  PositionTable table(PositionTable::kMinBytes);
  table.store(key_number(1), kLost, 100);
  table.store(key_number(2), 3, 100);
  EXPECT_EQ(table.lookup(key_number(1)), kLost);
  EXPECT_EQ(table.lookup(key_number(2)), 3);
  EXPECT_EQ(table.lookup(key_number(3)), -1);
}

TEST(PositionTable, WhatIsKnownOnlyGrows) {
  PositionTable table(PositionTable::kMinBytes);
  table.store(key_number(1), 5, 10);
  table.store(key_number(1), 2, 10);  // a smaller failed budget says less
  EXPECT_EQ(table.lookup(key_number(1)), 5);
  table.store(key_number(1), kLost, 10);
  table.store(key_number(1), 7, 10);  // nothing undoes a proof
  EXPECT_EQ(table.lookup(key_number(1)), kLost);
}

TEST(PositionTable, StartsSmallAndGrowsToItsBoundButNoFurther) {
  constexpr std::size_t bound = std::size_t{4} << 20;
  PositionTable table(bound);
  EXPECT_LE(table.bytes(), std::size_t{1} << 20);
  for (std::uint64_t n = 0; n < 1'000'000; ++n) {
    table.store(key_number(n), kLost, n);
    if (n % 1024 == 0) table.grow_if_needed({});
  }
  EXPECT_EQ(table.bytes(), bound);
  EXPECT_LE(table.entries() * 16, bound);
}

TEST(PositionTable, BoundsBelowTheSmallestTableAreRaisedToIt) {
  const PositionTable table(1);
  EXPECT_EQ(table.bytes(), PositionTable::kMinBytes);
  EXPECT_EQ(table.max_bytes(), PositionTable::kMinBytes);
}

TEST(PositionTable, AFullBucketKeepsLostPositionsOverCheaperFailures) {
  PositionTable table(PositionTable::kMinBytes);
  // Far more keys than slots: the lost ones with much work must survive the flood of failures.
  for (std::uint64_t n = 0; n < 200; ++n) table.store(key_number(n), kLost, 1'000'000);
  for (std::uint64_t n = 200; n < 100'000; ++n) table.store(key_number(n), 0, 1);
  for (std::uint64_t n = 0; n < 200; ++n) EXPECT_EQ(table.lookup(key_number(n)), kLost) << n;
}

TEST(PositionTable, GrowingKeepsEveryEntryAndAThrowingCheckLeavesTheTableAsItWas) {
  PositionTable table(std::size_t{64} << 20);
  const std::size_t keys = table.bytes() / 16 * 3 / 4;  // above half full: it wants to grow
  for (std::uint64_t n = 0; n < keys; ++n) table.store(key_number(n), kLost, 1000);
  const std::size_t before = table.bytes();
  const std::size_t entries = table.entries();
  EXPECT_THROW(table.grow_if_needed([] { throw std::runtime_error("interrupted"); }),
               std::runtime_error);
  EXPECT_EQ(table.bytes(), before);
  EXPECT_EQ(table.entries(), entries);
  table.grow_if_needed({});
  EXPECT_EQ(table.bytes(), before * 4);
  EXPECT_EQ(table.entries(), entries);
  std::size_t found = 0;
  for (std::uint64_t n = 0; n < keys; ++n) found += table.lookup(key_number(n)) == kLost;
  EXPECT_EQ(found, entries);
}

}  // namespace
}  // namespace tornquil::solver
