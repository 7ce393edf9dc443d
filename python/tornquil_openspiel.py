"""The tornquil card game as an OpenSpiel game.

Importing this module registers the game with ``pyspiel.register_game`` under the short name
``tornquil``, so that ``pyspiel.load_game("tornquil", {"players": 3, "seed": 7})`` makes it. The
parameters are ``players`` (1 to 4, default 2) and ``seed`` (0 to 2**31-1, or -1 for none, the
default).

The game is sequential, of imperfect information, and cooperative: every player receives the
same utility, the level reached (the enemies defeated, 12 for a won game), at the end of the game
and only then. Actions are the learning environment's action indices (``tornquil_env``), listed in
ascending order.

The deal is the game's only chance event: with it the seed of the game is fixed, and with the seed
every later random step (the Hearts draws). It is an explicit chance node: with a ``seed`` it has
one outcome of probability 1, the deal of that seed, exactly ``tornquil.TornquilGame(players,
seed)``; without one it has ``DEALS`` outcomes of equal probability, outcome ``i`` the deal of seed
``i``. (OpenSpiel's sampled chance needs a random generator whose state a game written in Python
cannot hand to OpenSpiel's serialization, so sampled chance and exact serialization exclude each
other there; an explicit deal keeps both the seed's reproducibility and the serialization.)

Observations come from the environment's encoding: a seat observes what it can know (``own``),
the state text and the ``full`` encoding only where OpenSpiel asks for every player's private
information. Information states add the history as the seat saw it; ``resample_from_infostate``
draws a world from the seat's view alone.

Needs the optional extra ``openspiel``: ``pip install 'tornquil[openspiel]'``.
"""

from __future__ import annotations

import copy
import re
from typing import Any, Callable, List, Optional, Sequence, Tuple

_EXTRA = ("numpy", "pyspiel")
try:
    import numpy as np
    import pyspiel
except ImportError as error:
    # Only a missing package is a matter of installing the extra; one that is there but fails to
    # import is shown as it is.
    if isinstance(error, ModuleNotFoundError) and error.name in _EXTRA:
        raise ImportError(
            f"tornquil_openspiel needs open-spiel ({error.name} is missing): pip install 'tornquil[openspiel]'"
        ) from error
    raise ImportError(f"tornquil_openspiel cannot import what it needs: {error}") from error

import _tornquil_env as _native

__all__ = ["DEALS", "GAME_TYPE", "MAX_LEVEL", "Game", "State", "max_game_length"]

# Outcomes of the deal when no seed is given: deal i is the game of seed i.
DEALS = 1000
MAX_LEVEL = 12
SEED_MAX = 2**31 - 1  # OpenSpiel's integer parameters are 32-bit.
_SAMPLE_SEEDS = 2**64

_CARD_IDS = 53
_SEATS = 4
_OWN_SIZE = _native.observation_size("own")
_FULL_SIZE = _native.observation_size("full")

# Offsets of the observation's blocks, as the README's table of the learning environment gives them.
_HAND_SLOTS, _ATTACK, _DISCARD_PILE, _OUT_OF_GAME = 0, 424, 477, 530
_TAVERN_ROYALS, _BEATEN, _CURRENT_ENEMY = 583, 595, 607
_HEALTH, _ENEMY_ATTACK, _ENEMY_JESTER = 619, 620, 621
_TAVERN_SIZE, _CASTLE_SIZE, _DISCARD_SIZE, _HAND_SIZES = 622, 623, 624, 625
_OBSERVER, _HAS_TURN, _PHASE = 629, 633, 637
_DISCARD_AMOUNT, _YIELDS, _PLAYERS, _LEVEL, _MAX_HAND = 640, 641, 642, 643, 644
_HANDS = _OWN_SIZE
_TAVERN_ORDER, _CASTLE_ORDER = _HANDS + _SEATS * _CARD_IDS, _HANDS + _SEATS * _CARD_IDS + 54
if (_OWN_SIZE, _FULL_SIZE) != (645, 923):
    raise ImportError(f"tornquil_openspiel does not know this observation layout ({_OWN_SIZE}, {_FULL_SIZE})")

# The information-state tensor: the seat's observation, the cards each seat has played or
# discarded, and the most of each card the observing seat has held at once.
_PLAYED = _OWN_SIZE
_HELD = _PLAYED + _SEATS * _CARD_IDS
_INFO_SIZE = _HELD + _CARD_IDS

_SUITS = "♠♥♦♣"
_VALUES = ["A", "2", "3", "4", "5", "6", "7", "8", "9", "10", "J", "Q", "K"]
_ROYALS = ["J", "Q", "K"]
_PHASES = ("play", "discard", "choose who acts next")
# The engine colours cards on a terminal when asked to; OpenSpiel's texts stay plain.
_COLOUR = re.compile(r"\x1b\[[0-9;]*m")


def max_game_length(players: int) -> int:
    """An upper bound on the actions of a game of `players` seats, the deal not counted.

    Every play but a jester's deals at least 1 damage, and the enemies hold 4 * (20 + 30 + 40)
    health; a jester stays with its enemy until that enemy falls, so at most two are played
    against each; one more play after the twelfth enemy wins. A jester play is followed by at most
    one choice of the next player. A discard takes at least one card out of the game, and at most
    54 cards (the numbers, two jesters and the twelve royals) ever reach a hand. Only plays and
    choices end a run of yields, and a run of `players` yields loses the game.
    """
    plays = 4 * (20 + 30 + 40) + 2 * MAX_LEVEL + 1
    choices = 2 * MAX_LEVEL
    discards = 40 + 2 + MAX_LEVEL
    return plays + choices + discards + players * (plays + choices + 1)


def _plain(text: str) -> str:
    return _COLOUR.sub("", text)


def _card(card_id: int) -> str:
    if card_id == _CARD_IDS - 1:
        return "Jester"
    return _SUITS[card_id // 13] + _VALUES[card_id % 13]


def _royal(royal_id: int) -> str:
    return _SUITS[royal_id // 3] + _ROYALS[royal_id % 3]


def _cards(counts: np.ndarray) -> str:
    """The cards of per-id counts, in id order; '-' for none."""
    names = [_card(card_id) for card_id in np.flatnonzero(counts) for _ in range(int(counts[card_id]))]
    return " ".join(names) if names else "-"


def _observation_text(vector: np.ndarray, with_seat: bool) -> str:
    """A seat's observation as text: exactly what the vector holds; without the seat's hand and
    number when `with_seat` is false (the public part)."""
    players = int(vector[_PLAYERS])
    to_move = int(np.argmax(vector[_HAS_TURN:_HAS_TURN + _SEATS]))
    phase = int(np.argmax(vector[_PHASE:_PHASE + 3]))
    task = _PHASES[phase] + (f" at least {int(vector[_DISCARD_AMOUNT])}" if phase == 1 else "")
    lines = []
    if with_seat:
        observer = int(np.argmax(vector[_OBSERVER:_OBSERVER + _SEATS]))
        slots = vector[_HAND_SLOTS:_HAND_SLOTS + 8 * _CARD_IDS].reshape(8, _CARD_IDS)
        hand = [_card(int(np.argmax(slot))) for slot in slots if slot.any()]
        lines.append(f"seat {observer} of {players}; seat {to_move} to {task}")
        lines.append("hand: " + (" ".join(hand) if hand else "-"))
    else:
        lines.append(f"{players} players; seat {to_move} to {task}")
    current = np.flatnonzero(vector[_CURRENT_ENEMY:_CURRENT_ENEMY + 12])
    if current.size:
        jester = ", jester played" if vector[_ENEMY_JESTER] else ""
        lines.append(f"enemy: {_royal(int(current[0]))}, health {int(vector[_HEALTH])}, "
                     f"attack {int(vector[_ENEMY_ATTACK])}{jester}")
    else:
        lines.append("enemy: none left")
    beaten = np.flatnonzero(vector[_BEATEN:_BEATEN + 12])
    lines.append("beaten: " + (" ".join(_royal(int(r)) for r in beaten) if beaten.size else "-"))
    lines.append("against it: " + _cards(vector[_ATTACK:_ATTACK + _CARD_IDS]))
    lines.append("discard pile: " + _cards(vector[_DISCARD_PILE:_DISCARD_PILE + _CARD_IDS]))
    lines.append("out of the game: " + _cards(vector[_OUT_OF_GAME:_OUT_OF_GAME + _CARD_IDS]))
    depths = vector[_TAVERN_ROYALS:_TAVERN_ROYALS + 12]
    royals = " ".join(f"{_royal(int(r))} {int(depths[r])} from the top" for r in np.argsort(depths) if depths[r])
    lines.append(f"tavern deck: {int(vector[_TAVERN_SIZE])} cards" + (f" ({royals})" if royals else ""))
    lines.append(f"castle deck: {int(vector[_CASTLE_SIZE])} cards; discard pile: {int(vector[_DISCARD_SIZE])} cards")
    sizes = " ".join(str(int(size)) for size in vector[_HAND_SIZES:_HAND_SIZES + players])
    lines.append(f"hands: {sizes} (at most {int(vector[_MAX_HAND])})")
    lines.append(f"yields in a row: {int(vector[_YIELDS])}; level {int(vector[_LEVEL])}")
    return "\n".join(lines)


def _hidden_text(full: np.ndarray, players: int) -> str:
    """What only the full encoding holds: every hand, and both decks in order."""
    hands = full[_HANDS:_HANDS + players * _CARD_IDS].reshape(players, _CARD_IDS)
    lines = [f"seat {seat} holds: {_cards(hand)}" for seat, hand in enumerate(hands)]
    tavern = [_card(int(code) - 1) for code in full[_TAVERN_ORDER:_CASTLE_ORDER] if code]
    castle = [_royal(int(code) - 1) for code in full[_CASTLE_ORDER:_FULL_SIZE] if code]
    lines.append("tavern deck from the top: " + (" ".join(tavern) if tavern else "-"))
    lines.append("castle deck from the current enemy: " + (" ".join(castle) if castle else "-"))
    return "\n".join(lines)


def _public(vector: np.ndarray) -> np.ndarray:
    """A seat's observation without what only that seat holds: its hand and which seat it is."""
    public = vector.copy()
    public[_HAND_SLOTS:_HAND_SLOTS + 8 * _CARD_IDS] = 0
    public[_OBSERVER:_OBSERVER + _SEATS] = 0
    return public


# One step of the history: the seat that acted, the action's text, the cards each seat drew
# (card ids, -1 for a card this world does not know) and the enemy revealed by it (-1 for none).
_Record = Tuple[int, str, Tuple[Tuple[int, ...], ...], int]


class _World:
    """A dealt game and the history that led to it, as the seats saw it.

    Copies share the immutable records and copy the rest. It pickles as its recipe: the deal,
    then the actions and resamplings in order, replayed when it is loaded.
    """

    __slots__ = ("players", "deal", "game", "recipe", "records", "hands", "played", "held", "enemy", "lines")

    @classmethod
    def dealt(cls, players: int, deal: int) -> "_World":
        world = cls()
        world.players, world.deal = players, deal
        world.game = _native.Game(players, deal)
        world.recipe = []
        world.records = []
        world.hands, world.enemy = world._hands_and_enemy()
        world.played = np.zeros((players, _CARD_IDS), dtype=np.float32)
        world.held = world.hands.copy()
        world.lines = [[] for _ in range(players)]
        return world

    def __deepcopy__(self, memo: dict) -> "_World":
        twin = _World()
        twin.players, twin.deal, twin.game = self.players, self.deal, self.game.copy()
        twin.recipe, twin.records = self.recipe[:], self.records[:]
        twin.hands, twin.played, twin.held = self.hands.copy(), self.played.copy(), self.held.copy()
        twin.enemy = self.enemy
        twin.lines = [lines[:] for lines in self.lines]
        return twin

    def __reduce__(self):
        return (_rebuild_world, (self.players, self.deal, list(self.recipe)))

    def _hands_and_enemy(self) -> Tuple[np.ndarray, int]:
        full = np.frombuffer(self.game.observation(0, "full"), dtype=np.float32)
        hands = full[_HANDS:_HANDS + self.players * _CARD_IDS].reshape(self.players, _CARD_IDS)
        current = full[_CURRENT_ENEMY:_CURRENT_ENEMY + 12]
        enemy = int(current.argmax())
        return hands, enemy if current[enemy] else -1

    def step(self, index: int) -> None:
        mover = self.game.has_turn()
        try:
            text = _plain(self.game.action_text(index))
        except ValueError:
            text = ""  # not an action of this hand: the step below refuses it
        self.game.step(index)
        hands, enemy = self._hands_and_enemy()
        # A card never leaves a hand and comes back within one action, so the differences are
        # exactly the cards played or discarded and the cards drawn.
        change = hands - self.hands
        self.played[mover] -= np.minimum(change[mover], 0)
        draws: Tuple[Tuple[int, ...], ...] = ()
        if change.max() > 0:
            np.maximum(self.held, hands, out=self.held)
            draws = tuple(tuple(card for card in np.flatnonzero(row > 0).tolist() for _ in range(int(row[card])))
                          for row in change)
        self.records.append((mover, text, draws, enemy if enemy != self.enemy else -1))
        self.hands, self.enemy = hands, enemy
        self.recipe.append(index)

    def resampled(self, seat: int, seed: int) -> "_World":
        """A world that `seat` cannot tell from this one, drawn from its view and `seed` alone.

        The seat's history stays; what the other seats drew in the past and held is of the true
        world, which the seat did not see, so the new world forgets it (their draws become cards
        of unknown identity) rather than carry it into a world it may not fit.
        """
        world = copy.deepcopy(self)
        world.game = self.game.resample_hidden(seat, seed)
        world.hands, _ = world._hands_and_enemy()
        world.records = [self._blinded(record, seat) for record in self.records]
        for other in range(self.players):
            if other != seat:
                world.held[other] = world.hands[other]
                world.lines[other] = []
        world.recipe.append((seat, seed))
        return world

    @staticmethod
    def _blinded(record: _Record, seat: int) -> _Record:
        mover, text, draws, enemy = record
        if not any(draw for other, draw in enumerate(draws) if other != seat):
            return record  # nobody else drew (or nobody drew at all: no draws are recorded)
        return (mover, text, tuple(d if other == seat else (-1,) * len(d) for other, d in enumerate(draws)), enemy)

    def history_text(self, seat: int) -> str:
        """The history as `seat` saw it, one line an action; rendered once and kept."""
        lines = self.lines[seat]
        for record in self.records[len(lines):]:
            lines.append(self._record_text(record, seat))
        return "\n".join(lines)

    @staticmethod
    def _record_text(record: _Record, seat: int) -> str:
        mover, text, draws, enemy = record
        line = f"seat {mover}: {text}"
        for other, draw in enumerate(draws):
            if not draw:
                continue
            if other == seat and -1 not in draw:
                line += f"; seat {other} drew " + " ".join(_card(card_id) for card_id in draw)
            else:
                line += f"; seat {other} drew {len(draw)}"
        if enemy >= 0:
            line += f"; next enemy {_royal(enemy)}"
        return line


def _rebuild_world(players: int, deal: int, recipe: Sequence[Any]) -> _World:
    world = _World.dealt(players, deal)
    for step in recipe:
        if isinstance(step, tuple):
            world = world.resampled(*step)
        else:
            world.step(step)
    return world


GAME_TYPE = pyspiel.GameType(
    short_name="tornquil",
    long_name="tornquil",
    dynamics=pyspiel.GameType.Dynamics.SEQUENTIAL,
    chance_mode=pyspiel.GameType.ChanceMode.EXPLICIT_STOCHASTIC,
    information=pyspiel.GameType.Information.IMPERFECT_INFORMATION,
    utility=pyspiel.GameType.Utility.IDENTICAL,
    reward_model=pyspiel.GameType.RewardModel.TERMINAL,
    max_num_players=4,
    min_num_players=1,
    provides_information_state_string=True,
    provides_information_state_tensor=True,
    provides_observation_string=True,
    provides_observation_tensor=True,
    parameter_specification={"players": 2, "seed": -1},
)


def _int_parameter(params: dict, name: str, default: int, low: int, high: int) -> int:
    value = params.get(name, default)
    if isinstance(value, bool) or not isinstance(value, int) or not low <= value <= high:
        raise ValueError(f"parameter '{name}' must be an integer from {low} to {high}, not {value!r}")
    return value


class Game(pyspiel.Game):
    """The OpenSpiel game of tornquil; `pyspiel.load_game("tornquil", params)` makes one.

    `params`: `players` (1 to 4, default 2) and `seed` (0 to 2**31-1: the deal of
    `tornquil.TornquilGame(players, seed)`; -1, the default: one of `DEALS` deals, by chance).
    """

    def __init__(self, params: Optional[dict] = None) -> None:
        """Raises ValueError for a parameter out of its range or of a name the game does not know."""
        params = dict(params or {})
        unknown = sorted(set(params) - set(GAME_TYPE.parameter_specification))
        if unknown:
            raise ValueError(f"unknown parameters {unknown}: tornquil takes 'players' and 'seed'")
        self.players = _int_parameter(params, "players", 2, 1, 4)
        self.seed = _int_parameter(params, "seed", -1, -1, SEED_MAX)
        info = pyspiel.GameInfo(
            num_distinct_actions=_native.ACTION_COUNT,
            max_chance_outcomes=1 if self.seed >= 0 else DEALS,
            num_players=self.players,
            min_utility=0.0,
            max_utility=float(MAX_LEVEL),
            utility_sum=None,
            max_game_length=max_game_length(self.players),
        )
        super().__init__(GAME_TYPE, info, {"players": self.players, "seed": self.seed})

    def new_initial_state(self) -> "State":
        """The state before the deal (a chance node)."""
        return State(self)

    def make_py_observer(self, iig_obs_type: Any = None, params: Optional[dict] = None) -> "_Observer":
        """An observer of the kind OpenSpiel asks for: a seat's own observation (the default), its
        information state (perfect recall), the public part, or every player's private
        information. ValueError for another kind or for any parameter."""
        if params:
            raise ValueError(f"tornquil's observations take no parameters, not {params!r}")
        return _Observer(_observer_kind(iig_obs_type), self.players)


class State(pyspiel.State):
    """A state of the OpenSpiel game: a chance node until the deal, then the dealt game."""

    def __init__(self, game: Game) -> None:
        """Only `Game.new_initial_state` makes states."""
        super().__init__(game)
        self._players = game.players
        self._seed = game.seed
        self._world: Optional[_World] = None

    def current_player(self) -> int:
        """The seat to move; `PlayerId.CHANCE` before the deal and `PlayerId.TERMINAL` at the end."""
        if self._world is None:
            return int(pyspiel.PlayerId.CHANCE)
        if self._world.game.result() is not None:
            return int(pyspiel.PlayerId.TERMINAL)
        return self._world.game.has_turn()

    def is_terminal(self) -> bool:
        """Whether the game was won or lost."""
        return self._world is not None and self._world.game.result() is not None

    def _legal_actions(self, player: int) -> List[int]:
        """The action indices the seat to move may take, ascending."""
        return sorted(self._world.game.legal_indices())

    def chance_outcomes(self) -> List[Tuple[int, float]]:
        """The deal: one certain outcome with a seed, else `DEALS` equally likely ones."""
        if self._seed >= 0:
            return [(0, 1.0)]
        return [(deal, 1.0 / DEALS) for deal in range(DEALS)]

    def _deal_seed(self, action: int) -> int:
        if self._seed >= 0:
            if action != 0:
                raise ValueError(f"the deal of a seeded game has the one outcome 0, not {action}")
            return self._seed
        if not 0 <= action < DEALS:
            raise ValueError(f"the deal's outcomes are 0 to {DEALS - 1}, not {action}")
        return action

    def _apply_action(self, action: int) -> None:
        """Deals, or plays an action index; ValueError for one the state does not offer."""
        if self._world is None:
            self._world = _World.dealt(self._players, self._deal_seed(action))
        else:
            self._world.step(action)

    def _action_to_string(self, player: int, action: int) -> str:
        """The deal's seed, or the action as the engine writes it for the hand of the seat to move."""
        if player == pyspiel.PlayerId.CHANCE:
            return f"Deal(seed={self._seed if self._seed >= 0 else action})"
        if self._world is not None:
            try:
                return _plain(self._world.game.action_text(action))
            except ValueError:
                pass
        return f"Action({action})"

    def returns(self) -> List[float]:
        """The level reached for every player at the end of the game (12 for a win); 0 before."""
        level = float(self._world.game.level()) if self.is_terminal() else 0.0
        return [level] * self._players

    def resample_from_infostate(self, player_id: int, probability_sampler: Callable[[], float]) -> "State":
        """A state that seat `player_id` cannot tell from this one, with the same information-state
        string: the hidden cards dealt anew from the seat's view and a seed drawn from
        `probability_sampler` (a uniform draw in [0, 1)). Before the deal, and after the end when
        nothing is left to decide, a copy."""
        twin = self.clone()
        if self._world is None or self.is_terminal():
            return twin
        if not 0 <= player_id < self._players:
            raise ValueError(f"player {player_id} is not a seat of this {self._players}-player game")
        draw = probability_sampler()
        if not 0.0 <= draw <= 1.0:  # NaN too
            raise ValueError(f"the probability sampler gave {draw!r}, not a number from 0 to 1")
        seed = min(int(draw * _SAMPLE_SEEDS), _SAMPLE_SEEDS - 1)
        twin._world = self._world.resampled(player_id, seed)
        return twin

    def __str__(self) -> str:
        """The engine's text of the state (the seat to move, its hand, the enemy), then every
        pile, hand and deck."""
        if self._world is None:
            deal = f"seed {self._seed}" if self._seed >= 0 else f"one of {DEALS} seeds"
            return f"The deal is to come ({deal})."
        game = self._world.game
        full = np.frombuffer(game.observation(game.has_turn(), "full"), dtype=np.float32)
        return "\n".join([_plain(str(game)), _observation_text(full, with_seat=False),
                          _hidden_text(full, self._players)])


def _observer_kind(iig_obs_type: Any) -> str:
    if iig_obs_type is None:
        return "own"
    private = iig_obs_type.private_info
    if iig_obs_type.perfect_recall:
        if private == pyspiel.PrivateInfoType.SINGLE_PLAYER and iig_obs_type.public_info:
            return "history"
    elif iig_obs_type.public_info:
        return {
            pyspiel.PrivateInfoType.SINGLE_PLAYER: "own",
            pyspiel.PrivateInfoType.ALL_PLAYERS: "full",
            pyspiel.PrivateInfoType.NONE: "public",
        }[private]
    raise ValueError(f"tornquil provides no observation of the kind {iig_obs_type}")


class _Observer:
    """Writes one kind of observation of a state for a seat into `tensor` (and its named views in
    `dict`) or as text. Before the deal every tensor is zeros."""

    def __init__(self, kind: str, players: int) -> None:
        self.kind = kind
        self.players = players
        size = {"own": _OWN_SIZE, "public": _OWN_SIZE, "full": _FULL_SIZE, "history": _INFO_SIZE}[kind]
        self.tensor = np.zeros(size, dtype=np.float32)
        self.dict = {"observation": self.tensor[:_OWN_SIZE]}
        if kind == "full":
            self.dict["hidden"] = self.tensor[_OWN_SIZE:]
        if kind == "history":
            self.dict["played"] = self.tensor[_PLAYED:_HELD].reshape(_SEATS, _CARD_IDS)
            self.dict["held"] = self.tensor[_HELD:]

    def _observation(self, world: _World, player: int) -> np.ndarray:
        information = "full" if self.kind == "full" else "own"
        vector = np.frombuffer(world.game.observation(player, information), dtype=np.float32)
        return _public(vector) if self.kind == "public" else vector

    def set_from(self, state: State, player: int) -> None:
        """Fills the tensor with the observation of `state` for seat `player`."""
        world = state._world
        self.tensor.fill(0)
        if world is None:
            return
        vector = self._observation(world, player)
        self.tensor[:vector.size] = vector
        if self.kind == "history":
            self.tensor[_PLAYED:_PLAYED + world.players * _CARD_IDS] = world.played.ravel()
            self.tensor[_HELD:] = world.held[player]

    def string_from(self, state: State, player: int) -> str:
        """The observation of `state` for seat `player` as text."""
        world = state._world
        if world is None:
            return str(state)
        if self.kind == "full":
            return str(state)
        text = _observation_text(self._observation(world, player), with_seat=self.kind != "public")
        if self.kind == "history":
            history = world.history_text(player)
            text += "\nhistory:" + ("\n" + history if history else " -")
        return text


if GAME_TYPE.short_name not in pyspiel.registered_names():
    pyspiel.register_game(GAME_TYPE, Game)
