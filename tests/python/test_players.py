import pytest

import tornquil
from conftest import FirstActionPlayer, run_python

p, a = tornquil.players, tornquil.actions
TornquilGame = tornquil.TornquilGame


def game_states(seed=13, players=2, count=30):
    """The states of one seeded game, as its first-action player saw them."""
    player = FirstActionPlayer()
    TornquilGame([player] * players, seed).playout()
    return player.states[:count]


def choices(player, states):
    return [str(player.play(state)) for state in states]


class TestRandomPlayer:
    def test_same_seed_same_sequence_and_another_seed_another(self):
        states = game_states()
        assert choices(p.RandomPlayer(4), states) == choices(p.RandomPlayer(seed=4), states)
        assert choices(p.RandomPlayer(4), states) != choices(p.RandomPlayer(5), states)

    def test_the_sequence_advances_with_each_call(self):
        state = game_states()[0]
        player = p.RandomPlayer(4)
        assert len(set(choices(player, [state] * 20))) > 1

    def test_chosen_actions_are_legal_action_objects(self):
        for state in game_states():
            action = p.RandomPlayer(1).play(state=state)
            assert action in state.action_space()
            assert type(action).__name__.startswith("Action")

    def test_zero_is_a_seed_and_none_is_none(self):
        states = game_states()
        assert choices(p.RandomPlayer(0), states) == choices(p.RandomPlayer(0), states)
        unseeded = [choices(player, states) for player in (p.RandomPlayer(), p.RandomPlayer(None), p.RandomPlayer(seed=None))]
        assert len({tuple(c) for c in unseeded}) == 3

    def test_a_game_plays_with_its_own_copy(self):
        state = game_states()[0]
        played = p.RandomPlayer(8)
        TornquilGame([played, played], 1).playout()
        assert str(played.play(state)) == str(p.RandomPlayer(8).play(state))

    def test_two_seats_from_one_object_are_independent_copies(self):
        # A game of one object twice plays like a game of two separately made equal objects.
        shared = p.RandomPlayer(2)
        for seed in range(10):
            separate = [p.RandomPlayer(2), p.RandomPlayer(2)]
            outcomes = []
            for game in (TornquilGame([shared, shared], seed), TornquilGame(separate, seed)):
                outcomes.append((int(game.playout()), game.reward()))
            assert outcomes[0] == outcomes[1]

    @pytest.mark.parametrize("seed", [1.0, "1", [1]])
    def test_seed_must_be_an_integer(self, seed):
        with pytest.raises(TypeError, match="^argument 'seed': "):
            p.RandomPlayer(seed)

    @pytest.mark.parametrize("seed", [-1, 2 ** 64])
    def test_seed_out_of_range_is_the_interpreters_overflow(self, seed):
        with pytest.raises(OverflowError) as raised:
            p.RandomPlayer(seed)
        assert "seed" not in str(raised.value)

    def test_play_takes_only_a_state_object(self):
        player = p.RandomPlayer(1)
        with pytest.raises(TypeError, match="^argument 'state': 'int' object cannot be converted to 'PyState'$"):
            player.play(3)
        with pytest.raises(TypeError, match="missing required argument 'state'"):
            player.play()
        with pytest.raises(TypeError, match="takes 1 positional argument but 2 were given"):
            player.play(game_states()[0], 1)

    def test_has_no_other_members(self):
        assert [n for n in dir(p.RandomPlayer(1)) if not n.startswith("__")] == ["play"]


class TestInputPlayer:
    def test_constructor_ignores_arguments_and_play_is_its_only_member(self):
        player = p.InputPlayer(1, 2, x=3)
        assert [n for n in dir(player) if not n.startswith("__")] == ["play"]

    def test_play_asks_the_console_and_returns_the_chosen_action(self):
        code = (
            "import tornquil\n"
            "class Keep:\n"
            "    def play(self, state):\n"
            "        global kept\n"
            "        kept = state\n"
            "        raise SystemExit\n"
            "try:\n"
            "    tornquil.TornquilGame([Keep()], 3).playout()\n"
            "except SystemExit:\n"
            "    pass\n"
            "chosen = tornquil.players.InputPlayer().play(state=kept)\n"
            "print('CHOSE', chosen == kept.action_space()[1])\n"
        )
        child = run_python(code, stdin_text="nine\n1\n")
        out = child.stdout.decode()
        assert child.returncode == 0, child.stderr.decode()
        assert "Type number to select an action:" in out and "Failed to parse input" in out
        assert out.rstrip().endswith("CHOSE True")
