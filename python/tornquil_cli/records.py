"""The results of a run of games: the counts behind the summary, the Wilson interval of the win rate,
and the record file."""

from __future__ import annotations

import csv
import json
import math
import os
import shutil
import tempfile

from .seats import MAX_LEVEL

# One finished game: its seed, "won" or "lost", and the level reached.
Record = tuple[int, str, int]


def wilson_interval(wins: int, games: int, z: float = 1.959964) -> tuple[float, float]:
    if games == 0:
        return 0.0, 1.0
    share = wins / games
    centre = (share + z * z / (2 * games)) / (1 + z * z / games)
    margin = z * math.sqrt(share * (1 - share) / games + z * z / (4 * games * games)) / (1 + z * z / games)
    return max(0.0, centre - margin), min(1.0, centre + margin)


class Tally:
    """What the summary and the plot need: counts only, so that a run of any length fits in memory."""

    def __init__(self, total: int) -> None:
        self.total = total
        self.levels = [0] * (MAX_LEVEL + 1)
        self.wins = 0
        self.failed = 0

    @property
    def games(self) -> int:
        return sum(self.levels)

    def add(self, record: Record) -> None:
        _, result, level = record
        self.levels[level] += 1
        self.wins += result == "won"

    def win_rate_text(self) -> str:
        low, high = wilson_interval(self.wins, self.games)
        return (f"{100 * self.wins / self.games:.1f}%, 95% confidence interval "
                f"{100 * low:.1f}% to {100 * high:.1f}%")


class RecordFile:
    """Each game's record, written and flushed as the game finishes, so that an eval that ends in any
    way leaves every finished game in the file."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.jsonl = path.endswith(".jsonl")
        self.out = open(path, "w", newline="")
        self.writer = csv.writer(self.out)
        if not self.jsonl:
            self.writer.writerow(["seed", "result", "level"])
            self.out.flush()

    def add(self, record: Record) -> None:
        if self.jsonl:
            seed, result, level = record
            self.out.write(json.dumps({"seed": seed, "result": result, "level": level}) + "\n")
        else:
            self.writer.writerow(record)
        self.out.flush()

    def close(self) -> None:
        self.out.close()

    def sort_by_game(self, first_seed: int) -> None:
        """Puts the records in the order of the games, which makes runs comparable line by line
        whatever order their games finished in. The sorted copy replaces the file in one step, so
        the file is never without a record it had; a file that is not a regular one stays as it is."""
        # Through a link, the file it names is the one to replace.
        path = os.path.realpath(self.path)
        if not os.path.isfile(path):
            return
        with open(path, newline="") as source:
            lines = source.readlines()
        header, rows = ([], lines) if self.jsonl else (lines[:1], lines[1:])

        def game_index(line: str) -> int:
            seed = json.loads(line)["seed"] if self.jsonl else int(line.split(",", 1)[0])
            return (seed - first_seed) % 2**64

        rows.sort(key=game_index)
        try:
            descriptor, temporary = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".tornquil-", suffix=".tmp")
        except OSError:
            return  # no room beside the file: its records stay in the order they finished
        try:
            with os.fdopen(descriptor, "w", newline="") as sorted_copy:
                sorted_copy.writelines(header + rows)
            shutil.copymode(path, temporary)
            os.replace(temporary, path)
        except BaseException:
            os.unlink(temporary)
            raise
