#include "rules/distinct_actions.hpp"

#include <gtest/gtest.h>

#include "players/mcts_player.hpp"
#include "state_builder.hpp"

namespace tornquil {
namespace {

using testing::card;
using testing::enemy;
using testing::StateBuilder;
using testing::text;

ActionBuffer listed(const State<4>& state) {
  ActionBuffer actions;
  state.fill_action_space(actions);
  return actions;
}

// Seat 0 holds both jesters; the Jack strikes back for 4 after a play.
StateBuilder<4> two_jesters(ActionType phase) {
  StateBuilder<4> builder;
  builder.hand(0, "jester 5s jester 3h")
      .hand(1, "2c")
      .hand(2, "4c")
      .hand(3, "6c")
      .castle({enemy("Kc"), enemy("Jd", 0, 6)})
      .phase(phase);
  return builder;
}

TEST(DistinctActions, EveryDroppedActionLeavesTheStateAKeptOneLeaves) {
  for (const ActionType phase : {ActionType::play_cards(), ActionType::discard(4)}) {
    const State<4> state = two_jesters(phase);
    const ActionBuffer all = listed(state);
    ActionBuffer distinct = all;
    drop_repeated_effects(distinct, state.players[0].hand);
    ASSERT_LT(distinct.size(), all.size());
    for (const Action& action : all) {
      const auto kept = std::find_if(distinct.begin(), distinct.end(), [&](const Action& other) {
        return same_effect(other, action);
      });
      ASSERT_NE(kept, distinct.end()) << text(action);
      EXPECT_EQ(state.take_action(action), state.take_action(*kept))
          << text(action) << " and " << text(*kept)
          << " differ: " << text(std::get<State<4>>(state.take_action(action))) << "\n"
          << text(std::get<State<4>>(state.take_action(*kept)));
    }
    for (std::size_t i = 0; i < distinct.size(); ++i) {
      for (std::size_t j = i + 1; j < distinct.size(); ++j) {
        EXPECT_NE(state.take_action(distinct[i]), state.take_action(distinct[j]))
            << text(distinct[i]) << " and " << text(distinct[j]) << " are one choice";
      }
    }
  }
}

TEST(DistinctActions, PlayOnceEachJesterAndKeepTheListOrder) {
  const State<4> state = two_jesters(ActionType::play_cards());
  ActionBuffer distinct = listed(state);
  drop_repeated_effects(distinct, state.players[0].hand);
  std::vector<std::string> texts;
  for (const Action& action : distinct) texts.push_back(text(action));
  EXPECT_EQ(texts, (std::vector<std::string>{"Play(Jester)", "Play(♠5)", "Play(♥3)", "Yield"}));
}

TEST(DistinctActions, AListWithoutRepeatedCardsStaysWhole) {
  const State<4> state = State<4>::create(11);
  ActionBuffer distinct = listed(state);
  drop_repeated_effects(distinct, state.players[0].hand);
  EXPECT_EQ(distinct, listed(state));
}

// The search counts the two jester plays as one choice: one ranked entry with every visit that
// went to either.
TEST(DistinctActions, TheSearchRanksEqualActionsAsOne) {
  const State<4> state = two_jesters(ActionType::play_cards());
  MCTSPlayer player(2000, 1, false, std::nullopt);
  (void)player.play(state);
  const auto& ranking = *player.ranked_actions();
  EXPECT_EQ(ranking.size(), 4U);
  EXPECT_EQ(std::count_if(ranking.begin(), ranking.end(),
                          [](const RankedAction& entry) {
                            return entry.action == Action(action::Play{jester_card});
                          }),
            1);
  std::uint64_t visits = 0;
  for (const RankedAction& entry : ranking) visits += entry.visits;
  EXPECT_EQ(visits, 2000U);
}

}  // namespace
}  // namespace tornquil
