"""The `tornquil` command: play a game, evaluate players over many seeded games, solve deals with every
card known, benchmark the search."""

from __future__ import annotations

import signal
import sys


def _note_interrupt(number: int, frame: object) -> None:
    _interrupted_while_loading.append(number)


# A Ctrl-C while the command is still loading ends it like one at any later moment: status 130
# and one line, not a traceback from the middle of an import or of the package's definitions.
# Until the package is loaded the signal is only noted: a KeyboardInterrupt raised inside the
# import machinery's own callbacks is reported and dropped there, and the command would run on as
# if never interrupted.
_interrupted_while_loading: list[int] = []
try:
    _handler_before_loading = signal.signal(signal.SIGINT, _note_interrupt)
except ValueError:  # imported from a thread other than the main one: signals are not ours
    _handler_before_loading = None


def _end_loading() -> None:
    """Puts back the Ctrl-C handling the package found, and ends with 130 if Ctrl-C came meanwhile."""
    if _handler_before_loading is not None:
        signal.signal(signal.SIGINT, _handler_before_loading)
    if _interrupted_while_loading:
        sys.stderr.write("\ninterrupted\n")
        raise SystemExit(130)


try:
    import argparse
    import errno
    import os
    from typing import Sequence

    from . import bench, evaluate, play, solve
    from .options import INTERRUPTED, refuse_idle_options
except KeyboardInterrupt:
    _interrupted_while_loading.append(signal.SIGINT)
    _end_loading()

# Each command registers its own parser; a new command is one more module here.
COMMANDS = (play, evaluate, solve, bench)
# The status of a command whose reader went away (`tornquil eval | head -1`), as for a Unix tool
# ended by SIGPIPE.
READER_GONE = 128 + signal.SIGPIPE
# What a write to standard output meets on a full disk or a failing device; any other OSError that
# reaches the command's top is a fault, shown whole.
OUTPUT_FAILURES = (errno.ENOSPC, errno.EDQUOT, errno.EFBIG, errno.EIO)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="tornquil", description=__doc__)
    commands = parser.add_subparsers(dest="command", metavar="{play,eval,solve,bench}")
    for command in COMMANDS:
        command.add_parser(commands)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    # Card texts hold suit symbols: a terminal or pipe that cannot show them gets a stand-in, not a crash.
    if hasattr(sys.stdout, "reconfigure"):
        sys.stdout.reconfigure(errors="replace")
    try:
        parser = build_parser()
        options = parser.parse_args(argv)
        if options.command is None:
            options = parser.parse_args(["play", *(argv or [])])
        if options.command in ("play", "eval"):
            if len(options.seats) > 4:
                parser.error("a game has one to four seats")
            refuse_idle_options(options.parser, options)
        return int(options.run(options))
    except KeyboardInterrupt:
        print("\ninterrupted", file=sys.stderr)
        return INTERRUPTED
    except BrokenPipeError:
        return reader_gone()
    except OSError as error:
        if error.errno not in OUTPUT_FAILURES:
            raise
        return output_failed(error)


def reader_gone() -> int:
    silence_output()
    return READER_GONE


def output_failed(error: OSError) -> int:
    try:
        print(f"tornquil: cannot write standard output: {error.strerror or error}", file=sys.stderr, flush=True)
    except OSError:
        pass  # standard error fails too: the status alone tells
    silence_output()
    return 1


def silence_output() -> None:
    # Nothing more can be said, and the interpreter's own last flush at exit would fail again and
    # complain: what is still buffered goes nowhere.
    nowhere = os.open(os.devnull, os.O_WRONLY)
    for stream in (sys.stdout, sys.stderr):
        try:
            os.dup2(nowhere, stream.fileno())
        except (OSError, ValueError, AttributeError):
            pass
    os.close(nowhere)


_end_loading()
