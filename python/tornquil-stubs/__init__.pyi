"""Types of the tornquil extension module."""

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
    Won: ClassVar[GameResult]
    Lost: ClassVar[GameResult]
    def __int__(self) -> int: ...
    def __eq__(self, other: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class PyState:
    """A copy of a game's state, as a player sees it."""

    def action_space(self) -> list[Action]: ...
    def has_turn(self) -> PlayerId: ...
    def current_hand(self) -> list[Card]: ...
    def current_enemy(self) -> Enemy | None: ...
    def reward(self) -> int: ...

@final
class TornquilGame:
    def __new__(cls, players: Sequence[object], seed: int | None = None) -> TornquilGame: ...
    def playout(self) -> GameResult: ...
    def print(self) -> None: ...
    def reward(self) -> int: ...
