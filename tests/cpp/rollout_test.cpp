#include <gtest/gtest.h>

#include <set>

#include "game_search/pruning.hpp"
#include "game_search/rollout.hpp"
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
    drawn.insert(plain(Action(action::Discard{cards_at<max_hand_capacity>(hand, random_discard_mask<AvoidDiamonds>(hand, amount, rng))})));
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

TEST(RandomRollout, EveryPlayerCountPlaysToAnEndWithinTheRewardScale) {
  const auto check = [](auto state) {
    for (int i = 0; i < 300; ++i) {
      const GameResult result = random_rollout<decltype(state)::player_count, true>(state);
      EXPECT_LE(result.score(), GameResult::max_score());
      EXPECT_FALSE(result.is_won() && result.level() != 0);
    }
  };
  check(State<1>::create(1));
  check(State<2>::create(2));
  check(State<3>::create(3));
  check(State<4>::create(4));
}

}  // namespace
}  // namespace tornquil
