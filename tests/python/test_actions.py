import pytest

import tornquil
from conftest import FirstActionPlayer, is_panic

a = tornquil.actions
Card, CardSuit, CardValue = tornquil.card.Card, tornquil.card.CardSuit, tornquil.card.CardValue


def hearts(value):
    return Card(CardSuit.Hearts, getattr(CardValue, value))


def spades(value):
    return Card(CardSuit.Spades, getattr(CardValue, value))


def all_kinds(state):
    return [a.ActionPlay(hearts("Five")), a.ActionAnimalCombo(hearts("Ace"), spades("Two")),
            a.ActionCombo([hearts("Two"), spades("Two")]), a.ActionYield(),
            a.ActionDiscard([hearts("King")]), a.ActionChangePlayer(state.has_turn())]


class TestConstruction:
    def test_parameters_by_position_or_keyword(self, new_state):
        assert a.ActionPlay(card=hearts("Five")) == a.ActionPlay(hearts("Five"))
        assert a.ActionAnimalCombo(c2=spades("Two"), c1=hearts("Ace")) == a.ActionAnimalCombo(hearts("Ace"), spades("Two"))
        assert a.ActionCombo(cards=(hearts("Two"),)) == a.ActionCombo([hearts("Two")])
        assert a.ActionDiscard(cards=[hearts("Two")]) == a.ActionDiscard((hearts("Two"),))
        assert str(a.ActionChangePlayer(id=new_state().has_turn())) == "ChangePlayer(PlayerId(0))"

    def test_yield_ignores_whatever_it_is_given(self):
        assert a.ActionYield(1, "two", three=3) == a.ActionYield()

    @pytest.mark.parametrize("make, name", [
        (lambda: a.ActionPlay(5), "card"),
        (lambda: a.ActionAnimalCombo(hearts("Ace"), CardValue.Two), "c2"),
        (lambda: a.ActionCombo([hearts("Two"), 2]), "cards"),
        (lambda: a.ActionCombo(3), "cards"),
        (lambda: a.ActionCombo("♥2"), "cards"),
        (lambda: a.ActionDiscard(None), "cards"),
        (lambda: a.ActionChangePlayer(0), "id")])
    def test_wrong_kinds_name_the_parameter(self, make, name):
        with pytest.raises(TypeError, match=f"^argument '{name}': "):
            make()

    def test_a_missing_argument_is_a_type_error(self):
        with pytest.raises(TypeError, match="missing required argument 'c2'"):
            a.ActionAnimalCombo(hearts("Ace"))

    def test_nothing_about_legality_is_checked(self):
        assert str(a.ActionCombo([])) == "Combo([])"
        assert str(a.ActionAnimalCombo(spades("King"), spades("King"))) == "AnimalCombo(♠K, ♠K)"
        assert str(a.ActionDiscard([hearts("Two")] * 8)).count("♥2") == 8

    @pytest.mark.parametrize("make, count", [(a.ActionCombo, 5), (a.ActionDiscard, 9)])
    def test_more_cards_than_fit_is_an_internal_fault(self, make, count):
        with pytest.raises(BaseException) as raised:
            make([hearts("Two")] * count)
        assert is_panic(raised.value)
        assert "capacity" in str(raised.value)
        make([hearts("Two")] * (count - 1))


class TestText:
    def test_str_and_repr_are_the_debug_text(self, new_state):
        texts = ["Play(♥5)", "AnimalCombo(♥A, ♠2)", "Combo([♥2, ♠2])", "Yield", "Discard([♥K])",
                 "ChangePlayer(PlayerId(0))"]
        for action, text in zip(all_kinds(new_state()), texts):
            assert str(action) == repr(action) == text


class TestComparison:
    def test_equal_payloads_in_the_same_order_are_equal(self):
        assert a.ActionYield() == a.ActionYield() and not a.ActionYield() != a.ActionYield()
        assert a.ActionCombo([hearts("Two"), spades("Two")]) == a.ActionCombo([hearts("Two"), spades("Two")])
        assert a.ActionCombo([hearts("Two"), spades("Two")]) != a.ActionCombo([spades("Two"), hearts("Two")])
        assert a.ActionAnimalCombo(hearts("Ace"), spades("Two")) != a.ActionAnimalCombo(spades("Two"), hearts("Ace"))
        assert a.ActionDiscard([hearts("Two")]) != a.ActionDiscard([hearts("Two"), hearts("Three")])

    def test_different_classes_compare_by_identity(self, new_state):
        kinds = all_kinds(new_state())
        for i, first in enumerate(kinds):
            for j, second in enumerate(kinds):
                assert (first == second) == (i == j)
                assert (first != second) == (i != j)
        assert a.ActionPlay(hearts("Ace")) != a.ActionAnimalCombo(hearts("Ace"), hearts("Ace"))
        with pytest.raises(TypeError, match="not supported between"):
            a.ActionPlay(hearts("Ace")) < a.ActionYield()

    def test_ordering_within_a_class_is_not_supported(self, new_state):
        for action in all_kinds(new_state()):
            for compare in (lambda: action < action, lambda: action <= action,
                            lambda: action > action, lambda: action >= action):
                with pytest.raises(TypeError, match="^Operation not supported$"):
                    compare()

    def test_actions_are_unhashable(self, new_state):
        for action in all_kinds(new_state()):
            with pytest.raises(TypeError, match="unhashable"):
                hash(action)

    def test_player_ids_compare_by_value_inside_an_action(self, new_state):
        assert a.ActionChangePlayer(new_state().has_turn()) == a.ActionChangePlayer(new_state().has_turn())


class TestGameResult:
    @pytest.fixture
    def results(self):
        result = tornquil.TornquilGame([tornquil.players.RandomPlayer(1)], 1).playout()
        return type(result)

    def test_values_numbers_and_texts(self, results):
        assert results.Won is results.Won
        assert (int(results.Won), int(results.Lost)) == (0, 1)
        assert repr(results.Won) == str(results.Won) == "PyGameResult.Won"
        assert repr(results.Lost) == "PyGameResult.Lost"

    def test_equality_takes_indexes_and_results(self, results):
        assert results.Lost == 1 and results.Won == 0 and results.Won == False  # noqa: E712
        assert results.Won == results.Won and not results.Won == results.Lost
        with pytest.raises(TypeError, match="^'str' object cannot be converted to 'GameResult'$"):
            results.Won == "Won"
        with pytest.raises(TypeError, match="'float' object cannot be converted to 'GameResult'"):
            results.Won == 0.0

    def test_not_equal_and_ordering_are_the_interpreters(self, results):
        assert results.Won != 0 and not results.Won != results.Won
        with pytest.raises(TypeError, match="not supported between"):
            results.Won < results.Lost
        with pytest.raises(TypeError, match="unhashable"):
            hash(results.Won)

    def test_playout_returns_a_new_object(self, results):
        player = FirstActionPlayer()
        result = tornquil.TornquilGame([player], 3).playout()
        assert result == results.Lost and result != results.Lost and result is not results.Lost
