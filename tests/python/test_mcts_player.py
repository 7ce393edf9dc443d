import math

import pytest

import tornquil
from conftest import is_panic

MCTSPlayer = tornquil.players.MCTSPlayer
TornquilGame = tornquil.TornquilGame


class TestConstruction:
    def test_takes_its_arguments_by_position_or_keyword(self):
        MCTSPlayer(10, 1, True)
        MCTSPlayer(10, 1, False, None)
        MCTSPlayer(playouts=0, num_threads=0, use_heuristics=False, policy_variation=255)
        MCTSPlayer(2**32 - 1, 2**64 - 1, True, 0)

    @pytest.mark.parametrize(
        "arguments, name",
        [
            (("10", 1, True), "playouts"),
            ((1.5, 1, True), "playouts"),
            ((10, None, True), "num_threads"),
            ((10, 1, 1), "use_heuristics"),
            ((10, 1, None), "use_heuristics"),
            ((10, 1, True, 3.0), "policy_variation"),
        ],
    )
    def test_arguments_of_the_wrong_kind_are_refused_by_name(self, arguments, name):
        with pytest.raises(TypeError, match=f"^argument '{name}'"):
            MCTSPlayer(*arguments)

    def test_refusals_name_python_types(self):
        with pytest.raises(TypeError, match=r"^argument 'use_heuristics': 'int' object cannot be converted to 'bool'$"):
            MCTSPlayer(10, 1, 1)
        with pytest.raises(TypeError, match=r"^argument 'seconds': must be real number, not bool$"):
            MCTSPlayer(10, 1, True, seconds=True)

    @pytest.mark.parametrize(
        "arguments",
        [(2**32, 1, True), (-1, 1, True), (10, -1, True), (10, 2**64, True), (10, 1, True, 256), (10, 1, True, -1)],
    )
    def test_integers_out_of_range_overflow(self, arguments):
        with pytest.raises(OverflowError):
            MCTSPlayer(*arguments)

    def test_missing_arguments_are_refused(self):
        with pytest.raises(TypeError):
            MCTSPlayer(10, 1)

    def test_methods_carry_their_documentation(self):
        assert MCTSPlayer.play.__doc__ == "Choose an action based on the given state"
        assert MCTSPlayer.ranked_actions.__doc__.startswith("List actions with associated stats")
        assert MCTSPlayer.ranked_actions.__doc__.endswith("`(action, visits, avg_reward)`")


class TestDecisions:
    def test_no_ranking_before_the_first_decision(self):
        assert MCTSPlayer(10, 1, False).ranked_actions() == []

    def test_play_returns_the_first_ranked_action_and_visits_add_up(self, new_state):
        state = new_state(players=2, seed=3)
        player = MCTSPlayer(500, 2, True)
        action = player.play(state)
        ranking = player.ranked_actions()
        assert ranking[0][0] == action
        assert sum(visits for _, visits, _ in ranking) == 500
        assert [str(a) for a, _, _ in sorted(ranking, key=lambda entry: str(entry[0]))] == sorted(
            str(a) for a in state.action_space()
        )
        for entry_action, visits, average in ranking:
            assert isinstance(visits, int) and isinstance(average, float)
            assert visits == 0 or 0.0 <= average <= 12.0

    def test_without_playouts_every_action_is_unvisited_in_list_order(self, new_state):
        state = new_state(players=3)
        player = MCTSPlayer(0, 0, False)
        assert player.play(state=state) == state.action_space()[0]
        ranking = player.ranked_actions()
        assert [a for a, _, _ in ranking] == state.action_space()
        assert all(visits == 0 and math.isnan(average) for _, visits, average in ranking)

    @pytest.mark.parametrize("number", [1, 2, 5, 7])
    def test_unknown_policy_stops_the_decision_with_a_panic(self, new_state, number):
        player = MCTSPlayer(10, 1, False, number)
        with pytest.raises(BaseException) as caught:
            player.play(new_state())
        assert is_panic(caught.value)
        assert str(caught.value) == f"Could not determine policy from number '{number}'"
        assert player.ranked_actions() == []

    def test_no_threads_for_some_playouts_is_a_panic(self, new_state):
        with pytest.raises(BaseException) as caught:
            MCTSPlayer(5, 0, False).play(new_state())
        assert is_panic(caught.value)
        assert str(caught.value) == "assertion failed: num_threads != 0"

    def test_state_must_be_a_state_object(self):
        with pytest.raises(TypeError, match="^argument 'state'"):
            MCTSPlayer(5, 1, False).play(state=3)


def level_reached(game):
    """12 for a won game, otherwise the level of the state before the final action."""
    return 12 if game.playout() == 0 else game.reward()


class TestAsASeat:
    def test_plays_whole_games_for_every_player_count_with_its_best_ranked_offered_action(self):
        class Checked:
            def __init__(self, search):
                self.search, self.turns = search, 0

            def play(self, state):
                action = self.search.play(state)
                ranking = self.search.ranked_actions()
                assert str(action) == str(ranking[0][0])
                assert sorted(str(a) for a, _, _ in ranking) == sorted(str(a) for a in state.action_space())
                assert sum(visits for _, visits, _ in ranking) == 60
                self.turns += 1
                return action

        for players in range(1, 5):
            policy = (0, 3, 4, None)[players - 1]
            seat = Checked(MCTSPlayer(60, 2, players % 2 == 0, policy))
            game = TornquilGame([seat] * players, seed=players)
            level_reached(game)
            assert seat.turns >= 3

    def test_a_game_decides_with_its_own_copy(self):
        player = MCTSPlayer(30, 1, False)
        TornquilGame([player, player], seed=2).playout()
        assert player.ranked_actions() == []

    def test_searching_beats_chance(self):
        searched = sum(level_reached(TornquilGame([MCTSPlayer(400, 2, True)] * 2, seed)) for seed in range(3))
        random = sum(level_reached(TornquilGame([tornquil.players.RandomPlayer(seed)] * 2, seed)) for seed in range(3))
        assert searched > random
