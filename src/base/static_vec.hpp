// StaticVec: a list with a fixed capacity that lives inline in its owner. Every card list, the
// castle deck and the action buffer use it, so that a whole game state copies without allocation.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <type_traits>

#include "base/error.hpp"

namespace tornquil {

template <std::size_t Capacity>
using static_vec_size_t =
    std::conditional_t<Capacity <= UINT8_MAX, std::uint8_t,
                       std::conditional_t<Capacity <= UINT16_MAX, std::uint16_t, std::size_t>>;

[[noreturn]] void fault_capacity_exceeded(std::size_t capacity);

template <typename T, std::size_t Capacity>
class StaticVec {
 public:
  using value_type = T;
  using size_type = static_vec_size_t<Capacity>;
  using iterator = T*;
  using const_iterator = const T*;

  constexpr StaticVec() = default;
  constexpr StaticVec(std::initializer_list<T> items) {
    for (const T& item : items) push_back(item);
  }
  // The first `size` of `items`, copied in one go for the hot loops. The slots past `size` are
  // copied too: give them T{} there, as an emptied list would hold, or equal lists may differ in
  // their bytes.
  constexpr StaticVec(const std::array<T, Capacity>& items, std::size_t size) : items_(items) {
    if (size > Capacity) fault_capacity_exceeded(Capacity);
    size_ = static_cast<size_type>(size);
  }

  [[nodiscard]] static constexpr std::size_t capacity() { return Capacity; }
  [[nodiscard]] constexpr std::size_t size() const { return size_; }
  [[nodiscard]] constexpr bool empty() const { return size_ == 0; }
  [[nodiscard]] constexpr bool full() const { return size_ == Capacity; }

  constexpr T* begin() { return items_.data(); }
  constexpr T* end() { return items_.data() + size_; }
  constexpr const T* begin() const { return items_.data(); }
  constexpr const T* end() const { return items_.data() + size_; }
  constexpr T* data() { return items_.data(); }
  constexpr const T* data() const { return items_.data(); }

  constexpr T& operator[](std::size_t index) { return items_[index]; }
  constexpr const T& operator[](std::size_t index) const { return items_[index]; }
  constexpr T& back() { return items_[size_ - 1]; }
  constexpr const T& back() const { return items_[size_ - 1]; }

  constexpr void push_back(const T& item) {
    if (size_ == Capacity) fault_capacity_exceeded(Capacity);
    items_[size_++] = item;
  }
  // Precondition: not empty.
  constexpr T pop_back() { return items_[--size_]; }
  constexpr void clear() { size_ = 0; }
  constexpr void resize_down(std::size_t new_size) { size_ = static_cast<size_type>(new_size); }

  constexpr void insert(std::size_t position, const T& item) {
    if (size_ == Capacity) fault_capacity_exceeded(Capacity);
    std::move_backward(begin() + position, end(), end() + 1);
    items_[position] = item;
    ++size_;
  }
  constexpr void erase(std::size_t position) {
    std::move(begin() + position + 1, end(), begin() + position);
    --size_;
  }

  friend constexpr bool operator==(const StaticVec& a, const StaticVec& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  std::array<T, Capacity> items_{};
  size_type size_ = 0;
};

}  // namespace tornquil
