"""The results of a run of games: the counts behind the summary, the Wilson interval of the win rate,
the order in which games are handed out and written, and the record file."""

from __future__ import annotations

import json
import math
import os
import re
import stat

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


class GameOrder:
    """Hands out the run's seeds in the order of the games, never more than `window` games past the
    first game that has not finished, and holds the records of games that finished early until every
    game before them has. Records thus come out in the order of the games, and at most `window` of
    them wait in memory, however long the run and however slow one of its games."""

    # Games that may finish ahead of the first unfinished one, per game in flight: their records
    # wait for it in memory, so this bounds a run's memory; a slow game holds the others up only past it.
    WINDOW_PER_GAME_IN_FLIGHT = 64
    WINDOW_MIN = 1024

    def __init__(self, first_seed: int, total: int) -> None:
        self.first_seed, self.total = first_seed, total
        self.window = self.WINDOW_MIN
        self.started = 0
        self.done = 0  # every game before this index has finished
        self.waiting: dict[int, Record | None] = {}

    @property
    def exhausted(self) -> bool:
        return self.started == self.total

    def keep_busy(self, in_flight: int) -> None:
        """Widens the window for `in_flight` games at a time."""
        self.window = max(self.WINDOW_MIN, self.WINDOW_PER_GAME_IN_FLIGHT * in_flight)

    def index(self, seed: int) -> int:
        return (seed - self.first_seed) % 2**64

    def take(self) -> int | None:
        """The next game's seed, or None when every game was handed out or the window is full."""
        if self.exhausted or self.started - self.done >= self.window:
            return None
        self.started += 1
        return (self.first_seed + self.started - 1) % 2**64

    def finish(self, seed: int, record: Record | None) -> list[Record]:
        """Notes a finished game (None for one that failed); the records now due, in order."""
        self.waiting[self.index(seed)] = record
        due = []
        while self.done in self.waiting:
            if (next_record := self.waiting.pop(self.done)) is not None:
                due.append(next_record)
            self.done += 1
        return due

    def rest(self) -> list[Record]:
        """The records still waiting behind games that never finished, in order: a run that stops
        early writes what it has."""
        due = [record for _, record in sorted(self.waiting.items()) if record is not None]
        self.waiting.clear()
        return due


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
    """The records of a run, in the order of the games, each written whole and at once: a write that
    fails (a full disk) leaves the file with whole records only, and the error goes to the caller."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.jsonl = path.endswith(".jsonl")
        self.descriptor, self.own = open_destination(path)
        self.size = 0
        if not self.jsonl:
            self.write("seed,result,level\r\n")

    def add(self, record: Record) -> None:
        seed, result, level = record
        if self.jsonl:
            self.write(json.dumps({"seed": seed, "result": result, "level": level}) + "\n")
        else:
            self.write(f"{seed},{result},{level}\r\n")

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
