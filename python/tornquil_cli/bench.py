"""`tornquil bench`: search playouts per second at one and two threads."""

from __future__ import annotations

import argparse
import statistics
import time
from typing import Any

import tornquil

from . import options as shared


def add_parser(commands: Any) -> None:
    parser = commands.add_parser("bench", help="search playouts per second at one and two threads")
    parser.add_argument("--runs", type=shared.whole_number(1, shared.RUNS_MAX), default=3,
                        help=f"runs per figure, 1..{shared.RUNS_MAX} (default 3)")
    parser.set_defaults(run=command_bench)


def first_state() -> Any:
    """The first state of a seeded two-player game."""
    held: list[Any] = []

    class Grab:
        def play(self, state: Any) -> Any:
            held.append(state)
            raise StopIteration

    try:
        tornquil.TornquilGame([Grab(), Grab()], 1).playout()
    except StopIteration:
        pass
    return held[0]


def command_bench(options: argparse.Namespace) -> int:
    state = first_state()
    print(f"tornquil search benchmark: a new two-player game, median of {options.runs} runs (min .. max)\n")
    print("| playouts | threads | heuristics | playouts/s |")
    print("|---|---|---|---|")
    medians: dict[tuple[int, int, bool], float] = {}
    for playouts in (10_000, 100_000):
        for heuristics in (False, True):
            for threads in (1, 2):
                rates = []
                for _ in range(options.runs):
                    player = tornquil.players.MCTSPlayer(playouts, threads, heuristics)
                    start = time.perf_counter()
                    player.play(state)
                    rates.append(playouts / (time.perf_counter() - start))
                medians[playouts, threads, heuristics] = statistics.median(rates)
                print(f"| {playouts} | {threads} | {'on' if heuristics else 'off'} | "
                      f"{statistics.median(rates):,.0f} ({min(rates):,.0f} .. {max(rates):,.0f}) |", flush=True)
    print()
    for playouts in (10_000, 100_000):
        for heuristics in (False, True):
            speed_up = medians[playouts, 2, heuristics] / medians[playouts, 1, heuristics]
            print(f"speed-up from 1 to 2 threads, {playouts} playouts, heuristics {'on' if heuristics else 'off'}: {speed_up:.2f}")
    return 0
