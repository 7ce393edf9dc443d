"""`tornquil eval`: many seeded games on several processes or as Ray tasks, with a summary, the
records of every game and a plot."""

from __future__ import annotations

import argparse
import os
import sys
from typing import Any

from . import options as shared
from .options import INTERRUPTED
from .plot import picture_type, plot_levels, plot_problem, plot_title
from .progress import Progress
from .records import GameOrder, Record, RecordFile, Tally, open_records
from .runners import Interruption, game_outcomes, gather, ray_if_asked
from .seats import MAX_LEVEL, SEAT_KINDS, UNATTENDED_KINDS

ENDINGS = ("exit status: 0 when every game was played, 1 when a game failed or a file could not be written,"
           " 2 for a usage error (found before the first game), 130 after Ctrl-C (the summary still shows"
           " the games that finished), 141 when standard output was closed early")


def add_parser(commands: Any) -> None:
    parser = commands.add_parser("eval", help="play many seeded games and report how the players fare",
                                 epilog=ENDINGS)
    shared.add_seats(parser, UNATTENDED_KINDS)
    parser.add_argument("--games", type=shared.whole_number(1, shared.GAMES_MAX), default=100,
                        help=f"games to play, 1..{shared.GAMES_MAX} (default 100)")
    shared.add_seed(parser, 0, "seed of the first game, 0..2**64-1; game i has seed + i (default 0)")
    shared.add_jobs(parser, "games")
    parser.add_argument("--out", metavar="FILE", type=shared.file_name,
                        help="write every game's seed, result and level, in the order of the games (.csv or .jsonl)")
    parser.add_argument("--plot", metavar="FILE.png", type=shared.file_name,
                        help="draw the histogram of levels (needs matplotlib)")
    shared.add_ray(parser, "play the games")
    shared.add_search_options(parser, playouts=500, threads=1)
    parser.set_defaults(run=command_eval, parser=parser)


def same_file(first: str, second: str) -> bool:
    if os.path.realpath(first) == os.path.realpath(second):
        return True
    try:
        return os.path.samefile(first, second)
    except OSError:
        return False


def check_destinations(parser: argparse.ArgumentParser, options: argparse.Namespace) -> None:
    if options.plot:
        problem = plot_problem(options.plot)
        if problem:
            parser.error(f"argument --plot: cannot write {options.plot}: {problem}")
        if options.out and same_file(options.out, options.plot):
            parser.error(f"--out {options.out} and --plot {options.plot} name the same file: the picture would"
                         " overwrite the records")


def load_pyplot(parser: argparse.ArgumentParser, path: str) -> Any:
    """matplotlib's pyplot, or None when it is not installed (said on standard error)."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as pyplot
    except ImportError:
        print("tornquil eval: --plot needs matplotlib; install it with: pip install 'tornquil[plot]'"
              " (or pip install matplotlib)", file=sys.stderr)
        return None
    if picture_type(path, pyplot) is None:
        kinds = ", ".join(sorted(pyplot.FigureCanvasBase.get_supported_filetypes()))
        parser.error(f"argument --plot: cannot write {path}: an unknown picture type (known: {kinds})")
    return pyplot


def command_eval(options: argparse.Namespace) -> int:
    seats = shared.seats_of(options)
    parser = options.parser
    if "human" in seats:
        parser.error("eval plays without a person: use mcts, fair, full or random seats")
    if options.ray in SEAT_KINDS:
        parser.error(f"--ray took {options.ray!r} for the address of a Ray cluster: put the seats before --ray")
    check_destinations(parser, options)
    # From here on a Ctrl-C only asks the run to stop, even while Ray or matplotlib is imported or
    # Ray starts: whatever the moment, the run ends through the summary.
    with Interruption() as interruption:
        ray = ray_if_asked(parser, options)
        pyplot: Any = None
        if options.plot:
            pyplot = load_pyplot(parser, options.plot)
            if pyplot is None:
                return 1
        records = open_records(parser, options.out)
        try:
            return evaluate(options, seats, records, ray, pyplot, interruption)
        finally:
            if records is not None:
                records.close()


def evaluate(options: argparse.Namespace, seats: list[str], records: RecordFile | None, ray: Any,
             pyplot: Any, interruption: Interruption) -> int:
    tally = Tally(options.games)
    order = GameOrder(options.seed, options.games)
    outcomes = game_outcomes(options, seats, ray, order, interruption, shared.search_settings(options))

    def count(seed: int, record: Record | None) -> None:
        if record is None:
            tally.failed += 1
        else:
            tally.add(record)

    status = gather(outcomes, order, records, Progress(options.games), count,
                    lambda seed: f"the game with seed {seed}", "eval")
    if interruption.requested:
        print("interrupted", file=sys.stderr, flush=True)
    summarise(tally)
    sys.stdout.flush()
    if pyplot is not None and tally.games:
        try:
            plot_levels(options.plot, tally, plot_title(seats, options, tally), pyplot)
        except (OSError, ValueError) as error:  # matplotlib refuses what it cannot draw by ValueError
            print(f"tornquil eval: cannot write {options.plot}: {getattr(error, 'strerror', None) or error}",
                  file=sys.stderr)
            status = 1
    if interruption.requested:
        return INTERRUPTED
    return 1 if status or tally.failed else 0


def summarise(tally: Tally) -> None:
    games = tally.games
    print(f"games: {games} of {tally.total}")
    if tally.failed:
        print(f"failed: {tally.failed}")
    if games == 0:
        return
    print(f"won: {tally.wins} ({tally.win_rate_text()})")
    mean = sum(level * count for level, count in enumerate(tally.levels)) / games
    print(f"mean level reached: {mean:.2f} of {MAX_LEVEL}")
    print("levels reached:")
    widest = max(tally.levels)
    for value, count in enumerate(tally.levels):
        bar = "#" * (40 * count // widest if widest else 0)
        print(f"  {value:2d} | {count:5d} {bar}")
