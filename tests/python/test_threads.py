"""Python threads sharing the module's objects at once: on a free-threaded interpreter they truly
run together, and nothing may crash, lose a count or turn the interpreter lock back on."""

import subprocess
import sys
import sysconfig
import threading

import pytest

import tornquil
import _tornquil_env
import tornquil_solver

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def run_threads(count, work):
    failures = []

    def guarded(index):
        try:
            work(index)
        except BaseException as error:  # noqa: B036 - every failure is reported by the test
            failures.append(repr(error))

    threads = [threading.Thread(target=guarded, args=(index,)) for index in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


@pytest.mark.skipif(not FREE_THREADED, reason="only a free-threaded interpreter can turn its lock off")
def test_importing_every_module_leaves_the_interpreter_lock_off():
    code = ("import sys, tornquil, tornquil_solver, _tornquil_env, _tornquil_native\n"
            "_tornquil_native.companion()\nprint(sys._is_gil_enabled())")
    child = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True, timeout=60)
    assert child.stdout.decode().strip() == "False", child.stderr.decode()


def test_threads_play_games_and_search_decisions_at_once_and_every_playout_counts(new_state):
    states = [new_state(players, 1000 + players) for players in (1, 2, 3, 4)]

    def work(index):
        for game in range(20):
            seats = [tornquil.players.RandomPlayer(game)] * (1 + (index + game) % 4)
            assert int(tornquil.TornquilGame(seats, game).playout()) in (0, 1)
        for decision in range(4):
            player = tornquil.players.MCTSPlayer(300, 2, True, release_gil=decision % 2 == 0)
            player.play(states[(index + decision) % 4])
            assert sum(visits for _, visits, _ in player.ranked_actions()) == 300
        fair = tornquil_solver.FairPlayer(seconds=None, iterations=200, threads=1, seed=index)
        fair.play(states[index % 4])
        assert sum(visits for _, visits, _ in fair.ranked_actions()) == 200

    run_threads(8, work)


def test_threads_sharing_players_and_games_take_turns_or_are_refused(new_state):
    state = new_state(2, 1000)
    shared_random = tornquil.players.RandomPlayer(seed=4)
    shared_search = tornquil.players.MCTSPlayer(200, 1, True, release_gil=True)
    shared_game = tornquil.TornquilGame([tornquil.players.RandomPlayer(1)] * 2, 9)
    shared_env = _tornquil_env.Game(3, 5)
    refusals = []

    def work(index):
        for _ in range(30):
            assert shared_random.play(state) in state.action_space()
            try:
                shared_search.play(state)
            except RuntimeError as error:
                refusals.append(str(error))
            try:
                shared_game.reward()
                shared_game.playout()
            except RuntimeError as error:
                refusals.append(str(error))
            legal = shared_env.legal_indices()
            if legal:
                try:
                    shared_env.step(legal[index % len(legal)])
                except (ValueError, RuntimeError):
                    pass  # another thread moved first: the index is no longer legal, or the game ended
            shared_env.observation(0, "own")

    run_threads(6, work)
    assert set(refusals) <= {"MCTSPlayer is in use: its play() is running",
                             "TornquilGame is in use: its playout() is running"}
    assert sum(visits for _, visits, _ in shared_search.ranked_actions()) == 200
