// What one seat at the table can know of a state, and worlds drawn at random among the states it
// cannot tell apart: the one model of hidden information that the players' searches, the learning
// environment and any other fair observer stand on.
//
// The seat knows its own hand; the discard pile, the cards played against the current enemy and
// the enemies beaten (they left the castle deck, whose contents are public); the current enemy
// with its health, attack and jester mark; how many cards each hand and each deck holds; whose
// turn it is and the phase of play. A Jack, Queen or King outside the castle deck came there by a
// public path (an enemy killed exactly goes on top of the tavern deck, everybody watches the top
// card drawn, played or healed), so such a royal keeps its place in the tavern deck or its hand.
//
// Unseen: the order of the tavern deck's number cards and jesters, the other seats' cards apart
// from their royals, the order of the castle deck below the current enemy within each of its
// groups (Jacks, Queens, Kings), and the seed of the next random step.
//
// Limit: a state does not record which tavern cards were healed from the discard pile under the
// deck, although the table saw them go; a healed number card is taken as unseen, so worlds may put
// it anywhere in the deck or in another hand.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "rules/rng.hpp"
#include "rules/state.hpp"

namespace tornquil {

// What an observer of the table may know.
enum class Information : std::uint8_t {
  Full,  // the true state, hidden cards and the random seed included
  Own,   // only what one seat can know (seat_view below); the rest is hidden or sampled
};

// The Information a name stands for at the Python boundary: "full" or "own".
[[nodiscard]] constexpr std::optional<Information> information_named(std::string_view name) {
  if (name == "full") return Information::Full;
  if (name == "own") return Information::Own;
  return std::nullopt;
}

// A royal card's place is public once it is in the tavern deck or a hand.
[[nodiscard]] constexpr bool place_is_public(Card card) {
  return card.value == CardValue::Jack || card.value == CardValue::Queen ||
         card.value == CardValue::King;
}

// `state` with everything `seat` cannot see put in one canonical arrangement: unseen cards dealt
// in card order (tavern deck from the bottom, then the other seats in seat order, each hand's
// royals first), every hidden castle group in card order, and a zero random seed. Two states look
// the same from `seat` exactly when their views are equal.
template <std::size_t N>
[[nodiscard]] State<N> seat_view(const State<N>& state, PlayerId seat);

// One world `seat` cannot tell from `state`: the unseen cards shuffled together and dealt back
// into the same places, every hidden castle group shuffled within itself, and a fresh random seed,
// all drawn from `sampling`. The draw depends only on the seat's view, so two states that differ
// only in what the seat cannot see give the same world for generators in the same state.
template <std::size_t N>
[[nodiscard]] State<N> sample_world(const State<N>& state, PlayerId seat, StdRng& sampling);

extern template State<1> seat_view(const State<1>&, PlayerId);
extern template State<2> seat_view(const State<2>&, PlayerId);
extern template State<3> seat_view(const State<3>&, PlayerId);
extern template State<4> seat_view(const State<4>&, PlayerId);
extern template State<1> sample_world(const State<1>&, PlayerId, StdRng&);
extern template State<2> sample_world(const State<2>&, PlayerId, StdRng&);
extern template State<3> sample_world(const State<3>&, PlayerId, StdRng&);
extern template State<4> sample_world(const State<4>&, PlayerId, StdRng&);

}  // namespace tornquil
