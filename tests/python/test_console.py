import os
import pty
import subprocess
import sys

import pytest

import tornquil
from conftest import child_environment, read_until_closed, run_python

SEED = 3

PLAY_UNTIL_INPUT_ENDS = f"""
import tornquil
game = tornquil.TornquilGame([tornquil.players.InputPlayer()], {SEED})
try:
    game.playout()
except BaseException as error:
    print("RAISED", type(error).__name__, type(error).__bases__[0].__name__, str(error), flush=True)
print("REWARD", game.reward(), flush=True)
"""


def first_state():
    from conftest import FirstActionPlayer
    player = FirstActionPlayer()
    tornquil.TornquilGame([player], SEED).playout()
    return player.states[0]


def pretty_enemy(enemy):
    fields = str(enemy).removeprefix("Enemy { ").removesuffix(" }").split(", ")
    return "Some(\n    Enemy {\n" + "".join(f"        {field},\n" for field in fields) + "    },\n)"


def expected_prompt(state):
    numbered = "".join(f"\n{i}: {action}" for i, action in enumerate(state.action_space()))
    return ("=" * 60 + "\n"
            "Current player: PlayerId(0)\n"
            "Current enemy: \n\n" + pretty_enemy(state.current_enemy()) + "\n\n"
            "Available actions are: \n " + numbered + " \n\n"
            "Type number to select an action:\n")


def dialogue(typed):
    child = run_python(PLAY_UNTIL_INPUT_ENDS, stdin_text=typed, NO_COLOR="1")
    assert child.returncode == 0, child.stderr.decode()
    return child.stdout.decode()


def test_the_prompt_shows_turn_enemy_and_numbered_actions():
    output = dialogue("")
    assert output.startswith(expected_prompt(first_state()))


def test_end_of_input_ends_the_game_with_the_read_fault():
    output = dialogue("")
    assert output.endswith("RAISED PanicException BaseException Error reading input.: end of input\nREWARD 0\n")


@pytest.mark.parametrize("typed, message", [
    ("-1\n", 'Failed to parse input "-1\\n". Please try again!\n'),
    ("\n", 'Failed to parse input "\\n". Please try again!\n'),
    ("1 2\n", 'Failed to parse input "1 2\\n". Please try again!\n'),
    ("abc\n", 'Failed to parse input "abc\\n". Please try again!\n'),
    ("\t\"x\"\n", 'Failed to parse input "\\t\\"x\\"\\n". Please try again!\n'),
])
def test_unparsable_input_is_quoted_and_asked_again(typed, message):
    output = dialogue(typed)
    prompt = expected_prompt(first_state())
    assert output == prompt + message + "RAISED PanicException BaseException Error reading input.: end of input\nREWARD 0\n"


def test_a_number_past_the_last_action_is_asked_again():
    count = len(first_state().action_space())
    output = dialogue(f"{count}\n")
    assert output.split(expected_prompt(first_state()))[1].startswith(
        "Could not match input with any action. Please try again!\nRAISED")


@pytest.mark.parametrize("typed", ["1\n", "  1 \n", "+1\n", "1"])
def test_a_valid_number_chooses_that_action(typed):
    state = first_state()
    chosen = state.action_space()[1]
    output = dialogue(typed)
    # The second prompt shows the state after the chosen action: one card fewer in hand.
    prompts = output.count("Type number to select an action:\n")
    assert prompts == 2, output
    second = output.split("=" * 60 + "\n")[2]
    assert str(chosen) not in second.split("Available actions are:")[1]


def test_the_player_talks_to_the_process_streams_not_sys_streams():
    code = f"""
import io, sys, tornquil
sys.stdin, sys.stdout = io.StringIO("0\\n"), io.StringIO()
try:
    tornquil.TornquilGame([tornquil.players.InputPlayer()], {SEED}).playout()
except BaseException as error:
    sys.__stdout__.write(f"RAISED {{error}}\\n")
"""
    output = run_python(code, stdin_text="99\n", NO_COLOR="1").stdout.decode()
    assert output == (expected_prompt(first_state()) + "Could not match input with any action. Please try again!\n"
                      "RAISED Error reading input.: end of input\n")


CARD_TEXT = "import tornquil; c = tornquil.card; print(c.Card(c.CardSuit.Hearts, c.CardValue.King), end='')"
COLOURED_KING = "\x1b[47;31m♥\x1b[0m\x1b[47;30mK\x1b[0m"


# The decision's every case is tested on the native side; here, that card texts follow it.
@pytest.mark.parametrize("variables, coloured", [
    ({}, False),
    ({"CLICOLOR_FORCE": "1", "NO_COLOR": "1"}, True),
])
def test_colouring_through_a_pipe(variables, coloured):
    child = run_python(CARD_TEXT, **variables)
    assert child.stdout.decode() == (COLOURED_KING if coloured else "♥K")


def run_on_terminal(code, **variables):
    """Runs `code` with its standard output on a pseudo-terminal; returns what it wrote."""
    controller, terminal = pty.openpty()
    child = subprocess.Popen([sys.executable, "-c", code], stdout=terminal, stderr=subprocess.PIPE,
                             env=child_environment(**variables))
    os.close(terminal)
    output = read_until_closed(controller)
    child.wait(30)
    os.close(controller)
    return output.decode()


@pytest.mark.parametrize("variables, coloured", [
    ({}, True),
    ({"NO_COLOR": ""}, False),
])
def test_colouring_on_a_terminal(variables, coloured):
    assert run_on_terminal(CARD_TEXT, **variables) == (COLOURED_KING if coloured else "♥K")


def test_the_decision_is_made_once_per_process():
    code = CARD_TEXT + "\nimport os; os.environ['NO_COLOR'] = '1'; os.environ.pop('CLICOLOR_FORCE')\n" + \
        CARD_TEXT.split("; ", 2)[2]
    assert run_python(code, CLICOLOR_FORCE="1").stdout.decode() == COLOURED_KING * 2


@pytest.mark.parametrize("code, text", [
    ("print(c.Card(getattr(c.CardSuit, 'None'), c.CardValue.Jester), end='')", "\x1b[47m\x1b[0m\x1b[47;30mJester\x1b[0m"),
    ("print(c.Card(c.CardSuit.Spades, c.CardValue.Ten), end='')", "\x1b[47;30m♠\x1b[0m\x1b[47;30m10\x1b[0m"),
    ("print(tornquil.actions.ActionCombo([c.Card(c.CardSuit.Diamonds, c.CardValue.Two)]), end='')",
     "Combo([\x1b[47;31m♦\x1b[0m\x1b[47;30m2\x1b[0m])"),
])
def test_coloured_forms(code, text):
    child = run_python("import tornquil; c = tornquil.card\n" + code, CLICOLOR_FORCE="1")
    assert child.stdout.decode() == text
