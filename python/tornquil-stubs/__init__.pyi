"""Types of the tornquil extension module: a cooperative card game for one to four players, its
built-in players and a parallel Monte Carlo tree search.

The classes of the module have no docstrings of their own; these stubs carry them, so that editors
and `pydoc` show them. Internal faults (a list over its capacity, `num_threads=0` at decision time, an
unknown tree policy) raise `PanicException`, which derives from `BaseException` and is kept in no
module: catch it with `except BaseException` and tell it by its name.
"""

from typing import ClassVar, Sequence, final

from . import actions as actions
from . import card as card
from . import players as players
from .actions import Action
from .card import Card

__all__ = ["card", "actions", "players", "TornquilGame"]

# The classes below exist at run time but are registered in no module: their objects come only
# from the module's methods.

@final
class PlayerId:
    """A seat of a game, from `PyState.has_turn()`; `ActionChangePlayer` takes one."""

@final
class Enemy:
    """The enemy being fought, from `PyState.current_enemy()`; `str()` shows it."""

@final
class GameResult:
    """How a game ended: `GameResult.Won` or `GameResult.Lost`, from `TornquilGame.playout()`.

    Compares with `==` by value, also with integers (`int()` gives 0 for Won, 1 for Lost); `==`
    with another type raises `TypeError`, and `!=` compares identity: compare with `==`.
    """

    Won: ClassVar[GameResult]
    Lost: ClassVar[GameResult]
    def __int__(self) -> int:
        """0 for Won, 1 for Lost."""
    def __eq__(self, other: object, /) -> bool:
        """Equal to the same result or its number; raises TypeError for any other type."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class PyState:
    """A copy of a game's state, as a player sees it: the argument of every `play(state)`.

    It cannot be made directly (`TypeError`); changing it changes no game. `str()` shows the
    whole state.
    """

    def action_space(self) -> list[Action]:
        """The actions the player to move may take, in the order the rules list them."""
    def has_turn(self) -> PlayerId:
        """The seat whose turn it is."""
    def current_hand(self) -> list[Card]:
        """The cards in the hand of the player to move, in hand order."""
    def current_enemy(self) -> Enemy | None:
        """The enemy being fought, or None when the castle deck is empty."""
    def reward(self) -> int:
        """The number of enemies defeated so far, 0 to 12."""

@final
class TornquilGame:
    """A game of one to four seats, played to its end by `playout()`."""

    def __new__(cls, players: Sequence[object], seed: int | None = None) -> TornquilGame:
        """Deals a new game.

        players: one to four seats; each is a built-in player (played by its own copy) or any
            object whose `play(state=...)` returns one of the state's actions.
        seed: 0 to 2**64-1 deals the same cards every time; None draws on the operating system's
            entropy.
        Raises ValueError for no or more than four players, TypeError for a seed that is not an
        integer, OverflowError for one out of range.
        """
    def playout(self) -> GameResult:
        """Plays the game to its end, asking each seat in turn, and returns how it ended.

        Afterwards the game holds the state before the final action. An action a seat returns that
        is not legal raises KeyError naming the legal ones; one that is not an action raises
        TypeError; what a Python seat raises comes out unchanged. Ctrl-C raises KeyboardInterrupt
        and leaves the game as it was before that decision. RuntimeError while a playout of the
        same game is already running (from a seat's own play).
        """
    def print(self) -> None:
        """Writes the state, with a header line, to file descriptor 2 (not to `sys.stderr`).

        Raises OSError when it cannot be written, RuntimeError during the game's own playout().
        """
    def reward(self) -> int:
        """The number of enemies defeated, 0 to 12; after playout(), the level the game reached
        unless it was won. RuntimeError during the game's own playout()."""
