"""The `tornquil` command and the type stubs, run as a user would: in child processes."""

import pathlib
import subprocess
import sys

import pytest

from conftest import COMMAND, command_environment, tornquil_command

HERE = pathlib.Path(__file__).resolve().parent


def test_the_command_is_installed_as_an_entry_point():
    assert COMMAND.exists()


class TestPlay:
    def test_search_players_play_a_game_turn_by_turn(self):
        run = tornquil_command("play", "--playouts", "50", "--seed", "4")
        out = run.stdout.decode()
        assert run.returncode == 0, run.stderr.decode()
        assert "2 player(s): mcts mcts; seed 4" in out
        assert "-- turn 1: seat 0 (mcts) --\nPlayer: PlayerId(0)\nHand:   [" in out
        assert "seat 0 (mcts) plays " in out
        assert out.rstrip().splitlines()[-1].startswith("Result: ")

    def test_random_seats_replay_the_same_game_from_a_seed(self):
        runs = [tornquil_command("play", "random", "random", "random", "--seed", "9") for _ in range(2)]
        assert runs[0].returncode == 0
        assert runs[0].stdout == runs[1].stdout
        assert "seat 2 (random) plays " in runs[0].stdout.decode()

    def test_a_person_plays_a_seat_through_standard_input(self):
        run = tornquil_command("play", "human", "random", "--seed", "2", stdin_text="0\n" * 400)
        out = run.stdout.decode()
        assert run.returncode == 0, run.stderr.decode()
        assert "Type number to select an action:" in out
        assert "seat 1 (random) plays " in out
        assert "Result: " in out

    def test_a_person_who_stops_typing_ends_the_game_with_an_error(self):
        run = tornquil_command("play", "human", "--seed", "2", stdin_text="")
        assert run.returncode != 0
        assert "Error reading input." in run.stderr.decode()

    @pytest.mark.parametrize("arguments", [["play", "robot"], ["play", "--playouts", "-3"], ["play", "--policy", "2"],
                                           ["play"] + ["random"] * 5, ["eval", "human"], ["eval", "--games", "0"],
                                           ["bogus"], ["play", "--seed", str(2**64)]])
    def test_bad_arguments_are_a_usage_error(self, arguments):
        run = tornquil_command(*arguments)
        assert run.returncode == 2
        assert "usage: tornquil" in run.stderr.decode()


class TestEval:
    def test_the_same_base_seed_writes_the_same_games(self, tmp_path):
        # Random seats are seeded from the game's seed; a search's rollouts draw on the operating
        # system's entropy, so only its deals repeat.
        outputs = []
        for name in ("first.csv", "second.csv"):
            run = tornquil_command("eval", "random", "random", "--games", "12", "--seed", "40", "--jobs", "2",
                                   "--out", str(tmp_path / name))
            assert run.returncode == 0, run.stderr.decode()
            outputs.append((tmp_path / name).read_text())
        assert outputs[0] == outputs[1]
        lines = outputs[0].splitlines()
        assert lines[0] == "seed,result,level"
        assert [line.split(",")[0] for line in lines[1:]] == [str(seed) for seed in range(40, 52)]
        assert all(line.split(",")[1] in ("won", "lost") and 0 <= int(line.split(",")[2]) <= 12 for line in lines[1:])

    def test_search_seats_play_their_games_on_several_processes(self, tmp_path):
        run = tornquil_command("eval", "mcts", "random", "--games", "4", "--playouts", "30", "--jobs", "2",
                               "--out", str(tmp_path / "games.csv"))
        assert run.returncode == 0, run.stderr.decode()
        assert "4/4 games" in run.stderr.decode()
        assert len((tmp_path / "games.csv").read_text().splitlines()) == 5

    def test_summary_has_the_win_rate_interval_mean_level_and_histogram(self, tmp_path):
        run = tornquil_command("eval", "random", "--games", "20", "--seed", "1", "--out", str(tmp_path / "games.jsonl"))
        out = run.stdout.decode()
        assert run.returncode == 0
        assert "games: 20 of 20" in out
        assert "95% confidence interval 0.0% to " in out
        assert "mean level reached: " in out
        assert out.count(" | ") == 13
        assert len((tmp_path / "games.jsonl").read_text().splitlines()) == 20

    def test_plotting_without_matplotlib_says_how_to_install_it(self, tmp_path):
        try:
            import matplotlib  # noqa: F401
        except ImportError:
            run = tornquil_command("eval", "random", "--games", "2", "--plot", str(tmp_path / "levels.png"))
            assert run.returncode == 1
            assert "pip install" in run.stderr.decode()
        else:
            pytest.skip("matplotlib is installed")


@pytest.mark.slow
def test_the_stubs_match_the_built_module():
    pytest.importorskip("mypy")
    code = (
        "import sys, tornquil\n"
        # The submodules are attributes only; stubtest imports them by name.
        "for name in ('card', 'actions', 'players'): sys.modules['tornquil.' + name] = getattr(tornquil, name)\n"
        "from mypy.stubtest import main\n"
        f"sys.argv = ['stubtest', 'tornquil', '--allowlist', {str(HERE / 'stubtest_allowlist.txt')!r}]\n"
        "sys.exit(main())\n"
    )
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, cwd="/", timeout=300)
    assert run.returncode == 0, run.stdout.decode() + run.stderr.decode()


@pytest.mark.slow
def test_the_stubs_let_mypy_check_a_player(tmp_path):
    pytest.importorskip("mypy")
    script = tmp_path / "player.py"
    script.write_text(
        "import tornquil\n"
        "class First:\n"
        "    def play(self, state: tornquil.PyState) -> tornquil.actions.Action:\n"
        "        return state.action_space()[0]\n"
        "game = tornquil.TornquilGame([First(), tornquil.players.MCTSPlayer(10, 1, True)], seed=3)\n"
        "level: int = game.reward()\n"
        "wrong: str = game.reward()\n"
    )
    run = subprocess.run([sys.executable, "-m", "mypy", "--no-incremental", str(script)], capture_output=True, cwd=tmp_path)
    out = run.stdout.decode()
    assert "player.py:7: error: Incompatible types in assignment" in out
    assert out.count("error:") == 1, out


def test_interrupting_eval_still_reports_the_games_it_finished():
    import signal
    import time

    child = subprocess.Popen([str(COMMAND), "eval", "mcts", "--games", "400", "--playouts", "300", "--jobs", "2"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=command_environment())
    deadline = time.monotonic() + 60
    progress = b""
    while b"] 2/400" not in progress and time.monotonic() < deadline:
        progress += child.stderr.read1(4096)
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=120)
    assert child.returncode == 130
    assert b"Traceback" not in err
    assert b"games: " in out and b" of 400" in out


@pytest.mark.parametrize("seats", [["fair", "fair"], ["full"], ["fair", "full", "random"]])
def test_fair_and_full_seats_play_within_their_seconds(seats):
    child = tornquil_command("eval", *seats, "--games", "2", "--seconds", "0.02", "--jobs", "1")
    assert child.returncode == 0, child.stderr.decode()
    assert "won" in child.stdout.decode()


@pytest.mark.parametrize("arguments, message", [
    (["eval", "full", "--threads", "2"], "--threads: the search options need an mcts or fair seat"),
    (["eval", "random", "--seconds", "1"], "--seconds: the search options need an mcts, fair or full seat"),
    (["eval", "fair", "--playouts", "9"], "--playouts: the search options need an mcts seat"),
])
def test_options_a_fair_or_full_seat_does_not_use_are_refused(arguments, message):
    child = tornquil_command(*arguments)
    assert child.returncode == 2 and message in child.stderr.decode()
