"""`tornquil play`: one game, shown turn by turn, with search, random and human seats."""

from __future__ import annotations

import argparse
import os
import random
import signal
import sys
from typing import Any

import tornquil

from . import options as shared
from .options import INTERRUPTED
from .seats import SEAT_KINDS, Hinted, Narrator, input_ended, level_reached, make_player, new_search, seat_seed

ENDINGS = ("exit status: 0 when the game was played, 1 when standard input ended before it was over,"
           " 2 for a usage error, 130 after Ctrl-C, 141 when standard output was closed early")


def add_parser(commands: Any) -> None:
    parser = commands.add_parser("play", help="play one game and show it turn by turn", epilog=ENDINGS)
    shared.add_seats(parser, SEAT_KINDS)
    shared.add_seed(parser, None, "the game's seed, 0..2**64-1 (default: a random one, shown)")
    shared.add_search_options(parser, playouts=2000, threads=min(os.cpu_count() or 1, shared.THREADS_MAX))
    parser.add_argument("--hints", action="store_true",
                        help="before each prompt of a human seat, show the search's three most visited actions"
                             " with their visits and mean level (the search options apply)")
    parser.set_defaults(run=command_play, parser=parser)


def seat_players(seats: list[str], options: argparse.Namespace, seed: int) -> list[Any]:
    turns = [0]
    players = []
    for index, kind in enumerate(seats):
        player = make_player(kind, options, seat_seed(seed, index))
        if kind != "human":
            player = Narrator(index, kind, player, turns)
        elif options.hints:
            player = Hinted(new_search(options))
        # Otherwise the console player talks to the person itself, so it takes its seat directly.
        players.append(player)
    return players


def command_play(options: argparse.Namespace) -> int:
    seed = options.seed if options.seed is not None else random.randrange(2**64)
    seats = shared.seats_of(options)
    players = seat_players(seats, options, seed)
    print(f"tornquil: {len(seats)} player(s): {' '.join(seats)}; seed {seed}", flush=True)
    game = tornquil.TornquilGame(players, seed)
    signals: list[int] = []

    def on_interrupt(number: int, frame: Any) -> None:
        signals.append(number)
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGINT, on_interrupt)
    try:
        try:
            result = game.playout()
        finally:
            # A Ctrl-C whose handler has not run yet would land anywhere in what follows; from here on
            # the ending is decided, and a pending or further Ctrl-C changes nothing.
            signal.signal(signal.SIGINT, signal.SIG_IGN)
    except BaseException as error:
        if signals or isinstance(error, KeyboardInterrupt):
            print("\ninterrupted", file=sys.stderr, flush=True)
            return INTERRUPTED
        if input_ended(error):
            print(f"tornquil play: input ended ({error})", file=sys.stderr, flush=True)
            return 1
        raise
    finally:
        signal.signal(signal.SIGINT, previous)
    level = level_reached(game, result)
    print("\nResult: won, all 12 enemies defeated" if result == 0 else f"\nResult: lost at level {level} of 12", flush=True)
    return 0
