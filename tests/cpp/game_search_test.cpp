#include <gtest/gtest.h>

#include <set>

#include "game_search/pruning.hpp"
#include "game_search/search_settings.hpp"
#include "search/manager.hpp"
#include "test_helpers.hpp"

namespace tornquil {
namespace {

using testing::club;
using testing::diamond;
using testing::spade;

template <std::size_t N>
GameSearch<N, false> manager_for(const State<N>& state) {
  return new_game_search<N, false>(state, policy_from_number(0));
}

// Every enemy defeated: the next card play wins.
State<2> state_after_the_last_enemy() {
  State<2> state = State<2>::create(3);
  state.table.castle_deck.clear();
  state.level = 12;
  return state;
}

TEST(SearchState, MoveThatEndsTheGameKeepsTheStateBeforeItAndRecordsTheResult) {
  const State<1> before = State<1>::create(5);
  SearchState<1> position{before};
  position.make_move(action::Yield{});  // every solo yield loses
  ASSERT_TRUE(position.state.has_ended.has_value());
  EXPECT_EQ(*position.state.has_ended, GameResult::lost(0));
  State<1> without_result = position.state;
  without_result.has_ended.reset();
  EXPECT_EQ(without_result, before);
}

TEST(SearchState, EndedGameOffersNoMovesThoughItsPhaseStillLists) {
  SearchState<1> position{State<1>::create(5)};
  position.make_move(action::Yield{});
  EXPECT_TRUE(position.available_moves().empty());
  EXPECT_FALSE(position.state.get_action_space().empty());
}

TEST(SearchState, MoveThatGoesOnTakesTheNextState) {
  const State<2> before = State<2>::create(5);
  const Action first = before.get_action_space().front();
  SearchState<2> position{before};
  position.make_move(first);
  EXPECT_FALSE(position.state.has_ended.has_value());
  EXPECT_EQ(position.state, std::get<State<2>>(before.take_action(first)));
}

TEST(MyEvaluator, EndedGameIsWorthItsRecordedResultWithoutARollout) {
  SearchState<2> position{State<2>::create(9)};
  position.state.has_ended = GameResult::lost(7);
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ((MyEvaluator<2, false>::evaluate(position)), GameResult::lost(7));
}

TEST(MyEvaluator, StateWhereEveryActionWinsIsWorthAWin) {
  const SearchState<2> position{state_after_the_last_enemy()};
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ((MyEvaluator<2, true>::evaluate(position)), GameResult::won());
}

TEST(MyEvaluator, RewardIsTheLevelOfALossOrTwelveForAWinWhoeverAsks) {
  const MyEvaluator<3, false> evaluator;
  for (std::size_t seat = 0; seat < 3; ++seat) {
    const Player player{PlayerId{seat}, {}};
    EXPECT_EQ(evaluator.interpret_evaluation_for_player(GameResult::lost(5), player), 5);
    EXPECT_EQ(evaluator.interpret_evaluation_for_player(GameResult::won(), player), 12);
  }
}

TEST(MyEvaluator, RepeatedEvaluationsOfOneStatePlayNewGames) {
  const SearchState<4> position{State<4>::create(11)};
  std::set<std::uint8_t> scores;
  for (int i = 0; i < 200; ++i) scores.insert((MyEvaluator<4, false>::evaluate(position)).score());
  EXPECT_GT(scores.size(), 1U);
}

TEST(SearchOfTheGame, MovesThatEndTheGameAreLeavesWorthExactlyTheirResult) {
  auto mcts = manager_for(state_after_the_last_enemy());
  mcts.playout_n_parallel(3000, 2);
  const auto edges = mcts.tree().root_node().moves();
  std::uint64_t visits = 0;
  for (const auto& edge : edges) {
    visits += edge.visits();
    const bool yields = std::holds_alternative<action::Yield>(edge.get_move());
    ASSERT_NE(edge.child(), nullptr);
    if (!yields) {
      // A card play here wins: the node is never expanded and every visit brings back 12.
      EXPECT_TRUE(edge.child()->moves().empty());
      EXPECT_EQ(edge.sum_rewards(), 12 * static_cast<std::int64_t>(edge.visits()));
    }
  }
  EXPECT_EQ(visits, 3000U);
}

TEST(SearchOfTheGame, SoloYieldIsALossAtTheCurrentLevelAndNeverExpanded) {
  State<1> state = State<1>::create(21);
  state.level = 3;
  auto mcts = manager_for(state);
  mcts.playout_n_parallel(2000, 1);
  const auto& yield = mcts.tree().root_node().moves().back();
  ASSERT_TRUE(std::holds_alternative<action::Yield>(yield.get_move()));
  ASSERT_GT(yield.visits(), 1U);
  EXPECT_TRUE(yield.child()->moves().empty());
  EXPECT_EQ(yield.sum_rewards(), 3 * static_cast<std::int64_t>(yield.visits()));
}

TEST(PruneBadMoves, KeepsOnlyDiscardsWithoutDiamondsWhenThereAreAny) {
  const std::vector<Action> options = {
      action::Discard{{diamond(CardValue::Two)}}, action::Discard{{spade(CardValue::Five)}},
      action::Discard{{diamond(CardValue::Two), spade(CardValue::Five)}}};
  EXPECT_EQ(prune_bad_moves(options),
            std::vector<Action>{action::Discard{{spade(CardValue::Five)}}});
}

TEST(PruneBadMoves, LeavesListsWithoutACleanDiscardAsTheyAre) {
  const std::vector<Action> all_diamonds = {action::Discard{{diamond(CardValue::Two)}},
                                            action::Discard{{diamond(CardValue::Nine)}}};
  EXPECT_EQ(prune_bad_moves(all_diamonds), all_diamonds);
  EXPECT_TRUE(prune_bad_moves(std::vector<Action>{}).empty());
  const auto attack = State<3>::create(4).get_action_space();
  EXPECT_EQ(prune_bad_moves(attack), attack);
}

TEST(PruneBadMoves, KeepsJesterDiscardsAndTheOrderOfWhatItKeeps) {
  const std::vector<Action> options = {action::Discard{{jester_card}},
                                       action::Discard{{diamond(CardValue::Ace)}},
                                       action::Discard{{club(CardValue::Three)}},
                                       action::Discard{{jester_card, diamond(CardValue::Ace)}}};
  EXPECT_EQ(prune_bad_moves(options),
            (std::vector<Action>{action::Discard{{jester_card}},
                                 action::Discard{{club(CardValue::Three)}}}));
}

TEST(PruneBadMoves, BufferAndListAgree) {
  State<2> state = State<2>::create(8);
  state.action_type = ActionType::discard(6);
  ActionBuffer buffer;
  state.fill_action_space(buffer);
  prune_bad_moves(buffer);
  EXPECT_EQ(std::vector<Action>(buffer.begin(), buffer.end()),
            prune_bad_moves(state.get_action_space()));
}

}  // namespace
}  // namespace tornquil
