#include "rules/table.hpp"

#include <algorithm>
#include <cstring>

namespace tornquil {

Table Table::create(std::uint8_t n_jesters, StdRng& rng) {
  Table table;
  table.castle_deck = new_castle_deck(rng);
  table.tavern_deck = new_tavern_deck(rng, n_jesters);
  return table;
}

CastleDeck Table::new_castle_deck(StdRng& rng) {
  CastleDeck deck;
  for (const CardValue value : {CardValue::King, CardValue::Queen, CardValue::Jack}) {
    StaticVec<Enemy, 4> group;
    for (const CardSuit suit : real_suits) group.push_back(Enemy(Card{suit, value}));
    shuffle(rng, group);
    for (const Enemy& enemy : group) deck.push_back(enemy);
  }
  return deck;
}

Pile Table::new_tavern_deck(StdRng& rng, std::uint8_t n_jesters) {
  Pile deck;
  for (auto value = static_cast<std::uint8_t>(CardValue::Ace);
       value <= static_cast<std::uint8_t>(CardValue::Ten); ++value) {
    for (const CardSuit suit : real_suits)
      deck.push_back(Card{suit, static_cast<CardValue>(value)});
  }
  for (std::uint8_t i = 0; i < n_jesters; ++i) deck.push_back(jester_card);
  shuffle(rng, deck);
  return deck;
}

std::optional<Card> Table::draw_card() {
  if (tavern_deck.empty()) return std::nullopt;
  return tavern_deck.pop_back();
}

Hand Table::draw_cards(std::size_t n_cards) {
  Hand drawn;
  for (std::size_t i = 0; i < n_cards; ++i) {
    if (const auto card = draw_card()) drawn.push_back(*card);
  }
  return drawn;
}

void Table::discard_attack_cards() {
  for (const Card card : attack_cards) discard_pile.push_back(card);
  attack_cards.clear();
}

void Table::heal_from_discard(std::size_t n_cards, StdRng& rng) {
  shuffle(rng, discard_pile);
  heal_from_shuffled_discard(n_cards);
}

// Taking the top card and putting it at the bottom, card after card, puts the top `taken` cards at
// the bottom in their order in the pile; the tavern deck is moved up once for all of them. Every
// slot is written as the card-by-card moves would write it, so the bytes past the lists' ends are
// the same too.
void Table::heal_from_shuffled_discard(std::size_t n_cards) {
  const std::size_t taken = std::min(n_cards, discard_pile.size());
  const std::size_t kept = discard_pile.size() - taken;
  const std::size_t tavern_cards = tavern_deck.size();
  for (std::size_t slot = 0; slot < taken; ++slot) tavern_deck.push_back(Card{});
  std::move_backward(tavern_deck.begin(), tavern_deck.begin() + tavern_cards, tavern_deck.end());
  std::copy(discard_pile.begin() + kept, discard_pile.end(), tavern_deck.begin());
  discard_pile.resize_down(kept);
}

namespace {

bool same_cards(const Pile& a, const Pile& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Card)) == 0;
}

}  // namespace

// Only the pile's cards are written: the bytes past its end stay as the plain shuffle leaves them.
std::uint64_t HeartsDraw::shuffle(std::uint64_t seed, Pile& pile) {
  if (!filled_ || seed != seed_ || !same_cards(pile, pile_)) {
    StdRng rng = StdRng::seed_from_u64(seed);
    next_seed_ = rng.next_u64();
    pile_ = pile;
    shuffled_ = pile;
    tornquil::shuffle(rng, shuffled_);
    seed_ = seed;
    filled_ = true;
  }
  std::copy(shuffled_.begin(), shuffled_.end(), pile.begin());
  return next_seed_;
}

void describe(DebugWriter& writer, const Table& table) {
  RecordWriter(writer, "Table")
      .field("castle_deck", table.castle_deck)
      .field("tavern_deck", table.tavern_deck)
      .field("discard_pile", table.discard_pile)
      .field("attack_cards", table.attack_cards)
      .finish();
}

}  // namespace tornquil
