#include "base/static_vec.hpp"

#include <string>

namespace tornquil {

void fault_capacity_exceeded(std::size_t capacity) {
  fault("capacity of a fixed-capacity list exceeded: " + std::to_string(capacity));
}

}  // namespace tornquil
