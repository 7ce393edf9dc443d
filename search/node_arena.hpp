// NodeArena: the memory of one tree's nodes, handed out by bumping a pointer through blocks that
// each search thread takes for itself, and freed all at once with the tree.
//
// A playout used to make one heap allocation for its new node; with many threads those calls met
// in the allocator, and each was a fresh block whose pages the kernel had to clear. A block here
// holds many nodes, belongs to the one thread whose cursor took it, and so is written without a
// lock; only taking a block locks, which happens about a hundred times in a million playouts.
//
// Concurrency: allocate, give_back and count_node touch only the calling thread's cursor and its
// block. node_count may be called at any time from any thread. for_each_block and destruction
// must not overlap any allocation.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

#include "search/tuning.hpp"

namespace tornquil::search {

class NodeArena {
  struct Block;

 public:
  // A thread's place in the arena. It names the arena it was last used with, so a cursor handed
  // to another tree starts afresh there instead of writing into a block of the first.
  class Cursor {
   public:
    Cursor() = default;
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

   private:
    friend class NodeArena;
    std::uint64_t arena_id_ = 0;
    Block* block_ = nullptr;
    std::byte* next_ = nullptr;
    std::byte* end_ = nullptr;
    std::size_t next_block_bytes_ = kFirstBlockBytes;
  };

  NodeArena() : id_(next_arena_id()) {}
  NodeArena(const NodeArena&) = delete;
  NodeArena& operator=(const NodeArena&) = delete;
  ~NodeArena() {
    for (Block* block : blocks_) {
      block->~Block();
      ::operator delete (static_cast<void*>(block), std::align_val_t{kBlockAlignment});
    }
  }

  // Room for `bytes` at `alignment` (at most 64), from the cursor's block or a new one.
  [[nodiscard]] void* allocate(Cursor& cursor, std::size_t bytes, std::size_t alignment) {
    if (cursor.arena_id_ != id_) start(cursor);
    std::byte* place = align_up(cursor.next_, alignment);
    if (cursor.block_ == nullptr || bytes > static_cast<std::size_t>(cursor.end_ - place)) {
      take_block(cursor, bytes + alignment);
      place = align_up(cursor.next_, alignment);
    }
    cursor.next_ = place + bytes;
    cursor.block_->used = cursor.next_;
    return place;
  }

  // Returns the cursor's latest allocation, which must start at `memory`: a node that was built
  // in vain leaves no hole behind.
  void give_back(Cursor& cursor, void* memory) {
    cursor.next_ = static_cast<std::byte*>(memory);
    cursor.block_->used = cursor.next_;
  }

  // Counts one node kept in the cursor's block. The block's count has one writer, so a plain
  // load and store do, with no locked instruction.
  void count_node(Cursor& cursor) {
    std::atomic<std::size_t>& nodes = cursor.block_->nodes;
    nodes.store(nodes.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }

  // Unique among the arenas of a process.
  [[nodiscard]] std::uint64_t id() const { return id_; }

  // The nodes counted so far, summed over the blocks.
  [[nodiscard]] std::size_t node_count() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::size_t total = 0;
    for (const Block* block : blocks_) total += block->nodes.load(std::memory_order_relaxed);
    return total;
  }

  [[nodiscard]] std::size_t block_bytes() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::size_t total = 0;
    for (const Block* block : blocks_) total += sizeof(Block) + block->capacity;
    return total;
  }

  // Calls visit(begin, end) with the bytes handed out in each block, in the order handed out.
  template <typename Visit>
  void for_each_block(Visit&& visit) const {
    for (const Block* block : blocks_) visit(block->data(), block->used);
  }

 private:
  static constexpr std::size_t kBlockAlignment = 64;
  static constexpr std::size_t kFirstBlockBytes = tuning::kFirstArenaBlockBytes;
  static constexpr std::size_t kMaxBlockBytes = tuning::kMaxArenaBlockBytes;

  // The header sits on a cache line of its own: its node count is read by other threads.
  struct alignas(kBlockAlignment) Block {
    explicit Block(std::size_t bytes) : capacity(bytes), used(data()) {}
    [[nodiscard]] std::byte* data() const {
      return const_cast<std::byte*>(reinterpret_cast<const std::byte*>(this)) + sizeof(Block);
    }
    std::atomic<std::size_t> nodes{0};
    const std::size_t capacity;
    std::byte* used;  // written by the owning thread only; read once every thread has joined
  };

  static std::uint64_t next_arena_id() {
    static std::atomic<std::uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
  }

  static std::byte* align_up(std::byte* pointer, std::size_t alignment) {
    const auto address = reinterpret_cast<std::uintptr_t>(pointer);
    return reinterpret_cast<std::byte*>((address + alignment - 1) & ~(alignment - 1));
  }

  void start(Cursor& cursor) const {
    cursor.arena_id_ = id_;
    cursor.block_ = nullptr;
    cursor.next_ = nullptr;
    cursor.end_ = nullptr;
    cursor.next_block_bytes_ = kFirstBlockBytes;
  }

  void take_block(Cursor& cursor, std::size_t at_least) {
    const std::size_t bytes = std::max(cursor.next_block_bytes_, at_least);
    void* const memory = ::operator new (sizeof(Block) + bytes, std::align_val_t{kBlockAlignment});
    Block* const block = ::new (memory) Block(bytes);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      try {
        blocks_.push_back(block);
      } catch (...) {
        block->~Block();
        ::operator delete (memory, std::align_val_t{kBlockAlignment});
        throw;
      }
    }
    cursor.block_ = block;
    cursor.next_ = block->data();
    cursor.end_ = block->data() + bytes;
    cursor.next_block_bytes_ = std::min(cursor.next_block_bytes_ * 2, kMaxBlockBytes);
  }

  const std::uint64_t id_;
  mutable std::mutex mutex_;
  std::vector<Block*> blocks_;  // guarded by mutex_
};

}  // namespace tornquil::search
