"""The built-in players: the submodule `tornquil.players` (an attribute of the module, not a package
to import from). A game plays with its own copy of every built-in player it is given."""

from typing import Literal, final

from . import PyState
from .actions import Action

__all__ = ["RandomPlayer", "InputPlayer", "MCTSPlayer"]

@final
class RandomPlayer:
    """Takes one of the offered actions at random."""

    def __new__(cls, seed: int | None = None) -> RandomPlayer:
        """A random player.

        seed: 0 to 2**64-1 makes the same choices on the same states; None draws on the operating
            system's entropy.
        Raises TypeError for a seed that is not an integer, OverflowError for one out of range.
        """
    def play(self, state: PyState) -> Action:
        """One of the state's actions, chosen at random."""

@final
class InputPlayer:
    """A person at the console: as a seat of a game, it shows the state's actions numbered on
    standard output (C stdio, not `sys.stdout`) and reads the number of one from standard input.

    A line is read up to 64 KiB; the rest of a longer line is read and dropped, and the line is
    refused quoting its first 64 bytes. At the end of input the game stops with PanicException
    ("Error reading input.: end of input"); Ctrl-C at the prompt raises KeyboardInterrupt. It has
    no methods of its own: only a game asks it.
    """

    def __new__(cls, *args: object, **kwargs: object) -> InputPlayer:
        """A console player; any arguments are ignored."""

@final
class MCTSPlayer:
    """A Monte Carlo tree search on several threads sharing one tree."""

    def __new__(
        cls,
        playouts: int,
        num_threads: int,
        use_heuristics: bool,
        policy_variation: int | None = None,
        *,
        seconds: float | None = None,
        information: Literal["full", "own"] = "full",
        release_gil: bool = False,
        playout_policy: Literal["random", "informed"] = "random",
    ) -> MCTSPlayer:
        """A search player.

        playouts: random games per decision, 0 to 2**32-1, shared among the threads.
        num_threads: worker threads per decision; at most 256 start, and 0 is a PanicException at
            decision time.
        use_heuristics: keep the random games from discarding Diamonds while another discard
            absorbs the blow.
        policy_variation: the tree policy, None or 0, 3 or 4; any other number is a PanicException
            at decision time.
        seconds: a wall-clock budget per decision (positive and finite, else ValueError); the
            decision ends at the playouts or the time, whichever comes first.
        information: "full" searches the true state; "own" only what the seat can know, over
            sampled worlds. Anything else is ValueError.
        release_gil: release the interpreter lock while the workers search.
        playout_policy: "random" values new nodes by games of random moves (the plain search);
            "informed" by games of a careful player who sees only its own seat's cards (kills
            first, exactly when it can, and spends and discards what it needs least). Anything
            else is ValueError.
        Raises TypeError for arguments of the wrong type, OverflowError for numbers out of range.
        """
    def play(self, state: PyState) -> Action:
        """Searches from the state and returns the most visited action.

        Ctrl-C stops the workers within a few hundredths of a second and raises KeyboardInterrupt,
        leaving the ranking as it was. RuntimeError while another play() of this object runs; a
        thread the operating system refuses is RuntimeError too.
        """
    def ranked_actions(self) -> list[tuple[Action, int, float]]:
        """The actions of the last decision with their visits and mean level, most visited first;
        empty before the first. RuntimeError while a play() of this object runs."""
