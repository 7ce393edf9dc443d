import pytest

import tornquil
from conftest import FirstActionPlayer

a = tornquil.actions


def test_action_space_lists_new_equal_objects_on_every_call(new_state):
    state = new_state()
    first, second = state.action_space(), state.action_space()
    assert first is not second and len(first) == len(second) > 1
    assert all(x == y and x is not y for x, y in zip(first, second))


def test_a_new_game_offers_card_plays_first_and_yield_last(new_state):
    actions = new_state(players=2).action_space()
    hand = new_state(players=2).current_hand()
    assert [str(x) for x in actions[: len(hand)]] == [f"Play({c})" for c in hand]
    assert str(actions[-1]) == "Yield"
    assert {type(x).__name__ for x in actions} <= {"ActionPlay", "ActionAnimalCombo", "ActionCombo", "ActionYield"}


@pytest.mark.parametrize("players, hand_size", [(1, 8), (2, 7), (3, 6), (4, 5)])
def test_current_hand_is_the_dealt_hand_of_the_player_to_move(new_state, players, hand_size):
    state = new_state(players=players)
    hand = state.current_hand()
    assert len(hand) == hand_size and type(hand) is list
    assert [type(c).__name__ for c in hand] == ["Card"] * hand_size
    assert str(state).splitlines()[1] == "Hand:   [" + ", ".join(str(c) for c in hand) + "]"


def test_text_has_three_lines_for_turn_hand_and_enemy(new_state):
    state = new_state()
    lines = str(state).split("\n")
    assert lines[0] == "Player: PlayerId(0)"
    assert lines[2] == f"Enemy:  Some({state.current_enemy()})"
    assert repr(state).startswith("<PyState object at ")


def test_turn_and_reward_of_a_new_game(new_state):
    state = new_state(players=3)
    assert str(a.ActionChangePlayer(state.has_turn())) == "ChangePlayer(PlayerId(0))"
    assert state.reward() == 0 and type(state.reward()) is int


def test_methods_take_no_arguments(new_state):
    state = new_state()
    for method in (state.action_space, state.has_turn, state.current_hand, state.reward, state.current_enemy):
        with pytest.raises(TypeError):
            method(1)


def test_state_objects_hash_by_identity_and_are_copies(new_state):
    state = new_state()
    assert hash(state) == hash(state)
    assert state != new_state()  # no comparison of its own
    with pytest.raises(TypeError, match="^No constructor defined$"):
        type(state)()


def test_each_turn_shows_a_copy_that_outlives_the_game():
    player = FirstActionPlayer()
    game = tornquil.TornquilGame([player, player], 11)
    game.playout()
    texts = [str(s) for s in player.states]
    turns = [s.has_turn() for s in player.states]
    del game
    assert [str(s) for s in player.states] == texts
    assert [str(a.ActionChangePlayer(t)).removeprefix("ChangePlayer(") for t in turns] == [
        t.splitlines()[0].removeprefix("Player: ") + ")" for t in texts]
    assert len(set(map(id, player.states))) == len(player.states)


def test_reward_rises_by_one_exactly_when_an_enemy_falls():
    player = FirstActionPlayer()
    tornquil.TornquilGame([player], 2).playout()
    rewards = [s.reward() for s in player.states]
    enemy_cards = [str(s.current_enemy()).split(",")[0] for s in player.states]
    assert rewards[0] == 0 and max(rewards) > 0
    for i in range(1, len(rewards)):
        assert rewards[i] - rewards[i - 1] == (enemy_cards[i] != enemy_cards[i - 1])
