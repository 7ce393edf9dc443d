import sys

import pytest

import tornquil
from conftest import is_panic

card, actions, players = tornquil.card, tornquil.actions, tornquil.players

ACTION_CLASSES = ["ActionPlay", "ActionAnimalCombo", "ActionCombo", "ActionYield", "ActionDiscard",
                  "ActionChangePlayer"]


def test_top_module_is_an_extension_module_with_a_docstring():
    assert tornquil.__file__.endswith(".so")
    assert tornquil.__doc__ and tornquil.__doc__.strip().endswith(".")


def test_submodules_are_attributes_but_not_imported_modules():
    for name in ("card", "actions", "players"):
        submodule = getattr(tornquil, name)
        assert submodule.__name__ == name
        assert submodule.__doc__ is None
        assert f"tornquil.{name}" not in sys.modules
        assert name not in sys.modules or sys.modules[name] is not submodule


def test_all_lists_follow_the_registration_order():
    assert tornquil.__all__ == ["card", "actions", "players", "TornquilGame"]
    assert card.__all__ == ["Card", "CardSuit", "CardValue"]
    assert actions.__all__ == ACTION_CLASSES
    # The search player takes the third place once it is built.
    assert players.__all__ == ["RandomPlayer", "InputPlayer", "MCTSPlayer"]
    assert len(players.__all__) >= 2
    for module in (tornquil, card, actions, players):
        assert all(hasattr(module, name) for name in module.__all__)


def all_classes(state):
    registered = [getattr(m, n) for m in (card, actions, players) for n in m.__all__]
    unlisted = [type(state), type(state.current_enemy()), type(state.has_turn()),
                type(tornquil.TornquilGame([players.RandomPlayer(1)], 1).playout())]
    return registered + [tornquil.TornquilGame] + unlisted


def test_classes_have_bare_names_no_docstrings_and_cannot_be_subclassed(new_state):
    for cls in all_classes(new_state()):
        assert "." not in cls.__name__
        assert cls.__doc__ is None, cls
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})


def test_unlisted_classes_are_named_as_results_show_them(new_state):
    state = new_state()
    assert [type(x).__name__ for x in (state, state.current_enemy(), state.has_turn())] == [
        "PyState", "Enemy", "PlayerId"]
    assert type(tornquil.TornquilGame([players.RandomPlayer(1)], 1).playout()).__name__ == "GameResult"


def test_classes_without_a_constructor_say_so(new_state):
    state = new_state()
    result_class = type(tornquil.TornquilGame([players.RandomPlayer(1)], 1).playout())
    for cls in (type(state), type(state.current_enemy()), type(state.has_turn()), card.CardSuit,
                card.CardValue, result_class):
        with pytest.raises(TypeError, match="^No constructor defined$"):
            cls()


def test_panic_exception_is_a_base_exception_kept_in_no_module():
    with pytest.raises(BaseException) as raised:
        actions.ActionCombo([card.Card(card.CardSuit.Hearts, card.CardValue.Two)] * 5)
    assert is_panic(raised.value)
    assert not isinstance(raised.value, Exception)
    for module in (tornquil, card, actions, players):
        assert not hasattr(module, "PanicException")
    # The interpreter and the module carry on.
    assert actions.ActionYield() == actions.ActionYield()


def test_panic_exception_is_one_class_for_every_fault():
    raised = []
    for cards in ([card.Card(card.CardSuit.Hearts, card.CardValue.Two)] * 5,) * 2:
        try:
            actions.ActionCombo(cards)
        except BaseException as error:  # noqa: B036
            raised.append(type(error))
    try:
        actions.ActionDiscard([card.Card(card.CardSuit.Hearts, card.CardValue.Two)] * 9)
    except BaseException as error:  # noqa: B036
        raised.append(type(error))
    assert raised[0] is raised[1] is raised[2]


def test_importing_raises_no_warning_and_classes_know_their_module():
    from conftest import run_python
    child = run_python("import tornquil; print(tornquil.card.Card.__module__, repr(tornquil.TornquilGame))",
                       PYTHONWARNINGS="error")
    assert child.returncode == 0, child.stderr
    assert child.stdout.decode().split() == ["builtins", "<class", "'TornquilGame'>"]


def panic_class_of(module):
    try:
        module.actions.ActionCombo([module.card.Card(module.card.CardSuit.Hearts, module.card.CardValue.Two)] * 5)
    except BaseException as error:  # noqa: B036
        return type(error)


def test_a_second_instance_of_the_module_has_classes_and_a_fault_of_its_own():
    import importlib.util
    spec = importlib.util.find_spec("tornquil")
    second = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(second)

    assert second.card.Card is not card.Card
    assert panic_class_of(second) is not panic_class_of(tornquil)
    assert panic_class_of(second).__name__ == "PanicException"
    # Each instance plays with its own classes and refuses the other's values.
    result = second.TornquilGame([second.players.RandomPlayer(seed=1)], 4).playout()
    assert type(result) is not type(tornquil.TornquilGame([players.RandomPlayer(seed=1)], 4).playout())
    with pytest.raises(TypeError):
        second.card.CardSuit.Spades == card.CardSuit.Spades  # noqa: B015
    assert int(result) == int(tornquil.TornquilGame([players.RandomPlayer(seed=1)], 4).playout())
    with pytest.raises(TypeError):
        second.card.Card(card.CardSuit.Hearts, card.CardValue.Two)
    assert second.card.CardSuit.all() is not card.CardSuit.all()


def test_a_sub_interpreter_imports_and_plays_with_its_own_module():
    from conftest import run_python
    code = """
try:
    import _interpreters as interpreters  # 3.13 and later
except ImportError:
    import _xxsubinterpreters as interpreters
import tornquil
interpreter = interpreters.create()
interpreters.run_string(interpreter, '''
import tornquil
game = tornquil.TornquilGame([tornquil.players.MCTSPlayer(200, 2, True)] * 2, 3)
assert int(game.playout()) in (0, 1)
''')
interpreters.destroy(interpreter)
print(int(tornquil.TornquilGame([tornquil.players.RandomPlayer(seed=2)], 5).playout()))
"""
    child = run_python(code)
    assert child.returncode == 0, child.stderr.decode()
    assert child.stdout.decode().strip() in ("0", "1")
