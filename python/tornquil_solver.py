"""The full-information solver of tornquil.

With every card known the game is deterministic: a position's state carries the seed of its only
random step, so from a position a line of actions either wins or it does not. `solve` looks for a
winning line within a budget and answers with a `Solution`; `SolverPlayer` is a seat that plays the
solver's lines in a `tornquil.TornquilGame`.

    import tornquil, tornquil_solver
    solution = tornquil_solver.solve(players=2, seed=1000, seconds=10)
    print(solution.verdict, len(solution.line), "actions")
"""

from __future__ import annotations

import dataclasses
import enum
from typing import Any, List, Optional

import _tornquil_native

__all__ = ["Verdict", "Solution", "solve", "SolverPlayer"]

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
