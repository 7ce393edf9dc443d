// SmallVec: a list that keeps its first entries inline and moves to the heap only when it grows
// beyond them. A playout's path lists use it, so that an ordinary playout allocates nothing for
// them. A SmallVec belongs to one thread; nothing in it is safe to share.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>

namespace tornquil::search {

template <typename T, std::size_t InlineCapacity>
class SmallVec {
  static_assert(InlineCapacity > 0);

 public:
  SmallVec() = default;
  SmallVec(const SmallVec&) = delete;
  SmallVec& operator=(const SmallVec&) = delete;
  ~SmallVec() {
    clear();
    if (!is_inline()) std::allocator<T>().deallocate(data_, capacity_);
  }

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  [[nodiscard]] bool is_inline() const { return data_ == inline_data(); }

  [[nodiscard]] T& operator[](std::size_t index) { return data_[index]; }
  [[nodiscard]] const T& operator[](std::size_t index) const { return data_[index]; }
  [[nodiscard]] T& back() { return data_[size_ - 1]; }
  [[nodiscard]] T* begin() { return data_; }
  [[nodiscard]] T* end() { return data_ + size_; }
  [[nodiscard]] const T* begin() const { return data_; }
  [[nodiscard]] const T* end() const { return data_ + size_; }

  void push_back(const T& item) {
    if (size_ == capacity_) grow();
    std::construct_at(data_ + size_, item);
    ++size_;
  }

  void clear() {
    std::destroy(begin(), end());
    size_ = 0;
  }

 private:
  [[nodiscard]] T* inline_data() { return reinterpret_cast<T*>(inline_storage_); }
  [[nodiscard]] const T* inline_data() const { return reinterpret_cast<const T*>(inline_storage_); }

  void grow() {
    const std::size_t new_capacity = capacity_ * 2;
    T* const moved = std::allocator<T>().allocate(new_capacity);
    std::uninitialized_move(begin(), end(), moved);
    std::destroy(begin(), end());
    if (!is_inline()) std::allocator<T>().deallocate(data_, capacity_);
    data_ = moved;
    capacity_ = new_capacity;
  }

  alignas(T) std::byte inline_storage_[sizeof(T) * InlineCapacity];
  T* data_ = inline_data();
  std::size_t size_ = 0;
  std::size_t capacity_ = InlineCapacity;
};

}  // namespace tornquil::search
