"""The histogram of the levels an eval reached, drawn with matplotlib, and the checks that make sure,
before the first game, that it can be written."""

from __future__ import annotations

import argparse
import os
from typing import Any, Sequence

from .records import Tally
from .seats import MAX_LEVEL

DEFAULT_TYPE = "png"


def plot_problem(path: str) -> str | None:
    """Why the plot could not be written, or None; checked before any game so that no run ends in vain."""
    if os.path.isdir(path):
        return "it is a directory"
    directory = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(directory):
        return f"there is no directory {directory}"
    try:
        if os.path.exists(path):
            os.close(os.open(path, os.O_WRONLY | os.O_CLOEXEC))
        else:
            os.close(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666))
            os.unlink(path)
    except OSError as error:
        return error.strerror or str(error)
    return None


def picture_type(path: str, pyplot: Any) -> str | None:
    """The picture type the name asks for (png without an extension), or None for one matplotlib cannot draw."""
    extension = os.path.splitext(path)[1][1:].lower() or DEFAULT_TYPE
    return extension if extension in pyplot.FigureCanvasBase.get_supported_filetypes() else None


def plot_levels(path: str, tally: Tally, title: str, pyplot: Any) -> None:
    figure, axes = pyplot.subplots(figsize=(7, 4.5))
    levels = range(MAX_LEVEL + 1)
    lost = tally.lost_at_each_level
    axes.bar(levels, lost, width=0.8, label="lost")
    won = [tally.wins if level == MAX_LEVEL else 0 for level in levels]
    axes.bar(levels, won, width=0.8, bottom=lost, label="won")
    axes.set_xlabel("level reached")
    axes.set_ylabel("games")
    axes.set_xticks(list(levels))
    axes.legend()
    axes.set_title(title, fontsize=10)
    figure.tight_layout()
    # The type given, so that the picture goes to the very name that was checked (matplotlib would
    # add an extension to a name without one).
    figure.savefig(path, format=picture_type(path, pyplot))


def plot_title(seats: Sequence[str], options: argparse.Namespace, tally: Tally) -> str:
    what = " ".join(seats)
    if "fair" in seats or "full" in seats:
        seconds = options.seconds if getattr(options, "seconds", None) is not None else 0.25
        what += f"; fair and full seats: {seconds:g} s a decision"
    if "mcts" in seats:
        what += (f"; search: {options.playouts} playouts, {options.threads} thread(s), heuristics "
                 f"{'on' if options.heuristics else 'off'}, policy {options.policy}")
        if getattr(options, "seconds", None) is not None:
            what += f", at most {options.seconds:g} s a decision"
        if getattr(options, "information", None) is not None:
            what += f", {options.information} information"
    return f"{what}\n{tally.games} games, won {tally.wins} ({tally.win_rate_text()})"
