"""`tornquil solve`: the full-information solver from the command line: one deal, shown with its
verdict and line, or many deals on several processes or as Ray tasks, with the records of every deal
and, per player count, the share of deals won with its bounds."""

from __future__ import annotations

import argparse
import random
import sys
from typing import Any

import tornquil_solver

from . import options as shared
from .options import INTERRUPTED, Given
from .progress import Progress
from .records import DealOrder, RecordFile, open_records, share_text
from .runners import Interruption, gather, in_worker, kill_if_asked, ray_if_asked, task_outcomes
from .seats import MAX_LEVEL

ENDINGS = ("exit status: 0 when every deal was solved, whatever the verdicts (Unknown too), 1 when a deal failed"
           " or a file could not be written, 2 for a usage error (found before the first deal), 130 after Ctrl-C"
           " (with --deals the summary still shows the deals that finished), 141 when standard output was"
           " closed early")
DEAL_COLUMNS = ("players", "seed", "verdict", "best_level", "nodes", "seconds", "line_length")
# The records spell the verdicts as the solver benchmark's CSV does, so that the files of both compare.
RECORD_VERDICTS = {tornquil_solver.Verdict.WON: "WON", tornquil_solver.Verdict.LOST: "LOST",
                   tornquil_solver.Verdict.UNKNOWN: "UNKNOWN"}
NODES_DEFAULT = 10_000_000
TABLE_MIB_DEFAULT = 256


def add_parser(commands: Any) -> None:
    parser = commands.add_parser(
        "solve", epilog=ENDINGS,
        help="solve deals with every card known: one deal and its line, or many and the share that can be won")
    parser.set_defaults(given={}, run=command_solve, parser=parser)
    parser.add_argument("--players", type=shared.player_counts, default=[2], metavar="N[,N...]",
                        help=f"players, 1..{shared.PLAYERS_MAX}; with --deals a list such as 1,2,3,4 (default 2)")
    shared.add_seed(parser, None, "the deal's seed, 0..2**64-1 (default: a random one, shown)")
    budget = parser.add_argument_group("budget of each deal (whichever ends first)")
    budget.add_argument("--nodes", type=shared.whole_number(0, shared.NODES_MAX), default=NODES_DEFAULT,
                        metavar="N", help=f"positions generated, 0..2**64-1 (default {NODES_DEFAULT:,})")
    budget.add_argument("--seconds", type=shared.seconds_value, metavar="S",
                        help=f"wall-clock seconds, above 0 and at most {shared.SECONDS_MAX:g} (default: none)")
    budget.add_argument("--table-mib", type=shared.whole_number(1, shared.TABLE_MIB_MAX), default=TABLE_MIB_DEFAULT,
                        metavar="M", help=f"MiB for the table of positions proved lost, 1..{shared.TABLE_MIB_MAX}"
                                          f" (default {TABLE_MIB_DEFAULT}; one table per process)")
    many = parser.add_argument_group("many deals")
    many.add_argument("--deals", type=shared.seed_range, metavar="A-B",
                      help="solve the deals of the seeds A to B (or of one seed) for every player count given,"
                           " and print per player count the share won")
    shared.add_jobs(many, "deals", action=Given)
    many.add_argument("--out", metavar="FILE", type=shared.file_name,
                      help="write every deal's players, seed, verdict, best level, nodes, seconds and line length,"
                           " in the order of the deals (.csv or .jsonl)")
    shared.add_ray(many, "solve the deals")


def budget_text(options: argparse.Namespace) -> str:
    time = f"{options.seconds:g} s" if options.seconds is not None else "no time limit"
    return f"{options.nodes} nodes, {time}, table {options.table_mib} MiB"


def check_options(parser: argparse.ArgumentParser, options: argparse.Namespace) -> None:
    if options.deals is None:
        if len(options.players) > 1:
            parser.error("--players: one deal has one player count; give --deals to solve many")
        idle = [flag for flag, given in (("--jobs", "jobs" in options.given), ("--out", options.out is not None),
                                         ("--ray", options.ray is not None)) if given]
        if idle:
            parser.error(f"{', '.join(idle)}: only for a run of many deals (--deals)")
    elif options.seed is not None:
        parser.error("--seed: with --deals the seeds are those of the range")


def command_solve(options: argparse.Namespace) -> int:
    check_options(options.parser, options)
    if options.deals is None:
        return solve_one(options)
    return solve_many(options)


def solve_one(options: argparse.Namespace) -> int:
    seed = options.seed if options.seed is not None else random.randrange(2**64)
    players = options.players[0]
    print(f"tornquil solve: {players} player(s), seed {seed}; budget {budget_text(options)}", flush=True)
    # A Ctrl-C stops the solver within a few hundredths of a second, as KeyboardInterrupt: the
    # command's own handling ends it with one line.
    solution = tornquil_solver.solve(players=players, seed=seed, nodes=options.nodes, seconds=options.seconds,
                                     table_mib=options.table_mib)
    print(f"{solution.verdict}: best level {solution.best_level} of {MAX_LEVEL}, {solution.nodes} nodes,"
          f" {solution.seconds:.3f} s")
    for action in solution.line:
        print(action)
    sys.stdout.flush()
    return 0


class DealCall:
    """One deal of the run, as a picklable callable for worker processes and Ray tasks."""

    def __init__(self, nodes: int, seconds: float | None, table_mib: int) -> None:
        self.nodes, self.seconds, self.table_mib = nodes, seconds, table_mib

    def __call__(self, deal: tuple[int, int]) -> tuple[Any, ...]:
        kill_if_asked(deal[1])
        return in_worker(self.solve, deal)

    def solve(self, deal: tuple[int, int]) -> tuple[Any, ...]:
        players, seed = deal
        solution = tornquil_solver.solve(players=players, seed=seed, nodes=self.nodes, seconds=self.seconds,
                                         table_mib=self.table_mib)
        return (players, seed, RECORD_VERDICTS[solution.verdict], solution.best_level, solution.nodes,
                round(solution.seconds, 3), len(solution.line))


class Ceiling:
    """The verdicts of each player count: counts only, so that a run of any length fits in memory."""

    def __init__(self, player_counts: list[int]) -> None:
        self.counts = {players: dict.fromkeys(("WON", "LOST", "UNKNOWN", "failed"), 0) for players in player_counts}

    def count(self, deal: tuple[int, int], record: tuple[Any, ...] | None) -> None:
        self.counts[deal[0]]["failed" if record is None else record[2]] += 1

    @property
    def failed(self) -> int:
        return sum(verdicts["failed"] for verdicts in self.counts.values())

    @property
    def solved(self) -> int:
        return sum(sum(verdicts.values()) - verdicts["failed"] for verdicts in self.counts.values())

    def table(self) -> list[str]:
        """The summary as the README's ceiling table: the floor counts the deals won, the roof those that
        may yet be won (won or unknown), each of the deals solved, with its 95% Wilson interval."""
        failures = self.failed > 0
        head = "| players | deals | won | lost | unknown |" + (" failed |" if failures else "")
        rows = [head + " floor: won | roof: won + unknown |",
                "|---" * (7 + failures) + "|"]
        for players, verdicts in self.counts.items():
            won, lost, unknown = verdicts["WON"], verdicts["LOST"], verdicts["UNKNOWN"]
            deals = won + lost + unknown
            failed = f" {verdicts['failed']} |" if failures else ""
            rows.append(f"| {players} | {deals} | {won} | {lost} | {unknown} |{failed} "
                        f"{share_text(won, deals)} | {share_text(won + unknown, deals)} |")
        return rows


def solve_many(options: argparse.Namespace) -> int:
    parser = options.parser
    # From here on a Ctrl-C only asks the run to stop, even while Ray is imported or starts: whatever
    # the moment, the run ends through the summary.
    with Interruption() as interruption:
        ray = ray_if_asked(parser, options)
        records = open_records(parser, options.out, DEAL_COLUMNS)
        try:
            return run_deals(options, records, ray, interruption)
        finally:
            if records is not None:
                records.close()


def run_deals(options: argparse.Namespace, records: RecordFile | None, ray: Any, interruption: Interruption) -> int:
    first, last = options.deals
    order = DealOrder(first, last, options.players)
    ceiling = Ceiling(options.players)
    call = DealCall(options.nodes, options.seconds, options.table_mib)
    outcomes = task_outcomes(call, order, options.jobs, ray, options.ray, interruption, "solve", "deal(s)")
    status = gather(outcomes, order, records, Progress(order.total, "deal"), ceiling.count,
                    lambda deal: f"the deal of {deal[0]} player(s) with seed {deal[1]}", "solve")
    if interruption.requested:
        print("interrupted", file=sys.stderr, flush=True)
    seeds = f"{first}-{last}" if last != first else str(first)
    print(f"deals: {ceiling.solved} of {order.total} (players {','.join(map(str, options.players))};"
          f" seeds {seeds}; budget {budget_text(options)} a deal)")
    if ceiling.failed:
        print(f"failed: {ceiling.failed}")
    print("\n".join(ceiling.table()), flush=True)
    if interruption.requested:
        return INTERRUPTED
    return 1 if status or ceiling.failed else 0
