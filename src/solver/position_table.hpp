// PositionTable: what the solver has learnt about positions, bounded in memory. An entry says
// either that a position is lost (every line from it was searched and none wins) or that a
// search from it with a given number of discrepancies found no win, which only steers the hunt.
//
// Entries are 16 bytes, four to a 64-byte bucket, so that a probe touches one cache line. The
// table starts small and doubles up to its byte bound as it fills, so a solve with a small budget
// does not pay for a big table. Forgetting is always sound: an entry that is overwritten or never
// stored only costs the search the work of finding the same thing again.
//
// One table belongs to one solver on one thread; nothing here is safe to call concurrently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "solver/position_key.hpp"

namespace tornquil::solver {

// What an entry records about its position, beside the key: a verdict of kLost, or the largest
// discrepancy budget (0 to kMaxFailedBudget) with which a search from there found no win.
inline constexpr std::uint8_t kLost = 255;
inline constexpr std::uint8_t kMaxFailedBudget = 253;

class PositionTable {
 public:
  static constexpr std::size_t kBucketBytes = 64;
  // The smallest table: 1,024 buckets. Any smaller bound is raised to this.
  static constexpr std::size_t kMinBytes = 64 * 1024;

  // `max_bytes` bounds the buckets' memory; the table begins at min(max_bytes, 1 MiB).
  explicit PositionTable(std::size_t max_bytes);
  PositionTable(const PositionTable&) = delete;
  PositionTable& operator=(const PositionTable&) = delete;

  // Brings the key's bucket towards the cache before it is looked up.
  void prefetch(PositionKey key) const;
  // kLost, a failed budget, or -1 when the table holds nothing for the key.
  [[nodiscard]] int lookup(PositionKey key) const;
  // Records what a search learnt. `work` (the nodes the search took) decides which entry of a
  // full bucket gives way: the cheapest to find again, and never a lost one for a failed budget.
  void store(PositionKey key, std::uint8_t verdict, std::uint64_t work);

  // Grows the table fourfold (or to its bound) once it is more than half full. Growing copies every
  // entry; `check` is called every few thousand buckets and may throw, which leaves the table as
  // it was. A growth that the allocator refuses is given up and the table keeps its size.
  void grow_if_needed(const std::function<void()>& check);

  void clear();
  [[nodiscard]] std::size_t bytes() const { return bucket_count_ * kBucketBytes; }
  [[nodiscard]] std::size_t max_bytes() const { return max_bytes_; }
  [[nodiscard]] std::size_t entries() const { return used_; }

 private:
  struct Entry {
    std::uint64_t low = 0;
    // The key's top 48 bits, then the work's binary logarithm (8 bits), then the verdict (8 bits).
    // All zero is an empty slot: no key is stored with a zero top and a zero low.
    std::uint64_t tagged = 0;
  };
  struct alignas(kBucketBytes) Bucket {
    Entry entries[4];
  };
  static_assert(sizeof(Bucket) == kBucketBytes);

  struct FreeBuckets {
    void operator()(Bucket* buckets) const;
  };
  using Buckets = std::unique_ptr<Bucket[], FreeBuckets>;

  [[nodiscard]] static Buckets allocate(std::size_t count, const std::function<void()>& check);
  [[nodiscard]] std::size_t bucket_of(std::uint64_t high) const {
    return static_cast<std::size_t>(high >> 16) & (bucket_count_ - 1);
  }
  void insert(Bucket* buckets, std::size_t bucket_count, Entry entry);

  std::size_t max_bytes_;
  std::size_t bucket_count_ = 0;
  std::size_t used_ = 0;
  Buckets buckets_;
};

}  // namespace tornquil::solver
