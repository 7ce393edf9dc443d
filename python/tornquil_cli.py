"""The `tornquil` command: play a game, evaluate players over many seeded games, benchmark the search."""

from __future__ import annotations

import argparse
import csv
import json
import math
import os
import random
import statistics
import sys
import time
from concurrent.futures import ProcessPoolExecutor, as_completed
from typing import Any, Sequence

import tornquil

SEAT_KINDS = ("mcts", "random", "human")
MAX_LEVEL = 12


def unsigned(text: str) -> int:
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError(f"expected a whole number of 0 or more, got {text}")
    return value


def positive(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"expected a whole number of 1 or more, got {text}")
    return value


def seed_value(text: str) -> int:
    value = unsigned(text)
    if value >= 2**64:
        raise argparse.ArgumentTypeError("a seed is below 2**64")
    return value


def seat_kind(allowed: Sequence[str]) -> Any:
    def parse(text: str) -> str:
        if text not in allowed:
            raise argparse.ArgumentTypeError(f"invalid seat {text!r} (choose from {', '.join(allowed)})")
        return text

    return parse


def add_search_options(parser: argparse.ArgumentParser, playouts: int, threads: int) -> None:
    search = parser.add_argument_group("search player")
    search.add_argument("--playouts", type=unsigned, default=playouts, help=f"playouts per decision (default {playouts})")
    search.add_argument("--threads", type=positive, default=threads, help=f"search threads (default {threads})")
    search.add_argument("--heuristics", action=argparse.BooleanOptionalAction, default=True,
                        help="keep rollouts from discarding diamonds when they need not (default on)")
    search.add_argument("--policy", type=int, choices=(0, 3, 4), default=0, help="tree policy (default 0)")


def make_player(kind: str, options: argparse.Namespace, seed: int | None) -> Any:
    if kind == "mcts":
        return tornquil.players.MCTSPlayer(options.playouts, options.threads, options.heuristics, options.policy)
    if kind == "random":
        return tornquil.players.RandomPlayer(seed)
    return tornquil.players.InputPlayer()


def seat_seed(game_seed: int, seat: int) -> int:
    """A random seat's own seed, derived from the game's so that a whole run is reproducible."""
    return (game_seed * 8 + seat + 1) % 2**64


def level_reached(game: Any, result: Any) -> int:
    # After playout() the game holds the state before the final action: its reward is the level.
    return MAX_LEVEL if result == 0 else game.reward()


class Narrator:
    """A seat that shows the state, asks the built-in player behind it and shows its answer."""

    def __init__(self, seat: int, kind: str, player: Any, turns: list[int]) -> None:
        self.seat, self.kind, self.player, self.turns = seat, kind, player, turns

    def play(self, state: Any) -> Any:
        self.turns[0] += 1
        print(f"\n-- turn {self.turns[0]}: seat {self.seat} ({self.kind}) --", flush=True)
        print(state, flush=True)
        action = self.player.play(state)
        print(f"seat {self.seat} ({self.kind}) plays {action}", flush=True)
        return action


def command_play(options: argparse.Namespace) -> int:
    seed = options.seed if options.seed is not None else random.randrange(2**64)
    seats = options.seats or ["mcts", "mcts"]
    turns = [0]
    players = []
    for index, kind in enumerate(seats):
        player = make_player(kind, options, seat_seed(seed, index))
        # The console player talks to the person itself, so it takes its seat directly.
        players.append(player if kind == "human" else Narrator(index, kind, player, turns))
    print(f"tornquil: {len(seats)} player(s): {' '.join(seats)}; seed {seed}", flush=True)
    game = tornquil.TornquilGame(players, seed)
    result = game.playout()
    level = level_reached(game, result)
    print("\nResult: won, all 12 enemies defeated" if result == 0 else f"\nResult: lost at level {level} of 12", flush=True)
    return 0


def play_seeded_game(seats: Sequence[str], options: argparse.Namespace, seed: int) -> tuple[int, str, int]:
    players = [make_player(kind, options, seat_seed(seed, index)) for index, kind in enumerate(seats)]
    game = tornquil.TornquilGame(players, seed)
    result = game.playout()
    return seed, "won" if result == 0 else "lost", level_reached(game, result)


def wilson_interval(wins: int, games: int, z: float = 1.959964) -> tuple[float, float]:
    if games == 0:
        return 0.0, 1.0
    share = wins / games
    centre = (share + z * z / (2 * games)) / (1 + z * z / games)
    margin = z * math.sqrt(share * (1 - share) / games + z * z / (4 * games * games)) / (1 + z * z / games)
    return max(0.0, centre - margin), min(1.0, centre + margin)


def progress(done: int, total: int) -> None:
    width = 30
    filled = width * done // total if total else width
    sys.stderr.write(f"\r[{'#' * filled}{'.' * (width - filled)}] {done}/{total} games")
    sys.stderr.flush()


def summarise(records: list[tuple[int, str, int]], total: int) -> None:
    games = len(records)
    wins = sum(1 for _, result, _ in records if result == "won")
    low, high = wilson_interval(wins, games)
    print(f"games: {games} of {total}")
    if games == 0:
        return
    print(f"won: {wins} ({100 * wins / games:.1f}%, 95% confidence interval {100 * low:.1f}% to {100 * high:.1f}%)")
    print(f"mean level reached: {statistics.mean(level for _, _, level in records):.2f} of {MAX_LEVEL}")
    counts = [sum(1 for _, _, level in records if level == value) for value in range(MAX_LEVEL + 1)]
    print("levels reached:")
    widest = max(counts)
    for value, count in enumerate(counts):
        bar = "#" * (40 * count // widest if widest else 0)
        print(f"  {value:2d} | {count:5d} {bar}")


def write_records(path: str, records: list[tuple[int, str, int]]) -> None:
    with open(path, "w", newline="") as out:
        if path.endswith(".jsonl"):
            for seed, result, level in records:
                out.write(json.dumps({"seed": seed, "result": result, "level": level}) + "\n")
        else:
            writer = csv.writer(out)
            writer.writerow(["seed", "result", "level"])
            writer.writerows(records)


def plot_levels(path: str, records: list[tuple[int, str, int]], pyplot: Any) -> None:
    figure, axes = pyplot.subplots(figsize=(7, 4))
    axes.hist([level for _, _, level in records], bins=range(MAX_LEVEL + 2), align="left", rwidth=0.8)
    axes.set_xlabel("level reached (12: won)")
    axes.set_ylabel("games")
    axes.set_xticks(range(MAX_LEVEL + 1))
    figure.tight_layout()
    figure.savefig(path)


def command_eval(options: argparse.Namespace) -> int:
    seats = options.seats or ["mcts", "mcts"]
    if "human" in seats:
        options.parser.error("eval plays without a person: use mcts or random seats")
    pyplot = None
    if options.plot:
        try:
            import matplotlib

            matplotlib.use("Agg")
            import matplotlib.pyplot as pyplot
        except ImportError:
            print("tornquil eval: --plot needs matplotlib; install it with: pip install 'tornquil[plot]'"
                  " (or pip install matplotlib)", file=sys.stderr)
            return 1
    seeds = [(options.seed + index) % 2**64 for index in range(options.games)]
    records: list[tuple[int, str, int]] = []
    interrupted = False
    executor = ProcessPoolExecutor(max_workers=options.jobs)
    try:
        futures = [executor.submit(play_seeded_game, seats, strip(options), seed) for seed in seeds]
        progress(0, len(seeds))
        for future in as_completed(futures):
            records.append(future.result())
            progress(len(records), len(seeds))
    except KeyboardInterrupt:
        interrupted = True
        for future in futures:
            future.cancel()
    finally:
        executor.shutdown(wait=not interrupted, cancel_futures=True)
    sys.stderr.write("\n")
    records.sort()
    summarise(records, len(seeds))
    if options.out:
        write_records(options.out, records)
    if pyplot is not None and records:
        plot_levels(options.plot, records, pyplot)
    return 130 if interrupted else 0


def strip(options: argparse.Namespace) -> argparse.Namespace:
    """The options a worker process needs (the parser itself does not travel)."""
    return argparse.Namespace(playouts=options.playouts, threads=options.threads, heuristics=options.heuristics,
                              policy=options.policy)


def command_bench(options: argparse.Namespace) -> int:
    state_holder: list[Any] = []

    class Grab:
        def play(self, state: Any) -> Any:
            state_holder.append(state)
            raise StopIteration

    try:
        tornquil.TornquilGame([Grab(), Grab()], 1).playout()
    except StopIteration:
        pass
    state = state_holder[0]
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


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="tornquil", description=__doc__)
    commands = parser.add_subparsers(dest="command", metavar="{play,eval,bench}")

    play = commands.add_parser("play", help="play one game and show it turn by turn")
    play.add_argument("seats", nargs="*", type=seat_kind(SEAT_KINDS), metavar="seat",
                      help="one to four seats: mcts, random or human (default: mcts mcts)")
    play.add_argument("--seed", type=seed_value, help="the game's seed (default: a random one, shown)")
    add_search_options(play, playouts=2000, threads=os.cpu_count() or 1)
    play.set_defaults(run=command_play)

    evaluate = commands.add_parser("eval", help="play many seeded games and report how the players fare")
    evaluate.add_argument("seats", nargs="*", type=seat_kind(SEAT_KINDS[:2]), metavar="seat",
                          help="one to four seats: mcts or random (default: mcts mcts)")
    evaluate.add_argument("--games", type=positive, default=100, help="games to play (default 100)")
    evaluate.add_argument("--seed", type=seed_value, default=0, help="seed of the first game; game i has seed + i")
    evaluate.add_argument("--jobs", type=positive, default=os.cpu_count() or 1, help="processes (default: one per core)")
    evaluate.add_argument("--out", metavar="FILE", help="write every game's seed, result and level (.csv or .jsonl)")
    evaluate.add_argument("--plot", metavar="FILE.png", help="draw the histogram of levels (needs matplotlib)")
    add_search_options(evaluate, playouts=500, threads=1)
    evaluate.set_defaults(run=command_eval, parser=evaluate)

    bench = commands.add_parser("bench", help="search playouts per second at one and two threads")
    bench.add_argument("--runs", type=positive, default=3, help="runs per figure (default 3)")
    bench.set_defaults(run=command_bench)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    options = parser.parse_args(argv)
    if options.command is None:
        options = parser.parse_args(["play", *(argv or [])])
    if options.command in ("play", "eval") and len(options.seats) > 4:
        parser.error("a game has one to four seats")
    try:
        return options.run(options)
    except KeyboardInterrupt:
        print("\ninterrupted", file=sys.stderr)
        return 130


if __name__ == "__main__":
    sys.exit(main())
