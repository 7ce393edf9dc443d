#include "game_search/informed_policy.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

namespace tornquil {
namespace {

constexpr double kLoses = -1e9;

Hand cards_of(const Action& action) {
  if (const auto* play = std::get_if<action::Play>(&action)) return Hand{play->card};
  if (const auto* pair = std::get_if<action::AnimalCombo>(&action)) {
    return Hand{pair->ace, pair->partner};
  }
  if (const auto* combo = std::get_if<action::Combo>(&action)) {
    return from_card_iter<max_hand_capacity>(combo->cards);
  }
  return {};
}

bool holds(const Hand& cards, Card card) {
  return std::find(cards.begin(), cards.end(), card) != cards.end();
}

bool holds_suit(const Hand& cards, CardSuit suit) {
  return std::any_of(cards.begin(), cards.end(), [suit](Card card) { return card.suit == suit; });
}

// What a card is worth to the hand that keeps it.
double keep_value(Card card, const PolicyWeights& w) {
  double value = w.card_value * attack_value(card);
  switch (card.suit) {
    case CardSuit::Diamonds:
      return value + w.keep_diamonds;
    case CardSuit::Hearts:
      return value + w.keep_hearts;
    case CardSuit::Spades:
      return value + w.keep_spades;
    case CardSuit::Clubs:
      return value + w.keep_clubs;
    case CardSuit::None:
      break;
  }
  return value + w.jester;
}

double spent_value(const Hand& cards, const PolicyWeights& w) {
  double spent = 0;
  for (const Card card : cards) spent += keep_value(card, w);
  return spent;
}

// Draws one index from the scores: the best at temperature 0, else in proportion to
// exp(score / temperature). Scores of kLoses are drawn only when every score is.
std::size_t draw_index(const double* scores, std::size_t count, double temperature,
                       Xoshiro256& rng) {
  const double best = *std::max_element(scores, scores + count);
  if (temperature <= 0)
    return static_cast<std::size_t>(std::max_element(scores, scores + count) - scores);
  const bool any_survives = best > kLoses / 2;
  // A choice scored this many temperatures below the best has a weight below e^-12: it is left
  // out, which spares most of the exponentials of a long list.
  const double cutoff = best - 12 * temperature;
  std::array<double, max_actions> weights{};
  double total = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const bool excluded = (any_survives && scores[i] <= kLoses / 2) || scores[i] < cutoff;
    weights[i] = excluded ? 0.0 : std::exp((scores[i] - best) / temperature);
    total += weights[i];
  }
  double target = total * (static_cast<double>(rng.next() >> 11) * 0x1.0p-53);
  for (std::size_t i = 0; i < count; ++i) {
    target -= weights[i];
    if (target < 0 && weights[i] > 0) return i;
  }
  return static_cast<std::size_t>(std::max_element(scores, scores + count) - scores);
}

template <std::size_t N>
double attack_score(const State<N>& state, const Action& action, const PolicyWeights& w) {
  const Hand& hand = state.current_player().hand;
  const Enemy* enemy = state.current_enemy();
  const bool yields = std::holds_alternative<action::Yield>(action);
  if (yields && state.times_yielded + 1 >= N) return kLoses;
  if (enemy == nullptr) return yields ? 0.0 : 1.0;  // any play now wins
  const Hand cards = cards_of(action);
  if (holds(cards, jester_card)) {
    // No blow follows a jester, and the enemy loses its immunity.
    return -w.jester + (holds_suit(hand, enemy->card().suit) ? w.spades : 0.0);
  }
  const auto active = [&](CardSuit suit) {
    return holds_suit(cards, suit) && (suit != enemy->card().suit || enemy->jester_applied());
  };
  const int sum = attack_sum(cards);
  const int damage = active(CardSuit::Clubs) ? 2 * sum : sum;
  const int attack = enemy->attack_value();
  const int attack_after = active(CardSuit::Spades) ? std::max(0, attack - sum) : attack;
  const int kept_value = static_cast<int>(state.current_player().total_hand_value()) - sum;
  const double spent = spent_value(cards, w);
  if (damage >= enemy->health()) {
    const int overkill = damage - enemy->health();
    return w.kill + (overkill == 0 ? w.exact_kill : 0.0) - w.overkill * overkill - spent;
  }
  if (attack_after > kept_value) return kLoses + damage;
  int draws = 0;
  if (active(CardSuit::Diamonds)) {
    std::size_t room = 0;
    for (const Player& player : state.players) room += state.max_hand_size - player.hand.size();
    room += cards.size();
    draws =
        std::min({sum, static_cast<int>(state.table.tavern_deck.size()), static_cast<int>(room)});
  }
  const int heals = active(CardSuit::Hearts)
                        ? std::min(sum, static_cast<int>(state.table.discard_pile.size()))
                        : 0;
  return w.damage * damage + w.spades * (attack - attack_after) + w.draw * draws + w.heal * heals -
         spent - w.blow * attack_after - (yields ? w.yield : 0.0);
}

template <std::size_t N>
Action choose_attack(const State<N>& state, ActionBuffer& actions, Xoshiro256& rng,
                     const PolicyWeights& w) {
  state.fill_action_space(actions);
  std::array<double, max_actions> scores{};
  for (std::size_t i = 0; i < actions.size(); ++i) scores[i] = attack_score(state, actions[i], w);
  return actions[draw_index(scores.data(), actions.size(), w.temperature, rng)];
}

// The cheapest cards to give up that absorb the blow, by what the hand would rather keep.
template <std::size_t N>
Action choose_discard(const State<N>& state, Xoshiro256& rng, const PolicyWeights& w) {
  const Hand& hand = state.current_player().hand;
  const int amount = state.action_type.discard_amount();
  const std::size_t count = hand.size();
  std::array<double, 8> keep{};
  std::array<int, 8> value{};
  for (std::size_t i = 0; i < count; ++i) {
    keep[i] = keep_value(hand[i], w);
    value[i] = attack_value(hand[i]);
  }
  // Each subset's sum and cost from the subset without its lowest card: one addition each.
  std::array<int, 256> sums{};
  std::array<double, 256> costs{};
  std::array<double, 256> scores{};
  std::array<std::uint8_t, 256> masks{};
  std::size_t options = 0;
  for (unsigned mask = 1; mask < (1U << count); ++mask) {
    const auto lowest = static_cast<std::size_t>(std::countr_zero(mask));
    const unsigned rest = mask & (mask - 1);
    sums[mask] = sums[rest] + value[lowest];
    costs[mask] = costs[rest] + keep[lowest];
    if (sums[mask] < amount) continue;
    scores[options] = -costs[mask];
    masks[options] = static_cast<std::uint8_t>(mask);
    ++options;
  }
  const std::uint8_t mask = masks[draw_index(scores.data(), options, w.temperature, rng)];
  return action::Discard{cards_at<max_hand_capacity>(hand, mask)};
}

// After a jester: the seat that should face the enemy next. The player knows its own hand; of
// the others it sees only how many cards they hold.
template <std::size_t N>
Action choose_next_player(const State<N>& state) {
  constexpr double kMeanCardValue = 5.5;
  const PlayerId me = state.has_turn;
  std::size_t best = me.index;
  double best_value = state.players[me.index].total_hand_value();
  for (std::size_t seat = 0; seat < N; ++seat) {
    const double value = kMeanCardValue * static_cast<double>(state.players[seat].hand.size());
    if (seat != me.index && value > best_value) {
      best = seat;
      best_value = value;
    }
  }
  return action::ChangePlayer{PlayerId{best}};
}

}  // namespace

template <std::size_t N>
std::optional<Action> informed_action(const State<N>& state, ActionBuffer& actions, Xoshiro256& rng,
                                      const PolicyWeights& weights) {
  switch (state.action_type.kind()) {
    case ActionType::Kind::PlayCards:
      return choose_attack(state, actions, rng, weights);
    case ActionType::Kind::Discard:
      if (state.current_player().hand.empty()) return std::nullopt;
      return choose_discard(state, rng, weights);
    case ActionType::Kind::Jester:
      return choose_next_player(state);
  }
  return std::nullopt;
}

template <std::size_t N>
GameResult informed_rollout(State<N> state, const PolicyWeights& weights, Xoshiro256& rng) {
  thread_local ActionBuffer actions;
  while (true) {
    const std::optional<Action> chosen = informed_action(state, actions, rng, weights);
    if (!chosen) return GameResult::lost(state.reward());
    if (const auto result = state.apply_action_in_place(*chosen)) return *result;
  }
}

template std::optional<Action> informed_action(const State<1>&, ActionBuffer&, Xoshiro256&,
                                               const PolicyWeights&);
template std::optional<Action> informed_action(const State<2>&, ActionBuffer&, Xoshiro256&,
                                               const PolicyWeights&);
template std::optional<Action> informed_action(const State<3>&, ActionBuffer&, Xoshiro256&,
                                               const PolicyWeights&);
template std::optional<Action> informed_action(const State<4>&, ActionBuffer&, Xoshiro256&,
                                               const PolicyWeights&);
template GameResult informed_rollout(State<1>, const PolicyWeights&, Xoshiro256&);
template GameResult informed_rollout(State<2>, const PolicyWeights&, Xoshiro256&);
template GameResult informed_rollout(State<3>, const PolicyWeights&, Xoshiro256&);
template GameResult informed_rollout(State<4>, const PolicyWeights&, Xoshiro256&);

}  // namespace tornquil
