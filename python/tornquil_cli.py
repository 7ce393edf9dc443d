"""The `tornquil` command: play a game, evaluate players over many seeded games, benchmark the search."""

from __future__ import annotations

import signal
import sys


def _note_interrupt(number: int, frame: object) -> None:
    _interrupted_while_loading.append(number)


# A Ctrl-C while the command is still loading ends it like one at any later moment: status 130
# and one line, not a traceback from the middle of an import or of this module's definitions.
# Until the module is loaded the signal is only noted: a KeyboardInterrupt raised inside the
# import machinery's own callbacks is reported and dropped there, and the command would run on as
# if never interrupted.
_interrupted_while_loading: list[int] = []
try:
    _handler_before_loading = signal.signal(signal.SIGINT, _note_interrupt)
except ValueError:  # imported from a thread other than the main one: signals are not ours
    _handler_before_loading = None


def _end_loading() -> None:
    """Puts back the Ctrl-C handling the module found, and ends with 130 if Ctrl-C came meanwhile."""
    if _handler_before_loading is not None:
        signal.signal(signal.SIGINT, _handler_before_loading)
    if _interrupted_while_loading:
        sys.stderr.write("\ninterrupted\n")
        raise SystemExit(130)


try:
    import argparse
    import csv
    import errno
    import json
    import logging
    import math
    import os
    import random
    import shutil
    import statistics
    import tempfile
    import time
    from concurrent.futures import FIRST_COMPLETED, Future, ProcessPoolExecutor, wait
    from concurrent.futures.process import BrokenProcessPool
    from typing import Any, Callable, Generator, Iterator, Sequence

    import tornquil
except KeyboardInterrupt:
    _interrupted_while_loading.append(signal.SIGINT)
    _end_loading()


SEAT_KINDS = ("mcts", "random", "human")
MAX_LEVEL = 12

# The ranges of the numeric options; the module's own limits where it has them.
PLAYOUTS_MAX = 2**32 - 1
THREADS_MAX = 256  # the search starts at most this many workers
SEED_MAX = 2**64 - 1
GAMES_MAX = 10**9
JOBS_MAX = 256
RUNS_MAX = 1000
SECONDS_MAX = 86_400.0  # a day per decision: beyond any use, and far from any clock's overflow
INFORMATION_KINDS = ("own", "full")

# Games queued per worker: enough to keep every worker busy between two looks at the results,
# few enough that a huge --games costs no memory up front.
IN_FLIGHT_PER_WORKER = 4
# How often a waiting eval looks at whether Ctrl-C was pressed.
POLL_SECONDS = 0.2
RAY_START_SECONDS = 120
INTERRUPTED = 130

# Test hook: a worker that is about to play the game with this seed kills itself with SIGKILL,
# so that the tests can show what eval does when a worker process dies.
KILL_SEED_VARIABLE = "TORNQUIL_TEST_KILL_SEED"


def whole_number(low: int, high: int) -> Callable[[str], int]:
    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None
        if not low <= value <= high:
            raise argparse.ArgumentTypeError(f"expected a whole number from {low} to {high}, got {text}")
        return value

    return parse


def seconds_value(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number of seconds, got {text!r}") from None
    # The comparison is false for nan as well.
    if not 0 < value <= SECONDS_MAX:
        raise argparse.ArgumentTypeError(f"expected a number of seconds above 0 and at most {SECONDS_MAX:g}, got {text}")
    return value


def seat_kind(allowed: Sequence[str]) -> Any:
    def parse(text: str) -> str:
        if text not in allowed:
            raise argparse.ArgumentTypeError(f"invalid seat {text!r} (choose from {', '.join(allowed)})")
        return text

    return parse


def add_search_options(parser: argparse.ArgumentParser, playouts: int, threads: int | str) -> None:
    search = parser.add_argument_group("search player")
    search.add_argument("--playouts", type=whole_number(0, PLAYOUTS_MAX), default=playouts,
                        help=f"playouts per decision, 0..{PLAYOUTS_MAX} (default {playouts})")
    search.add_argument("--threads", type=whole_number(1, THREADS_MAX), default=threads,
                        help=f"search threads, 1..{THREADS_MAX} (default {threads})")
    search.add_argument("--heuristics", action=argparse.BooleanOptionalAction, default=True,
                        help="keep rollouts from discarding diamonds when they need not (default on)")
    search.add_argument("--policy", type=int, choices=(0, 3, 4), default=0, help="tree policy (default 0)")
    search.add_argument("--seconds", type=seconds_value, metavar="S",
                        help=f"wall-clock budget of each decision in seconds, above 0 and at most {SECONDS_MAX:g}"
                             " (default: none, the playouts alone bound it)")
    search.add_argument("--information", choices=INFORMATION_KINDS,
                        help="what the search may see: its own seat's hand only, or every hand (default full)")


def search_keywords(options: argparse.Namespace) -> dict[str, Any]:
    # Only what the user gave: a module without these options still plays every other command line.
    keywords = {}
    if options.seconds is not None:
        keywords["seconds"] = options.seconds
    if options.information is not None:
        keywords["information"] = options.information
    return keywords


def new_search(options: argparse.Namespace) -> Any:
    return tornquil.players.MCTSPlayer(options.playouts, options.threads, options.heuristics, options.policy,
                                       **search_keywords(options))


def check_search_options(parser: argparse.ArgumentParser, options: argparse.Namespace) -> None:
    """Refuses --seconds and --information before any game when the installed module does not take them."""
    keywords = search_keywords(options)
    if not keywords:
        return
    try:
        tornquil.players.MCTSPlayer(1, 1, True, **keywords)
    except TypeError:
        names = " and ".join(f"--{name}" for name in keywords)
        parser.error(f"{names}: the installed tornquil module's search player does not take this option;"
                     " install a newer tornquil")


def make_player(kind: str, options: argparse.Namespace, seed: int | None) -> Any:
    if kind == "mcts":
        return new_search(options)
    if kind == "random":
        return tornquil.players.RandomPlayer(seed)
    return tornquil.players.InputPlayer()


def seat_seed(game_seed: int, seat: int) -> int:
    """A random seat's own seed, derived from the game's so that a whole run is reproducible."""
    return (game_seed * 8 + seat + 1) % 2**64


def level_reached(game: Any, result: Any) -> int:
    # After playout() the game holds the state before the final action: its reward is the level.
    return MAX_LEVEL if result == 0 else game.reward()


def is_panic(error: BaseException) -> bool:
    # The module's fault type is not one of its attributes, so only its name identifies it.
    return type(error).__name__ == "PanicException"


class Narrator:
    """A seat that shows the state, asks the built-in player behind it and shows its answer."""

    def __init__(self, seat: int, kind: str, player: Any, turns: list[int]) -> None:
        self.seat, self.kind, self.player, self.turns = seat, kind, player, turns

    def play(self, state: Any) -> Any:
        self.turns[0] += 1
        print(f"\n-- turn {self.turns[0]}: seat {self.seat} ({self.kind}) --", flush=True)
        print(state, flush=True)
        action = self.player.play(state)
        print(f"seat {self.seat} ({self.kind}) plays {action}", flush=True)
        return action


class Hinted:
    """A person's seat that first shows what a search of the same state would play, then asks for
    the number of an action, as the console player does. The module's console player cannot be
    asked from Python, so this seat reads standard input itself, a bounded line at a time."""

    HINTS = 3
    MAX_LINE = 64 * 1024  # as the console player: a longer line is read to its end and refused

    def __init__(self, search: Any) -> None:
        self.search = search

    def play(self, state: Any) -> Any:
        self.search.play(state)
        print("hints from the search (most visited first):", flush=True)
        for rank, (action, visits, mean_level) in enumerate(self.search.ranked_actions()[:self.HINTS], 1):
            print(f"  {rank}. {action}: {visits} visits, mean level {mean_level:.2f}", flush=True)
        actions = state.action_space()
        numbered = "".join(f"\n{index}: {action}" for index, action in enumerate(actions))
        print("=" * 60 + f"\nCurrent player: {state.has_turn()}\nCurrent enemy: {state.current_enemy()}\n\n"
              f"Available actions are: \n {numbered} \n\nType number to select an action:", flush=True)
        while True:
            line, whole = self.read_line()
            try:
                number = int(line.strip()) if whole and line.strip().lstrip("+").isdigit() else None
            except ValueError:
                number = None
            if number is None:
                shown = line if whole else line[:64] + "... (cut)"
                print(f"Failed to parse input {shown!r}. Please try again!", flush=True)
            elif number >= len(actions):
                print("Could not match input with any action. Please try again!", flush=True)
            else:
                return actions[number]

    def read_line(self) -> tuple[str, bool]:
        line = sys.stdin.readline(self.MAX_LINE)
        if line == "":
            raise EOFError("end of input")
        whole = line.endswith("\n") or len(line) < self.MAX_LINE
        while not whole and (rest := sys.stdin.readline(self.MAX_LINE)) and not rest.endswith("\n"):
            pass
        return line, whole


def interrupted_read(error: BaseException) -> bool:
    # Before the console player turned a Ctrl-C at its prompt into KeyboardInterrupt, the broken read
    # came back as a fault naming the interrupted system call.
    return is_panic(error) and os.strerror(errno.EINTR) in str(error)


def input_ended(error: BaseException) -> bool:
    return isinstance(error, EOFError) or (is_panic(error) and "end of input" in str(error))


def command_play(options: argparse.Namespace) -> int:
    seed = options.seed if options.seed is not None else random.randrange(2**64)
    seats = options.seats or ["mcts", "mcts"]
    turns = [0]
    players = []
    for index, kind in enumerate(seats):
        player = make_player(kind, options, seat_seed(seed, index))
        if kind != "human":
            player = Narrator(index, kind, player, turns)
        elif options.hints:
            player = Hinted(new_search(options))
        # Otherwise the console player talks to the person itself, so it takes its seat directly.
        players.append(player)
    print(f"tornquil: {len(seats)} player(s): {' '.join(seats)}; seed {seed}", flush=True)
    game = tornquil.TornquilGame(players, seed)
    signals: list[int] = []

    def on_interrupt(number: int, frame: Any) -> None:
        signals.append(number)
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGINT, on_interrupt)
    try:
        try:
            result = game.playout()
        finally:
            # A Ctrl-C whose handler has not run yet would land anywhere in what follows; from here on
            # the ending is decided, and a pending or further Ctrl-C changes nothing.
            signal.signal(signal.SIGINT, signal.SIG_IGN)
    except BaseException as error:
        if signals or isinstance(error, KeyboardInterrupt) or interrupted_read(error):
            print("\ninterrupted", file=sys.stderr, flush=True)
            return INTERRUPTED
        if input_ended(error):
            print(f"tornquil play: input ended ({error})", file=sys.stderr, flush=True)
            return 1
        raise
    finally:
        signal.signal(signal.SIGINT, previous)
    level = level_reached(game, result)
    print("\nResult: won, all 12 enemies defeated" if result == 0 else f"\nResult: lost at level {level} of 12", flush=True)
    return 0


class GameFailed(Exception):
    """A game that raised in a worker, carried back by its text (the module's faults do not pickle)."""


def play_seeded_game(seats: Sequence[str], options: argparse.Namespace, seed: int) -> tuple[int, str, int]:
    players = [make_player(kind, options, seat_seed(seed, index)) for index, kind in enumerate(seats)]
    game = tornquil.TornquilGame(players, seed)
    result = game.playout()
    return seed, "won" if result == 0 else "lost", level_reached(game, result)


def play_game_in_worker(seats: Sequence[str], options: argparse.Namespace, seed: int) -> tuple[int, str, int]:
    if os.environ.get(KILL_SEED_VARIABLE) == str(seed):
        os.kill(os.getpid(), signal.SIGKILL)
    try:
        return play_seeded_game(seats, options, seed)
    except BaseException as error:
        raise GameFailed(f"{type(error).__name__}: {error}") from None


def ignore_interrupts() -> None:
    # Ctrl-C reaches the whole process group; the parent alone decides what it means.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


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

    def add(self, record: tuple[int, str, int]) -> None:
        _, result, level = record
        self.levels[level] += 1
        self.wins += result == "won"

    def win_rate_text(self) -> str:
        low, high = wilson_interval(self.wins, self.games)
        return (f"{100 * self.wins / self.games:.1f}%, 95% confidence interval "
                f"{100 * low:.1f}% to {100 * high:.1f}%")


def summarise(tally: Tally) -> None:
    games = tally.games
    print(f"games: {games} of {tally.total}")
    if tally.failed:
        print(f"failed: {tally.failed}")
    if games == 0:
        return
    print(f"won: {tally.wins} ({tally.win_rate_text()})")
    mean = sum(level * count for level, count in enumerate(tally.levels)) / games
    print(f"mean level reached: {mean:.2f} of {MAX_LEVEL}")
    print("levels reached:")
    widest = max(tally.levels)
    for value, count in enumerate(tally.levels):
        bar = "#" * (40 * count // widest if widest else 0)
        print(f"  {value:2d} | {count:5d} {bar}")


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

    def add(self, record: tuple[int, str, int]) -> None:
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


def check_writable_plot(path: str) -> str | None:
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


class Interruption:
    """Ctrl-C during an eval only asks it to stop: the loop that waits for games looks at the request,
    so that no KeyboardInterrupt lands in the middle of a pool's or Ray's own bookkeeping."""

    def __init__(self) -> None:
        self.requested = False
        self.previous: Any = None

    def __enter__(self) -> Interruption:
        self.previous = signal.signal(signal.SIGINT, self.request)
        return self

    def request(self, number: int, frame: Any) -> None:
        self.requested = True

    def __exit__(self, *exception: Any) -> None:
        signal.signal(signal.SIGINT, self.previous)


# An outcome of one game: (seed, record, None) when it finished, (seed, None, reason) when it failed.
Outcome = tuple[int, "tuple[int, str, int] | None", "str | None"]
WORKER_DIED = "its worker process died"


def new_pool(workers: int) -> ProcessPoolExecutor:
    return ProcessPoolExecutor(max_workers=workers, initializer=ignore_interrupts)


def stop_pool(pool: ProcessPoolExecutor) -> None:
    # Shutting down alone would wait for the games being played; an eval that stops does not.
    for process in list((getattr(pool, "_processes", None) or {}).values()):
        if process.is_alive():
            process.terminate()
    pool.shutdown(wait=True, cancel_futures=True)


def outcome_of(future: Future[Any], seed: int) -> Outcome:
    try:
        return seed, future.result(), None
    except BrokenProcessPool:
        return seed, None, WORKER_DIED
    except Exception as error:
        return seed, None, str(error)


def local_outcomes(call: Callable[[int], Any], seeds: Iterator[int], jobs: int,
                   interruption: Interruption) -> Generator[Outcome, None, None]:
    """Plays the games on `jobs` processes, a few per worker queued at a time. A worker that dies
    breaks its whole pool and fails every game queued in it; those games are played again, each in a
    process of its own, so that only a game whose own process dies counts as failed."""
    pool = new_pool(jobs)
    in_flight: dict[Future[Any], int] = {}
    exhausted = False
    try:
        while not interruption.requested:
            suspects: list[int] = []
            while not exhausted and not suspects and len(in_flight) < IN_FLIGHT_PER_WORKER * jobs:
                seed = next(seeds, None)
                if seed is None:
                    exhausted = True
                    continue
                try:
                    in_flight[pool.submit(call, seed)] = seed
                except BrokenProcessPool:  # the pool broke since the last look at the results
                    suspects.append(seed)
            if not in_flight and not suspects:
                return
            done, _ = wait(in_flight, timeout=0 if suspects else POLL_SECONDS, return_when=FIRST_COMPLETED)
            for future in done:
                outcome = outcome_of(future, in_flight.pop(future))
                if outcome[2] == WORKER_DIED:
                    suspects.append(outcome[0])
                else:
                    yield outcome
            if suspects:
                suspects.extend(in_flight.values())
                in_flight.clear()
                stop_pool(pool)
                pool = new_pool(jobs)
                yield from outcomes_alone(call, sorted(suspects), jobs, interruption)
    finally:
        stop_pool(pool)


def outcomes_alone(call: Callable[[int], Any], seeds: list[int], jobs: int,
                   interruption: Interruption) -> Generator[Outcome, None, None]:
    waiting = list(reversed(seeds))
    running: dict[Future[Any], tuple[int, ProcessPoolExecutor]] = {}
    try:
        while (waiting or running) and not interruption.requested:
            while waiting and len(running) < jobs:
                seed = waiting.pop()
                alone = new_pool(1)
                running[alone.submit(call, seed)] = seed, alone
            done, _ = wait(running, timeout=POLL_SECONDS, return_when=FIRST_COMPLETED)
            for future in done:
                seed, alone = running.pop(future)
                stop_pool(alone)
                yield outcome_of(future, seed)
    finally:
        for _, alone in running.values():
            stop_pool(alone)


class RayStartTimeout(BaseException):
    """Raised by the alarm into a ray.init that takes too long (a BaseException, so that none of
    Ray's own handlers takes it for one of its errors)."""


class RayStartStopped(BaseException):
    """Raised by Ctrl-C into a ray.init, which may wait a long time for a cluster that never answers."""


class RayStartFailed(Exception):
    pass


def start_ray(ray: Any, address: str, cpus: int, interruption: Interruption) -> None:
    # ray.init has no time limit of its own, so an alarm bounds it. It must run on the main thread:
    # Ray ends the processes it starts when the thread that started them ends.
    def expire(number: int, frame: Any) -> None:
        raise RayStartTimeout

    def stop(number: int, frame: Any) -> None:
        interruption.request(number, frame)
        raise RayStartStopped

    settings: dict[str, Any] = {"include_dashboard": False, "logging_level": logging.WARNING,
                                "log_to_driver": False}
    previous = signal.signal(signal.SIGALRM, expire)
    signal.alarm(RAY_START_SECONDS)
    # Joining a cluster starts nothing here, so Ctrl-C may break it off, however long it waits for an
    # answer. A local start is left to finish (a few seconds) and then ended: broken off half-way,
    # it would leave processes behind that nothing ends.
    previous_interrupt = signal.signal(signal.SIGINT, stop) if address else signal.getsignal(signal.SIGINT)
    try:
        if interruption.requested:
            return
        if address:
            ray.init(address=address, **settings)
        else:
            # "local" starts an instance of our own even when `ray start` left one running here.
            ray.init(address="local", num_cpus=cpus, **settings)
    except RayStartStopped:
        pass  # the run ends through its summary, as after any Ctrl-C
    except RayStartTimeout:
        raise RayStartFailed(f"Ray did not start within {RAY_START_SECONDS} s") from None
    except Exception as error:
        raise RayStartFailed(f"Ray did not start: {error}") from None
    finally:
        signal.signal(signal.SIGINT, previous_interrupt)
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)


def ray_outcomes(ray: Any, seats: Sequence[str], settings: argparse.Namespace, seeds: Iterator[int],
                 limit: int, interruption: Interruption) -> Generator[Outcome, None, None]:
    """Plays the games as Ray tasks, at most `limit` at a time, and hands each back as it finishes.
    A task whose worker dies is tried once more, like a local game; then it counts as failed."""
    task = ray.remote(max_retries=1)(play_game_in_worker)
    in_flight: dict[Any, int] = {}
    exhausted = False
    try:
        while not interruption.requested:
            while not exhausted and len(in_flight) < limit:
                seed = next(seeds, None)
                if seed is None:
                    exhausted = True
                else:
                    in_flight[task.remote(seats, settings, seed)] = seed
            if not in_flight:
                return
            ready, rest = ray.wait(list(in_flight), num_returns=1, timeout=POLL_SECONDS)
            if ready and rest:
                more, _ = ray.wait(rest, num_returns=len(rest), timeout=0)
                ready += more
            for reference in ready:
                seed = in_flight.pop(reference)
                try:
                    yield seed, tuple(ray.get(reference)), None
                except ray.exceptions.RayTaskError as error:
                    yield seed, None, str(error.cause) if error.cause is not None else str(error).splitlines()[0]
                except ray.exceptions.WorkerCrashedError:
                    yield seed, None, WORKER_DIED
                except ray.exceptions.RayError as error:
                    yield seed, None, str(error).splitlines()[0] if str(error) else type(error).__name__
    finally:
        for reference in in_flight:
            ray.cancel(reference, force=True)


def import_optional(name: str) -> Any:
    try:
        return __import__(name)
    except ImportError:
        return None


class Progress:
    """The run's progress on standard error: a live bar from tqdm on a terminal; elsewhere, or without
    tqdm, a plain line now and then (at 1, 2, 4, 8... games, at every tenth and at the end), so that a
    log file gets a readable record and no frames of a bar."""

    WIDTH = 30

    def __init__(self, total: int) -> None:
        self.total, self.done, self.failed = total, 0, 0
        self.start = time.monotonic()
        tqdm = import_optional("tqdm")
        self.bar = None
        if tqdm is not None and sys.stderr.isatty():
            self.bar = tqdm.tqdm(total=total, unit="game", file=sys.stderr, dynamic_ncols=True)

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
            print(f"[{'#' * filled}{'.' * (self.WIDTH - filled)}] {self.done}/{self.total} games{failures}, "
                  f"{time.monotonic() - self.start:.0f} s", file=sys.stderr, flush=True)

    def worth_a_line(self) -> bool:
        done = self.done
        tenth = 10 * done // self.total
        return done & (done - 1) == 0 or done == self.total or tenth != 10 * (done - 1) // self.total

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


def command_eval(options: argparse.Namespace) -> int:
    seats = options.seats or ["mcts", "mcts"]
    parser = options.parser
    if "human" in seats:
        parser.error("eval plays without a person: use mcts or random seats")
    if options.ray in SEAT_KINDS:
        parser.error(f"--ray took {options.ray!r} for the address of a Ray cluster: put the seats before --ray")
    if options.plot:
        problem = check_writable_plot(options.plot)
        if problem:
            parser.error(f"argument --plot: cannot write {options.plot}: {problem}")
    # From here on a Ctrl-C only asks the run to stop, even while Ray or matplotlib is imported or
    # Ray starts: whatever the moment, the run ends through the summary.
    with Interruption() as interruption:
        ray = None
        if options.ray is not None:
            ray = import_optional("ray")
            if ray is None:
                parser.error("--ray needs Ray; install it with: pip install 'tornquil[ray]' (or pip install ray)")
        pyplot: Any = None
        if options.plot:
            try:
                import matplotlib

                matplotlib.use("Agg")
                import matplotlib.pyplot as pyplot
            except ImportError:
                print("tornquil eval: --plot needs matplotlib; install it with: pip install 'tornquil[plot]'"
                      " (or pip install matplotlib)", file=sys.stderr)
                return 1
        records = None
        if options.out:
            try:
                records = RecordFile(options.out)
            except OSError as error:
                parser.error(f"argument --out: cannot write {options.out}: {error.strerror or error}")
        try:
            return evaluate(options, seats, records, ray, pyplot, interruption)
        finally:
            if records is not None:
                records.close()


def game_outcomes(options: argparse.Namespace, seats: list[str], ray: Any,
                  interruption: Interruption) -> Generator[Outcome, None, None]:
    total = options.games
    settings = strip(options)
    # A generator, so that only the games in flight are ever queued, however many the run has.
    seeds = ((options.seed + index) % 2**64 for index in range(total))
    jobs = min(options.jobs, total)
    if ray is None:
        print(f"tornquil eval: {total} game(s) on {jobs} process(es)", file=sys.stderr, flush=True)
        yield from local_outcomes(GameCall(seats, settings), seeds, jobs, interruption)
        return
    place = f"the Ray cluster at {options.ray}" if options.ray else "a local Ray instance"
    try:
        start_ray(ray, options.ray, jobs, interruption)
        if interruption.requested:
            return
        cpus = max(1, int(ray.cluster_resources().get("CPU", 1)))
        print(f"tornquil eval: {total} game(s) as Ray tasks on {place} with {cpus} CPU(s)",
              file=sys.stderr, flush=True)
        yield from ray_outcomes(ray, seats, settings, seeds, min(IN_FLIGHT_PER_WORKER * cpus, total),
                                interruption)
    finally:
        # Also after a start that failed half-way: the processes it started go with it.
        ray.shutdown()


def evaluate(options: argparse.Namespace, seats: list[str], records: RecordFile | None, ray: Any,
             pyplot: Any, interruption: Interruption) -> int:
    tally = Tally(options.games)
    status = 0
    progress = Progress(options.games)
    outcomes = game_outcomes(options, seats, ray, interruption)
    try:
        for seed, record, reason in outcomes:
            if record is None:
                tally.failed += 1
                progress.say(f"tornquil eval: the game with seed {seed} failed: {reason}")
            else:
                tally.add(record)
                if records is not None:
                    records.add(record)
            progress.update(failed=record is None)
    except RayStartFailed as error:
        progress.say(f"tornquil eval: {error}")
        status = 1
    except OSError as error:
        progress.say(f"tornquil eval: cannot write {options.out}: {error.strerror or error}")
        status = 1
    finally:
        outcomes.close()
        progress.close()
    if interruption.requested:
        print("interrupted", file=sys.stderr, flush=True)
    if records is not None and status == 0:
        try:
            records.sort_by_game(options.seed)
        except OSError as error:
            print(f"tornquil eval: cannot sort {options.out}: {error.strerror or error}", file=sys.stderr)
            status = 1
    summarise(tally)
    sys.stdout.flush()
    if pyplot is not None and tally.games:
        try:
            plot_levels(options.plot, tally, plot_title(seats, options, tally), pyplot)
        except (OSError, ValueError) as error:  # matplotlib refuses an unknown picture type by ValueError
            print(f"tornquil eval: cannot write {options.plot}: {getattr(error, 'strerror', None) or error}",
                  file=sys.stderr)
            status = 1
    if interruption.requested:
        return INTERRUPTED
    return 1 if status or tally.failed else 0


class GameCall:
    """One seeded game of the run, as a picklable callable for the worker processes."""

    def __init__(self, seats: Sequence[str], settings: argparse.Namespace) -> None:
        self.seats, self.settings = list(seats), settings

    def __call__(self, seed: int) -> tuple[int, str, int]:
        return play_game_in_worker(self.seats, self.settings, seed)


def strip(options: argparse.Namespace) -> argparse.Namespace:
    """The options a worker process needs (the parser itself does not travel)."""
    return argparse.Namespace(playouts=options.playouts, threads=options.threads, heuristics=options.heuristics,
                              policy=options.policy, seconds=options.seconds, information=options.information)


def command_bench(options: argparse.Namespace) -> int:
    state_holder: list[Any] = []

    class Grab:
        def play(self, state: Any) -> Any:
            state_holder.append(state)
            raise StopIteration

    try:
        tornquil.TornquilGame([Grab(), Grab()], 1).playout()
    except StopIteration:
        pass
    state = state_holder[0]
    print(f"tornquil search benchmark: a new two-player game, median of {options.runs} runs (min .. max)\n")
    print("| playouts | threads | heuristics | playouts/s |")
    print("|---|---|---|---|")
    medians: dict[tuple[int, int, bool], float] = {}
    for playouts in (10_000, 100_000):
        for heuristics in (False, True):
            for threads in (1, 2):
                rates = []
                for _ in range(options.runs):
                    player = tornquil.players.MCTSPlayer(playouts, threads, heuristics)
                    start = time.perf_counter()
                    player.play(state)
                    rates.append(playouts / (time.perf_counter() - start))
                medians[playouts, threads, heuristics] = statistics.median(rates)
                print(f"| {playouts} | {threads} | {'on' if heuristics else 'off'} | "
                      f"{statistics.median(rates):,.0f} ({min(rates):,.0f} .. {max(rates):,.0f}) |", flush=True)
    print()
    for playouts in (10_000, 100_000):
        for heuristics in (False, True):
            speed_up = medians[playouts, 2, heuristics] / medians[playouts, 1, heuristics]
            print(f"speed-up from 1 to 2 threads, {playouts} playouts, heuristics {'on' if heuristics else 'off'}: {speed_up:.2f}")
    return 0


PLAY_ENDINGS = ("exit status: 0 when the game was played, 1 when standard input ended before it was over,"
                " 2 for a usage error, 130 after Ctrl-C")
EVAL_ENDINGS = ("exit status: 0 when every game was played, 1 when a game failed or a file could not be written,"
                " 2 for a usage error (found before the first game), 130 after Ctrl-C (the summary still shows"
                " the games that finished)")


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="tornquil", description=__doc__)
    commands = parser.add_subparsers(dest="command", metavar="{play,eval,bench}")
    cores = min(os.cpu_count() or 1, THREADS_MAX)

    play = commands.add_parser("play", help="play one game and show it turn by turn", epilog=PLAY_ENDINGS)
    play.add_argument("seats", nargs="*", type=seat_kind(SEAT_KINDS), metavar="seat",
                      help="one to four seats: mcts, random or human (default: mcts mcts)")
    play.add_argument("--seed", type=whole_number(0, SEED_MAX),
                      help="the game's seed, 0..2**64-1 (default: a random one, shown)")
    add_search_options(play, playouts=2000, threads=cores)
    play.add_argument("--hints", action="store_true",
                      help="before each prompt of a human seat, show the search's three most visited actions"
                           " with their visits and mean level (the search options apply)")
    play.set_defaults(run=command_play, parser=play)

    evaluate = commands.add_parser("eval", help="play many seeded games and report how the players fare",
                                   epilog=EVAL_ENDINGS)
    evaluate.add_argument("seats", nargs="*", type=seat_kind(SEAT_KINDS[:2]), metavar="seat",
                          help="one to four seats: mcts or random (default: mcts mcts)")
    evaluate.add_argument("--games", type=whole_number(1, GAMES_MAX), default=100,
                          help=f"games to play, 1..{GAMES_MAX} (default 100)")
    evaluate.add_argument("--seed", type=whole_number(0, SEED_MAX), default=0,
                          help="seed of the first game, 0..2**64-1; game i has seed + i (default 0)")
    evaluate.add_argument("--jobs", type=whole_number(1, JOBS_MAX), default=min(os.cpu_count() or 1, JOBS_MAX),
                          help=f"processes, 1..{JOBS_MAX}, never more than games (default: one per core)")
    evaluate.add_argument("--out", metavar="FILE",
                          help="write every game's seed, result and level as it finishes (.csv or .jsonl)")
    evaluate.add_argument("--plot", metavar="FILE.png", help="draw the histogram of levels (needs matplotlib)")
    evaluate.add_argument("--ray", nargs="?", const="", metavar="ADDRESS",
                          help="play the games as Ray tasks on the cluster at ADDRESS, or on a local Ray instance"
                               " of --jobs CPUs when none is given (needs: pip install 'tornquil[ray]')")
    add_search_options(evaluate, playouts=500, threads=1)
    evaluate.set_defaults(run=command_eval, parser=evaluate)

    bench = commands.add_parser("bench", help="search playouts per second at one and two threads")
    bench.add_argument("--runs", type=whole_number(1, RUNS_MAX), default=3,
                       help=f"runs per figure, 1..{RUNS_MAX} (default 3)")
    bench.set_defaults(run=command_bench)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    try:
        parser = build_parser()
        options = parser.parse_args(argv)
        if options.command is None:
            options = parser.parse_args(["play", *(argv or [])])
        if options.command in ("play", "eval") and len(options.seats) > 4:
            parser.error("a game has one to four seats")
        if options.command in ("play", "eval"):
            check_search_options(options.parser, options)
        return int(options.run(options))
    except KeyboardInterrupt:
        print("\ninterrupted", file=sys.stderr)
        return INTERRUPTED


_end_loading()

if __name__ == "__main__":
    sys.exit(main())
