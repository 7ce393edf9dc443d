#include "python/py.hpp"

#include <atomic>

#include "base/error.hpp"

namespace tornquil::py {

std::size_t next_class_slot() {
  static std::atomic<std::size_t> next{0};
  const std::size_t slot = next.fetch_add(1);
  if (slot >= max_classes) fault("the module makes more classes than its state holds");
  return slot;
}

}  // namespace tornquil::py
