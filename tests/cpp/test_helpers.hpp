// Small builders shared by the model tests: cards by name, texts without colour codes, and the
// message of an internal fault.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "base/error.hpp"
#include "rules/card.hpp"
#include "rules/debug_text.hpp"

namespace tornquil::testing {

inline constexpr Card spade(CardValue value) { return Card{CardSuit::Spades, value}; }
inline constexpr Card heart(CardValue value) { return Card{CardSuit::Hearts, value}; }
inline constexpr Card diamond(CardValue value) { return Card{CardSuit::Diamonds, value}; }
inline constexpr Card club(CardValue value) { return Card{CardSuit::Clubs, value}; }

// The one-line text with colouring off, whatever the process-wide decision is.
template <typename T>
std::string plain(const T& value) {
  return debug_text(value, Layout::Compact, Colouring::Off);
}

template <typename T>
std::string coloured(const T& value) {
  return debug_text(value, Layout::Compact, Colouring::On);
}

// The message of the internal fault that `action` raises; fails the test when it raises none.
template <typename Action>
std::string fault_message(Action&& action) {
  try {
    action();
  } catch (const InternalFault& fault) {
    return fault.what();
  }
  ADD_FAILURE() << "expected an internal fault";
  return {};
}

inline bool ends_with(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace tornquil::testing
