#include "players/random_player.hpp"

#include <gtest/gtest.h>

#include "base/error.hpp"
#include "players/native_player.hpp"

namespace tornquil {
namespace {

// A one-player state that must absorb an attack with an empty hand: no legal action at all.
State<1> state_without_actions() {
  State<1> state = State<1>::create(1);
  state.players[0].hand.clear();
  state.action_type = ActionType::discard(10);
  return state;
}

// A one-player state that may only pass the turn after a jester.
State<1> state_with_one_action() {
  State<1> state = State<1>::create(1);
  state.action_type = ActionType::jester();
  return state;
}

TEST(RandomPlayer, SameSeedGivesTheSameChoicesAlongAGame) {
  RandomPlayer first(42);
  RandomPlayer second(42);
  StateEnum state = std::get<StateEnum>(StateEnum::create(3, 5));
  for (int turn = 0; turn < 200; ++turn) {
    const Action action = play_any(first, state);
    ASSERT_EQ(action, play_any(second, state));
    if (state.take_action(action)) break;
  }
}

TEST(RandomPlayer, PicksByOneUniformIndexDrawOverTheActionList) {
  const State<2> state = State<2>::create(9);
  const std::vector<Action> actions = state.get_action_space();
  RandomPlayer player(3);
  StdRng reference = StdRng::seed_from_u64(3);
  for (int draw = 0; draw < 20; ++draw) {
    EXPECT_EQ(player.play(state),
              actions[uniform_index(reference, static_cast<std::uint32_t>(actions.size()))]);
  }
}

TEST(RandomPlayer, ASingleActionIsChosenAndStillConsumesAWord) {
  RandomPlayer player(11);
  RandomPlayer untouched(11);
  EXPECT_EQ(player.play(state_with_one_action()), Action(action::ChangePlayer{PlayerId{0}}));
  EXPECT_NE(player, untouched);
  StdRng reference = StdRng::seed_from_u64(11);
  (void)reference.next_u32();
  const State<2> state = State<2>::create(4);
  const auto actions = state.get_action_space();
  EXPECT_EQ(player.play(state),
            actions[uniform_index(reference, static_cast<std::uint32_t>(actions.size()))]);
}

TEST(RandomPlayer, NoLegalActionIsAFaultThatLeavesTheGeneratorAlone) {
  RandomPlayer player(8);
  const RandomPlayer before = player;
  EXPECT_THROW((void)player.play(state_without_actions()), InternalFault);
  EXPECT_EQ(player, before);
}

TEST(RandomPlayer, UnseededPlayersDiffer) {
  EXPECT_NE(RandomPlayer(std::nullopt), RandomPlayer(std::nullopt));
}

TEST(RandomPlayer, ZeroIsASeedLikeAnyOther) { EXPECT_EQ(RandomPlayer(0), RandomPlayer(0)); }

TEST(NativePlayer, ACopiedSeatAdvancesOnlyItself) {
  const RandomPlayer original(6);
  NativePlayer seat = original;
  const StateEnum state = std::get<StateEnum>(StateEnum::create(2, 1));
  (void)play(seat, state);
  EXPECT_NE(std::get<RandomPlayer>(seat), original);
  EXPECT_EQ(original, RandomPlayer(6));
}

}  // namespace
}  // namespace tornquil
