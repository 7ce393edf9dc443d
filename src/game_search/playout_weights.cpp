#include "game_search/evaluator.hpp"

namespace tornquil {

const PolicyWeights& playout_weights() {
  static const PolicyWeights weights = [] {
    PolicyWeights w;
    w.kill = 15.0;
    w.exact_kill = 4.7;
    w.overkill = 1.25;
    w.damage = 0.8;
    w.spades = 0.5;
    w.draw = 6.0;
    w.heal = 2.0;
    w.blow = 2.5;
    w.yield = 0.0;
    w.jester = 0.0;
    w.card_value = 1.0;
    w.keep_diamonds = 4.0;
    w.keep_hearts = 0.0;
    w.keep_spades = 2.0;
    w.keep_clubs = 0.0;
    w.temperature = 2.0;
    return w;
  }();
  return weights;
}

}  // namespace tornquil
