#include "rules/seat_view.hpp"

#include <algorithm>
#include <span>
#include <vector>

namespace tornquil {
namespace {

// Any fixed order does; this one is the order of the card's bytes.
constexpr int card_key(Card card) {
  return static_cast<int>(card.suit) * 16 + static_cast<int>(card.value);
}
constexpr bool card_before(Card a, Card b) { return card_key(a) < card_key(b); }

// Deals the cards `seat` cannot see into their places in card order, or in an order drawn from
// `sampling` when there is one. The places are visited in an order that hidden facts cannot
// change: a hand's royals are moved to its front first, since the arrival order of another
// seat's cards is not public either.
// Moves a hand's royals to its front, keeping the order within each part, without the heap.
void royals_first(Hand& hand) {
  Hand royals;
  Hand others;
  for (const Card card : hand) (place_is_public(card) ? royals : others).push_back(card);
  hand = royals;
  for (const Card card : others) hand.push_back(card);
}

template <std::size_t N>
void deal_unseen(State<N>& state, PlayerId seat, StdRng* sampling) {
  // A search samples a world at every iteration: nothing here touches the heap.
  StaticVec<Card*, deck_capacity> places;
  CardList<deck_capacity> cards;
  const auto take = [&](Card& card) {
    if (place_is_public(card)) return;
    places.push_back(&card);
    cards.push_back(card);
  };
  for (Card& card : state.table.tavern_deck) take(card);
  for (std::size_t index = 0; index < N; ++index) {
    if (index == seat.index) continue;
    Hand& hand = state.players[index].hand;
    royals_first(hand);
    for (Card& card : hand) take(card);
  }
  // Sorting first makes the draw independent of where the unseen cards really are.
  std::sort(cards.begin(), cards.end(), card_before);
  if (sampling != nullptr) shuffle(*sampling, cards);
  for (std::size_t i = 0; i < places.size(); ++i) *places[i] = cards[i];
}

// Every run of one rank below the current enemy, in card order or shuffled. Enemies below the
// current one have not been touched yet, so only their cards tell them apart.
void arrange_castle(CastleDeck& castle, StdRng* sampling) {
  if (castle.size() < 2) return;
  const std::size_t hidden = castle.size() - 1;
  for (std::size_t begin = 0; begin < hidden;) {
    std::size_t end = begin;
    while (end < hidden && castle[end].card().value == castle[begin].card().value) ++end;
    const std::span<Enemy> group(castle.begin() + begin, castle.begin() + end);
    std::sort(group.begin(), group.end(),
              [](const Enemy& a, const Enemy& b) { return card_before(a.card(), b.card()); });
    if (sampling != nullptr) shuffle(*sampling, group);
    begin = end;
  }
}

}  // namespace

template <std::size_t N>
State<N> seat_view(const State<N>& state, PlayerId seat) {
  State<N> view = state;
  deal_unseen(view, seat, nullptr);
  arrange_castle(view.table.castle_deck, nullptr);
  view.rng_seed = 0;
  return view;
}

template <std::size_t N>
State<N> sample_world(const State<N>& state, PlayerId seat, StdRng& sampling) {
  State<N> world = seat_view(state, seat);
  deal_unseen(world, seat, &sampling);
  arrange_castle(world.table.castle_deck, &sampling);
  world.rng_seed = sampling.next_u64();
  return world;
}

template State<1> seat_view(const State<1>&, PlayerId);
template State<2> seat_view(const State<2>&, PlayerId);
template State<3> seat_view(const State<3>&, PlayerId);
template State<4> seat_view(const State<4>&, PlayerId);
template State<1> sample_world(const State<1>&, PlayerId, StdRng&);
template State<2> sample_world(const State<2>&, PlayerId, StdRng&);
template State<3> sample_world(const State<3>&, PlayerId, StdRng&);
template State<4> sample_world(const State<4>&, PlayerId, StdRng&);

}  // namespace tornquil
