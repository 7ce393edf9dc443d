"""`tornquil solve`, run as a user would: one deal and its line, many deals with their records and
summary, and every way such a run can end."""

import json
import pathlib
import re
import subprocess

import pytest

import tornquil
from conftest import COMMAND, press_ctrl_c, read_until, start_command, tornquil_command
from conftest import command_environment as environment
from tornquil_cli import records, solve
from tornquil_solver import solve as solve_deal

# With 20,000 nodes a deal these give every verdict: for one player two wins, a loss (1016) and two
# unknowns (1014, 1018); for two players five wins.
MIXED = ["--players", "1,2", "--deals", "1014-1018", "--nodes", "20000", "--jobs", "2"]
MIXED_DEALS = [(players, seed) for seed in range(1014, 1019) for players in (1, 2)]


class Reader:
    """Plays a printed line, each action found by its text among those the state offers."""

    def __init__(self, line):
        self.line = line

    def play(self, state):
        text = self.line.pop(0)
        return next(action for action in state.action_space() if str(action) == text)


@pytest.mark.parametrize("players, seed, nodes", [(3, 1000, 10**7), (1, 1016, 10**7), (2, 1002, 1000), (4, 5, 0)])
def test_one_deal_prints_the_budget_and_the_solvers_verdict_and_line_which_read_back_wins(players, seed, nodes):
    run = tornquil_command("solve", "--players", str(players), "--seed", str(seed), "--nodes", str(nodes))
    assert run.returncode == 0, run.stderr.decode()
    header, verdict, *line = run.stdout.decode().splitlines()
    expected = solve_deal(players=players, seed=seed, nodes=nodes)
    assert header == f"tornquil solve: {players} player(s), seed {seed}; budget {nodes} nodes, no time limit, table 256 MiB"
    assert re.fullmatch(rf"{expected.verdict}: best level {expected.best_level} of 12, {expected.nodes} nodes, \d+\.\d{{3}} s",
                        verdict)
    assert line == [str(action) for action in expected.line]
    if expected.verdict == "Won":
        assert tornquil.TornquilGame([Reader(line)] * players, seed).playout() == 0 and line == []


@pytest.mark.parametrize("arguments, message", [
    (["--deals", "5-1"], "A at most B, got 5-1"), (["--deals", "1-2-3"], "range of seeds A-B within"),
    (["--deals", f"0-{2**64}"], "range of seeds"), (["--players", "1,1"], "each player count once"),
    (["--players", "2,5", "--deals", "1"], "from 1 to 4"), (["--players", "1,2"], "one deal has one player count"),
    (["--nodes", "-1"], "from 0 to 18446744073709551615"), (["--table-mib", "1048577"], "from 1 to 1048576"),
    (["--seconds", "0"], "above 0"), (["--deals", "1-2", "--seed", "4"], "--seed: with --deals"),
    (["--out", "x.csv", "--jobs", "2", "--ray"], "--jobs, --out, --ray: only for a run of many deals"),
    (["--deals", "1", "--out", "/"], "cannot write /"),
])
def test_bad_options_are_a_usage_error_before_any_deal(arguments, message):
    run = tornquil_command("solve", *arguments)
    err = run.stderr.decode()
    assert run.returncode == 2 and message in err and "usage: tornquil solve" in err, err
    assert run.stdout == b"" and "deal(s) on" not in err


def test_deals_are_handed_out_seed_by_seed_and_never_listed():
    order = records.DealOrder(2**64 - 2, 2**64 - 1, [3, 1])
    taken = list(iter(order.take, None))
    assert order.total == 4 and taken == [(3, 2**64 - 2), (1, 2**64 - 2), (3, 2**64 - 1), (1, 2**64 - 1)]
    everything = records.DealOrder(0, 2**64 - 1, [1, 2, 3, 4])
    assert everything.total == 2**66 and len(list(iter(everything.take, None))) == everything.window
    assert [everything.index(deal) for deal in [(1, 0), (4, 1), (2, 2**64 - 1)]] == [0, 7, 2**66 - 3]


def expected_record(players, seed):
    """A deal's record as the module's own solver finds it, without the seconds."""
    solution = solve_deal(players=players, seed=seed, nodes=20000)
    return players, seed, solution.verdict.upper(), solution.best_level, solution.nodes, len(solution.line)


def deal_records(path):
    lines = path.read_text().splitlines()
    if path.suffix == ".jsonl":
        return [tuple(json.loads(line).values()) for line in lines]
    assert lines[0] == "players,seed,verdict,best_level,nodes,seconds,line_length"
    return [tuple(int(field) if field.isdigit() else field for field in line.split(",")) for line in lines[1:]]


@pytest.mark.parametrize("name", ["deals.csv", "deals.jsonl"])
def test_many_deals_write_their_records_in_order_and_the_floor_and_roof_of_each_player_count(tmp_path, name):
    run = tornquil_command("solve", *MIXED, "--out", str(tmp_path / name))
    assert run.returncode == 0, run.stderr.decode()
    written = deal_records(tmp_path / name)
    assert [record[:5] + record[6:] for record in written] == [expected_record(*deal) for deal in MIXED_DEALS]
    assert run.stdout.decode().splitlines()[1:] == [
        "| players | deals | won | lost | unknown | floor: won | roof: won + unknown |", "|---" * 7 + "|",
        "| 1 | 5 | 2 | 1 | 2 | 40.0% [11.8, 76.9] | 80.0% [37.6, 96.4] |",
        "| 2 | 5 | 5 | 0 | 0 | 100.0% [56.6, 100.0] | 100.0% [56.6, 100.0] |"]


def test_a_killed_worker_fails_its_deals_and_the_others_are_solved(tmp_path):
    run = tornquil_command("solve", *MIXED, "--out", str(tmp_path / "deals.csv"),
                           env=environment(TORNQUIL_TEST_KILL_SEED="1016"))
    out, err = run.stdout.decode(), run.stderr.decode()
    assert run.returncode == 1 and "Traceback" not in err
    assert all(f"the deal of {players} player(s) with seed 1016 failed: its worker process died" in err
               for players in (1, 2))
    assert out.startswith("deals: 8 of 10 (") and "\nfailed: 2\n" in out
    assert "| 1 | 4 | 2 | 0 | 2 | 1 | 50.0% [15.0, 85.0] | 100.0% [51.0, 100.0] |" in out
    assert [record[:2] for record in deal_records(tmp_path / "deals.csv")] == [
        deal for deal in MIXED_DEALS if deal[1] != 1016]


def test_ctrl_c_stops_one_long_solve_at_once():
    # Hours of budget for a deal that takes the solver several seconds.
    child = start_command("solve", "--players", "1", "--seed", "13", "--nodes", str(2**64 - 1))
    read_until(child.stdout, b"\n")
    _, err = press_ctrl_c(child)
    assert child.returncode == 130 and err.strip() == "interrupted"


def test_ctrl_c_on_the_widest_range_keeps_every_finished_record_and_summarises_them(tmp_path):
    out = tmp_path / "deals.jsonl"
    child = start_command("solve", "--players", "1,2,3,4", "--deals", f"0-{2**64 - 1}", "--jobs", "2", "--out", str(out))
    read_until(child.stderr, b"] 16/73786976294838206464 deals", seconds=120)
    stdout, err = press_ctrl_c(child)
    assert child.returncode == 130 and "Traceback" not in err and "interrupted" in err
    solved = int(re.match(r"deals: (\d+) of 73786976294838206464", stdout).group(1))
    rows = [int(row.split(" | ")[1]) for row in stdout.splitlines()[3:]]
    # Seed by seed: the player counts differ by the deals in flight at most, four for each worker.
    assert 16 <= solved == sum(rows) == len(deal_records(out)) and max(rows) - min(rows) <= 8


def test_records_to_a_shell_log_come_before_the_summary_and_keep_what_was_there(tmp_path):
    log = tmp_path / "log"
    log.write_text("before\n")
    with open(log, "a") as appended:
        run = subprocess.run([str(COMMAND), "solve", *MIXED, "--out", "/dev/stdout"], stdout=appended,
                             stderr=subprocess.PIPE, env=environment(), timeout=180)
    assert run.returncode == 0, run.stderr.decode()
    lines = log.read_text().splitlines()
    assert lines[:2] == ["before", "players,seed,verdict,best_level,nodes,seconds,line_length"]
    assert lines[12].startswith("deals: 10 of 10 (") and len(lines) == 17


@pytest.mark.parametrize("arguments", [["--players", "1", "--seed", "13"],
                                       ["--deals", "0-99999", "--jobs", "2", "--out", "/dev/stdout"]])
def test_a_reader_that_goes_away_ends_the_command_quietly(arguments):
    child = start_command("solve", *arguments)
    child.stdout.readline()
    child.stdout.close()  # as `| head -1` does once it has its line
    _, err = child.communicate(timeout=120)
    assert child.returncode == 141 and b"Traceback" not in err and b"Exception ignored" not in err, err


def test_the_readmes_ceiling_table_has_the_columns_of_the_summary():
    readme = (pathlib.Path(__file__).resolve().parents[2] / "README.md").read_text()
    table = solve.Ceiling([1]).table()
    assert f"{table[0]}\n{table[1]}\n" in readme.split("### The ceiling\n", 1)[1]
