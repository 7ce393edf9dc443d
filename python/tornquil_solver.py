"""The full-information solver of tornquil, and the players built on what can be won.

With every card known the game is deterministic: a position's state carries the seed of its only
random step, so from a position a line of actions either wins or it does not. `solve` looks for a
winning line within a budget and answers with a `Solution`; `SolverPlayer` is a seat that plays the
solver's lines in a `tornquil.TornquilGame`, seeing every card; `FairPlayer` is a seat that decides
only from what its own seat can know.

    import tornquil, tornquil_solver
    solution = tornquil_solver.solve(players=2, seed=1000, seconds=10)
    print(solution.verdict, len(solution.line), "actions")
"""

from __future__ import annotations

import dataclasses
import enum
from typing import Any, List, Optional

import _tornquil_native

__all__ = ["Verdict", "Solution", "solve", "SolverPlayer", "FairPlayer"]

_native = _tornquil_native.companion()


class Verdict(str, enum.Enum):
    """What a solve ended with. Each compares equal to its name as text ("Won")."""

    WON = "Won"  # a line that wins was found
    LOST = "Lost"  # proved: no line from the position wins
    UNKNOWN = "Unknown"  # the budget ran out first

    def __str__(self) -> str:
        return self.value


@dataclasses.dataclass(frozen=True)
class Solution:
    """The answer of one solve.

    `line` holds the module's own action objects: for a win, the actions from the position to the
    win; for an unknown verdict, a line to the best level reached; for a proved loss, none.
    """

    verdict: Verdict
    line: List[Any]
    best_level: int
    nodes: int
    seconds: float


def solve(state: Any = None, *, players: Optional[int] = None, seed: Optional[int] = None,
          nodes: int = 10_000_000, seconds: Optional[float] = None, table_mib: int = 256) -> Solution:
    """Solves a position with every card known.

    The position is `state`, a state object as a seat receives it, or the new deal that
    `tornquil.TornquilGame` makes from `players` (1 to 4) and `seed` (None: an unseeded deal).
    The solve ends with a verdict, or when `nodes` positions were generated or `seconds` (when
    given) have passed, whichever comes first: `nodes=0` or `seconds=0` answer Unknown at once,
    and a huge budget is bounded by the other. The table of positions proved lost holds at most
    `table_mib` MiB (1 to 1,048,576). The interpreter lock is released while the solver works, and
    Ctrl-C stops it within a few hundredths of a second with KeyboardInterrupt.

    Raises TypeError for an argument of the wrong kind, for neither a state nor `players`, or for
    both; ValueError for a player count outside 1 to 4, negative or NaN seconds and a table size
    out of range; OverflowError for a negative or too large `nodes` or `seed`.
    """
    verdict, line, best_level, node_count, elapsed = _native.solve(
        state, players=players, seed=seed, nodes=nodes, seconds=seconds, table_mib=table_mib)
    return Solution(Verdict(verdict), line, best_level, node_count, elapsed)


class SolverPlayer:
    """A seat that plays the solver's lines: it solves the true state it is given (every card
    known) within `nodes` and `seconds` a decision, follows a winning line once it has found one,
    and otherwise plays the first move of the line to the best level found, asking again at its
    next turn; in a position proved lost, the first action offered. The table of positions proved
    lost is kept from decision to decision.

    Budgets as for `solve`; `release_gil=True` lets other Python threads run while it decides. One
    object decides for one caller at a time: a second `play()` meanwhile raises RuntimeError.
    """

    def __init__(self, *, nodes: int = 1_000_000, seconds: Optional[float] = None, table_mib: int = 256,
                 release_gil: bool = False) -> None:
        """Raises as `solve` does for a bad budget, and TypeError for a `release_gil` that is not a bool."""
        self._native = _native.SolverPlayer(nodes=nodes, seconds=seconds, table_mib=table_mib,
                                            release_gil=release_gil)

    def play(self, state: Any) -> Any:
        """The action this seat takes in `state`, a state object as a seat receives it."""
        return self._native.play(state)


class FairPlayer:
    """A seat that decides only from what its seat can know: its own hand, the cards on the table,
    in the discard pile or gone from the game, the enemies, and how many cards each deck and hand
    holds (see the README's information model). It searches one tree over the moves as its seat
    sees them, sampling at each iteration a world it cannot tell from the true one, and values the
    positions it reaches by games played out by a careful player who sees only its own cards.

    `seconds` (default 0.25; None for no time limit) and `iterations` (default: no limit) bound each
    decision, one of them at least; `threads` (1 to 256, default 2) search trees of their own whose
    counts are added up; `seed` makes the worlds and playouts of every decision repeat (with a
    single thread and an iteration budget, decisions then repeat exactly); `release_gil=True` lets
    other Python threads run while it decides. One object decides for one caller at a time: a
    second `play()` or `ranked_actions()` meanwhile raises RuntimeError.
    """

    def __init__(self, *, seconds: Optional[float] = 0.25, threads: int = 2, iterations: Optional[int] = None,
                 seed: Optional[int] = None, release_gil: bool = False) -> None:
        """Raises TypeError for an argument of the wrong kind, ValueError for negative or NaN seconds,
        a thread count outside 1 to 256, or neither seconds nor iterations, and OverflowError for a
        negative or too large count or seed."""
        self._native = _native.FairPlayer(seconds=seconds, threads=threads, iterations=iterations, seed=seed,
                                          release_gil=release_gil)

    def play(self, state: Any) -> Any:
        """The action this seat takes in `state`, a state object as a seat receives it."""
        return self._native.play(state)

    def ranked_actions(self) -> List[Any]:
        """The actions of the last decision as `(action, visits, mean level)`, most visited first."""
        return self._native.ranked_actions()
