"""The tornquil card game as a PettingZoo environment (agent-environment cycle).

``env(players=2, seed=None, information="own", render_mode=None)`` makes the environment with
PettingZoo's usual order checks; ``raw_env(...)`` is the same without them. Agents are
``player_0`` to ``player_{n-1}``, one per seat. Every action the game can offer has a fixed index
(``ACTION_BLOCKS`` names the index range of each kind), and the observation carries the mask of the
legal ones. The game is cooperative: every agent receives the enemies defeated at each step, and
the game ends for all agents together.

Seeds are integers from 0 to 2**64-1: any integer type that ``operator.index`` takes, numpy's
included, but not ``bool``. A seed of the wrong type is ``TypeError``, one out of range
``ValueError``, refused where it is given and leaving the environment as it was.

Needs the optional extra ``rl``: ``pip install 'tornquil[rl]'``.
"""

from __future__ import annotations

import operator
import random
from typing import Any, Optional

_EXTRA = ("numpy", "gymnasium", "pettingzoo")
try:
    import numpy as np
    from gymnasium import logger, spaces
    from pettingzoo import AECEnv
    from pettingzoo.utils import wrappers
except ImportError as error:
    # Only a package of the extra that is not there at all is a matter of installing the extra; a
    # package that is there but fails to import (a broken build, a version without what is used
    # here) is shown as it is.
    if isinstance(error, ModuleNotFoundError) and error.name in _EXTRA:
        raise ImportError(
            f"tornquil_env needs numpy, gymnasium and pettingzoo ({error.name} is missing): "
            "pip install 'tornquil[rl]'"
        ) from error
    raise ImportError(f"tornquil_env cannot import what it needs: {error}") from error

import _tornquil_env as _native

__all__ = ["ACTION_BLOCKS", "ACTION_COUNT", "INFORMATION", "env", "raw_env"]

ACTION_COUNT: int = _native.ACTION_COUNT
# Kind of action -> (first index, number of indices).
ACTION_BLOCKS: dict[str, tuple[int, int]] = dict(_native.ACTION_BLOCKS)
INFORMATION = ("own", "full")
SEED_MAX = 2**64 - 1


def _checked_seed(seed: Any) -> Optional[int]:
    """The seed as a plain int, or None; TypeError or ValueError for one the game cannot take."""
    if seed is None:
        return None
    # A bool is an int to Python, but as a seed it is far more likely a flag passed by mistake.
    if isinstance(seed, bool):
        raise TypeError("seed must be an integer from 0 to 2**64-1 or None, not a bool")
    try:
        value = operator.index(seed)
    except TypeError:
        raise TypeError(f"seed must be an integer from 0 to 2**64-1 or None, not {type(seed).__name__}") from None
    if not 0 <= value <= SEED_MAX:
        raise ValueError(f"seed must be from 0 to 2**64-1, not {value}")
    return value


def env(players: int = 2, seed: Optional[int] = None, information: str = "own", render_mode: Optional[str] = None):
    """The environment wrapped in PettingZoo's checks of index bounds and call order.

    ``seed`` seeds the first reset without a seed of its own. Raises ValueError for players
    outside 1 to 4, an unknown information or render mode, or a seed outside 0 to 2**64-1, and
    TypeError for a seed that is not an integer.
    """
    environment = raw_env(players=players, seed=seed, information=information, render_mode=render_mode)
    environment = wrappers.AssertOutOfBoundsWrapper(environment)
    return wrappers.OrderEnforcingWrapper(environment)


class raw_env(AECEnv):
    """One game of tornquil per episode, dealt exactly as ``tornquil.TornquilGame(players, seed)``.

    ``reset(seed=s)`` deals the game of seed ``s``; a reset without a seed deals the next game of
    a sequence that the last seed (or the ``seed`` given here) started, or a game from the
    operating system's entropy when there has been no seed at all.
    """

    metadata = {"render_modes": ["ansi", "human"], "name": "tornquil_v0", "is_parallelizable": False}

    def __init__(self, players: int = 2, seed: Optional[int] = None, information: str = "own",
                 render_mode: Optional[str] = None):
        super().__init__()
        if not isinstance(players, int) or isinstance(players, bool) or not 1 <= players <= 4:
            raise ValueError(f"players must be 1 to 4, not {players!r}")
        if information not in INFORMATION:
            raise ValueError(f"information must be 'own' or 'full', not {information!r}")
        if render_mode is not None and render_mode not in self.metadata["render_modes"]:
            raise ValueError(f"render_mode must be None, 'ansi' or 'human', not {render_mode!r}")
        self.players = players
        self.information = information
        self.render_mode = render_mode
        self.possible_agents = [f"player_{seat}" for seat in range(players)]
        self._seat = {agent: seat for seat, agent in enumerate(self.possible_agents)}
        high = np.frombuffer(_native.observation_high(information), dtype=np.float32)
        self._observation_spaces = {
            agent: spaces.Dict({
                "observation": spaces.Box(low=np.zeros_like(high), high=high.copy(), dtype=np.float32),
                "action_mask": spaces.Box(low=0, high=1, shape=(ACTION_COUNT,), dtype=np.int8),
            })
            for agent in self.possible_agents
        }
        self._action_spaces = {agent: spaces.Discrete(ACTION_COUNT) for agent in self.possible_agents}
        self._next_seed = _checked_seed(seed)
        self._seeds: Optional[random.Random] = None
        self._game: Any = None

    def observation_space(self, agent: str):
        """The agent's observation space: a Dict of "observation" (float32 Box) and "action_mask"
        (int8 Box of ACTION_COUNT). KeyError for an agent not of this environment."""
        return self._observation_spaces[agent]

    def action_space(self, agent: str):
        """Discrete(ACTION_COUNT) for every agent. KeyError for an agent not of this environment."""
        return self._action_spaces[agent]

    def _deal(self, seed: Any) -> None:
        """Makes the next game; the seeds of later resets change only once it is made."""
        seed = _checked_seed(seed)
        from_environment = seed is None and self._next_seed is not None
        if from_environment:
            seed = self._next_seed
        if seed is not None:
            follow: Optional[random.Random] = random.Random(seed)
            game_seed: Optional[int] = seed
        elif self._seeds is not None:
            follow = random.Random()
            follow.setstate(self._seeds.getstate())
            game_seed = follow.getrandbits(64)
        else:
            follow, game_seed = None, None
        self._game = _native.Game(self.players, game_seed)
        self._seeds = follow
        if from_environment:
            self._next_seed = None

    def reset(self, seed: Optional[int] = None, options: Optional[dict] = None) -> None:
        """Deals a new game: the game of ``seed`` when one is given, else the next game of the
        sequence the last seed started (or one from the operating system's entropy). ``options``
        is ignored. A seed that is not an integer (or is a bool) is TypeError, one outside 0 to
        2**64-1 ValueError; after either, later resets deal as if this one had not been made."""
        self._deal(seed)
        self.agents = self.possible_agents[:]
        self.rewards = {agent: 0.0 for agent in self.agents}
        self._cumulative_rewards = {agent: 0.0 for agent in self.agents}
        self.terminations = {agent: False for agent in self.agents}
        self.truncations = {agent: False for agent in self.agents}
        self.infos = {agent: {} for agent in self.agents}
        self.agent_selection = self.possible_agents[self._game.has_turn()]

    def observe(self, agent: str) -> dict:
        """What ``agent`` sees now: its observation vector and, for the agent to move while the game
        goes on, the mask of its legal actions (all zeros otherwise). KeyError for an unknown agent."""
        observation = np.frombuffer(self._game.observation(self._seat[agent], self.information), dtype=np.float32)
        if agent == self.agent_selection and self._game.result() is None:
            mask = np.frombuffer(self._game.legal_mask(), dtype=np.int8).copy()
        else:
            mask = np.zeros(ACTION_COUNT, dtype=np.int8)
        return {"observation": observation.copy(), "action_mask": mask}

    def state(self) -> np.ndarray:
        """Everything about the game, as the seat to move would see it with full information."""
        return np.frombuffer(self._game.observation(self._game.has_turn(), "full"), dtype=np.float32).copy()

    def step(self, action) -> None:
        """Plays the action index for the agent to move (None once the agent's game has ended).
        Every agent receives the enemies this step defeated; a finished game ends for all at once,
        with ``infos[agent]["result"]`` and ``["level"]``. ValueError for an index the state does
        not offer (the wrapper of ``env()`` also checks the bounds)."""
        agent = self.agent_selection
        if self.terminations[agent] or self.truncations[agent]:
            self._was_dead_step(action)
            return
        level_before = self._game.level()
        result = self._game.step(int(action))
        gained = float(self._game.level() - level_before)
        self._cumulative_rewards[agent] = 0.0
        for each in self.agents:
            self.rewards[each] = gained
        if result is None:
            self.agent_selection = self.possible_agents[self._game.has_turn()]
        else:
            for each in self.agents:
                self.terminations[each] = True
                self.infos[each] = {"result": result, "level": self._game.level()}
        self._accumulate_rewards()
        if self.render_mode == "human":
            self.render()

    def legal_actions(self) -> list[int]:
        """The legal action indices of the agent to move, in the order the rules list them."""
        return self._game.legal_indices()

    def action_text(self, action: int) -> str:
        """What an action index means for the agent to move, as the engine writes actions."""
        return self._game.action_text(int(action))

    def render(self) -> Optional[str]:
        """The state's text with ``render_mode="ansi"``; printed with ``"human"``; without a
        render mode a warning and None."""
        if self.render_mode is None:
            logger.warn("render() was called without a render_mode; pass render_mode='ansi' to get the state text")
            return None
        text = str(self._game)
        if self.render_mode == "human":
            print(text)
            return None
        return text

    def close(self) -> None:
        """Drops the game; reset() deals a new one."""
        self._game = None

    def __str__(self) -> str:
        return self.metadata["name"]
