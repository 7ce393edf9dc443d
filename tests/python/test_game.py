import threading

import pytest

import tornquil
from conftest import FirstActionPlayer

a, p = tornquil.actions, tornquil.players
TornquilGame = tornquil.TornquilGame


class TestConstruction:
    @pytest.mark.parametrize("count", [0, 5])
    def test_only_one_to_four_players(self, count):
        with pytest.raises(ValueError, match="^Only 1-4 players are allowed$"):
            TornquilGame([p.RandomPlayer(1)] * count)

    def test_parameters_by_position_or_keyword(self):
        first = TornquilGame(players=[p.RandomPlayer(3)], seed=4).playout()
        assert first == TornquilGame([p.RandomPlayer(3)], 4).playout()

    @pytest.mark.parametrize("players", [3, None, "ab", p.RandomPlayer(1)])
    def test_players_must_be_a_sequence(self, players):
        with pytest.raises(TypeError, match="^argument 'players': "):
            TornquilGame(players)

    def test_seed_must_be_an_unsigned_64_bit_integer(self):
        with pytest.raises(TypeError, match="^argument 'seed': 'float' object cannot be interpreted as an integer$"):
            TornquilGame([p.RandomPlayer(1)], 1.0)
        with pytest.raises(TypeError, match="^argument 'seed': "):
            TornquilGame([p.RandomPlayer(1)], "1")
        for seed in (-1, 2 ** 64):
            with pytest.raises(OverflowError):
                TornquilGame([p.RandomPlayer(1)], seed)
        TornquilGame([p.RandomPlayer(1)], 2 ** 64 - 1)
        TornquilGame([p.RandomPlayer(1)], None)

    def test_any_object_takes_a_seat(self):
        TornquilGame([len, object(), 3, "x"])

    def test_no_attributes_text_or_comparison_of_its_own(self):
        game = TornquilGame([p.RandomPlayer(1)], 1)
        assert not hasattr(game, "state") and not hasattr(game, "players")
        assert repr(game).startswith("<TornquilGame object at ") and game != TornquilGame([p.RandomPlayer(1)], 1)


def game_record(game_seed, player_seeds):
    """The result of a seeded game and every action taken in it, in order."""
    chosen = []

    class Watcher:
        def __init__(self, seed):
            self.player = p.RandomPlayer(seed)

        def play(self, state):
            action = self.player.play(state)
            chosen.append(str(action))
            return action

    result = TornquilGame([Watcher(s) for s in player_seeds], game_seed).playout()
    return int(result), chosen


class TestPlayout:
    def test_seeded_games_are_reproducible_turn_by_turn(self):
        first = game_record(21, [1, 2, 3])
        assert first == game_record(21, [1, 2, 3])
        assert len(first[1]) > 3
        assert first != game_record(22, [1, 2, 3])

    def test_built_in_random_players_reproduce_the_same_result(self):
        results = {int(TornquilGame([p.RandomPlayer(5)], 9).playout()) for _ in range(5)}
        assert len(results) == 1
        for seed in range(20):
            assert int(TornquilGame([p.RandomPlayer(seed), p.RandomPlayer(seed + 1)], seed).playout()) == \
                int(TornquilGame([p.RandomPlayer(seed), p.RandomPlayer(seed + 1)], seed).playout())

    def test_a_python_player_plays_a_whole_game_by_keyword(self):
        player = FirstActionPlayer()
        result = TornquilGame([player], 5).playout()
        assert type(result).__name__ == "GameResult" and len(player.states) > 1

    def test_a_module_object_is_a_player(self):
        import types
        module = types.ModuleType("seat")
        exec("def play(state):\n    return state.action_space()[-1]", module.__dict__)
        assert int(TornquilGame([module], 1).playout()) == 1  # a solo yield loses at once

    def test_a_player_list_may_hold_one_python_object_twice(self):
        player = FirstActionPlayer()
        TornquilGame([player, player], 3).playout()
        seats = {str(s).splitlines()[0] for s in player.states}
        assert seats == {"Player: PlayerId(0)", "Player: PlayerId(1)"}

    def test_reward_afterwards_is_that_of_the_state_before_the_final_action(self):
        player = FirstActionPlayer()
        game = TornquilGame([player], 2)
        game.playout()
        assert game.reward() == player.states[-1].reward() > 0

    def test_a_second_playout_asks_again_from_the_final_state(self):
        player = FirstActionPlayer()
        game = TornquilGame([player], 2)
        game.playout()
        last = str(player.states[-1])
        game.playout()
        assert str(player.states[-1]) == last

    def test_every_seat_is_asked_with_a_fresh_copy_of_the_state(self):
        player = FirstActionPlayer()
        TornquilGame([player, p.RandomPlayer(1)], 8).playout()
        assert len(set(map(id, player.states))) == len(player.states)


class Failing:
    """A player whose `play` runs `behaviour`; the state it was shown is kept."""

    def __init__(self, behaviour):
        self.behaviour = behaviour
        self.shown = []

    def play(self, state):
        self.shown.append(str(state))
        return self.behaviour(state)


def assert_state_unchanged(game, player, expected_error):
    with pytest.raises(expected_error):
        game.playout()
    with pytest.raises(expected_error):
        game.playout()
    assert player.shown[0] == player.shown[1]


class TestTurnErrors:
    def test_an_illegal_action_is_a_key_error_listing_the_legal_ones(self):
        player = FirstActionPlayer()
        game = TornquilGame([Failing(lambda state: player.play(state) and a.ActionDiscard([]))], 4)
        with pytest.raises(KeyError) as raised:
            game.playout()
        legal = ", ".join(str(x) for x in player.states[0].action_space())
        assert raised.value.args == (f"'Discard([])' is not a legal action. Legal actions are: [{legal}]",)

    def test_yield_when_it_is_not_legal(self):
        # After the first yield of a two-player game the turn passes; a discard phase allows no yield.
        seat = Failing(lambda state: a.ActionYield() if str(state.action_space()[-1]) != "Yield"
                       else state.action_space()[0])
        with pytest.raises(KeyError, match=r"^\"'Yield' is not a legal action. Legal actions are: \[Discard\("):
            TornquilGame([seat], 6).playout()

    def test_combo_cards_must_come_in_the_listed_order(self):
        class Reverser:
            combo = None

            def play(self, state):
                for action in state.action_space():
                    if type(action).__name__ == "ActionCombo":
                        text = str(action)
                        cards = sorted((c for c in state.current_hand() if str(c) in text),
                                       key=lambda c: text.index(str(c)))
                        assert a.ActionCombo(cards) == action
                        self.combo = str(a.ActionCombo(cards[::-1]))
                        return a.ActionCombo(cards[::-1])
                return state.action_space()[0]

        for seed in range(100):
            player = Reverser()
            try:
                TornquilGame([player], seed).playout()
            except KeyError as error:
                assert error.args[0].startswith(f"'{player.combo}' is not a legal action.")
                return
        pytest.fail("no seed dealt a combo")

    def test_a_player_without_play_fails_with_attribute_error_at_its_turn(self):
        game = TornquilGame([lambda state: None])
        with pytest.raises(AttributeError, match="play"):
            game.playout()

    def test_play_raising_propagates_unchanged(self):
        class Refusal(Exception):
            pass

        def refuse(state):
            raise Refusal("no")

        player = Failing(refuse)
        assert_state_unchanged(TornquilGame([player], 3), player, Refusal)

    def test_play_returning_something_else_lists_every_action_class(self):
        player = Failing(lambda state: None)
        with pytest.raises(TypeError) as raised:
            TornquilGame([player], 3).playout()
        lines = str(raised.value).split("\n")
        assert lines[0] == ("failed to extract enum PyAction ('PyActionPlay | PyActionAnimalCombo | PyActionCombo"
                            " | PyActionYield | PyActionDiscard | PyActionChangePlayer')")
        assert lines[1:] == [
            f"- variant PyAction{kind} (PyAction{kind}): 'NoneType' object cannot be converted to 'Action{kind}'"
            for kind in ("Play", "AnimalCombo", "Combo", "Yield", "Discard", "ChangePlayer")]

    def test_play_must_accept_the_keyword_state(self):
        class Positional:
            def play(self, s, /):
                return s.action_space()[0]

        with pytest.raises(TypeError):
            TornquilGame([Positional()], 3).playout()

    def test_a_failed_turn_leaves_the_state_as_it_was(self):
        player = Failing(lambda state: a.ActionDiscard([]))
        assert_state_unchanged(TornquilGame([player], 3), player, KeyError)


class TestInUse:
    @pytest.mark.parametrize("use", ["reward", "print", "playout"])
    def test_the_playing_game_refuses_its_own_player(self, use):
        seen = []

        class Meddler:
            def play(self, state):
                with pytest.raises(RuntimeError) as raised:
                    getattr(game, use)()
                seen.append(str(raised.value))
                return state.action_space()[-1]

        game = TornquilGame([Meddler()], 1)
        game.playout()
        assert seen and all("in use" in text for text in seen)
        assert game.reward() == 0  # usable again afterwards

    def test_another_thread_is_refused_while_the_game_plays(self):
        outcome = []
        ready, done = threading.Event(), threading.Event()

        def other_thread():
            ready.wait()
            try:
                game.reward()
                outcome.append("allowed")
            except RuntimeError:
                outcome.append("refused")
            done.set()

        class Waiting:
            def play(self, state):
                ready.set()
                done.wait(10)  # lets the other thread run while the game plays
                return state.action_space()[-1]

        game = TornquilGame([Waiting()], 1)
        thread = threading.Thread(target=other_thread)
        thread.start()
        game.playout()
        thread.join()
        assert outcome == ["refused"]

    def test_the_game_is_released_after_a_failed_playout(self):
        game = TornquilGame([Failing(lambda state: None)], 1)
        with pytest.raises(TypeError):
            game.playout()
        assert game.reward() == 0


def test_print_writes_the_dump_to_standard_error(capfd):
    game = TornquilGame([p.RandomPlayer(1), p.RandomPlayer(2)], 7)
    assert game.print() is None
    out, err = capfd.readouterr()
    lines = err.split("\n")
    assert out == ""
    assert lines[0] == "[src/lib:55] &self.state = PyState {"
    assert lines[1] == "    state_enum: Players2("
    assert lines[2] == "        State {"
    assert lines[3] == "            table: Table {"
    assert lines[-3:] == ["    ),", "}", ""]
    fields = [line.strip().split(":")[0] for line in lines
              if line.startswith(" " * 12) and line[12] != " " and ":" in line]
    assert fields == ["table", "players", "has_turn", "times_yielded", "max_hand_size", "action_type", "has_ended",
                      "level", "rng_seed"]
    assert all(line.endswith((",", "{", "(", "[")) for line in lines[1:-3])


def test_print_goes_to_the_process_stream_not_sys_stderr(capfd, monkeypatch):
    import io
    import sys
    monkeypatch.setattr(sys, "stderr", io.StringIO())
    TornquilGame([p.RandomPlayer(1)], 1).print()
    assert sys.stderr.getvalue() == ""
    assert capfd.readouterr().err.startswith("[src/lib:55] &self.state = PyState {\n")


def test_a_cycle_through_a_python_player_is_collected():
    import gc
    import weakref

    class Seat:
        def play(self, state):
            return state.action_space()[0]

    seat = Seat()
    seat.game = TornquilGame([seat], 1)
    alive = weakref.ref(seat)
    del seat
    gc.collect()
    assert alive() is None
