"""The seats of a game: the built-in players a seat kind stands for, the narrator that shows a game
turn by turn, the hinted seat of a person, and what a finished game reached."""

from __future__ import annotations

import argparse
import sys
from typing import Any

import tornquil

# Every kind a command line may name; eval takes those that need no person.
SEAT_KINDS = ("mcts", "random", "human")
UNATTENDED_KINDS = ("mcts", "random")
MAX_LEVEL = 12


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


def make_player(kind: str, options: argparse.Namespace, seed: int | None) -> Any:
    if kind == "mcts":
        return new_search(options)
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


MAX_LINE = 64 * 1024  # as the console player: a longer line is read to its end and refused
QUOTED_OF_OVERLONG = 64
WHITE_SPACE = b" \t\n\r\v\f"
ESCAPES = {ord("\t"): b"\\t", ord("\r"): b"\\r", ord("\n"): b"\\n", ord("\\"): b"\\\\", ord('"'): b'\\"', 0: b"\\0"}


def ask_console(state: Any) -> Any:
    """Asks the person at the console for the number of one of the state's actions, with the console
    player's prompt, answers and line limit. The console player cannot be asked from Python yet: this
    stands in for it until it can."""
    actions = state.action_space()
    numbered = "".join(f"\n{index}: {action}" for index, action in enumerate(actions))
    print("=" * 60 + f"\nCurrent player: {state.has_turn()}\nCurrent enemy: {state.current_enemy()}\n\n"
          f"Available actions are: \n {numbered} \n\nType number to select an action:", flush=True)
    while True:
        line, overlong = read_line()
        number = None if overlong else action_number(line)
        if number is None:
            print(parse_failure(line, overlong), flush=True)
        elif number >= len(actions):
            print("Could not match input with any action. Please try again!", flush=True)
        else:
            return actions[number]


def read_line() -> tuple[bytes, bool]:
    """One line of standard input with its ending, at most MAX_LINE bytes of it, and whether it was longer."""
    stdin = sys.stdin.buffer
    line = stdin.readline(MAX_LINE)
    if not line:
        raise EOFError("end of input")
    overlong = False
    if len(line) == MAX_LINE and not line.endswith(b"\n"):
        # The rest is read and dropped a bounded piece at a time, however long it is.
        while rest := stdin.readline(MAX_LINE):
            overlong = True
            if rest.endswith(b"\n"):
                break
    return line, overlong


def action_number(line: bytes) -> int | None:
    digits = line.strip(WHITE_SPACE)
    digits = digits[1:] if digits.startswith(b"+") else digits
    # Like the console player: an unsigned 64-bit number, digits only.
    if not digits.isdigit() or len(digits) > 20 or int(digits) >= 2**64:
        return None
    return int(digits)


def parse_failure(line: bytes, overlong: bool) -> str:
    if not overlong:
        return f"Failed to parse input {quoted(line)}. Please try again!"
    return (f"Failed to parse input {quoted(line[:QUOTED_OF_OVERLONG])} (cut: a line longer than {MAX_LINE} bytes)."
            " Please try again!")


def quoted(text: bytes) -> str:
    inner = b"".join(ESCAPES.get(byte) or (f"\\u{{{byte:x}}}".encode() if byte < 0x20 or byte == 0x7F else bytes([byte]))
                     for byte in text)
    return '"' + inner.decode(errors="replace") + '"'
