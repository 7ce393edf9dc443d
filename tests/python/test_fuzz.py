"""Every entry point called with arbitrary arguments either works or raises the error its rules
give; nothing crashes the interpreter. A game driven by misbehaving players keeps its state."""

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import tornquil
from conftest import is_panic

c, a, p = tornquil.card, tornquil.actions, tornquil.players
GameResult = type(tornquil.TornquilGame([p.RandomPlayer(1)], 1).playout())


class Nonsense(Exception):
    pass


class RaisingEq:
    def __eq__(self, other):
        raise Nonsense("__eq__")

    __hash__ = object.__hash__


class RaisingIndex:
    def __index__(self):
        raise Nonsense("__index__")


class WrongIndex:
    def __index__(self):
        return "three"


class HugeIndex:
    def __index__(self):
        return 2**100


class RaisingLen:
    """A sequence that refuses to say how long it is."""

    def __len__(self):
        raise Nonsense("__len__")

    def __getitem__(self, index):
        raise Nonsense("__getitem__")


def a_state():
    class Capture:
        state = None

        def play(self, state):
            Capture.state = state
            raise Nonsense

    with pytest.raises(Nonsense):
        tornquil.TornquilGame([Capture()] * 2, 3).playout()
    return Capture.state


STATE = a_state()
CARDS = [c.Card(suit, value) for suit in c.CardSuit.all() for value in c.CardValue.numbers()]

scalars = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(min_value=-(2**70), max_value=2**70),
    st.floats(allow_nan=True),
    st.text(max_size=5),
    st.binary(max_size=5),
    st.sampled_from(CARDS),
    st.sampled_from(c.CardSuit.all() + [getattr(c.CardSuit, "None")]),
    st.sampled_from(c.CardValue.numbers() + c.CardValue.royals()),
    st.sampled_from([GameResult.Won, GameResult.Lost, STATE, STATE.has_turn(), a.ActionYield()]),
    st.builds(RaisingEq),
    st.builds(RaisingIndex),
    st.builds(WrongIndex),
    st.builds(HugeIndex),
    st.builds(RaisingLen),
    st.builds(object),
)
values = st.recursive(scalars, lambda inner: st.one_of(st.lists(inner, max_size=10), st.tuples(inner, inner)), max_leaves=12)

# The errors an argument of the wrong kind or size may raise; Nonsense is what the arguments'
# own methods raise, passed on unchanged.
REFUSALS = (TypeError, OverflowError, ValueError, Nonsense)


def call(function, *args, **kwargs):
    try:
        return function(*args, **kwargs)
    except REFUSALS:
        return None
    except BaseException as error:  # noqa: BLE001 - a panic is the only other answer allowed
        if not is_panic(error):
            raise
        assert "capacity" in str(error), str(error)
        return None


FUZZ = settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))


@pytest.mark.slow
@FUZZ
@given(st.lists(values, max_size=4), st.dictionaries(st.sampled_from(["suit", "value", "seed", "card", "cards", "id", "c1", "c2", "state", "players", "other"]), values, max_size=2))
def test_constructors_take_anything_without_crashing(args, kwargs):
    for constructor in (c.Card, a.ActionPlay, a.ActionAnimalCombo, a.ActionCombo, a.ActionYield,
                        a.ActionDiscard, a.ActionChangePlayer, p.RandomPlayer, p.InputPlayer):
        call(constructor, *args, **kwargs)
    call(p.MCTSPlayer, *args, **kwargs)
    for no_constructor in (type(STATE), GameResult, c.CardSuit, c.CardValue, type(STATE.has_turn())):
        with pytest.raises(TypeError, match="No constructor defined"):
            no_constructor(*args, **kwargs)


@FUZZ
@given(values)
def test_comparisons_with_anything_answer_or_refuse(other):
    subjects = [CARDS[0], c.CardSuit.Hearts, c.CardValue.King, GameResult.Won, a.ActionYield(),
                a.ActionPlay(CARDS[1]), STATE, STATE.has_turn()]
    for subject in subjects:
        for compare in (lambda x, y: x == y, lambda x, y: x != y, lambda x, y: x < y, lambda x, y: x >= y):
            call(compare, subject, other)
            call(compare, other, subject)
        call(hash, subject)


@FUZZ
@given(st.lists(values, max_size=3), values)
def test_methods_take_anything_without_crashing(args, seed):
    for method in (STATE.action_space, STATE.current_hand, STATE.current_enemy, STATE.has_turn, STATE.reward,
                   c.CardSuit.all, c.CardValue.numbers, c.CardValue.royals):
        call(method, *args)
    call(p.RandomPlayer(1).play, *args)
    call(p.MCTSPlayer(5, 1, False).play, *args)
    game = call(tornquil.TornquilGame, [p.RandomPlayer(1)], seed)
    if game is not None:
        call(game.reward, *args)


@FUZZ
@given(st.lists(values, max_size=5), values)
def test_player_lists_of_anything_make_a_game_or_a_refusal(players, seed):
    if any(isinstance(player, type(p.InputPlayer())) for player in players):
        return
    game = call(tornquil.TornquilGame, players, seed)
    if game is None:
        return
    try:
        game.playout()
    except (AttributeError, TypeError, KeyError, Nonsense):
        pass


BEHAVIOURS = ["legal", "legal", "legal", "illegal", "foreign", "none", "raise", "touch", "last"]


class Unruly:
    """Behaves as told, turn by turn, and notes what it saw each time it was asked."""

    def __init__(self, behaviours):
        self.behaviours = list(behaviours)
        self.game = None
        self.seen = []

    def play(self, state):
        self.seen.append((str(state), [str(action) for action in state.action_space()], state.reward()))
        behaviour = self.behaviours.pop() if self.behaviours else "legal"
        actions = state.action_space()
        if behaviour == "illegal":
            return a.ActionCombo(CARDS[:4])
        if behaviour == "foreign":
            return CARDS[0]
        if behaviour == "none":
            return None
        if behaviour == "raise":
            raise Nonsense("player gave up")
        if behaviour == "touch":
            with pytest.raises(RuntimeError):
                self.game.reward()
            with pytest.raises(RuntimeError):
                self.game.playout()
        if behaviour == "last":
            return actions[-1]
        return actions[0]


@settings(max_examples=60, deadline=None)
@given(st.integers(1, 4), st.integers(0, 2**64 - 1), st.lists(st.sampled_from(BEHAVIOURS), max_size=80))
def test_a_failed_turn_leaves_the_game_where_it_was(players, seed, behaviours):
    player = Unruly(behaviours)
    game = tornquil.TornquilGame([player] * players, seed)
    player.game = game
    expected_next = None  # what the next ask must see after a failed turn
    failures = 0
    for _ in range(300):
        first_ask = len(player.seen)
        try:
            game.playout()
            finished = True
        except (KeyError, TypeError, Nonsense):
            finished = False
        if expected_next is not None:
            assert player.seen[first_ask] == expected_next
        if finished:
            break
        failures += 1
        expected_next = player.seen[-1]
        assert game.reward() == expected_next[2]
