// The solver's verdicts: every win replays to a win, every Lost agrees with a plain exhaustive
// search, deals that others have won are never called lost, and the budget, the stop check and
// the table's bound hold.
#include "solver/solver.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

#include "players/mcts_player.hpp"
#include "solver/bounds.hpp"
#include "state_builder.hpp"

namespace tornquil::solver {
namespace {

using namespace tornquil::testing;

template <std::size_t N>
bool replays_to_a_win(State<N> state, const std::vector<Action>& line) {
  for (std::size_t step = 0; step < line.size(); ++step) {
    const std::vector<Action> legal = state.get_action_space();
    if (std::find(legal.begin(), legal.end(), line[step]) == legal.end()) return false;
    GameStatus<N> status = std::move(state).apply_action(line[step]);
    if (const auto* result = std::get_if<GameResult>(&status)) {
      return result->is_won() && step + 1 == line.size();
    }
    state = std::get<State<N>>(status);
  }
  return false;
}

Budget nodes(std::uint64_t limit) {
  Budget budget;
  budget.nodes = limit;
  return budget;
}

// Every line from `state`, with no table and nothing pruned: whether one wins, or nothing when
// more than `budget` children would be needed to tell.
template <std::size_t N>
std::optional<bool> wins_exhaustively(const State<N>& state, std::uint64_t& budget) {
  bool unknown = false;
  for (const Action& action : state.get_action_space()) {
    if (budget == 0) return std::nullopt;
    --budget;
    GameStatus<N> status = state.take_action(action);
    if (const auto* result = std::get_if<GameResult>(&status)) {
      if (result->is_won()) return true;
      continue;
    }
    const std::optional<bool> below = wins_exhaustively(std::get<State<N>>(status), budget);
    if (!below) unknown = true;
    if (below == true) return true;
    if (unknown) return std::nullopt;
  }
  return false;
}

// A late position with few cards: one or two enemies left, part-fought, small hands and piles.
template <std::size_t N>
State<N> small_position(std::mt19937_64& random) {
  std::vector<Card> deck;
  for (const CardSuit suit : real_suits) {
    for (int value = 1; value <= 10; ++value)
      deck.push_back(Card{suit, static_cast<CardValue>(value)});
  }
  for (std::uint8_t i = 0; i < State<N>::jesters; ++i) deck.push_back(jester_card);
  std::shuffle(deck.begin(), deck.end(), random);
  const auto take = [&](std::size_t count, auto& list) {
    for (std::size_t i = 0; i < count && !deck.empty(); ++i) {
      list.push_back(deck.back());
      deck.pop_back();
    }
  };
  const auto pick = [&](std::size_t below) { return static_cast<std::size_t>(random() % below); };
  State<N> state;
  for (std::size_t seat = 0; seat < N; ++seat) {
    state.players[seat].id = PlayerId{seat};
    take(1 + pick(N == 1 ? 4 : 3), state.players[seat].hand);
  }
  take(pick(4), state.table.tavern_deck);
  take(pick(5), state.table.discard_pile);
  take(pick(3), state.table.attack_cards);
  const CardValue royals[] = {CardValue::Jack, CardValue::Queen, CardValue::King};
  const std::size_t enemies = 1 + pick(2);
  for (std::size_t i = 0; i < enemies; ++i) {
    const Card card{real_suits[pick(4)], royals[pick(3)]};
    Enemy next(card);
    if (i + 1 == enemies) {
      next.take_damage(
          static_cast<std::uint16_t>(10 + pick(static_cast<std::size_t>(next.health()) - 10)));
      next.decrease_attack(static_cast<std::uint16_t>(pick(next.attack_value())));
    }
    state.table.castle_deck.push_back(next);
  }
  state.level = static_cast<std::uint8_t>(12 - enemies);
  state.has_turn = PlayerId{pick(N)};
  state.rng_seed = random();
  return state;
}

template <std::size_t N>
void agrees_with_exhaustive_search(std::uint64_t seed, int& won, int& lost, int& condemned) {
  std::mt19937_64 random(seed);
  // One solver for all: what its table learnt of one position must not mislead it on another.
  Solver solver;
  for (int i = 0; i < 300; ++i) {
    const State<N> state = small_position<N>(random);
    std::uint64_t budget = 20'000;
    const std::optional<bool> wins = wins_exhaustively(state, budget);
    if (!wins) continue;
    const SolveResult result = solver.solve(state, nodes(1'000'000));
    if (*wins) {
      ++won;
      EXPECT_FALSE(cannot_win(state)) << text(state);
      ASSERT_EQ(result.verdict, Verdict::Won) << text(state);
      EXPECT_TRUE(replays_to_a_win(state, result.line)) << text(state);
    } else {
      ++lost;
      condemned += cannot_win(state) ? 1 : 0;
      ASSERT_EQ(result.verdict, Verdict::Lost) << text(state);
    }
  }
}

// Both jesters in the hand of the player to move: the same play listed twice, and discards with
// the same cards listed twice, which the solver searches once.
State<4> with_both_jesters_to_move(State<4> state) {
  const auto without_jesters = [](auto& list) {
    auto kept = list;
    kept.clear();
    for (const Card card : list) {
      if (card != jester_card) kept.push_back(card);
    }
    list = kept;
  };
  for (Player& player : state.players) without_jesters(player.hand);
  without_jesters(state.table.tavern_deck);
  without_jesters(state.table.discard_pile);
  without_jesters(state.table.attack_cards);
  Hand& hand = state.players[state.has_turn.index].hand;
  while (hand.size() > 3) hand.pop_back();
  hand.push_back(jester_card);
  hand.push_back(jester_card);
  return state;
}

TEST(Solver, VerdictsWithBothJestersInOneHandAgreeWithPlainExhaustiveSearch) {
  std::mt19937_64 random(5);
  Solver solver;
  int settled = 0;
  for (int i = 0; i < 60; ++i) {
    State<4> state = with_both_jesters_to_move(small_position<4>(random));
    if (i % 2 == 1) {
      const std::uint16_t amount = std::min<std::uint16_t>(
          state.players[state.has_turn.index].total_hand_value(), 1 + random() % 10);
      state.action_type = ActionType::discard(static_cast<std::uint8_t>(amount));
    }
    std::uint64_t budget = 50'000;
    const std::optional<bool> wins = wins_exhaustively(state, budget);
    if (!wins) continue;
    ++settled;
    const SolveResult result = solver.solve(state, nodes(1'000'000));
    EXPECT_EQ(result.verdict, *wins ? Verdict::Won : Verdict::Lost) << text(state);
  }
  EXPECT_GE(settled, 30);
}

TEST(Solver, VerdictsAgreeWithPlainExhaustiveSearchOnSmallPositions) {
  int won = 0;
  int lost = 0;
  int condemned = 0;  // lost positions that the starved-hands bound settles alone
  agrees_with_exhaustive_search<1>(1, won, lost, condemned);
  agrees_with_exhaustive_search<2>(2, won, lost, condemned);
  agrees_with_exhaustive_search<3>(3, won, lost, condemned);
  agrees_with_exhaustive_search<4>(4, won, lost, condemned);
  // The positions must exercise both answers and the bound, or the comparison says little.
  EXPECT_GE(won, 100);
  EXPECT_GE(lost, 100);
  EXPECT_GE(condemned, 20);
  EXPECT_LT(condemned, lost);
}

TEST(Solver, WinningLinesReplayToAWinAtEveryPlayerCount) {
  // Deals that a plain solver won cheaply, a few per player count: never called lost.
  const std::vector<std::pair<std::size_t, std::uint64_t>> deals = {
      {1, 1042}, {1, 1025}, {2, 1054}, {2, 1070}, {2, 1007}, {3, 1038},
      {3, 1047}, {3, 1048}, {4, 1080}, {4, 1016}, {4, 1053}, {4, 1043}};
  for (const auto& [players, seed] : deals) {
    const auto state = std::get<StateEnum>(StateEnum::create(players, seed));
    const SolveResult result = solve(state, nodes(400'000));
    EXPECT_NE(result.verdict, Verdict::Lost) << players << " players, seed " << seed;
    if (result.verdict != Verdict::Won) continue;
    EXPECT_EQ(result.best_level, 12);
    state.visit([&](const auto& inner) {
      EXPECT_TRUE(replays_to_a_win(inner, result.line)) << players << " players, seed " << seed;
    });
  }
}

TEST(Solver, ASoloKillWithTheLastCardIsNoWin) {
  // The last card kills the last King exactly; the empty hand must then yield, which loses.
  const State<1> last_card = StateBuilder<1>().hand(0, "10c").castle({enemy("Kh", 20)}).build();
  EXPECT_EQ(solve(last_card, nodes(1000)).verdict, Verdict::Lost);
  const State<1> spare_card = StateBuilder<1>().hand(0, "10c 2s").castle({enemy("Kh", 20)}).build();
  const SolveResult result = solve(spare_card, nodes(1000));
  ASSERT_EQ(result.verdict, Verdict::Won);
  EXPECT_TRUE(replays_to_a_win(spare_card, result.line));
}

TEST(Solver, HandsWithoutDiamondsThatCannotDealTheHealthLeftAreLostAtOnce) {
  // 2 * (9 + 5 + 3 + 2) = 38 < 15 + 40 health left, and no card can reach the hand again.
  const State<1> starved = StateBuilder<1>()
                               .hand(0, "9c 5s 3h 2c")
                               .castle({enemy("Kh"), enemy("Qs", 15)})
                               .tavern("10d 9d 8d")
                               .build();
  EXPECT_TRUE(cannot_win(starved));
  const SolveResult lost = solve(starved, nodes(1000));
  EXPECT_EQ(lost.verdict, Verdict::Lost);
  EXPECT_LE(lost.nodes, 20U);
  // One Diamonds card may draw more: the bound says nothing.
  State<1> drawing = starved;
  drawing.players[0].hand = hand("9c 5s 3h 2d");
  EXPECT_FALSE(cannot_win(drawing));
  // A pending discard counts against the hands: 2 * (19 + 10 - 10) = 38 < 55.
  State<1> discarding = starved;
  discarding.players[0].hand = hand("9c 5s 3h 2c 10s");
  EXPECT_FALSE(cannot_win(discarding));
  discarding.action_type = ActionType::discard(10);
  EXPECT_TRUE(cannot_win(discarding));
}

TEST(Solver, ZeroNodesOrSecondsAnswerUnknownAtOnce) {
  const State<2> deal = State<2>::create(1000);
  const SolveResult by_nodes = solve(deal, nodes(0));
  EXPECT_EQ(by_nodes.verdict, Verdict::Unknown);
  EXPECT_EQ(by_nodes.nodes, 0U);
  EXPECT_TRUE(by_nodes.line.empty());
  Budget no_time;
  no_time.seconds = 0.0;
  EXPECT_EQ(solve(deal, no_time).verdict, Verdict::Unknown);
  EXPECT_EQ(solve(deal, no_time).nodes, 0U);
}

TEST(Solver, SecondsThatAreNoTimeAreRefusedAndHugeOnesAreEnough) {
  const State<3> deal = State<3>::create(1038);
  for (const double bad : {std::nan(""), -1.0, -double{INFINITY}}) {
    Budget budget;
    budget.seconds = bad;
    EXPECT_THROW((void)solve(deal, budget), std::invalid_argument) << bad;
  }
  Budget huge;
  huge.seconds = double{INFINITY};
  huge.nodes = 400'000;
  EXPECT_NE(solve(deal, huge).verdict, Verdict::Lost);
}

TEST(Solver, UnknownGivesALineToTheBestLevelReached) {
  const State<1> deal = State<1>::create(1000);
  const SolveResult result = solve(deal, nodes(20'000));
  ASSERT_EQ(result.verdict, Verdict::Unknown);
  EXPECT_EQ(result.nodes, 20'000U);
  State<1> state = deal;
  for (const Action& action : result.line) {
    GameStatus<1> status = state.take_action(action);
    ASSERT_TRUE(std::holds_alternative<State<1>>(status));
    state = std::get<State<1>>(status);
  }
  EXPECT_EQ(state.level, result.best_level);
  EXPECT_GT(result.best_level, 0);
}

TEST(Solver, AStopCheckThatThrowsEndsTheSolveAndTheSolverStaysUsable) {
  Solver solver;
  const State<1> hard = State<1>::create(1064);  // seconds of search to settle
  int calls = 0;
  Budget interrupted;
  interrupted.nodes = UINT64_MAX;
  interrupted.seconds = 60.0;
  interrupted.check = [&calls] {
    if (++calls == 3) throw std::runtime_error("Ctrl-C");
  };
  EXPECT_THROW((void)solver.solve(hard, interrupted), std::runtime_error);
  EXPECT_EQ(calls, 3);
  const State<4> deal = State<4>::create(1080);
  const SolveResult result = solver.solve(deal, nodes(400'000));
  ASSERT_EQ(result.verdict, Verdict::Won);
  EXPECT_TRUE(replays_to_a_win(deal, result.line));
}

TEST(Solver, TheStopCheckIsCalledThroughoutASolve) {
  int calls = 0;
  Budget budget;
  budget.nodes = UINT64_MAX;
  budget.seconds = 0.3;
  budget.check = [&calls] { ++calls; };
  const SolveResult result = solve(State<1>::create(1064), budget);
  // One every 5 to 20 ms of the solve, whatever its verdict; a machine that other work keeps
  // busy may pause the solve for longer, so only one call in 50 ms is asked for.
  EXPECT_GE(calls, static_cast<int>(result.seconds / 0.05));
  EXPECT_GE(result.seconds, 0.1);
}

TEST(Solver, TheTableStaysWithinItsBound) {
  Solver solver(SolverOptions{std::size_t{1} << 20});
  EXPECT_LE(solver.table_bytes(), std::size_t{1} << 20);
  (void)solver.solve(State<1>::create(1000), nodes(2'000'000));
  EXPECT_LE(solver.table_bytes(), std::size_t{1} << 20);
  Solver lazy;
  EXPECT_LE(lazy.table_bytes(), std::size_t{1} << 20);  // a default solver starts small
}

TEST(Solver, APositionProvedLostStaysKnownToItsSolver) {
  Solver solver;
  const State<1> deal = State<1>::create(1016);  // lost early, as a plain solver proved
  EXPECT_EQ(solver.known_verdict(deal), Verdict::Unknown);
  const SolveResult first = solver.solve(deal, nodes(2'000'000));
  ASSERT_EQ(first.verdict, Verdict::Lost);
  EXPECT_EQ(solver.known_verdict(deal), Verdict::Lost);
  const SolveResult again = solver.solve(deal, nodes(10));
  EXPECT_EQ(again.verdict, Verdict::Lost);
  EXPECT_EQ(again.nodes, 0U);
  solver.clear();
  EXPECT_EQ(solver.known_verdict(deal), Verdict::Unknown);
}

TEST(Solver, QuickVerdictSettlesSmallPositionsAndLeavesBigOnesUnknown) {
  Solver solver;
  const State<1> last_card = StateBuilder<1>().hand(0, "10c").castle({enemy("Kh", 20)}).build();
  EXPECT_EQ(solver.quick_verdict(last_card, 100), Verdict::Lost);
  EXPECT_EQ(solver.known_verdict(StateEnum(last_card)), Verdict::Lost);
  const State<1> spare_card = StateBuilder<1>().hand(0, "10c 2s").castle({enemy("Kh", 20)}).build();
  EXPECT_EQ(solver.quick_verdict(StateEnum(spare_card), 100), Verdict::Won);
  EXPECT_EQ(solver.quick_verdict(State<1>::create(1000), 100), Verdict::Unknown);
}

// Along a game that the search player won, every position has a winning line: none is Lost.
TEST(Solver, NeverCallsLostAPositionOfAGameTheSearchPlayerWon) {
  MCTSPlayer player(1000, 2, true, std::nullopt);
  for (std::uint64_t seed = 1000; seed < 1010; ++seed) {
    std::vector<State<2>> positions;
    State<2> state = State<2>::create(seed);
    std::optional<GameResult> end;
    while (!end) {
      positions.push_back(state);
      GameStatus<2> status = state.take_action(player.play(state));
      if (const auto* result = std::get_if<GameResult>(&status))
        end = *result;
      else
        state = std::get<State<2>>(status);
    }
    if (!end->is_won()) continue;
    Solver solver;
    for (std::size_t i = 0; i < positions.size(); i += 4) {
      EXPECT_NE(solver.quick_verdict(positions[i], 20'000), Verdict::Lost) << seed << " " << i;
    }
    return;
  }
  GTEST_SKIP() << "the search player won none of its games";
}

}  // namespace
}  // namespace tornquil::solver
