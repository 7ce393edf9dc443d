"""How the `tornquil` command ends: bad numbers and destinations, Ctrl-C, a dying worker, the end of
input, Ray, the progress display and the search options. Run as a user would, in child processes,
where a signal or a dying process is involved."""

import argparse
import fcntl
import json
import math
import os
import pathlib
import pty
import re
import signal
import socket
import struct
import subprocess
import sys
import termios
import time
import types

import pytest

import tornquil
import tornquil_cli
from conftest import COMMAND, has_module, press_ctrl_c, read_until, read_until_closed, tornquil_command
from conftest import command_environment as environment
from conftest import start_command as start
from tornquil_cli import options, plot, records, seats

def records_of(path):
    lines = path.read_text().splitlines()
    assert lines[0] == "seed,result,level"
    return lines[1:]


def unwritable_folder(tmp_path):
    if os.geteuid() == 0:
        return "/proc"  # no file can be made there, even by root
    folder = tmp_path / "locked"
    folder.mkdir()
    folder.chmod(0o555)
    return str(folder)


def unwritable_file(tmp_path):
    if os.geteuid() == 0:
        # Root writes past any file mode; the kernel's read-only files refuse it all the same.
        return "/sys/devices/system/cpu/online"
    path = tmp_path / "locked.csv"
    path.write_text("")
    path.chmod(0o444)
    return str(path)


class TestNumbers:
    @pytest.mark.parametrize("arguments", [
        ["play", "--playouts", str(2**32)], ["play", "--threads", "0"], ["play", "--threads", "257"],
        ["play", "--seed", "-1"], ["eval", "--seed", str(2**64)], ["eval", "--seed", "1e3"],
        ["eval", "--games", str(10**9 + 1)], ["eval", "--jobs", "0"], ["eval", "--jobs", "257"],
        ["eval", "--playouts", "99999999999999999999999"], ["bench", "--runs", "0"],
        ["play", "--seconds", "0"], ["play", "--seconds", "-1"], ["eval", "--seconds", "nan"],
        ["eval", "--seconds", "inf"], ["eval", "--seconds", "86401"], ["play", "--information", "half"],
    ])
    def test_a_number_out_of_range_is_a_usage_error_naming_the_range(self, arguments):
        run = tornquil_command(*arguments)
        err = run.stderr.decode()
        assert run.returncode == 2, err
        assert "usage: tornquil" in err and "Traceback" not in err
        if arguments[1] not in ("--information", "--seconds"):
            assert re.search(r"from -?\d+ to \d+|expected a whole number", err), err

    def test_the_ends_of_every_range_are_accepted(self):
        parser = tornquil_cli.build_parser()
        play = parser.parse_args(["play", "--playouts", str(2**32 - 1), "--threads", "256", "--seed", str(2**64 - 1),
                                  "--seconds", "86400", "--information", "own"])
        assert (play.playouts, play.threads, play.seed, play.seconds, play.information) == \
            (2**32 - 1, 256, 2**64 - 1, 86400.0, "own")
        low = parser.parse_args(["eval", "--playouts", "0", "--threads", "1", "--seed", "0", "--games", "1",
                                 "--jobs", "1", "--seconds", "1e-9"])
        assert (low.playouts, low.threads, low.seed, low.games, low.jobs) == (0, 1, 0, 1, 1)

    def test_every_range_is_in_the_help(self):
        for command, ranges in (("play", ["0..4294967295", "1..256", "0..2**64-1", "86400"]),
                                ("eval", ["1..1000000000", "1..256", "0..2**64-1", "0..4294967295"])):
            help_text = " ".join(tornquil_command(command, "--help").stdout.decode().split())
            assert all(text in help_text for text in ranges), (command, help_text)

    def test_seeds_wrap_around_after_the_last_one(self, tmp_path):
        run = tornquil_command("eval", "random", "--games", "3", "--seed", str(2**64 - 1), "--jobs", "2",
                               "--out", str(tmp_path / "games.csv"))
        assert run.returncode == 0, run.stderr.decode()
        assert [line.split(",")[0] for line in records_of(tmp_path / "games.csv")] == [str(2**64 - 1), "0", "1"]

    def test_more_jobs_than_games_start_one_worker_per_game(self):
        run = tornquil_command("eval", "random", "--games", "2", "--jobs", "64")
        assert run.returncode == 0
        assert "2 game(s) on 2 process(es)" in run.stderr.decode()


class TestDestinations:
    @pytest.mark.parametrize("where", ["directory", "missing folder", "unwritable file"])
    def test_an_out_that_cannot_be_written_is_refused_before_any_game(self, tmp_path, where):
        path = {"directory": str(tmp_path),
                "missing folder": str(tmp_path / "nowhere" / "games.csv"),
                "unwritable file": unwritable_file(tmp_path)}[where]
        run = tornquil_command("eval", "random", "--games", "5", "--out", path)
        err = run.stderr.decode()
        assert run.returncode == 2
        assert f"argument --out: cannot write {path}" in err and "usage: tornquil" in err
        assert "game(s) on" not in err and run.stdout == b""

    @pytest.mark.parametrize("where", ["directory", "missing folder", "folder that takes no files", "unknown type"])
    def test_a_plot_that_cannot_be_written_is_refused_before_any_game(self, tmp_path, where):
        if where == "unknown type" and not has_module("matplotlib"):
            pytest.skip("matplotlib is not installed")
        path = {"directory": str(tmp_path),
                "missing folder": str(tmp_path / "nowhere" / "levels.png"),
                "folder that takes no files": unwritable_folder(tmp_path) + "/levels.png",
                "unknown type": str(tmp_path / "levels.xyz")}[where]
        run = tornquil_command("eval", "random", "--games", "5", "--plot", path)
        err = run.stderr.decode()
        assert run.returncode == 2, err
        assert f"argument --plot: cannot write {path}" in err and "game(s) on" not in err and run.stdout == b""
        assert not os.path.exists(path) or os.path.isdir(path)

    @pytest.mark.parametrize("option", ["--out", "--plot"])
    def test_an_empty_file_name_is_a_usage_error(self, option):
        run = tornquil_command("eval", "random", "--games", "5", option, "")
        assert run.returncode == 2
        assert f"argument {option}: expected a file name" in run.stderr.decode() and run.stdout == b""

    @pytest.mark.parametrize("spelling", ["same", "dotted", "link", "hard link"])
    def test_out_and_plot_naming_one_file_are_refused_and_the_file_is_kept(self, tmp_path, spelling):
        out = tmp_path / "games.csv"
        out.write_text("kept\n")
        plot = {"same": out, "dotted": tmp_path / "." / ".." / tmp_path.name / "games.csv",
                "link": tmp_path / "link.png", "hard link": tmp_path / "hard.png"}[spelling]
        if spelling == "link":
            plot.symlink_to(out)
        elif spelling == "hard link":
            os.link(out, plot)
        run = tornquil_command("eval", "random", "--games", "5", "--out", str(out), "--plot", str(plot))
        err = run.stderr.decode()
        assert run.returncode == 2, err
        assert "name the same file" in err and "game(s) on" not in err
        assert out.read_text() == "kept\n"

    def test_a_stream_is_written_as_given_and_never_truncated_or_replaced(self, tmp_path):
        # As a shell appends to a log: the lines before stay, the records and the summary follow.
        log = tmp_path / "log"
        log.write_text("before\n")
        with open(log, "a") as appended:
            run = subprocess.run([str(COMMAND), "eval", "random", "--games", "30", "--seed", "8", "--jobs", "2",
                                  "--out", "/dev/stdout"], stdout=appended, stderr=subprocess.PIPE,
                                 env=environment(), timeout=180)
        assert run.returncode == 0, run.stderr.decode()
        lines = log.read_text().splitlines()
        assert lines[:2] == ["before", "seed,result,level"]
        assert [line.split(",")[0] for line in lines[2:32]] == [str(seed) for seed in range(8, 38)]
        assert lines[32] == "games: 30 of 30" and len(lines) == 32 + 17


@pytest.fixture
def small_disk(tmp_path):
    """A folder on a file system of 64 KiB, or a skip where this machine cannot mount one."""
    folder = tmp_path / "small"
    folder.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(folder)], capture_output=True)
    if mounted.returncode != 0:
        pytest.skip(f"cannot mount a small file system here: {mounted.stderr.decode().strip()}")
    yield folder
    subprocess.run(["umount", str(folder)], check=True)


class TestRecords:
    @pytest.mark.parametrize("name", ["games.csv", "games.jsonl"])
    def test_a_full_disk_keeps_whole_records_and_ends_in_one_line(self, small_disk, name):
        out = small_disk / name
        run = tornquil_command("eval", "random", "--games", "20000", "--jobs", "2", "--out", str(out))
        err = [line for line in run.stderr.decode().splitlines() if not line.startswith("[")]
        assert run.returncode == 1
        assert err[1:] == [f"tornquil eval: cannot write {out}: No space left on device"], err
        text = out.read_bytes()
        assert 1000 < len(text) <= 64 * 1024 and text.endswith(b"\n")
        records = text.decode().splitlines()[0 if name.endswith(".jsonl") else 1:]
        seeds = [json.loads(line)["seed"] if name.endswith(".jsonl") else int(line.split(",")[0]) for line in records]
        assert seeds == list(range(len(seeds)))

    def test_records_wait_for_the_games_before_them_and_never_more_than_the_window(self):
        order = records.GameOrder(first_seed=2**64 - 2, total=10_000)
        taken = list(iter(order.take, None))
        assert len(taken) == order.window and taken[:3] == [2**64 - 2, 2**64 - 1, 0]
        # Every game but the first finishes: nothing can be written, and nothing more is handed out.
        assert [due for seed in taken[1:] for due in order.finish(seed, (seed, "lost", 1))] == []
        assert order.take() is None
        # The first one fails: every record behind it comes out, in order, and the window moves on.
        assert [due[0] for due in order.finish(taken[0], None)] == taken[1:]
        assert order.take() == taken[-1] + 1

    def test_a_run_that_stops_early_writes_the_records_behind_the_gap(self):
        order = records.GameOrder(first_seed=5, total=4)
        seeds = [order.take() for _ in range(4)]
        assert list(order.finish(seeds[2], (7, "lost", 0))) == list(order.finish(seeds[1], (6, "won", 12))) == []
        assert [due[0] for due in order.rest()] == [6, 7]

    @pytest.mark.skipif(not has_module("matplotlib"), reason="matplotlib is not installed")
    def test_the_plot_labels_a_game_by_its_result_not_its_level(self, tmp_path):
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as pyplot
        tally = records.Tally(3)
        for record in [(1, "lost", 12), (2, "won", 12), (3, "lost", 4)]:
            tally.add(record)
        plot.plot_levels(str(tmp_path / "levels"), tally, "title", pyplot)
        lost, won = pyplot.gcf().axes[0].containers
        assert (lost.get_label(), won.get_label()) == ("lost", "won")
        assert [bar.get_height() for bar in lost][4::8] == [1, 1] and [bar.get_height() for bar in won][12] == 1
        # The picture goes to the very name given, as a PNG, with no extension added.
        assert (tmp_path / "levels").read_bytes().startswith(b"\x89PNG")


class TestEvalEndings:
    def test_records_are_on_disk_while_the_run_goes_on_and_ctrl_c_keeps_them_all(self, tmp_path):
        out = tmp_path / "games.jsonl"
        # Three million games: queued all at once, the first would not even start within the wait.
        child = start("eval", "mcts", "random", "--games", "3000000", "--playouts", "100", "--jobs", "2",
                      "--out", str(out))
        read_until(child.stderr, b"] 32/3000000 games", seconds=60)
        # A record is written once every game before it has finished: a prefix of the games.
        written_while_running = len(out.read_text().splitlines())
        stdout, err = press_ctrl_c(child)
        assert child.returncode == 130, err
        assert "Traceback" not in err and "interrupted" in err
        finished = int(re.search(r"games: (\d+) of 3000000", stdout).group(1))
        records = out.read_text().splitlines()
        assert 1 <= written_while_running <= finished == len(records)
        assert all(re.fullmatch(r'\{"seed": \d+, "result": "(won|lost)", "level": \d+\}', line) for line in records)
        seeds = [json.loads(line)["seed"] for line in records]
        assert seeds[:written_while_running] == list(range(written_while_running)) and seeds == sorted(seeds)

    def test_ctrl_c_while_the_games_are_being_queued(self):
        child = start("eval", "random", "--games", "3000000", "--jobs", "2")
        read_until(child.stderr, b"game(s) on 2 process(es)")
        stdout, err = press_ctrl_c(child)
        assert child.returncode == 130
        assert "Traceback" not in err
        assert re.search(r"games: \d+ of 3000000", stdout)

    def test_ctrl_c_while_the_command_is_loading(self):
        child = start("eval", "random", "--games", "3000000")
        time.sleep(0.05)
        stdout, err = press_ctrl_c(child)
        # A signal before the interpreter has set up its own handling ends it as the signal does.
        assert child.returncode in (130, -signal.SIGINT)
        assert "Traceback" not in err

    def test_ctrl_c_while_the_command_defines_its_functions_ends_it_in_one_line(self):
        # The child sends itself Ctrl-C from the middle of the module's own definitions, after its
        # imports, where a timed signal from outside lands only now and then.
        code = (
            "import os, signal, sys\n"
            "def trace(frame, event, arg):\n"
            "    if frame.f_code.co_name != '<module>' or not frame.f_code.co_filename.endswith('evaluate.py'):\n"
            "        return None\n"
            "    if event == 'line' and 'add_parser' in frame.f_globals:\n"
            "        sys.settrace(None)\n"
            "        os.kill(os.getpid(), signal.SIGINT)\n"
            "    return trace\n"
            "sys.settrace(trace)\n"
            "import tornquil_cli\n"
            "print('loaded')\n"
        )
        run = subprocess.run([sys.executable, "-c", code], capture_output=True, env=environment(), timeout=60)
        err = run.stderr.decode()
        assert run.returncode == 130
        assert err.strip() == "interrupted"
        assert b"loaded" not in run.stdout

    def test_a_killed_worker_fails_its_game_and_the_others_still_play(self, tmp_path):
        whole, killed = tmp_path / "whole.csv", tmp_path / "killed.csv"
        arguments = ["eval", "random", "random", "--games", "20", "--seed", "100", "--jobs", "2"]
        assert tornquil_command(*arguments, "--out", str(whole)).returncode == 0
        run = tornquil_command(*arguments, "--out", str(killed),
                               env=environment(TORNQUIL_TEST_KILL_SEED="107"))
        out, err = run.stdout.decode(), run.stderr.decode()
        assert run.returncode == 1, err
        assert "games: 19 of 20\nfailed: 1\n" in out
        assert "the game with seed 107 failed: its worker process died" in err and "Traceback" not in err
        assert records_of(killed) == [line for line in records_of(whole) if not line.startswith("107,")]

    def test_a_worker_that_dies_on_the_first_game_leaves_a_run_of_one_failed_game(self, tmp_path):
        run = tornquil_command("eval", "random", "--games", "1", "--seed", "5", "--out", str(tmp_path / "g.csv"),
                               env=environment(TORNQUIL_TEST_KILL_SEED="5"))
        assert run.returncode == 1
        assert run.stdout.decode() == "games: 0 of 1\nfailed: 1\n"
        assert records_of(tmp_path / "g.csv") == []


class TestPlayEndings:
    # With hints, the console player is asked from Python: the endings must come through that seat too.
    @pytest.mark.parametrize("hints", [[], ["--hints", "--playouts", "30"]])
    def test_ctrl_c_at_a_persons_prompt_prints_one_line(self, hints):
        child = start("play", "human", "--seed", "2", *hints)
        read_until(child.stdout, b"Type number to select an action:")
        _, err = press_ctrl_c(child)
        assert child.returncode == 130
        assert err.strip() == "interrupted"

    def test_ctrl_c_while_a_search_thinks_prints_one_line(self):
        # The search finishes its decision first (a few seconds here), then the command stops.
        child = start("play", "mcts", "--playouts", "2000000", "--threads", "1", "--seed", "2")
        read_until(child.stdout, b"-- turn 1: seat 0 (mcts) --")
        _, err = press_ctrl_c(child)
        assert child.returncode == 130
        assert err.strip() == "interrupted"

    @pytest.mark.parametrize("hints", [[], ["--hints", "--playouts", "30"]])
    def test_the_end_of_input_prints_one_line(self, hints):
        run = tornquil_command("play", "random", "human", "--seed", "2", *hints, stdin_text="0\n")
        err = run.stderr.decode()
        assert run.returncode == 1
        assert len(err.strip().splitlines()) == 1 and err.startswith("tornquil play: input ended"), err

    def test_the_hinted_prompt_answers_what_it_cannot_use_as_the_console_player_does(self):
        typed = "abc\n" + "\t\"\\\x01é\n" + "7" * 70_000 + "\n" + " +999 \n" + "18446744073709551616\n" + "0\n" * 400

        def answers(*hints):
            run = tornquil_command("play", "human", "random", "--seed", "2", *hints, stdin_text=typed)
            assert run.returncode == 0, run.stderr.decode()
            return [line for line in run.stdout.decode().splitlines() if "Please try again!" in line]

        console = answers()
        assert len(console) == 5 and "(cut: a line longer than 65536 bytes)" in console[2]
        assert answers("--hints", "--playouts", "20") == console

    def test_hints_come_before_every_prompt_of_a_person(self):
        run = tornquil_command("play", "human", "random", "--hints", "--playouts", "60", "--seed", "2",
                               stdin_text="0\n" * 400)
        out = run.stdout.decode()
        assert run.returncode == 0, run.stderr.decode()
        prompts = out.count("Type number to select an action:")
        blocks = re.findall(r"hints from the search \(most visited first\):\n((?:  \d\. .*\n)+)=+\n", out)
        assert prompts >= 1 and len(blocks) == prompts
        for block in blocks:
            lines = block.splitlines()
            assert 1 <= len(lines) <= 3
            visits = [int(re.fullmatch(r"  \d\. .+: (\d+) visits, mean level \d+\.\d\d", line).group(1))
                      for line in lines]
            assert visits == sorted(visits, reverse=True) and sum(visits) <= 60
        assert "seat 1 (random) plays" in out


class TestStreams:
    # A search of 20,000 playouts writes its move well after the first line has been read.
    @pytest.mark.parametrize("arguments", [["play", "mcts", "--playouts", "20000", "--threads", "1", "--seed", "3"],
                                           ["eval", "random", "--games", "5000", "--jobs", "2", "--out", "/dev/stdout"]])
    def test_a_reader_that_goes_away_ends_the_command_quietly(self, arguments):
        child = start(*arguments)
        child.stdout.readline()
        child.stdout.close()  # as `| head -1` does once it has its line
        _, err = child.communicate(timeout=120)
        assert child.returncode == 141, err.decode()
        assert b"Traceback" not in err and b"Exception ignored" not in err

    @pytest.mark.parametrize("arguments", [["play", "random", "--seed", "3"], ["eval", "random", "--games", "2"],
                                           ["solve", "--seed", "1002"]])
    def test_a_full_standard_output_ends_the_command_in_one_line(self, arguments):
        with open("/dev/full", "w") as full:
            run = subprocess.run([str(COMMAND), *arguments], stdout=full, stderr=subprocess.PIPE, env=environment(),
                                 timeout=120)
        lines = [line for line in run.stderr.decode().splitlines() if line.startswith("tornquil:")]
        assert run.returncode == 1 and lines == ["tornquil: cannot write standard output: No space left on device"]
        assert "Traceback" not in run.stderr.decode()

    @pytest.mark.parametrize("variables", [{"PYTHONIOENCODING": "ascii"}, {"LC_ALL": "C", "PYTHONUTF8": "0"}])
    def test_an_output_without_the_suit_symbols_gets_a_stand_in_for_them(self, variables):
        run = tornquil_command("play", "random", "--seed", "3", env=environment(**variables))
        assert run.returncode == 0, run.stderr.decode()
        assert "plays Play(?" in run.stdout.decode("ascii") and "Result: " in run.stdout.decode("ascii")


class FakeSearch:
    made = []

    def __init__(self, *arguments, **keywords):
        if set(keywords) - self.accepted:
            raise TypeError("unexpected keyword")
        FakeSearch.made.append((arguments, keywords))


class TestSearchOptions:
    def options(self, *arguments):
        return tornquil_cli.build_parser().parse_args(["eval", *arguments])

    @pytest.fixture
    def fake_module(self, monkeypatch):
        FakeSearch.made, FakeSearch.accepted = [], set()
        module = types.SimpleNamespace(players=types.SimpleNamespace(MCTSPlayer=FakeSearch))
        monkeypatch.setattr(seats, "tornquil", module)
        return FakeSearch

    def test_the_new_keywords_reach_the_search_only_when_given(self, fake_module):
        fake_module.accepted = {"seconds", "information"}
        seats.make_player("mcts", self.options("--playouts", "7", "--threads", "2"), None)
        seats.make_player("mcts", self.options("--seconds", "0.5"), None)
        seats.make_player("mcts", self.options("--information", "own", "--no-heuristics"), None)
        assert fake_module.made == [((7, 2, True, 0), {}), ((500, 1, True, 0), {"seconds": 0.5}),
                                    ((500, 1, False, 0), {"information": "own"})]

    @pytest.mark.parametrize("arguments, refusal", [
        (["play", "random", "--hints"], "--hints needs a human seat"),
        (["play", "--hints"], "--hints needs a human seat"),
        (["play", "human", "--playouts", "10"], "--playouts: the search options need an mcts seat or --hints"),
        (["play", "random", "--no-heuristics", "--policy", "3"], "--no-heuristics, --policy: the search options"),
        (["eval", "random", "--threads", "2", "--seconds", "1", "--information", "own"],
         "--threads, --seconds, --information: the search options need an mcts seat"),
        (["eval", "random", "random", "--heuristics"], "--heuristics: the search options need an mcts seat"),
    ])
    def test_options_that_nothing_would_use_are_a_usage_error(self, arguments, refusal):
        run = tornquil_command(*arguments, "--seed", "1")
        err = run.stderr.decode()
        assert run.returncode == 2, err
        assert refusal in err and run.stdout == b""

    @pytest.mark.parametrize("arguments", [["play", "human", "--hints", "--playouts", "20", "--policy", "3"],
                                           ["play", "mcts", "random", "--threads", "1", "--playouts", "20"],
                                           ["eval", "random", "--games", "1", "--jobs", "1"]])
    def test_search_options_with_a_search_or_at_their_defaults_are_taken(self, arguments):
        run = tornquil_command(*arguments, "--seed", "1", stdin_text="0\n" * 400)
        assert run.returncode == 0, run.stderr.decode()

    def test_workers_get_the_new_options_too(self):
        settings = options.search_settings(self.options("--seconds", "1.5", "--information", "own"))
        assert (settings.seconds, settings.information) == (1.5, "own")
        assert not hasattr(settings, "parser")

    def test_a_seconds_budget_bounds_a_decision_with_endless_playouts(self):
        started = time.monotonic()
        run = tornquil_command("eval", "mcts", "--games", "1", "--playouts", str(10**8), "--seconds", "0.05",
                               "--seed", "3", timeout=300)
        assert run.returncode == 0, run.stderr.decode()
        assert "games: 1 of 1" in run.stdout.decode()
        assert time.monotonic() - started < 120

    @pytest.mark.parametrize("information", ["own", "full"])
    def test_both_kinds_of_information_play_games(self, information):
        run = tornquil_command("play", "mcts", "random", "--playouts", "50", "--information", information,
                               "--seed", "4")
        assert run.returncode == 0, run.stderr.decode()
        assert "Result: " in run.stdout.decode()


class TestProgress:
    def run_on_terminal(self, *arguments, env):
        controller, terminal = pty.openpty()
        # A new pseudo-terminal has no width, and a bar of no width shows nothing.
        fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
        child = subprocess.Popen([str(COMMAND), *arguments], stdout=subprocess.PIPE, stderr=terminal, env=env)
        os.close(terminal)
        shown = read_until_closed(controller)
        child.wait(120)
        os.close(controller)
        return child, shown.decode()

    @pytest.mark.skipif(not has_module("tqdm"), reason="tqdm is not installed")
    def test_a_terminal_gets_a_live_bar(self):
        child, shown = self.run_on_terminal("eval", "random", "--games", "40", env=environment())
        assert child.returncode == 0
        assert "\r" in shown and "100%" in shown and "40/40" in shown

    def test_without_tqdm_a_terminal_gets_plain_lines(self, tmp_path):
        child, shown = self.run_on_terminal("eval", "random", "--games", "40", env=environment(tmp_path, ["tqdm"]))
        assert child.returncode == 0
        assert "\r" not in shown.replace("\r\n", "\n") and "] 40/40 games" in shown

    def test_a_log_file_gets_a_few_plain_lines_and_no_frames(self):
        run = tornquil_command("eval", "random", "--games", "1000", "--jobs", "2")
        lines = run.stderr.decode().splitlines()
        assert "\r" not in run.stderr.decode()
        counts = [int(re.search(r"\] (\d+)/1000 games", line).group(1)) for line in lines if "/1000 games" in line]
        # Powers of two and every tenth, each once.
        assert counts == sorted({1, 2, 4, 8, 16, 32, 64, 128, 256, 512, *range(100, 1001, 100)})


class TestOptionalParts:
    def test_ray_missing_is_a_usage_error_saying_what_to_install(self, tmp_path):
        run = tornquil_command("eval", "random", "--games", "2", "--ray", env=environment(tmp_path, ["ray"]))
        assert run.returncode == 2
        assert "pip install 'tornquil[ray]'" in run.stderr.decode()

    def test_plot_missing_says_how_to_install_it(self, tmp_path):
        run = tornquil_command("eval", "random", "--games", "2", "--plot", str(tmp_path / "levels.png"),
                               env=environment(tmp_path, ["matplotlib"]))
        assert run.returncode == 1
        assert "pip install 'tornquil[plot]'" in run.stderr.decode()
        assert not (tmp_path / "levels.png").exists()

    def test_the_plot_title_names_the_players_the_games_and_the_win_rate(self):
        options = argparse.Namespace(playouts=300, threads=2, heuristics=False, policy=3)
        tally = records.Tally(40)
        for level in [12] * 10 + [3] * 30:
            tally.add((0, "won" if level == 12 else "lost", level))
        title = plot.plot_title(["mcts", "random"], options, tally)
        assert title == ("mcts random; search: 300 playouts, 2 thread(s), heuristics off, policy 3\n"
                         "40 games, won 10 (25.0%, 95% confidence interval 14.2% to 40.2%)")
        assert plot.plot_title(["random"], options, tally).startswith("random\n40 games")
        options.seconds, options.information = 0.5, "own"
        assert plot.plot_title(["mcts"], options, tally).startswith(
            "mcts; search: 300 playouts, 2 thread(s), heuristics off, policy 3, at most 0.5 s a decision, own information\n")

    @pytest.mark.skipif(not has_module("matplotlib"), reason="matplotlib is not installed")
    @pytest.mark.slow
    def test_the_plot_is_drawn(self, tmp_path):
        run = tornquil_command("eval", "random", "--games", "30", "--plot", str(tmp_path / "levels.png"))
        assert run.returncode == 0, run.stderr.decode()
        assert (tmp_path / "levels.png").read_bytes().startswith(b"\x89PNG")


def test_the_win_rate_interval_matches_the_wilson_score_formula():
    assert records.wilson_interval(0, 0) == (0.0, 1.0)
    low, high = records.wilson_interval(10, 40)
    assert math.isclose(low, 0.1419, abs_tol=1e-4) and math.isclose(high, 0.4019, abs_tol=1e-4)
    assert records.wilson_interval(40, 40)[1] == 1.0


@pytest.mark.skipif(not has_module("ray"), reason="Ray is not installed (pip install 'tornquil[ray]')")
@pytest.mark.slow
class TestRay:
    def test_ray_tasks_write_the_same_records_as_local_processes(self, tmp_path):
        local, on_ray = tmp_path / "local.csv", tmp_path / "ray.csv"
        arguments = ["eval", "random", "--games", "50", "--seed", "70", "--jobs", "2"]
        first = tornquil_command(*arguments, "--out", str(local))
        # A local Ray instance of --jobs CPUs: two.
        second = tornquil_command(*arguments, "--out", str(on_ray), "--ray", timeout=300)
        assert second.returncode == 0, second.stderr.decode()
        assert "as Ray tasks on a local Ray instance with 2 CPU(s)" in second.stderr.decode()
        assert on_ray.read_text() == local.read_text()
        assert second.stdout == first.stdout

    def test_ctrl_c_cancels_the_remaining_tasks_and_reports_what_finished(self, tmp_path):
        out = tmp_path / "games.csv"
        child = start("eval", "mcts", "--games", "5000", "--playouts", "2000", "--jobs", "2", "--ray",
                      "--out", str(out))
        read_until(child.stderr, b"] 4/5000 games", seconds=240)
        stdout, err = press_ctrl_c(child)
        assert child.returncode == 130, err
        assert "Traceback" not in err
        finished = int(re.search(r"games: (\d+) of 5000", stdout).group(1))
        assert 4 <= finished == len(records_of(out)) < 5000

    def test_a_cluster_at_an_address_plays_the_same_games(self, tmp_path):
        local, on_cluster = tmp_path / "local.csv", tmp_path / "cluster.csv"
        arguments = ["eval", "random", "--games", "50", "--seed", "90", "--jobs", "2"]
        tornquil_command(*arguments, "--out", str(local))
        # The test's own cluster, on this machine only, for its own commands: no sign-in needed.
        env = environment(RAY_AUTH_MODE="disabled")
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        port = listener.getsockname()[1]
        listener.close()
        head = subprocess.Popen([str(COMMAND.with_name("ray")), "start", "--head", "--port", str(port), "--num-cpus", "2",
                                 "--include-dashboard", "false", "--disable-usage-stats", "--block"],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, start_new_session=True)
        try:
            read_until(head.stdout, b"--block", seconds=120)
            run = tornquil_command(*arguments, "--out", str(on_cluster), "--ray", f"127.0.0.1:{port}", env=env,
                                   timeout=300)
        finally:
            os.killpg(head.pid, signal.SIGTERM)
            head.communicate(timeout=120)
        assert run.returncode == 0, run.stderr.decode()
        assert f"on the Ray cluster at 127.0.0.1:{port} with 2 CPU(s)" in run.stderr.decode()
        assert on_cluster.read_text() == local.read_text()

    def test_seats_after_ray_are_taken_for_an_address_and_refused(self):
        run = tornquil_command("eval", "--ray", "random")
        assert run.returncode == 2
        assert "put the seats before --ray" in run.stderr.decode()


def test_the_readme_documents_every_option_of_play_eval_and_bench():
    readme = (pathlib.Path(__file__).resolve().parents[2] / "README.md").read_text()
    section = readme.split("## The command line\n", 1)[1].split("\n## ", 1)[0]
    commands = tornquil_cli.build_parser()._subparsers._group_actions[0].choices
    for name, parser in commands.items():
        for action in parser._actions:
            for flag in action.option_strings:
                if flag not in ("-h", "--help"):
                    assert f"`{flag}" in section, (name, flag)
