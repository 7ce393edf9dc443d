// The table: every card not in a hand. The castle deck of enemies (its last element is the
// current enemy), the tavern deck (its last element is the top), the discard pile and the
// cards played against the current enemy.
#pragma once

#include <cstdint>
#include <optional>

#include "rules/card.hpp"
#include "rules/enemy.hpp"
#include "rules/player.hpp"
#include "rules/rng.hpp"

namespace tornquil {

inline constexpr std::size_t deck_capacity = 54;  // 52 cards and two jesters
inline constexpr std::size_t enemy_count = 12;
using Pile = CardList<deck_capacity>;
using CastleDeck = StaticVec<Enemy, enemy_count>;

struct Table {
  CastleDeck castle_deck;
  Pile tavern_deck;
  Pile discard_pile;
  Pile attack_cards;

  // The castle deck, then the tavern deck, both drawn from `rng`, in this order.
  [[nodiscard]] static Table create(std::uint8_t n_jesters, StdRng& rng);
  // Four Kings, then four Queens, then four Jacks, each group shuffled: Jacks are fought first.
  [[nodiscard]] static CastleDeck new_castle_deck(StdRng& rng);
  // Ace to Ten of every suit and the jesters, shuffled once.
  [[nodiscard]] static Pile new_tavern_deck(StdRng& rng, std::uint8_t n_jesters);

  [[nodiscard]] std::optional<Card> draw_card();
  // Up to `n_cards` (at most 8) cards, in the order drawn; fewer when the deck runs out.
  [[nodiscard]] Hand draw_cards(std::size_t n_cards);
  void discard_card(Card card) { discard_pile.push_back(card); }
  template <typename Cards>
  void add_attack_cards(const Cards& cards) {
    for (const Card card : cards) attack_cards.push_back(card);
  }
  void discard_attack_cards();
  void add_to_top_of_tavern_deck(Card card) { tavern_deck.push_back(card); }
  // Up to `n_cards` cards picked at random from the discard pile go under the tavern deck.
  void heal_from_discard(std::size_t n_cards, StdRng& rng);
  // The second half of heal_from_discard, once the discard pile is shuffled: up to `n_cards` cards
  // from its top go under the tavern deck, the last taken at the bottom.
  void heal_from_shuffled_discard(std::size_t n_cards);

  [[nodiscard]] const Enemy* current_enemy() const {
    return castle_deck.empty() ? nullptr : &castle_deck.back();
  }
  [[nodiscard]] Enemy* current_enemy_mut() {
    return castle_deck.empty() ? nullptr : &castle_deck.back();
  }
  void next_enemy() {
    if (!castle_deck.empty()) castle_deck.pop_back();
  }

  friend bool operator==(const Table&, const Table&) = default;
};
static_assert(std::is_trivially_copyable_v<Table>);

void describe(DebugWriter& writer, const Table& table);

// The Hearts shuffle of one position, drawn once for all the moves tried from it: every Hearts
// play from a position seeds the same generator and shuffles the same discard pile, however many
// cards it then takes. It is used only for the very seed and pile it was drawn for, so one kept
// from another position costs a new draw and never changes a result.
class HeartsDraw {
 public:
  // Shuffles `pile` as a generator seeded from `seed` does after its first 64-bit draw, and
  // returns that draw: what the rules' random step does to the discard pile and the seed.
  [[nodiscard]] std::uint64_t shuffle(std::uint64_t seed, Pile& pile);

 private:
  bool filled_ = false;
  std::uint64_t seed_ = 0;
  std::uint64_t next_seed_ = 0;
  Pile pile_;  // before the shuffle
  Pile shuffled_;
};

}  // namespace tornquil
