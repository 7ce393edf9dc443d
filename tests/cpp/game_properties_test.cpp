// Invariants of whole games played at random from the action space, for every player count.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "rules/state.hpp"
#include "state_builder.hpp"

namespace tornquil {
namespace {

using testing::text;

constexpr int games_per_player_count = 4000;
// Every play but a jester deals damage and every enemy has at most 40 health, so a game has at
// most a few thousand moves; a longer one is stuck.
constexpr std::size_t step_limit = 5000;

// How many copies of each card, indexed by suit and value.
using CardCounts = std::array<int, 5 * 14>;

std::size_t slot(Card card) {
  return static_cast<std::size_t>(card.suit) * 14 + static_cast<std::size_t>(card.value);
}

template <typename Cards>
void count_into(CardCounts& counts, const Cards& cards) {
  for (const Card card : cards) ++counts[slot(card)];
}

template <std::size_t N>
CardCounts full_deck() {
  CardCounts counts{};
  for (const CardSuit suit : real_suits) {
    for (int value = 1; value <= 13; ++value)
      ++counts[slot(Card{suit, static_cast<CardValue>(value)})];
  }
  counts[slot(jester_card)] = State<N>::jesters;
  return counts;
}

template <std::size_t N>
CardCounts cards_of(const State<N>& state, const CardCounts& removed) {
  CardCounts counts = removed;
  for (const Player& player : state.players) count_into(counts, player.hand);
  count_into(counts, state.table.tavern_deck);
  count_into(counts, state.table.discard_pile);
  count_into(counts, state.table.attack_cards);
  for (const Enemy& enemy : state.table.castle_deck) ++counts[slot(enemy.card())];
  return counts;
}

// The first broken invariant of a state in progress, or an empty text.
template <std::size_t N>
std::string broken_invariant(const State<N>& state, const CardCounts& removed) {
  if (cards_of(state, removed) != full_deck<N>()) return "a card is lost or duplicated";
  for (const Player& player : state.players) {
    if (player.hand.size() > state.max_hand_size) return "a hand is over its size";
  }
  if (state.has_turn.index >= N) return "the turn is with no seat";
  if (state.times_yielded >= N) return "every player yielded but the game goes on";
  if (state.level + state.table.castle_deck.size() != 12) return "level and castle deck disagree";
  if (state.has_ended) return "a state of the rules records an ended game";
  if (state.action_type.kind() == ActionType::Kind::Discard &&
      state.current_player().total_hand_value() < state.action_type.discard_amount()) {
    return "a discard that the hand cannot pay";
  }
  ActionBuffer buffer;
  state.fill_action_space(buffer);
  if (buffer.empty()) return "no action offered";
  if (std::vector<Action>(buffer.begin(), buffer.end()) != state.get_action_space()) {
    return "the filled buffer and the returned list differ";
  }
  return {};
}

template <std::size_t N>
struct PlayedGame {
  std::vector<State<N>> states;  // every state in progress, the first one included
  std::vector<std::size_t> choices;
  GameResult result;
  std::string failure;  // the first invariant broken, with where it broke
};

void remove_discarded(CardCounts& removed, const Action& action) {
  if (const auto* discard = std::get_if<action::Discard>(&action))
    count_into(removed, discard->cards);
}

// Random play rarely gets past the Jacks, so most games start with the first `seed % 13`
// enemies already beaten (sent to the discard pile) to reach the Queens, the Kings and the win.
template <std::size_t N>
State<N> start_state(std::uint64_t seed) {
  State<N> state = State<N>::create(seed);
  const std::uint64_t beaten = seed % 13;
  for (std::uint64_t i = 0; i < beaten; ++i) {
    state.table.discard_card(state.current_enemy()->card());
    state.table.next_enemy();
    ++state.level;
  }
  return state;
}

// Plays from `seed`, choosing by `choose(number of actions, step)`.
template <std::size_t N, typename Choose>
PlayedGame<N> play_game(std::uint64_t seed, Choose choose) {
  PlayedGame<N> game;
  State<N> state = start_state<N>(seed);
  CardCounts removed{};
  ActionBuffer actions;
  for (std::size_t step = 0; step < step_limit; ++step) {
    game.states.push_back(state);
    if (std::string broken = broken_invariant(state, removed); !broken.empty()) {
      game.failure = broken + " at step " + std::to_string(step) + " in " + text(state);
      return game;
    }
    state.fill_action_space(actions);
    const std::size_t choice = choose(actions.size(), step);
    game.choices.push_back(choice);
    const Action action = actions[choice];
    const GameStatus<N> copied = state.take_action(action);
    remove_discarded(removed, action);
    if (const auto result = state.apply_action_in_place(action)) {
      game.result = *result;
      if (copied != GameStatus<N>(*result))
        game.failure = "take_action and the in-place move disagree";
      return game;
    }
    if (copied != GameStatus<N>(state)) {
      game.failure = "take_action and the in-place move disagree after " + text(action);
      return game;
    }
  }
  game.failure = "no end after " + std::to_string(step_limit) + " moves";
  return game;
}

template <std::size_t N>
PlayedGame<N> random_game(std::uint64_t seed) {
  std::mt19937_64 chooser(seed ^ 0x9e3779b97f4a7c15ULL);
  return play_game<N>(seed, [&](std::size_t n_actions, std::size_t) {
    return std::uniform_int_distribution<std::size_t>(0, n_actions - 1)(chooser);
  });
}

template <std::size_t N>
void expect_random_games_keep_their_invariants() {
  int wins = 0;
  int kings_beaten = 0;
  for (int game_number = 0; game_number < games_per_player_count; ++game_number) {
    const auto seed = static_cast<std::uint64_t>(game_number) * 7919 + N;
    const PlayedGame<N> game = random_game<N>(seed);
    ASSERT_EQ(game.failure, "") << "seed " << seed;
    if (!game.result.is_won() && game.result.level() != game.states.back().level) {
      FAIL() << "seed " << seed << " lost at another level than it reached";
    }
    wins += game.result.is_won() ? 1 : 0;
    if (game.states.front().level < game.states.back().level && game.states.back().level > 8)
      ++kings_beaten;
  }
  // Without these the late game would go untested.
  EXPECT_GT(wins, 0);
  EXPECT_GT(kings_beaten, 0);
}

TEST(RandomGames, KeepEveryCardInOnePlaceAndEveryHandInItsSizeAndEnd) {
  expect_random_games_keep_their_invariants<1>();
  expect_random_games_keep_their_invariants<2>();
  expect_random_games_keep_their_invariants<3>();
  expect_random_games_keep_their_invariants<4>();
}

template <std::size_t N>
void expect_replays_to_repeat_the_game() {
  for (std::uint64_t seed = 0; seed < 400; ++seed) {
    const PlayedGame<N> first = random_game<N>(seed);
    const PlayedGame<N> replay =
        play_game<N>(seed, [&](std::size_t, std::size_t step) { return first.choices[step]; });
    ASSERT_EQ(replay.failure, "") << "seed " << seed;
    ASSERT_EQ(replay.states.size(), first.states.size()) << "seed " << seed;
    for (std::size_t step = 0; step < first.states.size(); ++step) {
      ASSERT_EQ(replay.states[step], first.states[step]) << "seed " << seed << " step " << step;
    }
    EXPECT_EQ(replay.result, first.result) << "seed " << seed;
  }
}

TEST(RandomGames, SameSeedAndSameChoicesGiveTheSameGame) {
  expect_replays_to_repeat_the_game<1>();
  expect_replays_to_repeat_the_game<2>();
  expect_replays_to_repeat_the_game<3>();
  expect_replays_to_repeat_the_game<4>();
}

// Not just the chosen moves: every move offered anywhere along a game applies cleanly.
template <std::size_t N>
void expect_every_offered_action_to_apply() {
  for (std::uint64_t seed = 1000; seed < 1300; ++seed) {
    const PlayedGame<N> game = random_game<N>(seed);
    for (const State<N>& state : game.states) {
      for (const Action& action : state.get_action_space()) {
        GameStatus<N> status = state.take_action(action);
        const auto* next = std::get_if<State<N>>(&status);
        if (next == nullptr) continue;
        CardCounts removed = cards_of(state, CardCounts{});
        for (std::size_t i = 0; i < removed.size(); ++i)
          removed[i] = full_deck<N>()[i] - removed[i];
        remove_discarded(removed, action);
        ASSERT_EQ(broken_invariant(*next, removed), "") << text(action) << " from " << text(state);
      }
    }
  }
}

TEST(RandomGames, EveryOfferedActionLeadsToAValidState) {
  expect_every_offered_action_to_apply<1>();
  expect_every_offered_action_to_apply<2>();
  expect_every_offered_action_to_apply<3>();
  expect_every_offered_action_to_apply<4>();
}

}  // namespace
}  // namespace tornquil
