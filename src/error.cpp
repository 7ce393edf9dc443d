#include "error.hpp"

namespace tornquil {

void fault(const std::string& message) { throw InternalFault(message); }

std::string_view debug_name(TornquilError error) {
  switch (error) {
    case TornquilError::WrongNumberOfPlayers:
      return "WrongNumberOfPlayers";
  }
  fault("unknown TornquilError");
}

}  // namespace tornquil

#include "game/static_vec.hpp"

namespace tornquil {

void fault_capacity_exceeded(std::size_t capacity) {
  fault("capacity of a fixed-capacity list exceeded: " + std::to_string(capacity));
}

}  // namespace tornquil
