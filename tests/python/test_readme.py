import pathlib
import re

from conftest import run_python

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def example_code(heading="## Example"):
    section = README.read_text().split(heading + "\n", 1)[1]
    return re.search(r"```python\n(.*?)```", section, re.S).group(1)


def test_the_readme_example_plays_a_game():
    child = run_python(example_code(), NO_COLOR="1")
    assert child.returncode == 0, child.stderr.decode()
    assert re.fullmatch(r"PyGameResult\.(Won|Lost) after defeating \d+ enemies\n", child.stdout.decode())


def test_the_example_plays_the_same_game_whether_cards_are_coloured_or_not():
    plain = run_python(example_code(), NO_COLOR="1").stdout
    assert run_python(example_code(), CLICOLOR_FORCE="1").stdout == plain


def test_the_search_player_example_advises_every_turn_and_ends_the_game():
    child = run_python(example_code("## The search player"), NO_COLOR="1")
    assert child.returncode == 0, child.stderr.decode()
    *advice, last = child.stdout.decode().splitlines()
    assert advice and all(re.search(r": \d+ of 2000 playouts, [\d.]+ enemies on average$", line) for line in advice)
    assert re.fullmatch(r"PyGameResult\.(Won|Lost) at level \d+", last)


def test_the_environment_example_plays_an_episode_to_its_end():
    child = run_python(example_code("## The learning environment"), NO_COLOR="1")
    assert child.returncode == 0, child.stderr.decode()
    assert re.fullmatch(r"(Won|Lost) at level \d+\n", child.stdout.decode())


def test_the_action_table_gives_the_environments_index_ranges():
    import tornquil_env

    table = README.read_text().split("| indices | action |", 1)[1].split("\n\n", 1)[0]
    ranges = [(int(first), int(last or first) - int(first) + 1)
              for first, last in re.findall(r"^\| (\d+)(?:–(\d+))? \| ", table, re.M)]
    assert ranges == sorted(tornquil_env.ACTION_BLOCKS.values())


def test_the_solver_example_replays_its_winning_line_and_seats_the_solver():
    child = run_python(example_code("## The full-information solver"), NO_COLOR="1")
    assert child.returncode == 0, child.stderr.decode()
    assert child.stdout.decode() == ("Won at level 12 with 57 actions\nreplayed: PyGameResult.Won\n"
                                     "solver seats: PyGameResult.Won\n")
