"""The module under careless or hostile use: signals during long calls, re-entrant code run by the
collector, absurd thread counts, endless input. Whatever can crash or needs a signal runs in a
child interpreter."""

import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import tornquil
from conftest import GIL_OFF, child_environment, read_until

# How late Ctrl-C may reach the user.
PROMPTNESS = 0.5

PRELUDE = textwrap.dedent("""
    import os, signal, sys, time, tornquil
    MCTSPlayer = tornquil.players.MCTSPlayer
    # A suite started in the background by a shell without job control hands its children Ctrl-C
    # ignored, and Python then installs no handler of its own: put the usual one back.
    signal.signal(signal.SIGINT, signal.default_int_handler)

    def say(*words):
        print(*words, flush=True)

    class Snapshot:
        def play(self, state):
            global STATE
            STATE = state
            raise LookupError

    def new_state(players=4, seed=5):
        try:
            tornquil.TornquilGame([Snapshot()] * players, seed).playout()
        except LookupError:
            return STATE
""")


class Child:
    """A child interpreter running PRELUDE + `code`, talking line by line over pipes."""

    def __init__(self, code):
        self.process = subprocess.Popen(
            [sys.executable, "-c", PRELUDE + textwrap.dedent(code)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            env=child_environment(NO_COLOR="1"))
        self.output = b""

    def wait_for(self, text, timeout=60, count=1):
        self.output = read_until(self.process.stdout, text.encode(), timeout, self.output, count)
        return time.monotonic()

    def interrupt(self):
        self.process.send_signal(signal.SIGINT)
        return time.monotonic()

    def latency_of_ctrl_c(self, ready, after, answer):
        """Sends SIGINT `after` seconds past `ready`; how long until the child printed `answer`."""
        self.wait_for(ready)
        time.sleep(after)
        sent = self.interrupt()
        return self.wait_for(answer) - sent

    def finish(self, timeout=60):
        if self.process.stdin is not None and self.process.stdin.closed:
            self.process.stdin = None
        rest, errors = self.process.communicate(timeout=timeout)
        self.output += rest
        return self.output.decode(), errors.decode()

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


@pytest.fixture
def child():
    made = []

    def start(code):
        made.append(Child(code))
        return made[-1]

    yield start
    for each in made:
        each.close()


@pytest.mark.slow
def test_finalizer_that_plays_during_ranked_actions_leaves_the_list_whole():
    code = """
        import gc
        gc.set_threshold(1, 1, 1)
        state = new_state(2)
        player = MCTSPlayer(300, 1, True)
        player.play(state)

        class PlaysWhenCollected:
            def __del__(self):
                player.play(state)

        for round in range(300):
            cycle = PlaysWhenCollected()
            cycle.me = cycle
            del cycle
            ranking = player.ranked_actions()
            texts = [str(action) for action, _, _ in ranking]
            assert len(texts) == len(set(texts)), texts
            assert sum(visits for _, visits, _ in ranking) == 300
        say("WHOLE")
    """
    for _ in range(3):
        process = subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(code)],
                                 capture_output=True, env=child_environment(NO_COLOR="1"), timeout=120)
        assert process.returncode == 0, process.stderr.decode()
        assert process.stdout.decode() == "WHOLE\n"


@pytest.mark.slow
def test_ctrl_c_reaches_a_long_search_at_once_and_leaves_ranking_and_player_usable(child):
    running = child("""
        def visits_of(ranking):
            return [(str(action), visits) for action, visits, _ in ranking]

        state = new_state(4)
        player = MCTSPlayer(4_000_000_000, 2, True, seconds=3.0)
        player.play(state)
        before = visits_of(player.ranked_actions())
        try:
            say("SEARCHING")
            player.play(state)
        except KeyboardInterrupt:
            say("INTERRUPTED")
        assert visits_of(player.ranked_actions()) == before
        player.play(state)
        assert sum(visits for _, visits in visits_of(player.ranked_actions())) > 0
        say("USABLE")
    """)
    assert running.latency_of_ctrl_c("SEARCHING", 1.0, "INTERRUPTED") < PROMPTNESS
    output, errors = running.finish()
    assert output.endswith("USABLE\n"), errors


@pytest.mark.slow
def test_ctrl_c_reaches_a_game_of_search_players_and_the_game_stays_as_it_was(child):
    running = child("""
        game = tornquil.TornquilGame([MCTSPlayer(4_000_000_000, 2, True)] * 3, 8)
        game.print()
        say("PLAYING")
        try:
            game.playout()
        except KeyboardInterrupt:
            say("INTERRUPTED")
        assert game.reward() == 0
        game.print()
        say("PRINTED")
    """)
    assert running.latency_of_ctrl_c("PLAYING", 1.0, "INTERRUPTED") < PROMPTNESS
    output, errors = running.finish()
    assert output.endswith("PRINTED\n"), errors
    # The state the game holds is printed the same before and after the interrupted turn.
    half = len(errors) // 2
    assert errors[:half] == errors[half:] and "&self.state" in errors


def test_ctrl_c_at_the_console_prompt_raises_keyboard_interrupt_and_input_stays_readable(child):
    running = child("""
        game = tornquil.TornquilGame([tornquil.players.InputPlayer()], 3)
        for attempt in ("first", "second"):
            try:
                game.playout()
            except KeyboardInterrupt:
                say("INTERRUPTED", attempt)
            except BaseException as error:
                say("RAISED", type(error).__name__, error)
    """)
    running.wait_for("Type number to select an action:")
    sent = running.interrupt()
    assert running.wait_for("INTERRUPTED first") - sent < PROMPTNESS
    running.wait_for("Type number to select an action:", count=2)
    # The second game reads the lines that are still to come: an action, then the end.
    running.process.stdin.write(b"99\n")
    running.process.stdin.close()
    output, errors = running.finish()
    assert "Could not match input with any action. Please try again!\n" in output, errors
    assert output.endswith("RAISED PanicException Error reading input.: end of input\n"), errors


@pytest.mark.slow
def test_endless_line_is_read_in_flat_memory_and_quoted_in_part():
    code = """
        # The high-water mark of this process image (getrusage's would include the parent's
        # before the exec), before and after the line: a build with sanitizers starts higher.
        def peak_kib():
            with open("/proc/self/status") as status:
                return int(next(line for line in status if line.startswith("VmHWM:")).split()[1])
        before = peak_kib()
        game = tornquil.TornquilGame([tornquil.players.InputPlayer()], 3)
        try:
            game.playout()
        except BaseException as error:
            say("RAISED", type(error).__name__, error)
        say("GROWTH", peak_kib() - before)
    """
    process = subprocess.Popen([sys.executable, "-c", PRELUDE + textwrap.dedent(code)],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               env=child_environment(NO_COLOR="1"))
    junk = b"x" * (1 << 20)

    def feed():
        for _ in range(64):  # 64 MiB without a line break
            process.stdin.write(junk)
        process.stdin.write(b"\n")
        process.stdin.close()

    feeder = threading.Thread(target=feed)
    feeder.start()
    output = process.stdout.read()
    feeder.join()
    errors = process.stderr.read()
    process.wait(timeout=60)
    text = output.decode()
    assert 'Failed to parse input "' + "x" * 64 + '" (cut: a line longer than 65536 bytes).' in text, errors
    assert len(text) < 10_000
    growth_kib = int(text.rsplit("GROWTH ", 1)[1])
    assert growth_kib < 16 * 1024, growth_kib  # the line alone is 64 MiB


def test_absurd_thread_count_searches_with_at_most_the_ceiling_and_counts_every_playout():
    state_player = tornquil.players.MCTSPlayer(100_000, 10**6, True)
    from conftest import FirstActionPlayer
    first = FirstActionPlayer()
    tornquil.TornquilGame([first, first], 4).playout()
    started = time.monotonic()
    state_player.play(first.states[0])
    assert time.monotonic() - started < 60
    assert sum(visits for _, visits, _ in state_player.ranked_actions()) == 100_000


def new_state(players=2, seed=4):
    from conftest import FirstActionPlayer
    first = FirstActionPlayer()
    tornquil.TornquilGame([first] * players, seed).playout()
    return first.states[0]


def test_time_budget_bounds_a_huge_decision_and_the_visits_add_up_to_what_was_done():
    state = new_state(4)
    fastest = None
    for _ in range(3):  # the fastest of three, so that a busy machine does not decide
        player = tornquil.players.MCTSPlayer(10**9, 2, True, seconds=0.2)
        started = time.monotonic()
        player.play(state)
        elapsed = time.monotonic() - started
        fastest = elapsed if fastest is None else min(fastest, elapsed)
        visits = sum(visits for _, visits, _ in player.ranked_actions())
        assert 2 <= visits < 10**9
    assert 0.2 <= fastest < 0.25


def ticks_in(seconds, during=lambda: time.sleep(2.0)):
    """How often a Python thread that sleeps 10 ms at a time gets to run while `during` runs."""
    ticks = []
    done = threading.Event()

    def tick():
        while not done.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.01)

    ticker = threading.Thread(target=tick)
    ticker.start()
    started = time.monotonic()
    during()
    elapsed = time.monotonic() - started
    done.set()
    ticker.join()
    return len([t for t in ticks if started <= t <= started + elapsed]) / elapsed


@pytest.mark.slow
def test_released_lock_lets_other_threads_run_and_a_second_caller_is_refused():
    state = new_state(2)
    # One worker, so that a core is left for the ticking thread: what is measured is the lock.
    player = tornquil.players.MCTSPlayer(4_000_000_000, 1, True, seconds=2.0, release_gil=True)
    refusals = []

    def second_caller():
        time.sleep(0.5)
        # Seating it in a game would copy the ranking the decision is writing.
        for call in (lambda: player.play(state), player.ranked_actions,
                     lambda: tornquil.TornquilGame([player])):
            try:
                call()
            except RuntimeError as error:
                refusals.append(str(error))

    intruder = threading.Thread(target=second_caller)

    def search():
        intruder.start()
        player.play(state)

    baseline = ticks_in(2.0)
    searching = ticks_in(2.0, search)
    intruder.join()
    assert searching >= 0.8 * baseline, (searching, baseline)
    assert refusals == ["MCTSPlayer is in use: its play() is running"] * 3
    # Afterwards the player is free again.
    assert len(player.ranked_actions()) == len(state.action_space())
    tornquil.TornquilGame([player])


@pytest.mark.slow
@pytest.mark.skipif(GIL_OFF, reason="with the interpreter lock off there is no lock to hold")
def test_held_lock_keeps_other_threads_waiting_by_default():
    state = new_state(2)
    player = tornquil.players.MCTSPlayer(4_000_000_000, 1, True, seconds=1.0)
    assert ticks_in(1.0, lambda: player.play(state)) < 10


def test_held_lock_is_the_default_and_a_game_seat_may_release_it():
    state = new_state(2)
    seat = tornquil.players.MCTSPlayer(200, 2, True, release_gil=True)
    game = tornquil.TornquilGame([seat, tornquil.players.RandomPlayer(seed=2)], 6)
    assert int(game.playout()) in (0, 1)
    held = tornquil.players.MCTSPlayer(200, 2, True)
    held.play(state)
    assert sum(visits for _, visits, _ in held.ranked_actions()) == 200


@pytest.mark.parametrize("options, error", [
    (dict(seconds=0), ValueError), (dict(seconds=-1.0), ValueError),
    (dict(seconds=float("inf")), ValueError), (dict(seconds=float("nan")), ValueError),
    (dict(seconds="1"), TypeError), (dict(information="hidden"), ValueError),
    (dict(information=None), TypeError), (dict(release_gil=1), TypeError),
    (dict(seconds=True), TypeError), (dict(seconds=False), TypeError),
    (dict(information="\udcff"), ValueError), (dict(information="Own"), ValueError),
])
def test_new_options_refuse_bad_values(options, error):
    with pytest.raises(error):
        tornquil.players.MCTSPlayer(10, 1, True, **options)


def test_numpy_numbers_are_seconds_and_its_truth_values_are_not():
    np = pytest.importorskip("numpy")
    tornquil.players.MCTSPlayer(10, 1, True, seconds=np.float32(0.5))
    tornquil.players.MCTSPlayer(10, 1, True, seconds=np.int64(2))
    with pytest.raises(TypeError, match="^argument 'seconds': must be real number, not bool$"):
        tornquil.players.MCTSPlayer(10, 1, True, seconds=np.bool_(True))


def test_new_options_are_keyword_only():
    with pytest.raises(TypeError, match=r"takes 4 positional arguments but 5 were given"):
        tornquil.players.MCTSPlayer(10, 1, True, None, 1.0)


# Long native work that Ctrl-C must reach within PROMPTNESS, each followed by a short one that
# shows the module usable: the code defines long() and short(), whose value is printed.
LONG_WORK = {
    "a search that released the lock": ("""
        state = new_state(3)
        player = MCTSPlayer(4_000_000_000, 2, True, release_gil=True)
        def long():
            player.play(state)
        def short():
            assert player.ranked_actions() == []
            quick = MCTSPlayer(100, 2, True, release_gil=True)
            quick.play(state)
            return sum(visits for _, visits, _ in quick.ranked_actions())
    """, "100"),
    "a solve": ("""
        import tornquil_solver
        def long():
            tornquil_solver.solve(players=4, seed=1281, nodes=2**63)  # a deal that takes minutes
        def short():
            return tornquil_solver.solve(players=2, seed=1002, seconds=20).verdict
    """, "Won"),
    "a fair player's decision": ("""
        import tornquil_solver
        state = new_state(2)
        def long():
            tornquil_solver.FairPlayer(seconds=None, iterations=2**62, threads=2).play(state)
        def short():
            quick = tornquil_solver.FairPlayer(seconds=None, iterations=300)
            quick.play(state)
            return sum(visits for _, visits, _ in quick.ranked_actions())
    """, "300"),
}


@pytest.mark.parametrize("work", list(LONG_WORK))
def test_ctrl_c_reaches_long_work_at_once_and_the_module_stays_usable(child, work):
    code, usable = LONG_WORK[work]
    running = child(code + """
        try:
            say("WORKING")
            long()
        except KeyboardInterrupt:
            say("INTERRUPTED")
        say("USABLE", short())
    """)
    assert running.latency_of_ctrl_c("WORKING", 0.3, "INTERRUPTED") < PROMPTNESS
    output, errors = running.finish()
    assert output.endswith(f"USABLE {usable}\n"), errors


def test_a_signal_handler_that_plays_on_the_searching_player_is_refused(child):
    running = child("""
        import signal
        state = new_state(2)
        player = MCTSPlayer(4_000_000_000, 2, True)

        def handler(number, frame):
            player.play(state)

        signal.signal(signal.SIGINT, handler)
        try:
            say("SEARCHING")
            player.play(state)
        except RuntimeError as error:
            say("REFUSED", error)
    """)
    running.wait_for("SEARCHING")
    time.sleep(0.3)
    running.interrupt()
    running.wait_for("REFUSED")
    output, errors = running.finish()
    assert "REFUSED MCTSPlayer is in use: its play() is running" in output, errors


def test_a_player_that_sees_only_its_seat_ranks_every_offered_action_with_every_playout():
    state = new_state(3)
    player = tornquil.players.MCTSPlayer(1200, 2, True, information="own")
    chosen = player.play(state)
    ranking = player.ranked_actions()
    assert str(chosen) == str(ranking[0][0])
    assert sorted(str(action) for action, _, _ in ranking) == sorted(str(a) for a in state.action_space())
    assert sum(visits for _, visits, _ in ranking) == 1200


# An interpreter that shuts down ends every other thread that asks for its lock by unwinding its
# stack; a decision that released the lock meets that when it takes the lock back to check for
# signals, and must let the unwinding pass (its workers stopped and joined) instead of aborting.
EXIT_WHILE_DECIDING = {
    "daemon thread": ("""
        import threading
        player = MCTSPlayer(4_000_000_000, 2, True, release_gil=True)
        threading.Thread(target=player.play, args=(new_state(3),), daemon=True).start()
        time.sleep(0.05)
        say("EXITING")
    """, None),
    # Some interpreters end the thread as they shut down; newer ones let it finish its decision.
    "Ctrl-C in join": ("""
        import threading
        player = MCTSPlayer(4_000_000_000, 2, True, seconds=2, release_gil=True)
        thread = threading.Thread(target=player.play, args=(new_state(3),))
        thread.start()
        say("JOINING")
        thread.join()
    """, "JOINING"),
}


@pytest.mark.slow
@pytest.mark.parametrize("case", list(EXIT_WHILE_DECIDING))
def test_the_interpreter_exits_cleanly_while_a_thread_decides_without_the_lock(child, case):
    code, interrupt_after = EXIT_WHILE_DECIDING[case]
    for run in range(20):
        running = child(code)
        if interrupt_after is not None:
            running.wait_for(interrupt_after)
            time.sleep(0.05)
            running.interrupt()
        output, errors = running.finish(timeout=30)
        assert "FATAL" not in errors and "Aborted" not in errors, f"run {run}: {errors}"
        if interrupt_after is None:
            assert running.process.returncode == 0, f"run {run}: {errors}"
        else:
            assert running.process.returncode == -signal.SIGINT, f"run {run}: {errors}"
            assert errors.rstrip().endswith("KeyboardInterrupt"), f"run {run}: {errors}"


@pytest.mark.slow
@pytest.mark.parametrize("input_closed_first", [False, True])
def test_ctrl_c_with_the_end_of_input_at_the_prompt_is_an_interrupt(child, input_closed_first):
    # In a pipeline Ctrl-C reaches the process and closes its input at the same moment, so the
    # end of input may even be seen first.
    for run in range(20):
        running = child("""
            try:
                tornquil.TornquilGame([tornquil.players.InputPlayer()], 3).playout()
            except KeyboardInterrupt:
                say("INTERRUPTED")
            except BaseException as error:
                say("RAISED", type(error).__name__, error)
        """)
        running.wait_for("Type number to select an action:")
        if input_closed_first:
            running.process.stdin.close()
        running.interrupt()
        running.process.stdin.close()
        output, errors = running.finish()
        assert output.endswith("INTERRUPTED\n"), f"run {run}: {output[-200:]} {errors}"

