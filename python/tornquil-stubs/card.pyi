"""Cards, suits and values: the submodule `tornquil.card` (an attribute of the module, not a
package to import from)."""

from typing import ClassVar, final

__all__ = ["Card", "CardSuit", "CardValue"]

@final
class CardSuit:
    """A suit: Spades, Hearts, Diamonds, Clubs, and the jester's suit, the class attribute `None`
    (reached with `getattr(CardSuit, "None")`).

    Compares with `==` by value, also with integers; `==` with another type raises `TypeError`,
    and `!=` compares identity: compare with `==`.
    """

    Spades: ClassVar[CardSuit]
    Hearts: ClassVar[CardSuit]
    Diamonds: ClassVar[CardSuit]
    Clubs: ClassVar[CardSuit]
    # The suit of the jester is the class attribute `None`, reached with getattr(CardSuit, "None").
    @classmethod
    def all(cls) -> list[CardSuit]:
        """The four suits of the number cards, Spades first."""
    def __int__(self) -> int:
        """The suit's number: Spades 0, Hearts 1, Diamonds 2, Clubs 3."""
    def __eq__(self, other: object, /) -> bool:
        """Equal to the same suit or its number; raises TypeError for any other type."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class CardValue:
    """A card's value: Jester (0), Ace (1) to Ten (10), Jack (11), Queen (12), King (13).

    Compares like `CardSuit`: with `==`, by value, also with integers.
    """

    Jester: ClassVar[CardValue]
    Ace: ClassVar[CardValue]
    Two: ClassVar[CardValue]
    Three: ClassVar[CardValue]
    Four: ClassVar[CardValue]
    Five: ClassVar[CardValue]
    Six: ClassVar[CardValue]
    Seven: ClassVar[CardValue]
    Eight: ClassVar[CardValue]
    Nine: ClassVar[CardValue]
    Ten: ClassVar[CardValue]
    Jack: ClassVar[CardValue]
    Queen: ClassVar[CardValue]
    King: ClassVar[CardValue]
    @classmethod
    def numbers(cls) -> list[CardValue]:
        """The values of the number cards, Ace to Ten."""
    @classmethod
    def royals(cls) -> list[CardValue]:
        """The values of the enemies: King, Queen, Jack."""
    def __int__(self) -> int:
        """The value's number: Jester 0, Ace 1, ... King 13."""
    def __eq__(self, other: object, /) -> bool:
        """Equal to the same value or its number; raises TypeError for any other type."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class Card:
    """A card, shown by `str()` as its suit and value (such as `♠A`); it has no attributes."""

    def __new__(cls, suit: CardSuit, value: CardValue) -> Card:
        """The card of that suit and value. Raises TypeError when either is of another type."""
    def __eq__(self, other: object, /) -> bool:
        """Equal to a card of the same suit and value."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
