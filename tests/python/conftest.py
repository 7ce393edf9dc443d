import os

# Colouring is decided once per process, from the environment, the first time a card is
# printed: settle it before tornquil is imported so that card texts in tests are plain.
os.environ["NO_COLOR"] = "1"
os.environ.pop("CLICOLOR_FORCE", None)

import pathlib  # noqa: E402
import select  # noqa: E402
import signal  # noqa: E402
import subprocess  # noqa: E402
import sys  # noqa: E402
import time  # noqa: E402

import pytest  # noqa: E402

import tornquil  # noqa: E402

COLOUR_VARIABLES = ("CLICOLOR_FORCE", "NO_COLOR", "CLICOLOR")
# A free-threaded interpreter runs with no interpreter lock unless something turned it back on.
GIL_OFF = not getattr(sys, "_is_gil_enabled", lambda: True)()


def child_environment(**variables):
    """This process's environment without the colour variables, plus `variables`."""
    env = {k: v for k, v in os.environ.items() if k not in COLOUR_VARIABLES}
    env.update(variables)
    return env


def run_python(code, stdin_text="", timeout=60, **variables):
    """Runs `code` in a child interpreter with its standard input fed from `stdin_text`."""
    return subprocess.run(
        [sys.executable, "-c", code],
        input=stdin_text.encode(),
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        env=child_environment(**variables),
        timeout=timeout,
    )


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: takes seconds; `pytest -m 'not slow'` leaves it out of a quick loop")


# The command as a user runs it: the entry point installed beside this interpreter.
COMMAND = pathlib.Path(sys.executable).with_name("tornquil")


def has_module(name):
    try:
        __import__(name)
    except ImportError:
        return False
    return True


def command_environment(tmp_path=None, hide=(), **variables):
    """The command's environment, plain cards; each module in `hide` fails to import, as if it were not installed."""
    if hide:
        stubs = tmp_path / "hidden"
        stubs.mkdir(exist_ok=True)
        for name in hide:
            (stubs / f"{name}.py").write_text(f"raise ImportError('{name} is hidden by the test')\n")
        variables["PYTHONPATH"] = os.pathsep.join(filter(None, [str(stubs), os.environ.get("PYTHONPATH")]))
    return child_environment(NO_COLOR="1", **variables)


def tornquil_command(*arguments, stdin_text="", env=None, timeout=180):
    """Runs the command to its end with `stdin_text` as its input."""
    return subprocess.run([str(COMMAND), *arguments], input=stdin_text.encode(), capture_output=True,
                          env=env or command_environment(), timeout=timeout)


def start_command(*arguments, env=None):
    # A session of its own, so that a signal can go to the whole group as Ctrl-C at a terminal does.
    return subprocess.Popen([str(COMMAND), *arguments], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env or command_environment(), start_new_session=True)


def press_ctrl_c(child):
    """Ctrl-C to the child's whole process group; its output once it has ended."""
    os.killpg(child.pid, signal.SIGINT)
    out, err = child.communicate(timeout=120)
    return out.decode(), err.decode()


def read_until(stream, marker, seconds=90, seen=b"", count=1):
    """Reads the stream until `marker` has come `count` times in all (counting what was `seen`
    before); everything read, with `seen` in front."""
    deadline = time.monotonic() + seconds
    while seen.count(marker) < count:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([stream], [], [], left)[0]:
            raise AssertionError(f"no {marker!r} within {seconds} s; got {seen[-2000:]!r}")
        chunk = os.read(stream.fileno(), 65536)
        if not chunk:
            raise AssertionError(f"the child ended before {marker!r}; got {seen[-2000:]!r}")
        seen += chunk
    return seen


def read_until_closed(descriptor):
    """Everything a pseudo-terminal's controller reads until the other side is closed."""
    output = b""
    while True:
        try:
            chunk = os.read(descriptor, 4096)
        except OSError:  # EIO once the child has closed its side
            break
        if not chunk:
            break
        output += chunk
    return output


def is_panic(error):
    return type(error).__name__ == "PanicException" and type(error).__bases__ == (BaseException,)


class FirstActionPlayer:
    """Always takes the first legal action; remembers every state it was shown."""

    def __init__(self):
        self.states = []

    def play(self, state):
        self.states.append(state)
        return state.action_space()[0]


@pytest.fixture
def card():
    """Card(suit name, value name) -> Card."""
    c = tornquil.card

    def make(suit, value):
        return c.Card(getattr(c.CardSuit, suit), getattr(c.CardValue, value))

    return make


def state_after(players, seed, moves=0, choose=lambda actions: actions[0]):
    """The state of a seeded game for `players` seats after `moves` moves, each the one `choose`
    picks from the legal actions, as a player would see it."""
    states = []

    class Stop(Exception):
        pass

    class Capture:
        def play(self, state):
            states.append(state)
            if len(states) > moves:
                raise Stop
            return choose(state.action_space())

    try:
        tornquil.TornquilGame([Capture()] * players, seed).playout()
    except Stop:
        pass
    return states[-1]


@pytest.fixture
def new_state():
    """The first state of a seeded game for `players` seats, as a player would see it."""

    def make(players=1, seed=7):
        return state_after(players, seed)

    return make
