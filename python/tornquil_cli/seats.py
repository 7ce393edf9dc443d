"""The seats of a game: the built-in players a seat kind stands for, the narrator that shows a game
turn by turn, the hinted seat of a person, and what a finished game reached."""

from __future__ import annotations

import argparse
from typing import Any

import _tornquil_native
import tornquil
import tornquil_solver

# Every kind a command line may name; eval takes those that need no person. `fair` decides only
# from what its seat can know; `full` plays the full-information solver's lines.
SEAT_KINDS = ("mcts", "fair", "full", "random", "human")
UNATTENDED_KINDS = ("mcts", "fair", "full", "random")
MAX_LEVEL = 12
# The time a fair or full seat takes for a decision when --seconds is not given.
DEFAULT_DECISION_SECONDS = 0.25


def search_keywords(options: argparse.Namespace) -> dict[str, Any]:
    # Only what the user gave, so that the search's own defaults stay its own.
    keywords = {}
    if options.seconds is not None:
        keywords["seconds"] = options.seconds
    if options.information is not None:
        keywords["information"] = options.information
    return keywords


def new_search(options: argparse.Namespace) -> Any:
    return tornquil.players.MCTSPlayer(options.playouts, options.threads, options.heuristics, options.policy,
                                       **search_keywords(options))


def decision_seconds(options: argparse.Namespace) -> float:
    return options.seconds if options.seconds is not None else DEFAULT_DECISION_SECONDS


def make_player(kind: str, options: argparse.Namespace, seed: int | None) -> Any:
    if kind == "mcts":
        return new_search(options)
    if kind == "fair":
        return tornquil_solver.FairPlayer(seconds=decision_seconds(options), threads=options.threads)
    if kind == "full":
        # The time alone bounds a decision.
        return tornquil_solver.SolverPlayer(nodes=2**64 - 1, seconds=decision_seconds(options))
    if kind == "random":
        return tornquil.players.RandomPlayer(seed)
    return tornquil.players.InputPlayer()


def seat_seed(game_seed: int, seat: int) -> int:
    """A random seat's own seed, derived from the game's so that a whole run is reproducible."""
    return (game_seed * 8 + seat + 1) % 2**64


def level_reached(game: Any, result: Any) -> int:
    # After playout() the game holds the state before the final action: its reward is the level.
    return MAX_LEVEL if result == 0 else game.reward()


def is_panic(error: BaseException) -> bool:
    # The module's fault type is not one of its attributes, so only its name identifies it.
    return type(error).__name__ == "PanicException"


def input_ended(error: BaseException) -> bool:
    # The console player reports the end of its input as an internal fault naming it.
    return isinstance(error, EOFError) or (is_panic(error) and "end of input" in str(error))


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


class Hinted:
    """A person's seat that first shows what a search of the same state would play, then asks the
    person as the console player does."""

    HINTS = 3

    def __init__(self, search: Any) -> None:
        self.search = search

    def play(self, state: Any) -> Any:
        self.search.play(state)
        print("hints from the search (most visited first):", flush=True)
        for rank, (action, visits, mean_level) in enumerate(self.search.ranked_actions()[:self.HINTS], 1):
            print(f"  {rank}. {action}: {visits} visits, mean level {mean_level:.2f}", flush=True)
        return ask_console(state)


def ask_console(state: Any) -> Any:
    """Asks the person at the console for one of the state's actions, with the console player's own
    dialogue: its prompt, answers, line limit and Ctrl-C."""
    return _tornquil_native.companion().console_play(state)
