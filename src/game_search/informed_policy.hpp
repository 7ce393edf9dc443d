// A sensible player for playouts: it kills when it can (exactly first, since an enemy killed
// exactly joins the tavern deck), otherwise weighs the damage, the attack taken off by Spades,
// the cards Diamonds deal and Hearts heal against the cards the play spends and the blow that
// follows, never makes a play it cannot survive while another exists, and absorbs a blow with
// the cards it needs least. A playout of random moves reaches level 0.3 to 1.5 and says little of
// a line's worth; one of these moves plays a game as a careful player would.
//
// It decides from what the acting seat sees: its own hand, the current enemy, the sizes of the
// decks and the other hands. It never reads a hidden card, so a search that may not peek can use
// it in the worlds it samples. A choice is drawn from the scores with a temperature, so that
// playouts vary; temperature 0 always takes the best.
//
// Safe to call from many threads at once: everything it touches is its caller's.
#pragma once

#include <optional>

#include "game_search/fast_rng.hpp"
#include "rules/state.hpp"

namespace tornquil {

// The weights of the scores; each is in points, a card's attack value being worth `card_value`.
struct PolicyWeights {
  double kill = 60.0;          // an enemy defeated: no blow, and the player plays again
  double exact_kill = 30.0;    // ...exactly: its card joins the tavern deck on top
  double overkill = 0.5;       // each point of damage beyond the enemy's health
  double damage = 1.0;         // each point of damage that leaves the enemy alive
  double spades = 2.0;         // each point of attack taken off the enemy for good
  double draw = 3.0;           // each card Diamonds deal
  double heal = 1.0;           // each card Hearts put back under the tavern deck
  double blow = 1.0;           // each point of the blow that follows
  double yield = 10.0;         // a yield, which gives up a turn
  double jester = 12.0;        // the cost of a jester spent
  double card_value = 1.0;     // each attack point of a card spent or discarded
  double keep_diamonds = 4.0;  // the worth of a Diamonds card kept, beyond its value
  double keep_hearts = 2.0;
  double keep_spades = 1.0;
  double keep_clubs = 1.0;
  double temperature = 3.0;  // of the softmax over the scores; 0 takes the best
};

// The action a careful player at the seat to move takes, drawn with `weights.temperature`; none
// when the state offers no action. `actions` is a buffer the caller reuses.
template <std::size_t N>
[[nodiscard]] std::optional<Action> informed_action(const State<N>& state, ActionBuffer& actions,
                                                    Xoshiro256& rng, const PolicyWeights& weights);

// A game played from `state` to its end with informed_action at every step.
template <std::size_t N>
[[nodiscard]] GameResult informed_rollout(State<N> state, const PolicyWeights& weights,
                                          Xoshiro256& rng);

}  // namespace tornquil
