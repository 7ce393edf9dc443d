#include "game_search/rollout.hpp"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "game_search/pruning.hpp"
#include "game_search/rollout_choice.hpp"
#include "test_helpers.hpp"

namespace tornquil {
namespace {

using testing::club;
using testing::diamond;
using testing::heart;
using testing::plain;
using testing::spade;

State<2> discarding(const Hand& hand, std::uint8_t amount) {
  State<2> state = State<2>::create(1);
  state.players[0].hand = hand;
  state.action_type = ActionType::discard(amount);
  return state;
}

// The discards that many random choices produce, as texts.
template <bool AvoidDiamonds>
std::set<std::string> drawn_discards(const Hand& hand, std::uint8_t amount) {
  Xoshiro256 rng(17);
  std::set<std::string> drawn;
  for (int i = 0; i < 4000; ++i) {
    drawn.insert(plain(Action(action::Discard{cards_at<max_hand_capacity>(
        hand, random_discard_mask<AvoidDiamonds>(hand, amount, rng))})));
  }
  return drawn;
}

std::set<std::string> listed(const std::vector<Action>& actions) {
  std::set<std::string> texts;
  for (const Action& action : actions) texts.insert(plain(action));
  return texts;
}

const Hand mixed_hand = {spade(CardValue::Two), diamond(CardValue::Five), heart(CardValue::Three),
                         diamond(CardValue::King), club(CardValue::Seven)};

TEST(RolloutDiscardChoice, DrawsEveryListedDiscardAndNothingElse) {
  const State<2> state = discarding(mixed_hand, 9);
  EXPECT_EQ(drawn_discards<false>(mixed_hand, 9), listed(state.get_action_space()));
}

TEST(RolloutDiscardChoice, WithHeuristicsDrawsExactlyThePrunedList) {
  const State<2> state = discarding(mixed_hand, 9);
  const auto pruned = prune_bad_moves(state.get_action_space());
  EXPECT_EQ(drawn_discards<true>(mixed_hand, 9), listed(pruned));
  for (const std::string& text : drawn_discards<true>(mixed_hand, 9)) {
    EXPECT_EQ(text.find("\u2666"), std::string::npos) << text;
  }
}

TEST(RolloutDiscardChoice, OnlyDiamondsLeftMeansAnyQualifyingDiscard) {
  const Hand hand = {diamond(CardValue::Two), diamond(CardValue::Nine), spade(CardValue::Ace)};
  const State<2> state = discarding(hand, 5);
  EXPECT_EQ(drawn_discards<true>(hand, 5), listed(state.get_action_space()));
}

TEST(RolloutDiscardChoice, HandWorthTooLittleHasNoChoice) {
  Xoshiro256 rng(3);
  EXPECT_EQ(random_discard_mask<false>({spade(CardValue::Two)}, 9, rng), 0);
  EXPECT_EQ(random_discard_mask<true>({}, 1, rng), 0);
}

// The qualifying subsets in increasing mask order, and with `AvoidDiamonds` those without
// Diamonds when there are any: the lists a rollout's draw indexes.
template <bool AvoidDiamonds>
std::uint8_t discard_mask_from_the_list(const Hand& hand, std::uint8_t amount, Xoshiro256& rng) {
  std::vector<std::uint8_t> qualifying;
  std::vector<std::uint8_t> clean;
  for (unsigned mask = 1; mask < (1U << hand.size()); ++mask) {
    if (attack_sum(cards_at<max_hand_capacity>(hand, static_cast<std::uint8_t>(mask))) < amount) {
      continue;
    }
    qualifying.push_back(static_cast<std::uint8_t>(mask));
    if ((mask & kept_card_positions(hand)) == 0) clean.push_back(static_cast<std::uint8_t>(mask));
  }
  if (AvoidDiamonds && !clean.empty()) {
    return clean[rng.uniform(static_cast<std::uint32_t>(clean.size()))];
  }
  if (qualifying.empty()) return 0;
  return qualifying[rng.uniform(static_cast<std::uint32_t>(qualifying.size()))];
}

template <bool AvoidDiamonds>
void expect_the_listed_choice_draw_for_draw() {
  std::mt19937 engine(AvoidDiamonds ? 11 : 12);
  Xoshiro256 rng(5);
  Xoshiro256 listed_rng(5);
  for (int round = 0; round < 3000; ++round) {
    Hand hand;
    const std::size_t size = engine() % (max_hand_capacity + 1);
    for (std::size_t i = 0; i < size; ++i) {
      hand.push_back({static_cast<CardSuit>(engine() % 4), static_cast<CardValue>(engine() % 14)});
    }
    const auto amount = static_cast<std::uint8_t>(engine() % 40);
    ASSERT_EQ(random_discard_mask<AvoidDiamonds>(hand, amount, rng),
              discard_mask_from_the_list<AvoidDiamonds>(hand, amount, listed_rng))
        << plain(hand) << " for " << int{amount};
  }
}

TEST(RolloutDiscardChoice, PicksWhatTheListWouldDrawForDraw) {
  expect_the_listed_choice_draw_for_draw<false>();
  expect_the_listed_choice_draw_for_draw<true>();
}

// A game that has already beaten `beaten` enemies, each put on the discard pile.
template <std::size_t N>
State<N> beyond_level(std::uint64_t seed, std::uint8_t beaten) {
  State<N> state = State<N>::create(seed);
  for (std::uint8_t i = 0; i < beaten; ++i) {
    state.table.discard_card(state.current_enemy()->card());
    state.table.next_enemy();
    ++state.level;
  }
  return state;
}

// A rollout plays on from the state it is given: it never loses below the level already
// reached, and its results vary from rollout to rollout.
template <std::size_t N>
void expect_rollouts_to_play_on_from(const State<N>& state) {
  std::set<int> scores;
  for (int i = 0; i < 300; ++i) {
    const GameResult result = random_rollout<N, true>(state);
    if (!result.is_won()) {
      EXPECT_GE(result.level(), state.level) << N << " players";
    }
    scores.insert(result.score());
  }
  EXPECT_GT(scores.size(), 1U) << N << " players";
}

TEST(RandomRollout, EveryPlayerCountPlaysOnFromTheLevelReached) {
  expect_rollouts_to_play_on_from(beyond_level<1>(1, 4));
  expect_rollouts_to_play_on_from(beyond_level<2>(2, 6));
  expect_rollouts_to_play_on_from(beyond_level<3>(3, 8));
  expect_rollouts_to_play_on_from(beyond_level<4>(4, 5));
}

}  // namespace
}  // namespace tornquil
