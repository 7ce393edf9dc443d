import os

# Colouring is decided once per process, from the environment, the first time a card is
# printed: settle it before tornquil is imported so that card texts in tests are plain.
os.environ["NO_COLOR"] = "1"
os.environ.pop("CLICOLOR_FORCE", None)

import subprocess  # noqa: E402
import sys  # noqa: E402

import pytest  # noqa: E402

import tornquil  # noqa: E402

COLOUR_VARIABLES = ("CLICOLOR_FORCE", "NO_COLOR", "CLICOLOR")


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


@pytest.fixture
def new_state():
    """The first state of a seeded game for `players` seats, as a player would see it."""

    def make(players=1, seed=7):
        player = FirstActionPlayer()

        class Stop(Exception):
            pass

        class Capture:
            def play(self, state):
                player.states.append(state)
                raise Stop

        try:
            tornquil.TornquilGame([Capture()] * players, seed).playout()
        except Stop:
            pass
        return player.states[0]

    return make
