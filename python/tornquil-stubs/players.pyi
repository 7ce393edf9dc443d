from typing import final

from . import PyState
from .actions import Action

__all__ = ["RandomPlayer", "InputPlayer", "MCTSPlayer"]

@final
class RandomPlayer:
    def __new__(cls, seed: int | None = None) -> RandomPlayer: ...
    def play(self, state: PyState) -> Action: ...

@final
class InputPlayer:
    def __new__(cls, *args: object, **kwargs: object) -> InputPlayer: ...
    def play(self, state: PyState) -> Action: ...

@final
class MCTSPlayer:
    def __new__(cls, playouts: int, num_threads: int, use_heuristics: bool, policy_variation: int | None = None) -> MCTSPlayer: ...
    def play(self, state: PyState) -> Action:
        """Choose an action based on the given state"""
    def ranked_actions(self) -> list[tuple[Action, int, float]]: ...
