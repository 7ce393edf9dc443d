#include "players/game_driver.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tornquil {
namespace {

StateEnum new_game(std::size_t players, std::uint64_t seed) {
  return std::get<StateEnum>(StateEnum::create(players, seed));
}

TEST(GameDriver, ActionNotOfferedEndsTheLoopWithTheLegalListAndTheStateUntouched) {
  StateEnum state = new_game(2, 5);
  const StateEnum before = state;
  int asked = 0;
  const GameOutcome outcome = play_to_end(state, [&](const StateEnum&) {
    ++asked;
    return Action(action::ChangePlayer{PlayerId{1}});  // never offered at the first attack
  });
  ASSERT_TRUE(std::holds_alternative<IllegalAction>(outcome));
  const auto& illegal = std::get<IllegalAction>(outcome);
  EXPECT_EQ(illegal.action, Action(action::ChangePlayer{PlayerId{1}}));
  EXPECT_EQ(illegal.legal, before.get_action_space());
  EXPECT_EQ(state, before);
  EXPECT_EQ(asked, 1);
}

TEST(GameDriver, SeatThatThrowsLeavesTheStateOfItsTurn) {
  StateEnum state = new_game(3, 2);
  StateEnum at_third_turn = state;
  int turn = 0;
  EXPECT_THROW((void)play_to_end(state,
                                 [&](const StateEnum& now) {
                                   if (++turn == 3) {
                                     at_third_turn = now;
                                     throw std::runtime_error("seat gave up");
                                   }
                                   return now.get_action_space().front();
                                 }),
               std::runtime_error);
  EXPECT_EQ(state, at_third_turn);
  EXPECT_NE(state, new_game(3, 2));
}

TEST(GameDriver, BuiltInSeatsPlayForTheirPlayerIdAndTheEndKeepsTheLastState) {
  StateEnum state = new_game(2, 9);
  std::vector<NativePlayer> seats = {RandomPlayer(1), RandomPlayer(2)};
  // Replays the same game by hand, with copies of the same players.
  StateEnum replay = state;
  RandomPlayer first(1);
  RandomPlayer second(2);
  std::optional<GameResult> expected;
  StateEnum last = replay;
  while (!expected) {
    last = replay;
    RandomPlayer& seat = replay.has_turn().index == 0 ? first : second;
    expected = replay.take_action(play_any(seat, replay));
  }

  const GameOutcome outcome = play_to_end(state, seats);
  ASSERT_TRUE(std::holds_alternative<GameResult>(outcome));
  EXPECT_EQ(std::get<GameResult>(outcome), *expected);
  EXPECT_EQ(state, last);
  EXPECT_EQ(std::get<RandomPlayer>(seats[0]), first);
  EXPECT_EQ(std::get<RandomPlayer>(seats[1]), second);
}

}  // namespace
}  // namespace tornquil
