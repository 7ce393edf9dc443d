"""Where the tasks of a run (an eval's games, the solver's deals) are done: worker processes on this
machine, or Ray tasks. Both hand back each task's outcome as it finishes and take new tasks from the
run's order; `gather` takes the outcomes to the records, the counts and the progress."""

from __future__ import annotations

import argparse
import logging
import os
import signal
import sys
from concurrent.futures import FIRST_COMPLETED, Future, ProcessPoolExecutor, wait
from concurrent.futures.process import BrokenProcessPool
from typing import Any, Callable, Generator, Sequence

import tornquil

from .progress import Progress, import_optional
from .records import GameOrder, Record, RecordFile, RunOrder
from .seats import level_reached, make_player, seat_seed

# Games queued per worker: enough to keep every worker busy between two looks at the results,
# few enough that a huge --games costs no memory up front.
IN_FLIGHT_PER_WORKER = 4
# How often a waiting eval looks at whether Ctrl-C was pressed.
POLL_SECONDS = 0.2
RAY_START_SECONDS = 120

# Test hook: a worker that is about to play a game or solve a deal with this seed kills itself
# with SIGKILL, so that the tests can show what a run does when a worker process dies.
KILL_SEED_VARIABLE = "TORNQUIL_TEST_KILL_SEED"

# An outcome of one task (a game's seed, a deal): (task, record, None) when it finished,
# (task, None, reason) when it failed.
Outcome = tuple[Any, Any, "str | None"]
WORKER_DIED = "its worker process died"


class GameFailed(Exception):
    """A game or deal that raised in a worker, carried back by its text (the module's faults do not pickle)."""


def kill_if_asked(seed: int) -> None:
    if os.environ.get(KILL_SEED_VARIABLE) == str(seed):
        os.kill(os.getpid(), signal.SIGKILL)


def in_worker(work: Callable[..., Any], *arguments: Any) -> Any:
    try:
        return work(*arguments)
    except BaseException as error:
        raise GameFailed(f"{type(error).__name__}: {error}") from None


def call_task(call: Callable[[Any], Any], task: Any) -> Any:
    """Runs one task of a picklable call: the function that Ray runs for any kind of run."""
    return call(task)


def play_seeded_game(seats: Sequence[str], options: argparse.Namespace, seed: int) -> Record:
    players = [make_player(kind, options, seat_seed(seed, index)) for index, kind in enumerate(seats)]
    game = tornquil.TornquilGame(players, seed)
    result = game.playout()
    return seed, "won" if result == 0 else "lost", level_reached(game, result)


def play_game_in_worker(seats: Sequence[str], options: argparse.Namespace, seed: int) -> Record:
    kill_if_asked(seed)
    return in_worker(play_seeded_game, seats, options, seed)


class GameCall:
    """One seeded game of the run, as a picklable callable for the worker processes."""

    def __init__(self, seats: Sequence[str], settings: argparse.Namespace) -> None:
        self.seats, self.settings = list(seats), settings

    def __call__(self, seed: int) -> Record:
        return play_game_in_worker(self.seats, self.settings, seed)


class Interruption:
    """Ctrl-C during a run only asks it to stop: the loop that waits for games looks at the request,
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


def ignore_interrupts() -> None:
    # Ctrl-C reaches the whole process group; the parent alone decides what it means.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def new_pool(workers: int) -> ProcessPoolExecutor:
    return ProcessPoolExecutor(max_workers=workers, initializer=ignore_interrupts)


def stop_pool(pool: ProcessPoolExecutor) -> None:
    # Shutting down alone would wait for the tasks being done; a run that stops does not.
    for process in list((getattr(pool, "_processes", None) or {}).values()):
        if process.is_alive():
            process.terminate()
    pool.shutdown(wait=True, cancel_futures=True)


def outcome_of(future: Future[Any], task: Any) -> Outcome:
    try:
        return task, future.result(), None
    except BrokenProcessPool:
        return task, None, WORKER_DIED
    except Exception as error:
        return task, None, str(error)


def local_outcomes(call: Callable[[Any], Any], order: RunOrder, jobs: int,
                   interruption: Interruption) -> Generator[Outcome, None, None]:
    """Does the tasks on `jobs` processes, one at a time in each, a few per worker queued. A worker
    that dies breaks its whole pool and fails every task queued in it; those tasks are done again,
    each in a process of its own, so that only a task whose own process dies counts as failed."""
    pool = new_pool(jobs)
    in_flight: dict[Future[Any], Any] = {}
    try:
        while not interruption.requested:
            suspects: list[Any] = []
            while not suspects and len(in_flight) < IN_FLIGHT_PER_WORKER * jobs:
                seed = order.take()
                if seed is None:
                    break
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
                yield from outcomes_alone(call, sorted(suspects, key=order.index), jobs, interruption)
    finally:
        stop_pool(pool)


def outcomes_alone(call: Callable[[Any], Any], seeds: list[Any], jobs: int,
                   interruption: Interruption) -> Generator[Outcome, None, None]:
    waiting = list(reversed(seeds))
    running: dict[Future[Any], tuple[Any, ProcessPoolExecutor]] = {}
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


def ray_if_asked(parser: argparse.ArgumentParser, options: argparse.Namespace) -> Any:
    """Ray when --ray was given (a usage error when it is not installed), else None."""
    if options.ray is None:
        return None
    ray = import_optional("ray")
    if ray is None:
        parser.error("--ray needs Ray; install it with: pip install 'tornquil[ray]' (or pip install ray)")
    return ray


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


def ray_outcomes(ray: Any, call: Callable[[Any], Any], order: RunOrder, limit: int,
                 interruption: Interruption) -> Generator[Outcome, None, None]:
    """Does the tasks as Ray tasks, at most `limit` at a time, and hands each back as it finishes.
    A task whose worker dies is tried once more, like a local one; then it counts as failed."""
    remote = ray.remote(max_retries=1)(call_task)
    in_flight: dict[Any, Any] = {}
    try:
        while not interruption.requested:
            while len(in_flight) < limit and (seed := order.take()) is not None:
                in_flight[remote.remote(call, seed)] = seed
            if not in_flight:
                return
            ready, rest = ray.wait(list(in_flight), num_returns=1, timeout=POLL_SECONDS)
            if ready and rest:
                more, _ = ray.wait(rest, num_returns=len(rest), timeout=0)
                ready += more
            for reference in ready:
                seed = in_flight.pop(reference)
                yield seed, *ray_result(ray, reference)
    finally:
        for reference in in_flight:
            ray.cancel(reference, force=True)


def ray_result(ray: Any, reference: Any) -> tuple[Record | None, str | None]:
    try:
        return tuple(ray.get(reference)), None
    except ray.exceptions.RayTaskError as error:
        return None, str(error.cause) if error.cause is not None else str(error).splitlines()[0]
    except ray.exceptions.WorkerCrashedError:
        return None, WORKER_DIED
    except ray.exceptions.RayError as error:
        return None, str(error).splitlines()[0] if str(error) else type(error).__name__


def game_outcomes(options: argparse.Namespace, seats: list[str], ray: Any, order: GameOrder,
                  interruption: Interruption, settings: argparse.Namespace) -> Generator[Outcome, None, None]:
    return task_outcomes(GameCall(seats, settings), order, options.jobs, ray, options.ray, interruption,
                         "eval", "game(s)")


def task_outcomes(call: Callable[[Any], Any], order: RunOrder, jobs: int, ray: Any, address: str | None,
                  interruption: Interruption, command: str, units: str) -> Generator[Outcome, None, None]:
    """The outcomes of the run's tasks, from worker processes or, with `ray`, from Ray tasks on the
    cluster at `address` (a local instance when it is empty)."""
    total = order.total
    jobs = min(jobs, total)
    if ray is None:
        print(f"tornquil {command}: {total} {units} on {jobs} process(es)", file=sys.stderr, flush=True)
        order.keep_busy(IN_FLIGHT_PER_WORKER * jobs)
        yield from local_outcomes(call, order, jobs, interruption)
        return
    place = f"the Ray cluster at {address}" if address else "a local Ray instance"
    try:
        start_ray(ray, address or "", jobs, interruption)
        if interruption.requested:
            return
        cpus = max(1, int(ray.cluster_resources().get("CPU", 1)))
        print(f"tornquil {command}: {total} {units} as Ray tasks on {place} with {cpus} CPU(s)",
              file=sys.stderr, flush=True)
        limit = min(IN_FLIGHT_PER_WORKER * cpus, total)
        order.keep_busy(limit)
        yield from ray_outcomes(ray, call, order, limit, interruption)
    finally:
        # Also after a start that failed half-way: the processes it started go with it.
        ray.shutdown()


def gather(outcomes: Generator[Outcome, None, None], order: RunOrder, records: RecordFile | None,
           progress: Progress, count: Callable[[Any, Any], None], name: Callable[[Any], str],
           command: str) -> int:
    """Takes each outcome as it comes: `count` notes it (a record, or None for a failed task, which
    is also named on standard error), its record and those that waited for it go to `records` in
    the run's order, and the progress moves on. However the run ends, the records of every finished
    task are written. The status: 1 when Ray did not start or the records could not be written
    (said on standard error), else 0; a reader of standard output that went away ends the command."""
    status = 0
    try:
        for task, record, reason in outcomes:
            if record is None:
                progress.say(f"tornquil {command}: {name(task)} failed: {reason}")
            count(task, record)
            for due in order.finish(task, record):
                if records is not None:
                    records.add(due)
            progress.update(failed=record is None)
        if records is not None:
            for due in order.rest():
                records.add(due)
    except RayStartFailed as error:
        progress.say(f"tornquil {command}: {error}")
        status = 1
    except BrokenPipeError:
        raise  # a reader that went away ends the command quietly
    except OSError as error:
        path = records.path if records is not None else "the records"
        progress.say(f"tornquil {command}: cannot write {path}: {error.strerror or error}")
        status = 1
    finally:
        outcomes.close()
        progress.close()
    return status
