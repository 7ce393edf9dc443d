"""The results of a run of games or deals: the counts behind eval's summary, the Wilson interval of a
share, the order in which games and deals are handed out and written, and the record file."""

from __future__ import annotations

import argparse
import json
import math
import os
import re
import stat
from typing import Any, Sequence

from .seats import MAX_LEVEL

# One finished game: its seed, "won" or "lost", and the level reached.
Record = tuple[int, str, int]
GAME_COLUMNS = ("seed", "result", "level")


def wilson_interval(wins: int, games: int, z: float = 1.959964) -> tuple[float, float]:
    if games == 0:
        return 0.0, 1.0
    share = wins / games
    centre = (share + z * z / (2 * games)) / (1 + z * z / games)
    margin = z * math.sqrt(share * (1 - share) / games + z * z / (4 * games * games)) / (1 + z * z / games)
    return max(0.0, centre - margin), min(1.0, centre + margin)


def share_text(count: int, total: int) -> str:
    """A share with its 95% Wilson interval, as the tables of the README give it: `36.5% [30.1, 43.4]`;
    a dash for a share of nothing, which no number would describe."""
    if total == 0:
        return "-"
    low, high = wilson_interval(count, total)
    return f"{100 * count / total:.1f}% [{100 * low:.1f}, {100 * high:.1f}]"


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

    @property
    def lost_at_each_level(self) -> list[int]:
        # Only a won game counts as won: a game may reach the last level and still be lost.
        return [count - (self.wins if level == MAX_LEVEL else 0) for level, count in enumerate(self.levels)]

    def add(self, record: Record) -> None:
        _, result, level = record
        self.levels[level] += 1
        self.wins += result == "won"

    def win_rate_text(self) -> str:
        low, high = wilson_interval(self.wins, self.games)
        return (f"{100 * self.wins / self.games:.1f}%, 95% confidence interval "
                f"{100 * low:.1f}% to {100 * high:.1f}%")


class RunOrder:
    """Hands out a run's tasks (games or deals) in their order, never more than `window` tasks past
    the first task that has not finished, and holds the records of tasks that finished early until
    every task before them has. Records thus come out in the order of the tasks, and at most
    `window` of them wait in memory, however long the run and however slow one of its tasks. A
    subclass tells which task stands at which index: no run ever lists its tasks."""

    # Tasks that may finish ahead of the first unfinished one, per task in flight: their records
    # wait for it in memory, so this bounds a run's memory; a slow task holds the others up only past it.
    WINDOW_PER_GAME_IN_FLIGHT = 64
    WINDOW_MIN = 1024

    def __init__(self, total: int) -> None:
        self.total = total
        self.window = self.WINDOW_MIN
        self.started = 0
        self.done = 0  # every task before this index has finished
        self.waiting: dict[int, Any] = {}

    def task(self, index: int) -> Any:
        raise NotImplementedError

    def index(self, task: Any) -> int:
        raise NotImplementedError

    @property
    def exhausted(self) -> bool:
        return self.started == self.total

    def keep_busy(self, in_flight: int) -> None:
        """Widens the window for `in_flight` tasks at a time."""
        self.window = max(self.WINDOW_MIN, self.WINDOW_PER_GAME_IN_FLIGHT * in_flight)

    def take(self) -> Any:
        """The next task, or None when every task was handed out or the window is full."""
        if self.exhausted or self.started - self.done >= self.window:
            return None
        self.started += 1
        return self.task(self.started - 1)

    def finish(self, task: Any, record: Any) -> list[Any]:
        """Notes a finished task (None for one that failed); the records now due, in order."""
        self.waiting[self.index(task)] = record
        due = []
        while self.done in self.waiting:
            if (next_record := self.waiting.pop(self.done)) is not None:
                due.append(next_record)
            self.done += 1
        return due

    def rest(self) -> list[Any]:
        """The records still waiting behind tasks that never finished, in order: a run that stops
        early writes what it has."""
        due = [record for _, record in sorted(self.waiting.items()) if record is not None]
        self.waiting.clear()
        return due


class GameOrder(RunOrder):
    """The games of an eval: game i has the seed `first_seed` + i, wrapping around after the last seed."""

    def __init__(self, first_seed: int, total: int) -> None:
        super().__init__(total)
        self.first_seed = first_seed

    def task(self, index: int) -> int:
        return (self.first_seed + index) % 2**64

    def index(self, seed: int) -> int:
        return (seed - self.first_seed) % 2**64


class DealOrder(RunOrder):
    """The deals of a run of the solver, as (players, seed): seed by seed and, within a seed, the
    player counts in the order given, so that a run stopped early has solved the same seeds for
    every player count, give or take one."""

    def __init__(self, first_seed: int, last_seed: int, player_counts: Sequence[int]) -> None:
        self.counts = list(player_counts)
        super().__init__((last_seed - first_seed + 1) * len(self.counts))
        self.first_seed = first_seed

    def task(self, index: int) -> tuple[int, int]:
        seeds_in, count_at = divmod(index, len(self.counts))
        return self.counts[count_at], self.first_seed + seeds_in

    def index(self, deal: tuple[int, int]) -> int:
        players, seed = deal
        return (seed - self.first_seed) * len(self.counts) + self.counts.index(players)


# Names that reach a descriptor the command already holds; opened anew, the file behind one would be
# truncated or written from its start over what a shell's `>>` or an earlier writer put there.
INHERITED = re.compile(r"/dev/std(in|out|err)|/dev/fd/(\d+)|/proc/(?:self|thread-self|%d)/fd/(\d+)" % os.getpid())
STANDARD = {"in": 0, "out": 1, "err": 2}


def inherited_descriptor(path: str) -> int | None:
    path = os.path.abspath(path)
    for _ in range(40):  # as many links as the kernel follows
        match = INHERITED.fullmatch(path)
        if match:
            return STANDARD[match[1]] if match[1] else int(match[2] or match[3])
        if not os.path.islink(path):
            return None
        path = os.path.normpath(os.path.join(os.path.dirname(path), os.readlink(path)))
    return None


def open_destination(path: str) -> tuple[int, bool]:
    """A descriptor to write the records to, and whether it is a regular file of the command's own
    (made or emptied here), which alone may be cut back. A stream, a device or a descriptor the
    command inherited is written as given: never truncated, never replaced."""
    inherited = inherited_descriptor(path)
    if inherited is not None:
        descriptor = os.dup(inherited)
        return descriptor, False
    try:
        if not stat.S_ISREG(os.stat(path).st_mode):
            return os.open(path, os.O_WRONLY | os.O_CLOEXEC), False
    except FileNotFoundError:
        pass
    return os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_CLOEXEC, 0o666), True


class RecordFile:
    """The records of a run, in the order of its games or deals, each written whole and at once: a
    write that fails (a full disk) leaves the file with whole records only, and the error goes to the
    caller. A record is a tuple of plain values, one for each of `columns`."""

    def __init__(self, path: str, columns: Sequence[str] = GAME_COLUMNS) -> None:
        self.path = path
        self.columns = tuple(columns)
        self.jsonl = path.endswith(".jsonl")
        self.descriptor, self.own = open_destination(path)
        self.size = 0
        if not self.jsonl:
            self.write(",".join(self.columns) + "\r\n")

    def add(self, record: Sequence[Any]) -> None:
        if self.jsonl:
            self.write(json.dumps(dict(zip(self.columns, record))) + "\n")
        else:
            self.write(",".join(map(str, record)) + "\r\n")

    def write(self, line: str) -> None:
        encoded = line.encode()
        data = memoryview(encoded)
        try:
            while data:
                data = data[os.write(self.descriptor, data):]
        except OSError:
            if self.own:
                os.ftruncate(self.descriptor, self.size)
            raise
        self.size += len(encoded)

    def close(self) -> None:
        os.close(self.descriptor)


def open_records(parser: argparse.ArgumentParser, path: str | None,
                 columns: Sequence[str] = GAME_COLUMNS) -> RecordFile | None:
    """The record file of `--out`, opened before the run's first task: one that cannot be written is
    a usage error, and no run ends in vain."""
    if not path:
        return None
    try:
        return RecordFile(path, columns)
    except OSError as error:
        parser.error(f"argument --out: cannot write {path}: {error.strerror or error}")
