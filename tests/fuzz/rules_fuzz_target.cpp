// The rules under a coverage-guided fuzzer. An input is a game: its first byte picks the number
// of players, the next eight the seed of the deal, and the rest choose each step's action. Most
// steps take an action from the list; the others take an action made from cards the hand holds
// (as the seeded GoogleTest driver does) or one decoded straight from the bytes, with any cards,
// any seat number and any kind of action in any phase. After every step the invariants of
// tests/cpp/rules_invariants.hpp must hold; anything else aborts, and the fuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../cpp/rules_invariants.hpp"
#include "rules/state.hpp"
#include "rules/state_enum.hpp"

namespace tornquil {
namespace {

// The input read front to back. Once it runs out every choice is 0 and the game stops at the
// next step, so a shorter input is a prefix of the same game.
class ByteChoices {
 public:
  ByteChoices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  [[nodiscard]] bool exhausted() const { return at_ >= size_; }
  std::uint8_t byte() { return exhausted() ? 0 : data_[at_++]; }
  // Lists hold at most 256 actions and hands 8 cards, so one byte covers every choice.
  std::uint32_t below(std::uint32_t n) { return n == 0 ? 0 : byte() % n; }
  std::uint64_t u64() {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value |= static_cast<std::uint64_t>(byte()) << (8 * i);
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Any card the two enums can name, real or not: a spade jester, a suitless five, a second king.
Card any_card(ByteChoices& choices) {
  const std::uint8_t byte = choices.byte();
  return Card{static_cast<CardSuit>(byte / 14 % 5), static_cast<CardValue>(byte % 14)};
}

template <std::size_t Capacity>
CardList<Capacity> any_cards(ByteChoices& choices) {
  CardList<Capacity> cards;
  const std::uint32_t count = choices.below(Capacity + 1);
  for (std::uint32_t i = 0; i < count; ++i) cards.push_back(any_card(choices));
  return cards;
}

// Seats past the last one included: the rules must refuse them by a fault, not read past the
// players.
Action decoded_action(ByteChoices& choices) {
  switch (choices.below(6)) {
    case 0:
      return action::Play{any_card(choices)};
    case 1: {
      const Card ace = any_card(choices);
      return action::AnimalCombo{ace, any_card(choices)};
    }
    case 2:
      return action::Combo{any_cards<max_combo_size>(choices)};
    case 3:
      return action::Yield{};
    case 4:
      return action::Discard{any_cards<max_hand_capacity>(choices)};
    default:
      return action::ChangePlayer{PlayerId{choices.below(8)}};
  }
}

[[noreturn]] void finding(const std::string& what, int step) {
  std::fprintf(stderr, "rules invariant broken at step %d: %s\n", step, what.c_str());
  std::abort();
}

template <std::size_t N>
void play(ByteChoices& choices) {
  State<N> state = State<N>::create(choices.u64());
  invariants::GameWatch<N> watch(state);
  for (int step = 0; !choices.exhausted(); ++step) {
    try {
      const auto listed = state.get_action_space();
      if (const auto broken = watch.check_has_actions(listed.empty())) finding(*broken, step);
      if (listed.empty()) return;
      // Three steps in four follow the list, so that inputs reach the late game.
      const std::uint8_t kind = choices.byte();
      const bool take_listed = kind < 192;
      const Action action = take_listed
                                ? listed[choices.below(static_cast<std::uint32_t>(listed.size()))]
                            : kind < 240 ? invariants::unlisted_action(state, choices)
                                         : decoded_action(choices);
      watch.record(state, action, take_listed);
      if (state.apply_action_in_place(action)) return;
      if (const auto broken = watch.check_state(state)) finding(*broken, step);
    } catch (const InternalFault& fault) {
      if (const auto broken = watch.judge_fault(fault.what())) finding(*broken, step);
      return;
    }
  }
}

}  // namespace
}  // namespace tornquil

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tornquil::ByteChoices choices(data, size);
  tornquil::with_player_count(choices.below(4) + 1,
                              [&](auto count) { tornquil::play<decltype(count)::value>(choices); });
  return 0;
}
