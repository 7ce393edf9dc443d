#include "base/error.hpp"

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
