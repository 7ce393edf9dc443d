"""The progress of a run of games or deals on standard error."""

from __future__ import annotations

import sys
import time
from typing import Any


def import_optional(name: str) -> Any:
    try:
        return __import__(name)
    except ImportError:
        return None


class Progress:
    """The run's progress on standard error: a live bar from tqdm on a terminal; elsewhere, or without
    tqdm, a plain line now and then (at 1, 2, 4, 8... games, at every tenth and at the end), so that a
    log file gets a readable record and no frames of a bar. `unit` names what the run counts."""

    WIDTH = 30

    def __init__(self, total: int, unit: str = "game") -> None:
        self.total, self.done, self.failed, self.unit = total, 0, 0, unit
        self.start = time.monotonic()
        tqdm = import_optional("tqdm")
        self.bar = None
        if tqdm is not None and sys.stderr.isatty():
            self.bar = tqdm.tqdm(total=total, unit=unit, file=sys.stderr, dynamic_ncols=True)

    def say(self, text: str) -> None:
        if self.bar is not None:
            self.bar.write(text, file=sys.stderr)
        else:
            print(text, file=sys.stderr, flush=True)

    def update(self, failed: bool) -> None:
        self.done += 1
        self.failed += failed
        if self.bar is not None:
            if self.failed:
                self.bar.set_postfix(failed=self.failed, refresh=False)
            self.bar.update()
        elif self.worth_a_line():
            filled = self.WIDTH * self.done // self.total
            failures = f", {self.failed} failed" if self.failed else ""
            print(f"[{'#' * filled}{'.' * (self.WIDTH - filled)}] {self.done}/{self.total} {self.unit}s{failures}, "
                  f"{time.monotonic() - self.start:.0f} s", file=sys.stderr, flush=True)

    def worth_a_line(self) -> bool:
        done = self.done
        tenth = 10 * done // self.total
        return done & (done - 1) == 0 or done == self.total or tenth != 10 * (done - 1) // self.total

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()
