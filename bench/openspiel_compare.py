"""OpenSpiel's searches against tornquil's own players, on the same deals at equal time per decision.

    python bench/openspiel_compare.py --players 1,2,3,4 --games 40 --seconds 0.1 --jobs 2

Players (`--kinds`, any of them in any order):

- `ismcts`: OpenSpiel's information-set search (`open_spiel.python.algorithms.ismcts.ISMCTSBot`,
  the Python one: the C++ bot crashes on games written in Python), which searches worlds drawn by
  `resample_from_infostate`, so it knows only what its seat knows.
- `mcts`: OpenSpiel's `MCTSBot`, which searches the true state, every hidden card included
  (`solve=False`, so that it always spends its budget), taking the most visited action of its
  search (see `_most_visited` for why not the bot's own choice).
- `fair`: `tornquil_solver.FairPlayer`, which knows only what its seat knows.
- `search`: `tornquil.players.MCTSPlayer` with full information, heuristics on, tree policy 3.

Both OpenSpiel bots value a leaf by one random game to the end (`RandomRolloutEvaluator`) and
explore with `--uct-c` (default 2, the constant of OpenSpiel's examples; on six deals each of two
and four players it did better for both bots than sqrt(2) scaled to the returns' range, 17). They
take a number of simulations, not a time: each decision gets as many as fit in the time at the
bot's recent cost (seconds a simulation over its earlier decisions in this process, a moving
average, first measured by a trial search), and the table shows the seconds a decision really
took. Our players take the time itself,
on one thread each (`--threads`). A decision with one action to take is taken without a search
by every player.

Game i of every row is the deal of seed `--first-seed` + i, for every player alike. A row gives
the games won with a 95% Wilson interval, the mean level with a 95% normal interval, the mean
seconds of a searched decision, and search iterations a second (simulations for OpenSpiel's bots,
playouts or iterations for ours: all searched time together). Games run one at a time on each of
`--jobs` processes, the rows interleaved deal by deal, so that a load on the machine meets every
player alike. `--out FILE` writes every game as a line of JSON as it ends. Ctrl-C prints the
table of the games that ended.
"""

from __future__ import annotations

import argparse
import json
import math
import multiprocessing
import os
import signal
import sys
import time
from dataclasses import asdict, dataclass
from typing import Dict, Iterator, List, Optional, Sequence, Tuple

KINDS = ("ismcts", "mcts", "fair", "search")
MAX_LEVEL = 12
# The moving average of a bot's seconds a simulation weights each new decision by this much.
COST_WEIGHT = 0.3
TRIAL_SIMULATIONS = 10


@dataclass
class Record:
    kind: str
    players: int
    seed: int
    won: bool
    level: int
    decisions: int  # decisions searched; forced ones are not counted
    search_seconds: float
    iterations: int


@dataclass
class Settings:
    seconds: float
    uct_c: float
    threads: int


# --- OpenSpiel's bots ---------------------------------------------------------------------------

# Seconds a simulation, by bot and player count, in this process. The average is of the cost, not
# the rate: a budget of T / cost then takes T on average, where T * rate would overshoot whenever
# the rate varies (the mean of 1 / rate exceeds 1 / the mean rate).
_costs: Dict[Tuple[str, int], float] = {}


def _openspiel_bot(kind: str, game, simulations: int, uct_c: float, random_state):
    import numpy as np
    from open_spiel.python.algorithms import ismcts, mcts

    evaluator = mcts.RandomRolloutEvaluator(n_rollouts=1, random_state=random_state)
    if kind == "mcts":
        return mcts.MCTSBot(game, uct_c, simulations, evaluator, solve=False, random_state=random_state)
    return ismcts.ISMCTSBot(game, evaluator, uct_c, simulations, random_state=random_state or np.random.RandomState())


def _most_visited(bot, state) -> int:
    """The most visited action of an MCTSBot search. The bot's own choice ranks a child whose
    outcome is known and above 0 over every other, 0 being a draw in OpenSpiel's convention; here
    every outcome is a level from 0 to 12, so the bot would take any action that ends the game at
    once (a yield that loses at level 1) over the best searched one."""
    root = bot.mcts_search(state)
    return max(root.children, key=lambda child: (child.explore_count, child.total_reward)).action


def _openspiel_cost(kind: str, players: int, state, settings: Settings, random_state) -> float:
    """Seconds a simulation for this bot and player count, measured by a trial search when this
    process has no figure yet."""
    key = (kind, players)
    if key not in _costs:
        bot = _openspiel_bot(kind, state.get_game(), TRIAL_SIMULATIONS, settings.uct_c, random_state)
        start = time.perf_counter()
        _most_visited(bot, state.clone()) if kind == "mcts" else bot.step(state.clone())
        _costs[key] = max(time.perf_counter() - start, 1e-6) / TRIAL_SIMULATIONS
    return _costs[key]


def play_openspiel(kind: str, players: int, seed: int, settings: Settings) -> Record:
    import numpy as np
    import pyspiel
    import tornquil_openspiel  # noqa: F401 (registers the game)

    game = pyspiel.load_game("tornquil", {"players": players, "seed": seed})
    random_state = np.random.RandomState(seed)
    state = game.new_initial_state()
    state.apply_action(0)  # the deal of the seed
    decisions, searched, iterations = 0, 0.0, 0
    while not state.is_terminal():
        legal = state.legal_actions()
        if len(legal) == 1:
            state.apply_action(legal[0])
            continue
        cost = _openspiel_cost(kind, players, state, settings, random_state)
        simulations = max(1, round(settings.seconds / cost))
        bot = _openspiel_bot(kind, game, simulations, settings.uct_c, random_state)
        start = time.perf_counter()
        action = _most_visited(bot, state) if kind == "mcts" else bot.step(state)
        elapsed = time.perf_counter() - start
        _costs[(kind, players)] = (1 - COST_WEIGHT) * cost + COST_WEIGHT * elapsed / simulations
        decisions, searched, iterations = decisions + 1, searched + elapsed, iterations + simulations
        state.apply_action(action)
    level = int(state.returns()[0])
    return Record(kind, players, seed, level == MAX_LEVEL, level, decisions, searched, iterations)


# --- tornquil's players -------------------------------------------------------------------------


class _Timed:
    """A seat that asks one of our players, timing each searched decision and counting its
    iterations from the player's ranking."""

    def __init__(self, inner) -> None:
        self.inner = inner
        self.decisions, self.seconds, self.iterations = 0, 0.0, 0

    def play(self, state):
        actions = state.action_space()
        if len({str(action) for action in actions}) == 1:
            return actions[0]
        start = time.perf_counter()
        action = self.inner.play(state)
        self.seconds += time.perf_counter() - start
        self.decisions += 1
        self.iterations += sum(visits for _, visits, _ in self.inner.ranked_actions())
        return action


def _our_player(kind: str, seed: int, settings: Settings):
    import tornquil

    if kind == "fair":
        import tornquil_solver

        return tornquil_solver.FairPlayer(seconds=settings.seconds, threads=settings.threads, seed=seed)
    return tornquil.players.MCTSPlayer(2**32 - 1, settings.threads, True, 3, seconds=settings.seconds,
                                       information="full")


def play_ours(kind: str, players: int, seed: int, settings: Settings) -> Record:
    import tornquil

    seat = _Timed(_our_player(kind, seed, settings))
    game = tornquil.TornquilGame([seat] * players, seed)
    result = game.playout()
    level = int(game.reward())
    return Record(kind, players, seed, str(result).endswith("Won"), level, seat.decisions, seat.seconds,
                  seat.iterations)


def play(task: Tuple[str, int, int, Settings]) -> Record:
    kind, players, seed, settings = task
    if kind in ("ismcts", "mcts"):
        return play_openspiel(kind, players, seed, settings)
    return play_ours(kind, players, seed, settings)


# --- the table ----------------------------------------------------------------------------------


def wilson(wins: int, games: int) -> Tuple[float, float]:
    """The 95% Wilson score interval of a proportion, as the command reports it."""
    from tornquil_cli.records import wilson_interval

    return wilson_interval(wins, games)


def mean_interval(values: Sequence[float], z: float = 1.96) -> Tuple[float, float]:
    mean = sum(values) / len(values)
    if len(values) < 2:
        return mean, 0.0
    variance = sum((v - mean) ** 2 for v in values) / (len(values) - 1)
    return mean, z * math.sqrt(variance / len(values))


NAMES = {"ismcts": "OpenSpiel ISMCTSBot", "mcts": "OpenSpiel MCTSBot (sees all)", "fair": "FairPlayer",
         "search": "MCTSPlayer, full information"}


def table(records: Sequence[Record], kinds: Sequence[str], players: Sequence[int]) -> str:
    lines = ["| players | player | games | won | mean level | s a decision | iterations a second |",
             "|---|---|---|---|---|---|---|"]
    for count in players:
        for kind in kinds:
            rows = [r for r in records if r.kind == kind and r.players == count]
            if not rows:
                continue
            wins = sum(r.won for r in rows)
            low, high = wilson(wins, len(rows))
            mean, half = mean_interval([r.level for r in rows])
            decisions = sum(r.decisions for r in rows)
            seconds = sum(r.search_seconds for r in rows)
            per_decision = f"{seconds / decisions:.3f}" if decisions else "-"
            rate = f"{sum(r.iterations for r in rows) / seconds:,.0f}" if seconds else "-"
            lines.append(f"| {count} | {NAMES[kind]} | {len(rows)} | {100 * wins / len(rows):.1f}% "
                         f"[{100 * low:.1f}, {100 * high:.1f}] | {mean:.2f} ± {half:.2f} | {per_decision} | {rate} |")
    return "\n".join(lines)


# --- the command --------------------------------------------------------------------------------


def _list(kind: type, allowed: Sequence, text: str, name: str) -> List:
    try:
        values = [kind(part) for part in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError(f"a comma-separated list of {', '.join(map(str, allowed))}")
    if not values or any(value not in allowed for value in values) or len(set(values)) != len(values):
        raise argparse.ArgumentTypeError(f"a comma-separated list of {', '.join(map(str, allowed))}, each once")
    return values


def _positive_seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not (0 < value <= 3600):
        raise argparse.ArgumentTypeError("above 0 and at most 3600")
    return value


def _bounded(low: int, high: int):
    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            value = low - 1
        if not low <= value <= high:
            raise argparse.ArgumentTypeError(f"an integer from {low} to {high}")
        return value

    return parse


def arguments(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--kinds", type=lambda t: _list(str, KINDS, t, "--kinds"), default=list(KINDS))
    parser.add_argument("--players", type=lambda t: _list(int, (1, 2, 3, 4), t, "--players"), default=[1, 2, 3, 4])
    parser.add_argument("--games", type=_bounded(1, 100_000), default=40, help="deals per player count (40)")
    parser.add_argument("--seconds", type=_positive_seconds, default=0.1, help="per decision (0.1)")
    parser.add_argument("--first-seed", type=_bounded(0, 2**31 - 1 - 100_000), default=1000)
    parser.add_argument("--jobs", type=_bounded(1, 64), default=1, help="processes, each playing one game at a time (1)")
    parser.add_argument("--threads", type=_bounded(1, 256), default=1, help="of our players (1)")
    parser.add_argument("--uct-c", type=_positive_seconds, default=2.0, help="OpenSpiel's exploration constant (2)")
    parser.add_argument("--out", help="a file for every game as a line of JSON")
    return parser.parse_args(argv)


def tasks(options: argparse.Namespace) -> Iterator[Tuple[str, int, int, Settings]]:
    settings = Settings(options.seconds, options.uct_c, options.threads)
    for index in range(options.games):
        for players in options.players:
            for kind in options.kinds:
                yield kind, players, options.first_seed + index, settings


def _worker_start() -> None:
    # Ctrl-C reaches the whole process group: the parent alone decides what to do about it.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def _check_imports(kinds: Sequence[str]) -> Optional[str]:
    try:
        if {"ismcts", "mcts"} & set(kinds):
            import tornquil_openspiel  # noqa: F401
        if "fair" in kinds:
            import tornquil_solver

            getattr(tornquil_solver, "FairPlayer")
        import tornquil  # noqa: F401
    except (ImportError, AttributeError) as error:
        return str(error)
    return None


def main(argv: Optional[Sequence[str]] = None) -> int:
    options = arguments(argv)
    problem = _check_imports(options.kinds)
    if problem:
        print(f"openspiel_compare: {problem}", file=sys.stderr)
        return 2
    try:
        out = open(options.out, "w", encoding="utf-8") if options.out else None
    except OSError as error:
        print(f"openspiel_compare: --out {options.out}: {error.strerror}", file=sys.stderr)
        return 2
    records: List[Record] = []
    total = options.games * len(options.players) * len(options.kinds)
    start = time.monotonic()
    pool = multiprocessing.get_context("fork").Pool(options.jobs, initializer=_worker_start)
    status = 0
    try:
        for record in pool.imap(play, tasks(options)):
            records.append(record)
            if out:
                out.write(json.dumps(asdict(record)) + "\n")
                out.flush()
            print(f"\r{len(records)}/{total} games, {time.monotonic() - start:.0f} s", end="", file=sys.stderr)
    except KeyboardInterrupt:
        print("\ninterrupted", file=sys.stderr)
        status = 130
    except OSError as error:
        # A full disk or a closed stream: the games that ended still make a table.
        print(f"\nopenspiel_compare: --out {options.out}: {error.strerror}", file=sys.stderr)
        status = 1
    finally:
        pool.terminate()
        pool.join()
        if out:
            try:
                out.close()
            except OSError:
                status = 1
    print(file=sys.stderr)
    print(f"{options.seconds} s a decision, {options.threads} thread(s) for our players, seeds from "
          f"{options.first_seed}, {len(records)} games in {time.monotonic() - start:.0f} s on {options.jobs} process(es)")
    print(table(records, options.kinds, options.players))
    return status


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BrokenPipeError:
        # The reader went away: end quietly, as a Unix tool ended by SIGPIPE does.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(141)
