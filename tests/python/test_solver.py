"""The solver's companion module: verdicts, lines usable by the engine's own game, budgets and
seats."""

import math
import threading
import time

import pytest

import tornquil
import tornquil_solver
from conftest import state_after
from tornquil_solver import Verdict, solve


class LineSeat:
    """Plays the actions of a line, in order, whoever's turn it is."""

    def __init__(self, line):
        self.line = list(line)

    def play(self, state):
        return self.line.pop(0)


# Deals from seeds whose verdict a plain solver settled quickly: wins for every player count, and
# a solo deal proved lost.
WON_DEALS = [(1, 1003), (2, 1002), (3, 1000), (4, 1001)]


@pytest.mark.parametrize("players, seed", WON_DEALS)
def test_a_winning_line_wins_the_engines_own_game(players, seed):
    solution = solve(players=players, seed=seed, seconds=20)
    assert solution.verdict == Verdict.WON == "Won"
    assert solution.best_level == 12 and solution.nodes > 0 and solution.seconds >= 0
    game = tornquil.TornquilGame([LineSeat(solution.line)] * players, seed)
    assert game.playout() == 0  # Won


def test_a_state_a_seat_receives_is_solved_from_where_it_stands():
    states = [state_after(2, 1002, moves=3)]
    solution = solve(states[-1], seconds=20)
    assert solution.verdict in (Verdict.WON, Verdict.LOST, Verdict.UNKNOWN)
    if solution.verdict == Verdict.WON:
        assert all(type(action).__module__ == "builtins" for action in solution.line)
        assert solution.line[0] in states[-1].action_space()


def test_a_proved_loss_has_no_line_and_an_empty_budget_knows_nothing():
    lost = solve(players=1, seed=1016, seconds=20)
    assert (lost.verdict, lost.line) == (Verdict.LOST, [])
    nothing = solve(players=1, seed=1016, nodes=0)
    assert (nothing.verdict, nothing.nodes, nothing.line) == (Verdict.UNKNOWN, 0, [])
    assert solve(players=2, seed=1002, seconds=0).verdict == Verdict.UNKNOWN
    assert str(Verdict.LOST) == "Lost"


@pytest.mark.parametrize("arguments, error, message", [
    (dict(players=5, seed=1), ValueError, "^Only 1-4 players are allowed$"),
    (dict(players=0), ValueError, "^Only 1-4 players are allowed$"),
    (dict(), TypeError, "needs a state"),
    (dict(state=5), TypeError, "^argument 'state': 'int' object cannot be converted to 'PyState'$"),
    (dict(players=2, nodes=-1), OverflowError, None),
    (dict(players=2, nodes=2**64), OverflowError, None),
    (dict(players=2, nodes=True), TypeError, "^argument 'nodes'"),
    (dict(players=2, nodes=1.5), TypeError, "^argument 'nodes'"),
    (dict(players=2, seconds=-1), ValueError, "^seconds must be a number of at least 0"),
    (dict(players=2, seconds=math.nan), ValueError, "^seconds must be a number of at least 0"),
    (dict(players=2, seconds="1"), TypeError, "^argument 'seconds'"),
    (dict(players=2, table_mib=0), ValueError, "^table_mib must be from 1 to"),
    (dict(players=2, table_mib=2**21), ValueError, "^table_mib must be from 1 to"),
    (dict(players=2, seed=-1), OverflowError, None),
])
def test_bad_budgets_and_positions_are_refused(arguments, error, message):
    with pytest.raises(error, match=message):
        solve(**arguments)


def test_a_state_and_a_deal_together_are_refused(new_state):
    with pytest.raises(TypeError, match="not both"):
        solve(new_state(2), players=2)


def test_huge_budgets_are_budgets_the_time_ends():
    started = time.monotonic()
    solution = solve(players=1, seed=1000, nodes=2**64 - 1, seconds=0.3)
    assert time.monotonic() - started < 2
    assert solution.verdict in (Verdict.WON, Verdict.LOST, Verdict.UNKNOWN)
    assert solve(players=2, seed=1002, seconds=math.inf, nodes=10**6).verdict == Verdict.WON


def hard_position():
    """A deal whose solve takes minutes: four players, seed 1281."""
    return state_after(4, 1281)


def test_a_solve_lets_other_threads_run():
    position = hard_position()
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(1)
            time.sleep(0.001)

    ticker = threading.Thread(target=tick)
    ticker.start()
    time.sleep(0.05)
    ticks.clear()
    solution = solve(position, nodes=2**40, seconds=0.5)
    stop.set()
    ticker.join()
    # A tick a millisecond while the solve ran, give or take a loaded machine.
    assert len(ticks) >= 0.2 * solution.seconds / 0.001


@pytest.mark.parametrize("players, seed", WON_DEALS)
def test_solver_seats_win_the_deals_the_solver_wins(players, seed):
    seat = tornquil_solver.SolverPlayer(seconds=5)
    assert tornquil.TornquilGame([seat] * players, seed).playout() == 0


@pytest.mark.parametrize("make, calls", [
    (lambda: tornquil_solver.SolverPlayer(nodes=2**40, seconds=1.0, release_gil=True), ("play",)),
    (lambda: tornquil_solver.FairPlayer(seconds=1.0, release_gil=True), ("play", "ranked_actions")),
])
def test_a_seat_in_use_refuses_a_second_caller(make, calls):
    state = hard_position()
    seat = make()
    errors = []

    def second():
        time.sleep(0.2)
        for call in calls:
            try:
                getattr(seat, call)(*([state] if call == "play" else []))
            except RuntimeError as error:
                errors.append(str(error))

    intruder = threading.Thread(target=second)
    intruder.start()
    seat.play(state)
    intruder.join()
    assert errors == [f"{type(seat).__name__} is in use: its play() is running"] * len(calls)


@pytest.mark.parametrize("arguments, error", [
    (dict(nodes=-1), OverflowError), (dict(seconds=-0.5), ValueError),
    (dict(table_mib=0), ValueError), (dict(release_gil=1), TypeError),
])
def test_solver_seats_refuse_bad_budgets(arguments, error):
    with pytest.raises(error):
        tornquil_solver.SolverPlayer(**arguments)


def test_solver_seats_take_keywords_only():
    with pytest.raises(TypeError):
        tornquil_solver.SolverPlayer(1000)


def test_a_fair_seat_plays_a_whole_game_and_ranks_its_last_decision():
    seat = tornquil_solver.FairPlayer(seconds=None, iterations=300, threads=1, seed=3)
    result = tornquil.TornquilGame([seat, seat], 1005).playout()
    assert int(result) in (0, 1)
    ranking = seat.ranked_actions()
    assert ranking and all(isinstance(visits, int) for _, visits, _ in ranking)


def test_a_fair_seat_with_a_seed_repeats_its_decisions(new_state):
    state = new_state(3, 1001)
    rankings = []
    for _ in range(2):
        seat = tornquil_solver.FairPlayer(seconds=None, iterations=500, threads=1, seed=9)
        seat.play(state)
        rankings.append([(str(action), visits) for action, visits, _ in seat.ranked_actions()])
    assert rankings[0] == rankings[1]


@pytest.mark.parametrize("arguments, error", [
    (dict(seconds=-1), ValueError), (dict(seconds=math.nan), ValueError),
    (dict(threads=0), ValueError), (dict(threads=257), ValueError), (dict(threads=True), TypeError),
    (dict(iterations=-1), OverflowError), (dict(seed=-1), OverflowError),
    (dict(seconds=None), ValueError), (dict(release_gil="yes"), TypeError),
])
def test_fair_seats_refuse_bad_settings(arguments, error):
    with pytest.raises(error):
        tornquil_solver.FairPlayer(**arguments)


def test_the_search_player_takes_informed_playouts():
    seat = tornquil.players.MCTSPlayer(500, 1, True, playout_policy="informed")
    assert int(tornquil.TornquilGame([seat], 1003).playout()) in (0, 1)
    for bad in ("Informed", "", "\udcff"):
        with pytest.raises(ValueError, match="^playout_policy must be 'random' or 'informed'"):
            tornquil.players.MCTSPlayer(10, 1, True, playout_policy=bad)
    with pytest.raises(TypeError, match="^argument 'playout_policy'"):
        tornquil.players.MCTSPlayer(10, 1, True, playout_policy=1)
