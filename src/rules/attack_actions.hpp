// The action space of a state where the player attacks, as a list that is never built: its size
// and its action at a position, in the fixed order of the listed space. A random game picks one
// attack of a hand at nearly every other step and needs no other.
#pragma once

#include <cstddef>

#include "rules/action.hpp"
#include "rules/player.hpp"

namespace tornquil {

class AttackActions {
 public:
  // `hand` must outlive this view.
  explicit AttackActions(const Hand& hand);

  [[nodiscard]] std::size_t size() const { return size_; }
  // Precondition: index < size(); any other index is an internal fault. The single plays come
  // first, in hand order, and the yield last; only a combo is looked for in the full listing.
  [[nodiscard]] Action operator[](std::size_t index) const {
    if (index < hand_.size()) return action::Play{hand_[index]};
    if (index + 1 == size_) return action::Yield{};
    return combo_at(index);
  }

 private:
  [[nodiscard]] Action combo_at(std::size_t index) const;

  const Hand& hand_;
  std::size_t size_;
};

}  // namespace tornquil
