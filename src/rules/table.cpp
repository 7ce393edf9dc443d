#include "rules/table.hpp"

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
  for (std::size_t taken = 0; taken < n_cards && !discard_pile.empty(); ++taken) {
    tavern_deck.insert(0, discard_pile.pop_back());
  }
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
