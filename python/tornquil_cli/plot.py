"""The histogram of the levels an eval reached, drawn with matplotlib, and the check that makes sure,
before the first game, that it can be written."""

from __future__ import annotations

import argparse
import os
from typing import Any, Sequence

from .records import Tally
from .seats import MAX_LEVEL

def plot_problem(path: str) -> str | None:
    """Why the plot could not be written, or None; checked before any game so that no run ends in vain."""
    if os.path.isdir(path):
        return "it is a directory"
    directory = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(directory):
        return f"there is no directory {directory}"
    return None


def plot_levels(path: str, tally: Tally, title: str, pyplot: Any) -> None:
    figure, axes = pyplot.subplots(figsize=(7, 4.5))
    axes.bar(range(MAX_LEVEL + 1), tally.levels, width=0.8)
    axes.set_xlabel("level reached (12: won)")
    axes.set_ylabel("games")
    axes.set_xticks(range(MAX_LEVEL + 1))
    axes.set_title(title, fontsize=10)
    figure.tight_layout()
    figure.savefig(path)


def plot_title(seats: Sequence[str], options: argparse.Namespace, tally: Tally) -> str:
    what = " ".join(seats)
    if "mcts" in seats:
        what += (f"; search: {options.playouts} playouts, {options.threads} thread(s), heuristics "
                 f"{'on' if options.heuristics else 'off'}, policy {options.policy}")
        if getattr(options, "seconds", None) is not None:
            what += f", at most {options.seconds:g} s a decision"
        if getattr(options, "information", None) is not None:
            what += f", {options.information} information"
    return f"{what}\n{tally.games} games, won {tally.wins} ({tally.win_rate_text()})"
