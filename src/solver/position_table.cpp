#include "solver/position_table.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <new>

namespace tornquil::solver {
namespace {

constexpr std::size_t kStartBytes = std::size_t{1} << 20;
constexpr std::uint64_t kTopMask = ~std::uint64_t{0xFFFF};
constexpr std::uint64_t kOccupied = 0x8000;

std::uint64_t tag(PositionKey key, std::uint8_t verdict, std::uint64_t work) {
  const auto work_log = static_cast<std::uint64_t>(std::bit_width(work));  // 0 to 64
  return (key.high & kTopMask) | kOccupied | work_log << 8 | verdict;
}

std::uint8_t verdict_of(std::uint64_t tagged) { return static_cast<std::uint8_t>(tagged); }
std::uint64_t work_log_of(std::uint64_t tagged) { return (tagged >> 8) & 0x7F; }

bool same_key(std::uint64_t tagged, std::uint64_t low, PositionKey key) {
  return low == key.low && (tagged & kTopMask) == (key.high & kTopMask) && tagged != 0;
}

// The largest power of two of buckets that fits in `bytes`, at least the smallest table.
std::size_t buckets_for(std::size_t bytes) {
  return std::bit_floor(std::max(bytes, PositionTable::kMinBytes) / PositionTable::kBucketBytes);
}

}  // namespace

// Tables of 2 MiB or more sit on 2 MiB boundaries and ask the kernel for huge pages: every probe
// lands on a random page, and with 4 KiB pages nearly every one of them misses the TLB as well as
// the cache.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
// How many buckets a growing table empties or copies between two calls of the caller's check.
constexpr std::size_t kCheckBuckets = 4096;

void PositionTable::FreeBuckets::operator()(Bucket* buckets) const {
  ::operator delete[](buckets, std::align_val_t{kHugePage});
}

// Emptying a big table takes tens of milliseconds, so `check` is called every few thousand
// buckets on the way; when it throws, the memory is given back.
PositionTable::Buckets PositionTable::allocate(std::size_t count,
                                               const std::function<void()>& check) {
  const std::size_t bytes = count * sizeof(Bucket);
  Buckets buckets(static_cast<Bucket*>(::operator new[](bytes, std::align_val_t{kHugePage})));
#ifdef MADV_HUGEPAGE
  // Only advice: a refusal changes nothing.
  if (bytes >= kHugePage) madvise(buckets.get(), bytes, MADV_HUGEPAGE);
#endif
  for (std::size_t first = 0; first < count; first += kCheckBuckets) {
    if (check && first != 0) check();
    std::fill_n(buckets.get() + first, std::min(kCheckBuckets, count - first), Bucket{});
  }
  return buckets;
}

PositionTable::PositionTable(std::size_t max_bytes)
    : max_bytes_(std::max(max_bytes, kMinBytes)),
      bucket_count_(std::min(buckets_for(kStartBytes), buckets_for(max_bytes_))),
      buckets_(allocate(bucket_count_, {})) {}

void PositionTable::prefetch(PositionKey key) const {
  __builtin_prefetch(&buckets_[bucket_of(key.high)]);
}

int PositionTable::lookup(PositionKey key) const {
  const Bucket& bucket = buckets_[bucket_of(key.high)];
  for (const Entry& entry : bucket.entries) {
    if (same_key(entry.tagged, entry.low, key)) return verdict_of(entry.tagged);
  }
  return -1;
}

void PositionTable::store(PositionKey key, std::uint8_t verdict, std::uint64_t work) {
  Bucket& bucket = buckets_[bucket_of(key.high)];
  for (Entry& entry : bucket.entries) {
    if (!same_key(entry.tagged, entry.low, key)) continue;
    // What is known only grows: a lost position stays lost, a failed budget only rises.
    if (verdict_of(entry.tagged) == kLost || verdict_of(entry.tagged) >= verdict) return;
    entry.tagged = tag(key, verdict, work);
    return;
  }
  insert(buckets_.get(), bucket_count_, Entry{key.low, tag(key, verdict, work)});
}

// Into an empty slot if there is one; otherwise over the entry that took the least work to find,
// lost entries counting double, unless the newcomer is cheaper still.
void PositionTable::insert(Bucket* buckets, std::size_t bucket_count, Entry entry) {
  Bucket& bucket = buckets[static_cast<std::size_t>(entry.tagged >> 16) & (bucket_count - 1)];
  const auto worth = [](std::uint64_t tagged) {
    return work_log_of(tagged) * 2 + (verdict_of(tagged) == kLost ? 8 : 0);
  };
  Entry* victim = nullptr;
  for (Entry& slot : bucket.entries) {
    if (slot.tagged == 0) {
      slot = entry;
      ++used_;
      return;
    }
    if (victim == nullptr || worth(slot.tagged) < worth(victim->tagged)) victim = &slot;
  }
  if (worth(victim->tagged) <= worth(entry.tagged)) *victim = entry;
}

void PositionTable::grow_if_needed(const std::function<void()>& check) {
  if (used_ * 2 <= bucket_count_ * 4) return;
  // Four times at a time, or up to the bound: fewer copies of the whole table as it grows.
  const std::size_t doubled = std::min(bucket_count_ * 4, buckets_for(max_bytes_));
  if (doubled <= bucket_count_) return;
  Buckets grown;
  try {
    grown = allocate(doubled, check);
  } catch (const std::bad_alloc&) {
    max_bytes_ = bytes();  // what the allocator gives is the bound from now on
    return;
  }
  const std::size_t old_used = used_;
  used_ = 0;
  try {
    for (std::size_t index = 0; index < bucket_count_; ++index) {
      if (check && index % kCheckBuckets == kCheckBuckets - 1) check();
      for (const Entry& entry : buckets_[index].entries) {
        if (entry.tagged != 0) insert(grown.get(), doubled, entry);
      }
    }
  } catch (...) {
    used_ = old_used;
    throw;
  }
  buckets_ = std::move(grown);
  bucket_count_ = doubled;
}

void PositionTable::clear() {
  std::fill_n(buckets_.get(), bucket_count_, Bucket{});
  used_ = 0;
}

}  // namespace tornquil::solver
