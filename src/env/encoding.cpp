#include "env/encoding.hpp"

#include <algorithm>
#include <bit>

namespace tornquil::env {
namespace {

constexpr std::size_t suit_index(CardSuit suit) { return static_cast<std::size_t>(suit); }
constexpr std::size_t value_index(CardValue value) { return static_cast<std::size_t>(value); }

constexpr bool is_royal(Card card) { return card.value >= CardValue::Jack; }

std::size_t in_block(const ActionBlock& block, std::size_t offset) {
  if (offset >= block.count) fault("an action falls outside its block of indices");
  return block.first + offset;
}

bool is_in(const ActionBlock& block, std::size_t index) {
  return index >= block.first && index < block.first + block.count;
}

std::uint8_t suit_set_of(const ComboCards& cards) {
  std::uint8_t set = 0;
  for (const Card card : cards) set |= static_cast<std::uint8_t>(1U << suit_index(card.suit));
  return set;
}

// The first hand positions, not yet taken, that hold the cards in turn.
std::uint8_t positions_of(const Hand& cards, const Hand& hand) {
  std::uint8_t mask = 0;
  for (const Card card : cards) {
    std::size_t position = 0;
    while (position < hand.size() && (hand[position] != card || (mask >> position) & 1U))
      ++position;
    if (position == hand.size()) fault("a discard names a card the hand does not hold");
    mask |= static_cast<std::uint8_t>(1U << position);
  }
  return mask;
}

std::optional<Action> combo_at(std::size_t offset, const Hand& hand) {
  const auto value = static_cast<CardValue>(offset / 16 + value_index(CardValue::Two));
  const auto suits = static_cast<std::uint8_t>(offset % 16);
  ComboCards cards;
  for (const Card card : hand) {
    if (card.value == value && ((suits >> suit_index(card.suit)) & 1U)) cards.push_back(card);
  }
  if (cards.size() < 2 || cards.size() != static_cast<std::size_t>(std::popcount(suits)))
    return std::nullopt;
  return action::Combo{cards};
}

std::optional<Action> discard_at(std::size_t offset, const Hand& hand) {
  const auto mask = static_cast<std::uint8_t>(offset + 1);
  if (std::bit_width(mask) > static_cast<int>(hand.size())) return std::nullopt;
  return action::Discard{cards_at<max_hand_capacity>(hand, mask)};
}

// Where each card of the game lies, as counts per card id.
struct CardCounts {
  std::array<float, card_ids> counts{};

  template <typename Cards>
  void add(const Cards& cards) {
    for (const Card card : cards) counts[card_id(card)] += 1;
  }
  void write(std::vector<float>& out, std::size_t at) const {
    std::copy(counts.begin(), counts.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
  }
};

// Every card a game of N players holds: the forty number cards, its jesters and the royals.
template <std::size_t N>
CardCounts every_card() {
  CardCounts all;
  for (std::size_t id = 0; id < jester_id; ++id) all.counts[id] = 1;
  all.counts[jester_id] = State<N>::jesters;
  return all;
}

// The cards that have left the game: all of them but those in a hand, a deck or a pile. Every
// discard happens in view of the table, so this is known to everyone even though the hands
// that it is worked out from are not.
template <std::size_t N>
CardCounts out_of_game(const State<N>& state) {
  CardCounts located;
  for (const Player& player : state.players) located.add(player.hand);
  located.add(state.table.tavern_deck);
  located.add(state.table.discard_pile);
  located.add(state.table.attack_cards);
  for (const Enemy& enemy : state.table.castle_deck) located.counts[card_id(enemy.card())] += 1;
  CardCounts gone = every_card<N>();
  for (std::size_t id = 0; id < card_ids; ++id) gone.counts[id] -= located.counts[id];
  return gone;
}

void one_hot(std::vector<float>& out, std::size_t at, std::size_t index) { out[at + index] = 1; }

template <std::size_t N>
void observe_table(const State<N>& state, std::vector<float>& out) {
  using L = ObservationLayout;
  const Table& table = state.table;
  CardCounts pile;
  pile.add(table.attack_cards);
  pile.write(out, L::attack_cards);
  pile = {};
  pile.add(table.discard_pile);
  pile.write(out, L::discard_pile);
  out_of_game(state).write(out, L::out_of_game);
  // A royal enters the tavern deck only on top, and the deck only loses cards from the top or
  // gains them underneath, so its depth is known from the moment it is placed.
  for (std::size_t i = 0; i < table.tavern_deck.size(); ++i) {
    const Card card = table.tavern_deck[i];
    if (is_royal(card))
      out[L::tavern_royals + royal_id(card)] = static_cast<float>(table.tavern_deck.size() - i);
  }
  for (std::size_t id = 0; id < royal_ids; ++id) out[L::enemies_beaten + id] = 1;
  for (const Enemy& enemy : table.castle_deck) out[L::enemies_beaten + royal_id(enemy.card())] = 0;
  if (const Enemy* enemy = table.current_enemy()) {
    one_hot(out, L::current_enemy, royal_id(enemy->card()));
    out[L::enemy_health] = enemy->health();
    out[L::enemy_attack] = enemy->attack_value();
    out[L::enemy_jester] = enemy->jester_applied() ? 1 : 0;
  }
  out[L::tavern_size] = static_cast<float>(table.tavern_deck.size());
  out[L::castle_size] = static_cast<float>(table.castle_deck.size());
  out[L::discard_size] = static_cast<float>(table.discard_pile.size());
}

template <std::size_t N>
void observe_turn(const State<N>& state, std::size_t seat, std::vector<float>& out) {
  using L = ObservationLayout;
  const Hand& hand = state.players[seat].hand;
  for (std::size_t slot = 0; slot < hand.size(); ++slot)
    one_hot(out, L::hand_slots + slot * card_ids, card_id(hand[slot]));
  for (std::size_t other = 0; other < N; ++other)
    out[L::hand_sizes + other] = static_cast<float>(state.players[other].hand.size());
  one_hot(out, L::observer, seat);
  one_hot(out, L::has_turn, state.has_turn.index);
  one_hot(out, L::phase, static_cast<std::size_t>(state.action_type.kind()));
  out[L::discard_amount] = state.action_type.discard_amount();
  out[L::times_yielded] = static_cast<float>(state.times_yielded);
  out[L::players] = N;
  out[L::level] = state.level;
  out[L::max_hand_size] = state.max_hand_size;
}

template <std::size_t N>
void observe_hidden(const State<N>& state, std::vector<float>& out) {
  using L = ObservationLayout;
  for (std::size_t seat = 0; seat < N; ++seat) {
    CardCounts hand;
    hand.add(state.players[seat].hand);
    hand.write(out, L::hands + seat * card_ids);
  }
  const Pile& tavern = state.table.tavern_deck;
  for (std::size_t depth = 0; depth < tavern.size(); ++depth) {
    out[L::tavern_order + depth] =
        static_cast<float>(card_id(tavern[tavern.size() - 1 - depth]) + 1);
  }
  const CastleDeck& castle = state.table.castle_deck;
  for (std::size_t depth = 0; depth < castle.size(); ++depth) {
    out[L::castle_order + depth] =
        static_cast<float>(royal_id(castle[castle.size() - 1 - depth].card()) + 1);
  }
}

void fill(std::vector<float>& out, std::size_t at, std::size_t count, float value) {
  std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(at), count, value);
}

// Counts per card id reach 2 only for the jester.
void fill_counts_high(std::vector<float>& out, std::size_t at) {
  fill(out, at, card_ids, 1);
  out[at + jester_id] = 2;
}

void check_seat(const StateEnum& state, std::size_t seat) {
  if (seat >= state.player_count()) fault("the observing seat is not a seat of this game");
}

}  // namespace

std::size_t card_id(Card card) {
  if (card == jester_card) return jester_id;
  if (card.suit == CardSuit::None || card.value == CardValue::Jester) fault("no such card");
  return suit_index(card.suit) * 13 + value_index(card.value) - 1;
}

Card card_of_id(std::size_t id) {
  if (id == jester_id) return jester_card;
  if (id > jester_id) fault("no card has this id");
  return Card{static_cast<CardSuit>(id / 13), static_cast<CardValue>(id % 13 + 1)};
}

std::size_t royal_id(Card card) {
  if (!is_royal(card) || card.suit == CardSuit::None)
    fault("only a Jack, Queen or King is an enemy");
  return suit_index(card.suit) * 3 + value_index(card.value) - value_index(CardValue::Jack);
}

std::size_t action_index(const Action& action, const Hand& hand) {
  if (const auto* play = std::get_if<action::Play>(&action))
    return in_block(play_block, card_id(play->card));
  if (const auto* combo = std::get_if<action::AnimalCombo>(&action)) {
    if (combo->ace.value != CardValue::Ace || combo->partner == jester_card)
      fault("no such animal combo");
    return in_block(animal_combo_block,
                    suit_index(combo->ace.suit) * jester_id + card_id(combo->partner));
  }
  if (const auto* combo = std::get_if<action::Combo>(&action)) {
    if (combo->cards.size() < 2) fault("a combo holds at least two cards");
    const CardValue value = combo->cards[0].value;
    if (value < CardValue::Two || value > CardValue::Five) fault("only Twos to Fives combine");
    return in_block(combo_block, (value_index(value) - 2) * 16 + suit_set_of(combo->cards));
  }
  if (std::holds_alternative<action::Yield>(action)) return yield_block.first;
  if (const auto* discard = std::get_if<action::Discard>(&action)) {
    const std::uint8_t mask = positions_of(discard->cards, hand);
    if (mask == 0) fault("a discard holds at least one card");
    return in_block(discard_block, mask - 1U);
  }
  return in_block(change_player_block, std::get<action::ChangePlayer>(action).id.index);
}

std::optional<Action> action_at(std::size_t index, const Hand& hand) {
  if (is_in(play_block, index)) return action::Play{card_of_id(index - play_block.first)};
  if (is_in(animal_combo_block, index)) {
    const std::size_t offset = index - animal_combo_block.first;
    return action::AnimalCombo{Card{static_cast<CardSuit>(offset / jester_id), CardValue::Ace},
                               card_of_id(offset % jester_id)};
  }
  if (is_in(combo_block, index)) return combo_at(index - combo_block.first, hand);
  if (is_in(yield_block, index)) return action::Yield{};
  if (is_in(discard_block, index)) return discard_at(index - discard_block.first, hand);
  if (is_in(change_player_block, index))
    return action::ChangePlayer{PlayerId{index - change_player_block.first}};
  return std::nullopt;
}

std::optional<Action> legal_action_at(const StateEnum& state, std::size_t index) {
  const std::optional<Action> action = action_at(index, state.current_hand());
  if (!action) return std::nullopt;
  const std::vector<Action> legal = state.get_action_space();
  if (std::find(legal.begin(), legal.end(), *action) == legal.end()) return std::nullopt;
  return action;
}

std::vector<std::size_t> legal_indices(const StateEnum& state) {
  const Hand hand = state.current_hand();
  std::vector<std::size_t> indices;
  for (const Action& action : state.get_action_space()) {
    const std::size_t index = action_index(action, hand);
    if (std::find(indices.begin(), indices.end(), index) == indices.end()) indices.push_back(index);
  }
  return indices;
}

std::array<std::int8_t, action_count> legal_mask(const StateEnum& state) {
  std::array<std::int8_t, action_count> mask{};
  for (const std::size_t index : legal_indices(state)) mask[index] = 1;
  return mask;
}

std::size_t observation_size(Information information) {
  return information == Information::Full ? ObservationLayout::full_size
                                          : ObservationLayout::own_size;
}

std::vector<float> observation_high(Information information) {
  using L = ObservationLayout;
  std::vector<float> high(observation_size(information), 1);
  fill_counts_high(high, L::attack_cards);
  fill_counts_high(high, L::discard_pile);
  fill_counts_high(high, L::out_of_game);
  fill(high, L::tavern_royals, royal_ids, deck_capacity);
  high[L::enemy_health] = 40;
  high[L::enemy_attack] = 20;
  high[L::tavern_size] = deck_capacity;
  high[L::castle_size] = enemy_count;
  high[L::discard_size] = deck_capacity;
  fill(high, L::hand_sizes, max_seats, max_hand_capacity);
  high[L::discard_amount] = 20;
  high[L::times_yielded] = max_seats;
  high[L::players] = max_seats;
  high[L::level] = GameResult::max_score();
  high[L::max_hand_size] = max_hand_capacity;
  if (information == Information::Full) {
    for (std::size_t seat = 0; seat < max_seats; ++seat)
      fill_counts_high(high, L::hands + seat * card_ids);
    fill(high, L::tavern_order, deck_capacity, card_ids);
    fill(high, L::castle_order, royal_ids, royal_ids);
  }
  return high;
}

std::vector<float> observe(const StateEnum& state, std::size_t seat, Information information) {
  check_seat(state, seat);
  std::vector<float> out(observation_size(information), 0);
  state.visit([&](const auto& inner) {
    observe_table(inner, out);
    observe_turn(inner, seat, out);
    if (information == Information::Full) observe_hidden(inner, out);
  });
  return out;
}

StateEnum resample_hidden(const StateEnum& state, std::size_t seat, std::uint64_t seed) {
  check_seat(state, seat);
  return state.visit([&](const auto& inner) {
    StdRng sampling = StdRng::seed_from_u64(seed);
    return StateEnum(sample_world(inner, PlayerId{seat}, sampling));
  });
}

}  // namespace tornquil::env
