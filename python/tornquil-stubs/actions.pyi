"""The actions a player may return: the submodule `tornquil.actions` (an attribute of the module,
not a package to import from). Each is compared with `==` by its kind and cards; `str()` shows it,
such as `Play(♠5)`. A game accepts only an action that its state's `action_space()` offers."""

from typing import ClassVar, Sequence, Union, final

from . import PlayerId
from .card import Card

__all__ = ["ActionPlay", "ActionAnimalCombo", "ActionCombo", "ActionYield", "ActionDiscard", "ActionChangePlayer"]

@final
class ActionPlay:
    """Plays one card against the enemy."""

    def __new__(cls, card: Card) -> ActionPlay:
        """The play of `card`. Raises TypeError when it is not a Card."""
    def __eq__(self, other: object, /) -> bool:
        """Equal to a play of the same card."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionAnimalCombo:
    """Plays an ace together with one other card, its animal companion."""

    def __new__(cls, c1: Card, c2: Card) -> ActionAnimalCombo:
        """The combination of `c1` and `c2`. Raises TypeError when either is not a Card."""
    def __eq__(self, other: object, /) -> bool:
        """Equal to a combination of the same cards."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionCombo:
    """Plays two to four cards of one value, Two to Five, worth at most 10 together."""

    def __new__(cls, cards: Sequence[Card]) -> ActionCombo:
        """The combination of `cards`. Raises TypeError when one of them is not a Card."""
    def __eq__(self, other: object, /) -> bool:
        """Equal to a combination of the same cards."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionYield:
    """Plays no card this turn; when every player has yielded in a row, the game is lost."""

    def __new__(cls, *args: object, **kwargs: object) -> ActionYield:
        """The yield; any arguments are ignored."""
    def __eq__(self, other: object, /) -> bool:
        """Equal to any other yield."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionDiscard:
    """Discards cards worth at least the attack of an enemy that survived."""

    def __new__(cls, cards: Sequence[Card]) -> ActionDiscard:
        """The discard of `cards`. Raises TypeError when one of them is not a Card."""
    def __eq__(self, other: object, /) -> bool:
        """Equal to a discard of the same cards."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionChangePlayer:
    """After a jester, names the seat that acts next."""

    def __new__(cls, id: PlayerId) -> ActionChangePlayer:
        """The choice of seat `id`. Raises TypeError when it is not a PlayerId."""
    def __eq__(self, other: object, /) -> bool:
        """Equal to the choice of the same seat."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

# Not a class of the module: the union of what a player may return.
Action = Union[ActionPlay, ActionAnimalCombo, ActionCombo, ActionYield, ActionDiscard, ActionChangePlayer]
