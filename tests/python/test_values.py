import re

import pytest

import tornquil

Card, CardSuit, CardValue = tornquil.card.Card, tornquil.card.CardSuit, tornquil.card.CardValue

SUITS = ["Spades", "Hearts", "Diamonds", "Clubs", "None"]
VALUES = ["Jester", "Ace", "Two", "Three", "Four", "Five", "Six", "Seven", "Eight", "Nine", "Ten",
          "Jack", "Queen", "King"]


class TestCard:
    def test_takes_suit_and_value_by_position_or_keyword(self):
        assert Card(CardSuit.Hearts, CardValue.Ten) == Card(value=CardValue.Ten, suit=CardSuit.Hearts)
        assert Card(CardSuit.Hearts, value=CardValue.Ten) == Card(CardSuit.Hearts, CardValue.Ten)

    def test_any_combination_is_a_card(self):
        assert str(Card(getattr(CardSuit, "None"), CardValue.King)) == "K"
        assert str(Card(CardSuit.Spades, CardValue.Jester)) == "♠Jester"

    @pytest.mark.parametrize("suit, value, name", [
        (0, CardValue.Ten, "suit"), (CardSuit.Hearts, 10, "value"),
        (CardValue.Ten, CardValue.Ten, "suit"), (CardSuit.Hearts, CardSuit.Hearts, "value")])
    def test_refuses_anything_but_suit_and_value_objects(self, suit, value, name):
        with pytest.raises(TypeError, match=f"^argument '{name}': "):
            Card(suit, value)

    def test_names_the_wrong_kind_it_was_given(self):
        with pytest.raises(TypeError) as raised:
            Card(CardSuit.Hearts, "K")
        assert str(raised.value) == "argument 'value': 'str' object cannot be converted to 'CardValue'"

    @pytest.mark.parametrize("args, kwargs", [
        ((), {}), ((CardSuit.Hearts,), {}), ((CardSuit.Hearts, CardValue.Ace, 1), {}),
        ((CardSuit.Hearts,), {"suit": CardSuit.Hearts}),
        ((CardSuit.Hearts, CardValue.Ace), {"colour": 1})])
    def test_wrong_argument_lists_are_type_errors(self, args, kwargs):
        with pytest.raises(TypeError, match=r"^Card\(\) "):
            Card(*args, **kwargs)

    def test_equality_is_by_suit_and_value(self):
        ten = Card(CardSuit.Hearts, CardValue.Ten)
        assert ten == Card(CardSuit.Hearts, CardValue.Ten)
        assert not ten != Card(CardSuit.Hearts, CardValue.Ten)
        assert ten != Card(CardSuit.Spades, CardValue.Ten)
        assert ten != Card(CardSuit.Hearts, CardValue.Nine)

    def test_ordering_is_not_supported(self):
        ten = Card(CardSuit.Hearts, CardValue.Ten)
        for compare in (lambda: ten < ten, lambda: ten <= ten, lambda: ten > ten, lambda: ten >= ten):
            with pytest.raises(TypeError, match="^Operation not supported$"):
                compare()

    def test_other_kinds_compare_by_identity(self):
        ten = Card(CardSuit.Hearts, CardValue.Ten)
        assert ten != 10 and not ten == "♥10" and ten == ten
        with pytest.raises(TypeError, match="not supported between"):
            ten < 10

    def test_is_unhashable_and_has_no_attributes(self):
        ten = Card(CardSuit.Hearts, CardValue.Ten)
        with pytest.raises(TypeError, match="unhashable"):
            hash(ten)
        assert not hasattr(ten, "suit") and not hasattr(ten, "value")
        assert repr(ten).startswith("<Card object at ")

    @pytest.mark.parametrize("suit, value, text", [
        ("Hearts", "King", "♥K"), ("Spades", "Ten", "♠10"), ("Diamonds", "Ace", "♦A"),
        ("Clubs", "Jack", "♣J"), ("None", "Jester", "Jester")])
    def test_prints_as_symbol_and_value(self, suit, value, text):
        assert str(Card(getattr(CardSuit, suit), getattr(CardValue, value))) == text


@pytest.mark.parametrize("cls, names", [(CardSuit, SUITS), (CardValue, VALUES)])
class TestEnumerations:
    def test_numbers_and_texts_follow_the_declaration_order(self, cls, names):
        for number, name in enumerate(names):
            value = getattr(cls, name)
            assert int(value) == number
            assert repr(value) == str(value) == f"{cls.__name__}.{name}"

    def test_class_attributes_are_single_objects(self, cls, names):
        for name in names:
            assert getattr(cls, name) is getattr(cls, name)
        with pytest.raises((AttributeError, TypeError)):
            setattr(cls, names[0], getattr(cls, names[1]))

    def test_equals_integers_and_booleans_by_number(self, cls, names):
        assert getattr(cls, names[0]) == 0 and getattr(cls, names[0]) == False  # noqa: E712
        assert getattr(cls, names[1]) == True  # noqa: E712
        assert not getattr(cls, names[-1]) == 0
        assert not getattr(cls, names[0]) == 2 ** 200

    def test_equals_its_own_kind_by_value(self, cls, names):
        assert getattr(cls, names[2]) == getattr(cls, names[2])
        assert not getattr(cls, names[2]) == getattr(cls, names[3])

    def test_equality_with_anything_else_is_a_type_error(self, cls, names):
        other = CardValue.Ace if cls is CardSuit else CardSuit.Hearts
        for value in ("Spades", 0.0, None, other):
            with pytest.raises(TypeError) as raised:
                getattr(cls, names[0]) == value
            assert str(raised.value) == f"'{type(value).__name__}' object cannot be converted to '{cls.__name__}'"

    def test_not_equal_and_ordering_are_the_interpreters(self, cls, names):
        first = getattr(cls, names[0])
        assert first != 0  # identity: an int is never the same object
        assert not first != first
        with pytest.raises(TypeError, match="not supported between"):
            first < first

    def test_is_unhashable(self, cls, names):
        with pytest.raises(TypeError, match="unhashable"):
            hash(getattr(cls, names[0]))


def test_suit_list_holds_the_four_real_suits_as_new_objects():
    suits = CardSuit.all()
    assert [int(s) for s in suits] == [0, 1, 2, 3]
    assert all(s != getattr(CardSuit, n) for s, n in zip(suits, SUITS))  # new objects
    assert not any(s == 4 for s in suits)
    assert CardSuit.all() is not suits


def test_value_lists_hold_numbers_ascending_and_royals_descending():
    assert [int(v) for v in CardValue.numbers()] == list(range(1, 11))
    assert [repr(v) for v in CardValue.royals()] == ["CardValue.King", "CardValue.Queen", "CardValue.Jack"]
    assert CardValue.royals()[0] == CardValue.King


def test_enemy_prints_its_record_and_hashes_by_identity(new_state):
    state = new_state()
    enemy = state.current_enemy()
    assert re.fullmatch(r"Enemy \{ card: [♠♥♦♣]J, health: 20, attack: 10, jester_applied: false \}", str(enemy))
    assert hash(enemy) == hash(enemy) and enemy != state.current_enemy()
    assert not hasattr(enemy, "health")


def test_player_id_has_only_the_interpreters_defaults(new_state):
    state = new_state()
    player_id = state.has_turn()
    assert repr(player_id).startswith("<PlayerId object at ")
    assert player_id != state.has_turn() and player_id == player_id
    assert {player_id: 1}[player_id] == 1
