import importlib.util
import random
import warnings

import numpy as np
import pytest
from pettingzoo.test import api_test

import _tornquil_env as native
import tornquil
import tornquil_env
from conftest import run_python

OWN_SIZE = native.observation_size("own")
FULL_SIZE = native.observation_size("full")
# Offsets of the observation blocks that the tests read; the README's table gives them all.
HAND_SLOTS, ATTACK, DISCARD_PILE, OUT_OF_GAME = 0, 424, 477, 530
HAND_SIZES, HANDS, TAVERN_ORDER, CASTLE_ORDER = 625, 645, 857, 911


def card_id_of(text):
    """The card id of a card's plain text such as '♦10' or 'Jester'."""
    if text == "Jester":
        return 52
    suits = "♠♥♦♣"
    values = ["A", "2", "3", "4", "5", "6", "7", "8", "9", "10", "J", "Q", "K"]
    return suits.index(text[0]) * 13 + values.index(text[1:])


def observation(game, seat, information="own"):
    return np.frombuffer(game.observation(seat, information), dtype=np.float32)


def random_game(players, seed):
    """A native game played by seeded random choices: its states' texts, the legal action texts
    of each, and the text of the action chosen in each."""
    choices = random.Random(seed)
    game = native.Game(players, seed)
    turns = []
    while game.result() is None:
        legal = game.legal_indices()
        index = choices.choice(legal)
        turns.append((str(game), {game.action_text(i) for i in legal}, game.action_text(index)))
        game.step(index)
    return turns, game.result(), game.level()


class Replay:
    """A tornquil player that makes the recorded choices and records what it was shown."""

    def __init__(self, chosen):
        self.chosen = iter(chosen)
        self.seen = []

    def play(self, state):
        actions = state.action_space()
        self.seen.append((str(state), {str(action) for action in actions}))
        text = next(self.chosen)
        return next(action for action in actions if str(action) == text)


def replay_in_the_engine(players, seed, chosen):
    replay = Replay(chosen)
    game = tornquil.TornquilGame([replay] * players, seed)
    result = game.playout()
    return replay.seen, str(result).split(".")[-1], game.reward()


GAMES = [(players, seed) for players in (1, 2, 3, 4) for seed in range(12)]


class TestTheSameGameAsTheEngine:
    @pytest.mark.parametrize("players,seed", GAMES)
    def test_every_turn_offers_the_engines_actions_and_reaches_its_states(self, players, seed):
        turns, result, level = random_game(players, seed)
        seen, engine_result, engine_level = replay_in_the_engine(players, seed, [turn[2] for turn in turns])
        assert [(text, legal) for text, legal, _ in turns] == seen
        assert (result, level) == (engine_result, engine_level)

    def test_games_reach_discards_jesters_and_combos(self):
        # The comparison above means little unless the games touch every kind of action.
        kinds = set()
        for players, seed in GAMES:
            for _, legal, chosen in random_game(players, seed)[0]:
                kinds.update(text.split("(")[0] for text in legal)
        assert kinds >= {"Play", "AnimalCombo", "Combo", "Yield", "Discard", "ChangePlayer"}


class TestActionIndices:
    def test_the_blocks_tile_the_index_range(self):
        blocks = sorted(tornquil_env.ACTION_BLOCKS.values())
        assert blocks[0][0] == 0
        assert all(first + count == following for (first, count), (following, _) in zip(blocks, blocks[1:]))
        assert sum(count for _, count in blocks) == tornquil_env.ACTION_COUNT == 585

    @pytest.mark.parametrize("players,seed", GAMES[::5])
    def test_the_mask_is_the_legal_indices_and_only_those_step(self, players, seed):
        game = native.Game(players, seed)
        choices = random.Random(seed)
        while game.result() is None:
            legal = game.legal_indices()
            mask = np.frombuffer(game.legal_mask(), dtype=np.int8)
            assert sorted(legal) == list(np.flatnonzero(mask))
            for index in choices.sample(range(native.ACTION_COUNT), 20):
                if mask[index]:
                    continue
                with pytest.raises(ValueError, match=f"^action {index} is not legal in this state$"):
                    game.copy().step(index)
            game.step(choices.choice(legal))

    def test_indices_name_cards_by_suit_and_value(self):
        game = native.Game(2, 42)  # the first hand holds ♣2, ♥9, ♦5, ♠A, ♦10, ♦8, ♥4
        assert game.action_text(0) == "Play(♠A)"
        assert game.action_text(52) == "Play(Jester)"
        assert game.action_text(53 + 3 * 52 + 40) == "AnimalCombo(♣A, ♣2)"
        assert game.action_text(325) == "Yield"
        assert game.action_text(326 + 0b101 - 1) == "Discard([♣2, ♦5])"
        assert game.action_text(584) == "ChangePlayer(PlayerId(3))"

    def test_indices_that_the_hand_cannot_form_have_no_action(self):
        game = native.Game(2, 42)  # seven cards, no two of a value
        for index in (261 + 0b0011, 326 + 0b10000000 - 1, 585, 2 ** 40):
            with pytest.raises(ValueError, match="cannot be formed from this hand"):
                game.action_text(index)

    def test_an_ended_game_offers_nothing_and_takes_nothing(self):
        game = native.Game(1, 3)
        while game.result() is None:
            game.step(325)  # a lone player who yields loses at once
        assert game.result() == "Lost" and game.legal_indices() == []
        assert not any(game.legal_mask())
        with pytest.raises(RuntimeError, match="^the game has ended$"):
            game.step(325)


def every_card_counts(players):
    counts = np.ones(53, dtype=np.float32)
    counts[52] = {1: 0, 2: 0, 3: 1, 4: 2}[players]
    return counts


class TestObservations:
    @pytest.mark.parametrize("players,seed", GAMES[::3])
    def test_every_card_lies_in_exactly_one_place(self, players, seed):
        game = native.Game(players, seed)
        choices = random.Random(seed)
        while game.result() is None:
            full = observation(game, 0, "full")
            counts = full[ATTACK:ATTACK + 53] + full[DISCARD_PILE:DISCARD_PILE + 53] + full[OUT_OF_GAME:OUT_OF_GAME + 53]
            counts = counts + full[HANDS:HANDS + 4 * 53].reshape(4, 53).sum(axis=0)
            for code in full[TAVERN_ORDER:TAVERN_ORDER + 54]:
                if code:
                    counts[int(code) - 1] += 1
            for code in full[CASTLE_ORDER:CASTLE_ORDER + 12]:
                if code:
                    royal = int(code) - 1
                    counts[royal // 3 * 13 + 10 + royal % 3] += 1
            assert (counts == every_card_counts(players)).all()
            game.step(choices.choice(game.legal_indices()))

    def test_the_own_hand_is_in_its_slots_and_others_only_as_counts(self):
        game = native.Game(3, 5)
        own = observation(game, 0)
        slots = own[HAND_SLOTS:HAND_SLOTS + 8 * 53].reshape(8, 53)
        hand = str(game).splitlines()[1].split("[")[1].rstrip("]").split(", ")
        assert [int(np.argmax(slot)) for slot in slots[:len(hand)]] == [card_id_of(text) for text in hand]
        assert not slots[len(hand):].any()
        assert list(own[HAND_SIZES:HAND_SIZES + 4]) == [6, 6, 6, 0]
        assert len(own) == OWN_SIZE < FULL_SIZE

    @pytest.mark.parametrize("players", [2, 3, 4])
    def test_own_observations_do_not_change_with_the_hidden_cards(self, players):
        for seed in range(8):
            game = native.Game(players, seed)
            for _ in range(seed):  # some play first, so the piles and the enemy have moved
                if game.result() is None:
                    game.step(game.legal_indices()[0])
            if game.result() is not None:
                continue
            for seat in range(players):
                other = game.resample_hidden(seat, seed + 100)
                assert (observation(other, seat) == observation(game, seat)).all()
                assert (observation(other, seat, "full") != observation(game, seat, "full")).any()
                for other_seat in set(range(players)) - {seat}:
                    assert (observation(other, other_seat) != observation(game, other_seat)).any()

    def test_observations_stay_within_their_bounds(self):
        high = {info: np.frombuffer(native.observation_high(info), dtype=np.float32) for info in ("own", "full")}
        for players, seed in GAMES[::4]:
            game = native.Game(players, seed)
            choices = random.Random(seed)
            while game.result() is None:
                for info in ("own", "full"):
                    values = observation(game, game.has_turn(), info)
                    assert ((values >= 0) & (values <= high[info])).all()
                game.step(choices.choice(game.legal_indices()))

    def test_bad_seats_and_information_are_refused(self):
        game = native.Game(2, 1)
        with pytest.raises(ValueError, match="^seat 2 is not a seat of this 2-player game$"):
            game.observation(2, "own")
        with pytest.raises(ValueError, match="^information must be 'own' or 'full', not 'all'$"):
            game.observation(0, "all")
        with pytest.raises(ValueError, match=r"^information must be 'own' or 'full', not '\\udcff'$"):
            game.observation(0, "\udcff")
        with pytest.raises(TypeError, match="^argument 'information': "):
            native.observation_size(1)


def play_environment(environment, seed, choices_seed):
    """Plays one episode with seeded random legal actions; returns what each step showed."""
    environment.reset(seed=seed)
    choices = random.Random(choices_seed)
    steps = []
    for agent in environment.agent_iter():
        observation, reward, terminated, truncated, info = environment.last()
        if terminated or truncated:
            environment.step(None)
            continue
        action = choices.choice(list(np.flatnonzero(observation["action_mask"])))
        steps.append((agent, environment.render(), environment.unwrapped.action_text(action)))
        environment.step(action)
    return steps


class TestEnvironment:
    @pytest.mark.parametrize("players", [1, 2, 3, 4])
    @pytest.mark.parametrize("information", ["own", "full"])
    def test_passes_the_api_test(self, players, information):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # its advice against Dict observations
            api_test(tornquil_env.env(players=players, information=information), num_cycles=1000)

    @pytest.mark.parametrize("players,seed", GAMES[::4])
    def test_a_seeded_episode_is_the_engines_game_of_that_seed(self, players, seed):
        steps = play_environment(tornquil_env.env(players=players, render_mode="ansi"), seed, seed)
        seen, _, _ = replay_in_the_engine(players, seed, [chosen for _, _, chosen in steps])
        assert [text for _, text, _ in steps] == [text for text, _ in seen]
        assert [agent for agent, _, _ in steps] == [f"player_{text.split('(')[1][0]}" for text, _ in seen]

    def test_every_agent_shares_each_reward_and_the_sum_is_the_level(self):
        environment = tornquil_env.raw_env(players=3)
        for seed in range(10):
            environment.reset(seed=seed)
            totals = dict.fromkeys(environment.possible_agents, 0.0)
            choices = random.Random(seed)
            while not any(environment.terminations.values()):
                environment.step(choices.choice(environment.legal_actions()))
                assert len(set(environment.rewards.values())) == 1
                for agent in totals:
                    totals[agent] += environment.rewards[agent]
            assert all(environment.terminations.values())
            info = environment.infos["player_0"]
            assert info["result"] in ("Won", "Lost")
            assert set(totals.values()) == {float(info["level"])}

    def test_resets_are_reproducible_from_a_seed(self):
        first = play_environment(tornquil_env.env(players=2, render_mode="ansi"), 9, 1)
        assert play_environment(tornquil_env.env(players=2, render_mode="ansi"), 9, 1) == first
        seeded = tornquil_env.raw_env(players=2, seed=9, render_mode="ansi")
        seeded.reset()
        assert seeded.render() == str(native.Game(2, 9))
        follow_ups = []
        for _ in range(2):
            environment = tornquil_env.raw_env(players=2, seed=9, render_mode="ansi")
            environment.reset()
            environment.reset()
            follow_ups.append(environment.render())
        assert follow_ups[0] == follow_ups[1] != str(native.Game(2, 9))

    def test_only_the_agent_to_move_has_a_mask(self):
        environment = tornquil_env.env(players=4)
        environment.reset(seed=2)
        for agent in environment.possible_agents:
            mask = environment.observe(agent)["action_mask"]
            assert mask.any() == (agent == environment.agent_selection)

    def test_rendering_without_a_mode_warns_and_returns_nothing(self):
        environment = tornquil_env.raw_env()
        environment.reset(seed=1)
        with pytest.warns(UserWarning, match="render_mode"):
            assert environment.render() is None

    class Index:
        def __index__(self):
            return 3

    @pytest.mark.parametrize("seed", [np.int64(3), np.uint64(3), np.int8(3), Index()], ids=repr)
    def test_any_integer_type_is_a_seed(self, seed):
        given = tornquil_env.raw_env(players=2, seed=seed, render_mode="ansi")
        given.reset()
        assert given.render() == str(native.Game(2, 3))
        given.reset(seed=seed)
        assert given.render() == str(native.Game(2, 3))

    @pytest.mark.parametrize("seed, error", [(-5, ValueError), (2**64, ValueError), (np.int64(-1), ValueError),
                                             (True, TypeError), (1.5, TypeError), ("3", TypeError),
                                             (np.float64(3), TypeError)], ids=repr)
    def test_a_bad_seed_is_refused_where_it_is_given_and_changes_nothing(self, seed, error):
        with pytest.raises(error, match="seed"):
            tornquil_env.env(seed=seed)

        def later_games(bad_seed):
            environment = tornquil_env.raw_env(players=2, seed=11, render_mode="ansi")
            if bad_seed is not None:
                with pytest.raises(error, match="seed"):
                    environment.reset(seed=bad_seed)
            environment.reset()  # the environment's own seed, still pending
            environment.reset()  # the next game of its sequence
            first = environment.render()
            environment.reset(seed=4)
            if bad_seed is not None:
                with pytest.raises(error, match="seed"):
                    environment.reset(seed=bad_seed)
            environment.reset()
            return first, environment.render()

        assert later_games(seed) == later_games(None)

    @pytest.mark.parametrize("arguments", [{"players": 0}, {"players": 5}, {"players": True},
                                           {"information": "all"}, {"render_mode": "rgb_array"}])
    def test_bad_arguments_are_refused(self, arguments):
        with pytest.raises(ValueError):
            tornquil_env.raw_env(**arguments)


class TestNativeModule:
    def test_each_module_instance_has_its_own_class(self):
        spec = importlib.util.find_spec("_tornquil_env")
        second = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(second)
        assert second.Game is not native.Game
        game = second.Game(2, 42)
        assert str(game) == str(native.Game(2, 42))
        assert str(game.copy()) == str(game)

    def test_games_are_dealt_like_the_engines(self, new_state):
        for players in (1, 2, 3, 4):
            assert str(native.Game(players, 7)) == str(new_state(players, 7))
        with pytest.raises(ValueError, match="^Only 1-4 players are allowed$"):
            native.Game(5)

    def test_the_classes_cannot_be_subclassed(self):
        with pytest.raises(TypeError):
            type("Mine", (native.Game,), {})


def test_importing_without_the_extra_says_what_to_install():
    child = run_python("import sys; sys.modules['pettingzoo'] = None; import tornquil_env")
    assert child.returncode != 0
    assert "pip install 'tornquil[rl]'" in child.stderr.decode()


@pytest.mark.parametrize("package, code", [
    ("numpy", "raise ImportError('a broken build')"),
    ("pettingzoo", "from gymnasium import spaces\nclass AECEnv: pass\n"),  # one without pettingzoo.utils
])
def test_an_extra_that_is_there_but_fails_shows_the_real_cause(tmp_path, package, code):
    (tmp_path / package).mkdir()
    (tmp_path / package / "__init__.py").write_text(code)
    child = run_python("import tornquil_env", PYTHONPATH=str(tmp_path))
    err = child.stderr.decode()
    assert child.returncode != 0
    assert "pip install" not in err and "tornquil_env cannot import what it needs" in err
    assert "The above exception was the direct cause" in err
