#include "players/solver_player.hpp"

#include <gtest/gtest.h>

#include "players/game_driver.hpp"
#include "players/random_player.hpp"

namespace tornquil {
namespace {

StateEnum new_game(std::size_t players, std::uint64_t seed) {
  return std::get<StateEnum>(StateEnum::create(players, seed));
}

SolverSettings quick() {
  SolverSettings settings;
  settings.per_decision.nodes = 2'000'000;
  settings.table_bytes = std::size_t{16} << 20;
  return settings;
}

// One player object in every seat solves once and follows its winning line to the win.
TEST(SolverPlayer, FollowsItsWinningLineAcrossSeatsWithoutAskingAgain) {
  for (const std::size_t players : {1U, 2U, 3U, 4U}) {
    StateEnum state = new_game(players, 1002);
    SolverPlayer player(quick());
    int solves = 0;
    std::optional<std::uint64_t> nodes;
    const GameOutcome outcome = play_to_end(state, [&](const StateEnum& now) {
      const Action action = player.play(now, {});
      if (player.last_solution() && player.last_solution()->nodes != nodes) {
        nodes = player.last_solution()->nodes;
        ++solves;
      }
      return action;
    });
    ASSERT_TRUE(std::holds_alternative<GameResult>(outcome)) << players << " players";
    EXPECT_TRUE(std::get<GameResult>(outcome).is_won()) << players << " players";
    EXPECT_EQ(player.last_solution()->verdict, solver::Verdict::Won);
    EXPECT_EQ(solves, 1) << players << " players";
  }
}

// Another seat that strays from the line makes the player ask again from where the game stands.
TEST(SolverPlayer, AsksAgainWhenTheGameLeavesItsLine) {
  StateEnum state = new_game(2, 1002);
  SolverPlayer solver_seat(quick());
  RandomPlayer wanderer(7);
  const solver::Verdict first = [&] {
    (void)solver_seat.play(state, {});
    return solver_seat.last_solution()->verdict;
  }();
  ASSERT_EQ(first, solver::Verdict::Won);
  const std::uint64_t first_nodes = solver_seat.last_solution()->nodes;
  bool asked_again = false;
  (void)play_to_end(state, [&](const StateEnum& now) {
    if (now.has_turn().index == 1) return play_any(wanderer, now);
    const Action action = solver_seat.play(now, {});
    asked_again = asked_again || solver_seat.last_solution()->nodes != first_nodes;
    return action;
  });
  EXPECT_TRUE(asked_again);
}

TEST(SolverPlayer, ACopyStartsAfreshWithTheSameSettings) {
  SolverPlayer player(quick());
  (void)player.play(new_game(2, 1002), {});
  const SolverPlayer copy = player;
  EXPECT_FALSE(copy.last_solution().has_value());
  EXPECT_EQ(copy.settings().per_decision.nodes, quick().per_decision.nodes);
}

TEST(SolverPlayer, InAProvedLossTakesTheFirstActionOffered) {
  const StateEnum lost = new_game(1, 1016);  // a solo deal the solver proves lost at once
  SolverPlayer player(quick());
  EXPECT_EQ(player.play(lost, {}), lost.get_action_space().front());
  EXPECT_EQ(player.last_solution()->verdict, solver::Verdict::Lost);
}

}  // namespace
}  // namespace tornquil
