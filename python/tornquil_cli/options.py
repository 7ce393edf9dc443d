"""What the commands share on their command lines: the ranges, the parsers of numbers, seats, player
counts and seed ranges, the options of runs on many processes, the search options, and the checks
that refuse options that would change nothing."""

from __future__ import annotations

import argparse
import os
from typing import Any, Callable, Sequence

# The ranges of the numeric options; the module's own limits where it has them.
PLAYOUTS_MAX = 2**32 - 1
THREADS_MAX = 256  # the search starts at most this many workers
SEED_MAX = 2**64 - 1
GAMES_MAX = 10**9
JOBS_MAX = 256
RUNS_MAX = 1000
SECONDS_MAX = 86_400.0  # a day per decision: beyond any use, and far from any clock's overflow
PLAYERS_MAX = 4
NODES_MAX = 2**64 - 1
TABLE_MIB_MAX = 1_048_576  # the solver's own limit: a table of 1 TiB
INFORMATION_KINDS = ("own", "full")
SEARCH_OPTIONS = ("playouts", "threads", "heuristics", "policy", "seconds", "information")
# The options each kind of seat uses; the others would change nothing. A fair or full seat without
# --seconds decides in DEFAULT_DECISION_SECONDS (seats.py).
OPTIONS_OF_KIND = {
    "mcts": SEARCH_OPTIONS,
    "fair": ("threads", "seconds"),
    "full": ("seconds",),
}

INTERRUPTED = 130


def whole_number(low: int, high: int) -> Callable[[str], int]:
    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None
        if not low <= value <= high:
            raise argparse.ArgumentTypeError(f"expected a whole number from {low} to {high}, got {text}")
        return value

    return parse


def seconds_value(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number of seconds, got {text!r}") from None
    # The comparison is false for nan as well.
    if not 0 < value <= SECONDS_MAX:
        raise argparse.ArgumentTypeError(f"expected a number of seconds above 0 and at most {SECONDS_MAX:g}, got {text}")
    return value


def player_counts(text: str) -> list[int]:
    """One player count or a comma-separated list of them, each once, in the order given."""
    count = whole_number(1, PLAYERS_MAX)
    counts = [count(part) for part in text.split(",")]
    if len(set(counts)) != len(counts):
        raise argparse.ArgumentTypeError(f"expected each player count once, got {text}")
    return counts


def seed_range(text: str) -> tuple[int, int]:
    """`A-B`, the seeds A to B with both ends, or `A` alone; never reversed, so that a slip of the
    keyboard is a usage error rather than an empty run that looks like a finished one."""
    first, dash, last = text.partition("-")
    seed = whole_number(0, SEED_MAX)
    try:
        low, high = seed(first), seed(last) if dash else seed(first)
    except argparse.ArgumentTypeError:
        raise argparse.ArgumentTypeError(
            f"expected a seed or a range of seeds A-B within 0..{SEED_MAX}, got {text!r}") from None
    if high < low:
        raise argparse.ArgumentTypeError(f"expected a range of seeds A-B with A at most B, got {text}")
    return low, high


def file_name(text: str) -> str:
    # An empty name would otherwise read as "no file" and the run would silently write nothing.
    if not text:
        raise argparse.ArgumentTypeError("expected a file name, got an empty one")
    return text


def add_jobs(parser: argparse.ArgumentParser, units: str, action: Any = "store") -> None:
    parser.add_argument("--jobs", type=whole_number(1, JOBS_MAX), default=min(os.cpu_count() or 1, JOBS_MAX),
                        action=action,
                        help=f"processes, 1..{JOBS_MAX}, never more than {units} (default: one per core)")


def add_ray(parser: argparse.ArgumentParser, what: str) -> None:
    parser.add_argument("--ray", nargs="?", const="", metavar="ADDRESS",
                        help=f"{what} as Ray tasks on the cluster at ADDRESS, or on a local Ray instance"
                             " of --jobs CPUs when none is given (needs: pip install 'tornquil[ray]')")


def seat_kind(allowed: Sequence[str]) -> Any:
    def parse(text: str) -> str:
        if text not in allowed:
            raise argparse.ArgumentTypeError(f"invalid seat {text!r} (choose from {', '.join(allowed)})")
        return text

    return parse


def note_given(namespace: argparse.Namespace, dest: str, option_string: str | None) -> None:
    # A fresh mapping each time: one among the parser's defaults would be shared by every parse.
    namespace.given = {**getattr(namespace, "given", {}), dest: option_string}


class Given(argparse.Action):
    """Stores the value like argparse's own store, and notes that the user gave the option, which a
    default alone cannot tell."""

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: str | None = None) -> None:
        setattr(namespace, self.dest, values)
        note_given(namespace, self.dest, option_string)


class GivenFlag(argparse.BooleanOptionalAction):
    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: str | None = None) -> None:
        super().__call__(parser, namespace, values, option_string)
        note_given(namespace, self.dest, option_string)


def add_seats(parser: argparse.ArgumentParser, kinds: Sequence[str]) -> None:
    parser.add_argument("seats", nargs="*", type=seat_kind(kinds), metavar="seat",
                        help=f"one to four seats: {', '.join(kinds[:-1])} or {kinds[-1]} (default: mcts mcts)")


def add_seed(parser: argparse.ArgumentParser, default: int | None, help: str) -> None:
    parser.add_argument("--seed", type=whole_number(0, SEED_MAX), default=default, help=help)


def add_search_options(parser: argparse.ArgumentParser, playouts: int, threads: int | str) -> None:
    parser.set_defaults(given={})
    search = parser.add_argument_group("search player")
    search.add_argument("--playouts", type=whole_number(0, PLAYOUTS_MAX), default=playouts, action=Given,
                        help=f"playouts per decision, 0..{PLAYOUTS_MAX} (default {playouts})")
    search.add_argument("--threads", type=whole_number(1, THREADS_MAX), default=threads, action=Given,
                        help=f"search threads, 1..{THREADS_MAX} (default {threads})")
    search.add_argument("--heuristics", action=GivenFlag, default=True,
                        help="keep rollouts from discarding diamonds when they need not (default on)")
    search.add_argument("--policy", type=int, choices=(0, 3, 4), default=0, action=Given,
                        help="tree policy (default 0)")
    search.add_argument("--seconds", type=seconds_value, metavar="S", action=Given,
                        help=f"wall-clock budget of each decision in seconds, above 0 and at most {SECONDS_MAX:g}"
                             " (default: none, the playouts alone bound it)")
    search.add_argument("--information", choices=INFORMATION_KINDS, action=Given,
                        help="what the search may see: its own seat's hand only, or every hand (default full)")


def seats_of(options: argparse.Namespace) -> list[str]:
    return options.seats or ["mcts", "mcts"]


def refuse_idle_options(parser: argparse.ArgumentParser, options: argparse.Namespace) -> None:
    """Refuses, before any game, options that nothing in the game would use: a user who asks for
    them believes they changed something."""
    seats = seats_of(options)
    hints = getattr(options, "hints", False)
    if hints and "human" not in seats:
        parser.error("--hints needs a human seat")
    used = {name for kind in seats for name in OPTIONS_OF_KIND.get(kind, ())}
    if hints:
        used.update(OPTIONS_OF_KIND["mcts"])
    idle = [name for name in SEARCH_OPTIONS if name in options.given and name not in used]
    if idle:
        flags = ", ".join(options.given[name] for name in idle)
        parser.error(f"{flags}: the search options need {seats_for(idle, hasattr(options, 'hints'))}")


def seats_for(idle: Sequence[str], can_hint: bool) -> str:
    """The seats that would use every one of `idle`, as a usage error names them."""
    kinds = [kind for kind, used in OPTIONS_OF_KIND.items() if all(name in used for name in idle)]
    wanted = " or ".join([", ".join(kinds[:-1]), kinds[-1]] if len(kinds) > 1 else kinds)
    wanted = f"an {wanted} seat"
    return wanted + " or --hints with a human seat" if can_hint else wanted


def search_settings(options: argparse.Namespace) -> argparse.Namespace:
    """The options a search seat needs, without the parser (which does not travel to worker processes)."""
    return argparse.Namespace(playouts=options.playouts, threads=options.threads, heuristics=options.heuristics,
                              policy=options.policy, seconds=options.seconds, information=options.information)
