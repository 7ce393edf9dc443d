// The two kinds of failure in tornquil: internal faults (broken invariants, which the rules never
// produce) and TornquilError, the one expected error of the rules engine.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tornquil {

// A broken invariant. Carries its message; the Python binding raises it as PanicException.
class InternalFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void fault(const std::string& message);

enum class TornquilError : std::uint8_t { WrongNumberOfPlayers };

[[nodiscard]] std::string_view debug_name(TornquilError error);

}  // namespace tornquil
