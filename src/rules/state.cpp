// A new game, the turn flow and the resolution of a card play.
#include "rules/state.hpp"

#include <algorithm>

namespace tornquil {
namespace {

constexpr std::uint8_t suit_bit(CardSuit suit) {
  return static_cast<std::uint8_t>(1U << static_cast<std::uint8_t>(suit));
}

std::uint8_t played_suits_of(const Hand& cards) {
  std::uint8_t suits = 0;
  for (const Card card : cards) suits |= suit_bit(card.suit);
  return suits;
}

std::uint16_t spades_on_table(const Table& table) {
  std::uint16_t sum = 0;
  for (const Card card : table.attack_cards) {
    if (card.suit == CardSuit::Spades) sum = static_cast<std::uint16_t>(sum + attack_value(card));
  }
  return sum;
}

// A jester cancels the enemy's immunity, and spades that the immunity blocked take effect now.
void apply_jester_to(Enemy* enemy, const Table& table) {
  if (enemy == nullptr) return;
  if (!enemy->jester_applied() && enemy->card().suit == CardSuit::Spades) {
    enemy->decrease_attack(spades_on_table(table));
  }
  enemy->apply_jester();
}

}  // namespace

template <std::size_t N>
State<N> State<N>::create(std::optional<std::uint64_t> seed) {
  StdRng rng = new_rng(seed);
  State state;
  state.table = Table::create(jesters, rng);
  for (std::size_t seat = 0; seat < N; ++seat) {
    state.players[seat] = Player{PlayerId{seat}, state.table.draw_cards(hand_size)};
  }
  state.rng_seed = rng.next_u64();
  return state;
}

template <std::size_t N>
StdRng State<N>::new_rng(std::optional<std::uint64_t> seed) {
  return StdRng::from_optional_seed(seed);
}

template <std::size_t N>
StdRng State<N>::get_rng() {
  StdRng rng = StdRng::seed_from_u64(rng_seed);
  rng_seed = rng.next_u64();
  return rng;
}

template <std::size_t N>
const Player& State<N>::current_player() const {
  if (has_turn.index >= N) fault("the player to move is not a seat of this game");
  return players[has_turn.index];
}

template <std::size_t N>
Player& State<N>::current_player_mut() {
  if (has_turn.index >= N) fault("the player to move is not a seat of this game");
  return players[has_turn.index];
}

template <std::size_t N>
GameStatus<N> State<N>::take_action(const Action& action) const {
  State copy = *this;
  return std::move(copy).apply_action(action);
}

template <std::size_t N>
GameStatus<N> State<N>::apply_action(const Action& action) && {
  if (const auto result = apply_action_in_place(action)) return *result;
  return std::move(*this);
}

template <std::size_t N>
GameStatus<N> State<N>::play_cards(const Hand& cards) && {
  if (const auto result = play_cards_in_place(cards)) return *result;
  return std::move(*this);
}

template <std::size_t N>
std::optional<GameResult> State<N>::apply_action_in_place(const Action& action, HeartsDraw* draw) {
  if (const auto* discard = std::get_if<action::Discard>(&action)) {
    current_player_mut().remove_from_hand(discard->cards);
    action_type = ActionType::play_cards();
    next_player();
    return std::nullopt;
  }
  if (std::holds_alternative<action::Yield>(action)) {
    if (++times_yielded >= N) return GameResult::lost(level);
    return play_cards_in_place(Hand{}, draw);
  }
  times_yielded = 0;
  if (const auto* play = std::get_if<action::Play>(&action))
    return play_cards_in_place(Hand{play->card}, draw);
  if (const auto* combo = std::get_if<action::AnimalCombo>(&action)) {
    return play_cards_in_place(Hand{combo->ace, combo->partner}, draw);
  }
  if (const auto* combo = std::get_if<action::Combo>(&action)) {
    return play_cards_in_place(from_card_iter<max_hand_capacity>(combo->cards), draw);
  }
  has_turn = std::get<action::ChangePlayer>(action).id;
  action_type = ActionType::play_cards();
  return std::nullopt;
}

template <std::size_t N>
std::optional<GameResult> State<N>::play_cards_in_place(const Hand& cards, HeartsDraw* draw) {
  std::uint16_t attack = attack_sum(cards);
  if (std::find(cards.begin(), cards.end(), jester_card) != cards.end()) {
    apply_jester_to(table.current_enemy_mut(), table);
    action_type = ActionType::jester();
  }
  current_player_mut().remove_from_hand(cards);
  table.add_attack_cards(cards);
  apply_suit_powers(played_suits_of(cards), attack, draw);
  return resolve_damage(attack);
}

// Each suit's power applies once per play, with the whole attack sum, unless the enemy is
// immune to it. Clubs come last, so their doubling reaches only the damage.
template <std::size_t N>
void State<N>::apply_suit_powers(std::uint8_t played_suits, std::uint16_t& attack,
                                 HeartsDraw* draw) {
  const Enemy* enemy = table.current_enemy();
  const CardSuit enemy_suit = enemy ? enemy->card().suit : CardSuit::None;
  const bool immunity_cancelled = enemy ? enemy->jester_applied() : true;
  const auto applies = [&](CardSuit suit) {
    return (played_suits & suit_bit(suit)) != 0 && (suit != enemy_suit || immunity_cancelled);
  };
  if (applies(CardSuit::Spades)) {
    if (Enemy* target = table.current_enemy_mut()) target->decrease_attack(attack);
  }
  if (applies(CardSuit::Hearts)) {
    if (draw != nullptr) {
      rng_seed = draw->shuffle(rng_seed, table.discard_pile);
      table.heal_from_shuffled_discard(attack);
    } else {
      StdRng rng = get_rng();
      table.heal_from_discard(attack, rng);
    }
  }
  if (applies(CardSuit::Diamonds)) deal_diamonds(attack);
  if (applies(CardSuit::Clubs)) attack = static_cast<std::uint16_t>(attack * 2);
}

// One card per repetition, passing from seat to seat from seat 0 and skipping full hands.
template <std::size_t N>
void State<N>::deal_diamonds(std::uint16_t count) {
  for (std::size_t i = 0; i < count && !table.tavern_deck.empty(); ++i) {
    Player* receiver = nullptr;
    for (std::size_t offset = 0; offset < N && receiver == nullptr; ++offset) {
      Player& candidate = players[(i + offset) % N];
      if (candidate.hand.size() < max_hand_size) receiver = &candidate;
    }
    if (receiver == nullptr) return;  // every hand is full, and stays full
    receiver->hand.push_back(table.tavern_deck.pop_back());
  }
}

template <std::size_t N>
std::optional<GameResult> State<N>::resolve_damage(std::uint16_t attack) {
  Enemy* enemy = table.current_enemy_mut();
  if (enemy == nullptr) return GameResult::won();
  enemy->take_damage(attack);
  if (enemy->health() <= 0) {
    const Card defeated = enemy->card();
    if (enemy->health() == 0) {
      table.add_to_top_of_tavern_deck(defeated);
    } else {
      table.discard_card(defeated);
    }
    table.discard_attack_cards();
    table.next_enemy();
    ++level;
    return std::nullopt;
  }
  const std::uint16_t hand_value = current_player().total_hand_value();
  if (action_type == ActionType::jester()) return std::nullopt;
  if (hand_value < enemy->attack_value()) return GameResult::lost(level);
  if (enemy->attack_value() == 0) {
    next_player();
    action_type = ActionType::play_cards();
  } else {
    action_type = ActionType::discard(enemy->attack_value());
  }
  return std::nullopt;
}

template <std::size_t N>
std::string State<N>::display_text() const {
  std::string out;
  DebugWriter writer(out);
  writer.text("Player: ");
  describe(writer, has_turn);
  writer.text("\nHand:   ");
  describe(writer, current_player().hand);
  writer.text("\nEnemy:  ");
  describe(writer, optional_enemy(current_enemy()));
  return out;
}

template <std::size_t N>
void describe(DebugWriter& writer, const State<N>& state) {
  RecordWriter(writer, "State")
      .field("table", state.table)
      .field("players", state.players)
      .field("has_turn", state.has_turn)
      .field("times_yielded", state.times_yielded)
      .field("max_hand_size", state.max_hand_size)
      .field("action_type", state.action_type)
      .field("has_ended", state.has_ended)
      .field("level", state.level)
      .field("rng_seed", state.rng_seed)
      .finish();
}

template struct State<1>;
template struct State<2>;
template struct State<3>;
template struct State<4>;
template void describe(DebugWriter&, const State<1>&);
template void describe(DebugWriter&, const State<2>&);
template void describe(DebugWriter&, const State<3>&);
template void describe(DebugWriter&, const State<4>&);

static_assert(std::is_trivially_copyable_v<State<1>> && std::is_trivially_copyable_v<State<4>>);

}  // namespace tornquil
