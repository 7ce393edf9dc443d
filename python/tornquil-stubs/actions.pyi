from typing import ClassVar, Sequence, Union, final

from . import PlayerId
from .card import Card

__all__ = ["ActionPlay", "ActionAnimalCombo", "ActionCombo", "ActionYield", "ActionDiscard", "ActionChangePlayer"]

@final
class ActionPlay:
    def __new__(cls, card: Card) -> ActionPlay: ...
    def __eq__(self, other: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionAnimalCombo:
    def __new__(cls, c1: Card, c2: Card) -> ActionAnimalCombo: ...
    def __eq__(self, other: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionCombo:
    def __new__(cls, cards: Sequence[Card]) -> ActionCombo: ...
    def __eq__(self, other: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionYield:
    def __new__(cls, *args: object, **kwargs: object) -> ActionYield: ...
    def __eq__(self, other: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionDiscard:
    def __new__(cls, cards: Sequence[Card]) -> ActionDiscard: ...
    def __eq__(self, other: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionChangePlayer:
    def __new__(cls, id: PlayerId) -> ActionChangePlayer: ...
    def __eq__(self, other: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

# Not a class of the module: the union of what a player may return.
Action = Union[ActionPlay, ActionAnimalCombo, ActionCombo, ActionYield, ActionDiscard, ActionChangePlayer]
