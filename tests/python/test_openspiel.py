import ast
import json
import pathlib
import pickle
import random
import re
import subprocess
import sys

import pytest

pyspiel = pytest.importorskip("pyspiel")
np = pytest.importorskip("numpy")

import tornquil  # noqa: E402
import tornquil_openspiel  # noqa: E402
import tornquil_solver  # noqa: E402
from conftest import child_environment, run_python  # noqa: E402
from open_spiel.python.algorithms import ismcts, mcts  # noqa: E402
from test_docstrings import undocumented  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
CHANCE, TERMINAL = int(pyspiel.PlayerId.CHANCE), int(pyspiel.PlayerId.TERMINAL)


def load(players, seed=None):
    params = {"players": players} if seed is None else {"players": players, "seed": seed}
    return pyspiel.load_game("tornquil", params)


def dealt(players, seed):
    game = load(players, seed)
    state = game.new_initial_state()
    state.apply_action(0)
    return game, state


def random_states(players, seed, limit=None):
    """The states of a game of `seed` played by seeded random choices, the deal's state first."""
    choices = random.Random(seed)
    _, state = dealt(players, seed)
    states = [state.clone()]
    while not state.is_terminal() and (limit is None or len(states) < limit):
        state.apply_action(choices.choice(state.legal_actions()))
        states.append(state.clone())
    return states


def won_states(players, seed):
    """The states along the solver's winning line for the deal of `seed`: a whole game, with
    enemies killed, cards drawn and returned, to its win."""
    solution = tornquil_solver.solve(players=players, seed=seed, seconds=20)
    assert solution.verdict == "Won"
    _, state = dealt(players, seed)
    states = [state.clone()]
    for action in solution.line:
        state.apply_action(next(i for i in state.legal_actions() if state.action_to_string(i) == str(action)))
        states.append(state.clone())
    return states


def drawn_by(state, seat):
    """What each seat drew, as `seat`'s information state tells: card names or a count."""
    drawn = {}
    history = state.information_state_string(seat).split("history:\n", 1)[-1]
    for drawer, cards in re.findall(r"; seat (\d) drew ([^;\n]+)", history):
        drawn.setdefault(int(drawer), []).append(cards)
    return drawn


def fixed(value):
    return lambda: value


class TestTheGameOpenSpielSees:
    @pytest.mark.parametrize("players", [1, 2, 3, 4])
    @pytest.mark.parametrize("seed", [None, 1000])
    def test_passes_random_sim_test_with_serialization(self, players, seed):
        pyspiel.random_sim_test(load(players, seed), num_sims=3, serialize=True, verbose=False)

    def test_loads_by_name_with_its_parameters_and_their_defaults(self):
        game = pyspiel.load_game("tornquil(players=3,seed=9)")
        assert (game.num_players(), game.get_parameters()) == (3, {"players": 3, "seed": 9})
        assert pyspiel.load_game("tornquil").get_parameters() == {"players": 2, "seed": -1}
        game_type = game.get_type()
        assert game_type.utility == pyspiel.GameType.Utility.IDENTICAL
        assert game_type.chance_mode == pyspiel.GameType.ChanceMode.EXPLICIT_STOCHASTIC
        assert (game.min_utility(), game.max_utility(), game.num_distinct_actions()) == (0.0, 12.0, 585)

    @pytest.mark.parametrize("params, error", [
        ({"players": 0}, "'players' must be an integer from 1 to 4"),
        ({"players": 5}, "'players' must be an integer from 1 to 4"),
        ({"seed": -2}, "'seed' must be an integer from -1 to 2147483647"),
        ({"colour": 1}, "Unknown parameter 'colour'"),
        ({"players": 1.5}, "Wrong type for parameter players"),
    ])
    def test_refuses_parameters_out_of_range(self, params, error):
        with pytest.raises(Exception, match=error):
            pyspiel.load_game("tornquil", params)

    def test_a_seeded_deal_is_one_certain_outcome_and_an_unseeded_one_of_many_seeds(self):
        seeded = load(2, 7).new_initial_state()
        assert seeded.current_player() == CHANCE and seeded.chance_outcomes() == [(0, 1.0)]
        unseeded = load(2).new_initial_state()
        outcomes = unseeded.chance_outcomes()
        assert [outcome for outcome, _ in outcomes] == list(range(tornquil_openspiel.DEALS))
        assert sum(probability for _, probability in outcomes) == pytest.approx(1.0)
        unseeded.apply_action(7)
        assert str(unseeded) == str(dealt(2, 7)[1])

    @pytest.mark.parametrize("seed, outcome", [(7, 1), (None, tornquil_openspiel.DEALS), (None, -2)])
    def test_a_deal_outside_the_outcomes_is_refused(self, seed, outcome):
        with pytest.raises(ValueError, match="outcome"):
            load(2, seed).new_initial_state().apply_action(outcome)

    def test_actions_are_the_environments_indices_in_ascending_order(self):
        for state in random_states(3, 1001, limit=60)[:-1]:
            legal = state.legal_actions()
            assert legal == sorted(legal) and len(set(legal)) == len(legal)
            assert set(legal) == set(state._world.game.legal_indices())

    def test_an_illegal_action_is_refused_and_changes_nothing(self):
        _, state = dealt(2, 1000)
        before = (str(state), state.history(), state.information_state_string(0))
        not_held = next(index for index in range(53) if index not in state.legal_actions())
        discard = 326  # the first card of the hand, but no discard is due
        past_the_hand = 326 + 0b10000000 - 1  # the eighth card of a hand of seven
        for index in (not_held, discard, past_the_hand, 585, 2**40):
            with pytest.raises(ValueError, match=f"^action {index} is not legal in this state$"):
                state.apply_action(index)
            assert (str(state), state.history(), state.information_state_string(0)) == before
        assert state.action_to_string(past_the_hand) == f"Action({past_the_hand})"

    @pytest.mark.parametrize("players", [1, 2, 3, 4])
    def test_games_stay_within_the_length_bound(self, players):
        for seed in range(20):
            assert len(random_states(players, seed)) - 1 <= tornquil_openspiel.max_game_length(players)


class TestTheEnginesGame:
    @pytest.mark.parametrize("players, seed", [(1, 3), (2, 1000), (3, 11), (4, 5)])
    def test_the_same_seed_and_choices_reach_the_engines_states_and_result(self, players, seed):
        states = random_states(players, seed)
        chosen = [state.history()[-1] for state in states[1:]]
        texts = [(str(state), sorted(state.action_to_string(a) for a in state.legal_actions())) for state in states[:-1]]
        actions = [before.action_to_string(action) for before, action in zip(states, chosen)]

        seen = []

        class Replay:
            def __init__(self):
                self.chosen = iter(actions)

            def play(self, state):
                offered = state.action_space()
                seen.append((str(state), sorted(str(action) for action in offered)))
                text = next(self.chosen)
                return next(action for action in offered if str(action) == text)

        engine = tornquil.TornquilGame([Replay()] * players, seed)
        result = engine.playout()
        assert len(seen) == len(texts)
        for (engine_text, engine_actions), (text, legal) in zip(seen, texts):
            assert text.startswith(engine_text + "\n")
            # A hand holding both jesters lists the engine's action twice; the index once.
            assert sorted(set(engine_actions)) == legal
        last = states[-1]
        assert last.returns() == [float(engine.reward())] * players
        assert str(result).endswith(".Won") == (last.returns()[0] == 12.0)

    def test_a_won_game_returns_twelve_to_every_player(self):
        *before, state = won_states(2, 1000)
        assert all(each.returns() == [0.0, 0.0] for each in before)
        assert state.is_terminal() and state.current_player() == TERMINAL
        assert state.returns() == [12.0, 12.0] and state.rewards() == [12.0, 12.0]

    def test_a_lost_game_returns_its_level_to_every_player(self):
        last = random_states(3, 4)[-1]
        level = last._world.game.level()
        assert last._world.game.result() == "Lost" and last.returns() == [float(level)] * 3


class TestWhatASeatKnows:
    def test_resampling_keeps_every_observation_of_the_seat_and_changes_hidden_cards(self):
        changed = 0
        games = [random_states(2, 1000), random_states(4, 1002), won_states(3, 1001)[::3]]
        for states in games:
            players = states[0].num_players()
            for state in states[:-1]:
                for seat in range(players):
                    other = state.resample_from_infostate(seat, fixed(0.3))
                    assert other.information_state_string(seat) == state.information_state_string(seat)
                    assert other.observation_string(seat) == state.observation_string(seat)
                    assert other.information_state_tensor(seat) == state.information_state_tensor(seat)
                    assert other.observation_tensor(seat) == state.observation_tensor(seat)
                    changed += str(other) != str(state)
        assert changed > 100

    def test_a_resampled_world_depends_only_on_the_seats_view(self):
        # Two states that differ only in what the seat cannot see resample to the same world.
        for state in won_states(3, 1003)[10:-1:7]:
            seat = state.current_player()
            world = state.resample_from_infostate(seat, fixed(0.25))
            again = world.resample_from_infostate(seat, fixed(0.25))
            assert str(again) == str(world)
            for each in range(3):
                assert again.information_state_string(each) == world.information_state_string(each)
                assert again.information_state_tensor(each) == world.information_state_tensor(each)

    def test_a_resampled_world_keeps_no_other_seats_past_draws_or_hands(self):
        last = won_states(3, 1003)[-2]
        world = last.resample_from_infostate(0, fixed(0.5))
        hands = world._world.hands
        for seat in (1, 2):
            drawn = drawn_by(last, seat)
            assert any(not cards.isdigit() for cards in drawn[seat])
            assert all(cards.isdigit() for cards in drawn_by(world, seat)[seat])
            held = world.information_state_tensor(seat)[-53:]
            assert held == hands[seat].tolist()
        assert drawn_by(world, 0) == drawn_by(last, 0)

    def test_the_history_shows_a_seat_its_own_draws_and_only_the_count_of_others(self):
        draws = 0
        for states in (won_states(2, 1000), random_states(3, 1001)):
            last = states[-1]
            for seat in range(last.num_players()):
                for drawer, drawn in drawn_by(last, seat).items():
                    draws += len(drawn)
                    assert all(cards.isdigit() != (drawer == seat) for cards in drawn)
        assert draws > 10

    def test_the_public_observation_is_every_seats_and_the_full_one_reveals_the_hidden_cards(self):
        game, state = dealt(3, 1000)
        kinds = {
            "public": pyspiel.IIGObservationType(perfect_recall=False, public_info=True,
                                                 private_info=pyspiel.PrivateInfoType.NONE),
            "full": pyspiel.IIGObservationType(perfect_recall=False, public_info=True,
                                               private_info=pyspiel.PrivateInfoType.ALL_PLAYERS),
        }
        public = game.make_py_observer(kinds["public"])
        texts = set()
        tensors = set()
        for seat in range(3):
            public.set_from(state, seat)
            tensors.add(public.tensor.tobytes())
            texts.add(public.string_from(state, seat))
        assert len(texts) == len(tensors) == 1 and "hand:" not in texts.pop()
        full = game.make_py_observer(kinds["full"])
        other = state.resample_from_infostate(0, fixed(0.5))
        full.set_from(state, 0)
        truth = full.tensor.copy()
        full.set_from(other, 0)
        assert full.tensor.size == 923 and not np.array_equal(truth, full.tensor)
        assert full.string_from(state, 0) == str(state)

    @pytest.mark.parametrize("perfect_recall, public_info, private_info", [
        (True, True, pyspiel.PrivateInfoType.ALL_PLAYERS),
        (True, False, pyspiel.PrivateInfoType.NONE),
        (False, False, pyspiel.PrivateInfoType.SINGLE_PLAYER),
    ])
    def test_an_observation_it_does_not_provide_is_refused(self, perfect_recall, public_info, private_info):
        kind = pyspiel.IIGObservationType(perfect_recall=perfect_recall, public_info=public_info,
                                          private_info=private_info)
        with pytest.raises(ValueError, match="no observation of the kind"):
            load(2).make_py_observer(kind)
        with pytest.raises(ValueError, match="take no parameters"):
            load(2).make_py_observer(None, {"colour": True})

    @pytest.mark.parametrize("seat, draw, error", [
        (2, 0.5, "player 2 is not a seat of this 2-player game"), (-1, 0.5, "player -1 is not a seat"),
        (0, float("nan"), "not a number from 0 to 1"), (0, -0.1, "not a number from 0 to 1"),
        (0, 1.5, "not a number from 0 to 1"),
    ])
    def test_resampling_refuses_a_seat_or_draw_it_cannot_use(self, seat, draw, error):
        _, state = dealt(2, 1000)
        with pytest.raises(ValueError, match=error):
            state.resample_from_infostate(seat, fixed(draw))

    def test_the_edges_of_the_draw_give_worlds(self):
        _, state = dealt(2, 1000)
        for draw in (0.0, 1.0, 0.9999999999999999):
            world = state.resample_from_infostate(1, fixed(draw))
            assert world.information_state_string(1) == state.information_state_string(1)

    def test_before_the_deal_nothing_is_observed_and_resampling_copies(self):
        state = load(2).new_initial_state()
        assert not any(state.information_state_tensor(0)) and not any(state.observation_tensor(1))
        assert str(state.resample_from_infostate(0, fixed(0.9))) == str(state)


class TestSerialization:
    @staticmethod
    def assert_same(state, copy, players):
        assert str(copy) == str(state) and copy.history() == state.history()
        assert copy.returns() == state.returns() and copy.legal_actions() == state.legal_actions()
        for seat in range(players):
            assert copy.information_state_string(seat) == state.information_state_string(seat)
            assert copy.information_state_tensor(seat) == state.information_state_tensor(seat)

    @pytest.mark.parametrize("players, seed", [(2, 1000), (4, None)])
    def test_every_state_of_a_game_round_trips(self, players, seed):
        game = load(players, seed)
        if seed is None:
            states = [game.new_initial_state()]
            choices = random.Random(5)
            while not states[-1].is_terminal():
                states.append(states[-1].child(choices.choice(states[-1].legal_actions())))
        else:
            states = [game.new_initial_state()] + won_states(players, seed)
        for state in states:
            text = pyspiel.serialize_game_and_state(game, state)
            _, copy = pyspiel.deserialize_game_and_state(text)
            self.assert_same(state, copy, players)
            assert str(pickle.loads(pickle.dumps(state))) == str(state)

    def test_a_resampled_state_round_trips_and_plays_on_alike(self):
        game = load(3, 1000)
        for state in won_states(3, 1000)[5:-1:20]:
            world = state.resample_from_infostate(state.current_player(), fixed(0.7))
            copy = game.deserialize_state(world.serialize())
            self.assert_same(world, copy, 3)
            choices, copy_choices = random.Random(1), random.Random(1)
            while not world.is_terminal():
                world.apply_action(choices.choice(world.legal_actions()))
                copy.apply_action(copy_choices.choice(copy.legal_actions()))
                self.assert_same(world, copy, 3)

    def test_a_clone_is_independent_of_its_original(self):
        _, state = dealt(2, 1000)
        twin = state.clone()
        twin.apply_action(twin.legal_actions()[0])
        assert str(state) == str(dealt(2, 1000)[1]) and state.information_state_string(0).endswith("history: -")


class TestOpenSpielsBots:
    def test_mcts_and_ismcts_finish_games(self):
        game = load(2, 1000)
        evaluator = mcts.RandomRolloutEvaluator(1, np.random.RandomState(0))
        bots = [mcts.MCTSBot(game, 2.0, 8, evaluator, solve=False, random_state=np.random.RandomState(1)),
                ismcts.ISMCTSBot(game, evaluator, 2.0, 8, random_state=np.random.RandomState(2))]
        for bot in bots:
            state = game.new_initial_state()
            state.apply_action(0)
            while not state.is_terminal():
                state.apply_action(bot.step(state))
            level = state.returns()[0]
            assert state.returns() == [level, level] and 0 <= level <= 12


def test_every_public_class_and_function_has_a_docstring():
    assert undocumented(ast.parse((ROOT / "python" / "tornquil_openspiel.py").read_text())) == []


def test_the_readme_example_plays_both_bots():
    section = (ROOT / "README.md").read_text().split("## The OpenSpiel game\n", 1)[1]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    child = run_python(code, NO_COLOR="1", timeout=120)
    assert child.returncode == 0, child.stderr.decode()
    assert re.fullmatch(r"(MCTSBot|ISMCTSBot) reached level \d+\n(MCTSBot|ISMCTSBot) reached level \d+\n",
                        child.stdout.decode())


def test_importing_without_the_extra_says_what_to_install():
    child = run_python("import sys; sys.modules['pyspiel'] = None; import tornquil_openspiel")
    assert child.returncode != 0
    assert "pip install 'tornquil[openspiel]'" in child.stderr.decode()


def compare(*arguments, timeout=120):
    return subprocess.run([sys.executable, str(ROOT / "bench" / "openspiel_compare.py"), *arguments],
                          capture_output=True, timeout=timeout, env=child_environment(NO_COLOR="1"))


@pytest.mark.slow
def test_the_comparison_plays_every_kind_on_the_same_deal_and_tabulates_them(tmp_path):
    out = tmp_path / "games.jsonl"
    child = compare("--players", "1", "--games", "1", "--seconds", "0.01", "--first-seed", "7", "--out", str(out))
    assert child.returncode == 0, child.stderr.decode()
    records = [json.loads(line) for line in out.read_text().splitlines()]
    assert sorted(record["kind"] for record in records) == ["fair", "ismcts", "mcts", "search"]
    assert {(record["players"], record["seed"]) for record in records} == {(1, 7)}
    rows = [line for line in child.stdout.decode().splitlines() if line.startswith("| 1 | ")]
    assert len(rows) == 4 and all(re.search(r"\| 1 \| \d+\.\d% \[", row) for row in rows)


@pytest.mark.parametrize("arguments", [
    ("--games", "0"), ("--seconds", "nan"), ("--kinds", "mcts,mcts"), ("--players", "5"), ("--out", "/"),
])
def test_the_comparison_refuses_what_it_cannot_run_before_any_game(arguments):
    child = compare(*arguments)
    assert child.returncode == 2 and child.stdout == b""
