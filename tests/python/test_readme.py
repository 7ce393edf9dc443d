import pathlib
import re

from conftest import run_python

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def example_code():
    section = README.read_text().split("## Example", 1)[1]
    return re.search(r"```python\n(.*?)```", section, re.S).group(1)


def test_the_readme_example_plays_a_game():
    child = run_python(example_code(), NO_COLOR="1")
    assert child.returncode == 0, child.stderr.decode()
    assert re.fullmatch(r"PyGameResult\.(Won|Lost) after defeating \d+ enemies\n", child.stdout.decode())


def test_the_example_plays_the_same_game_whether_cards_are_coloured_or_not():
    plain = run_python(example_code(), NO_COLOR="1").stdout
    assert run_python(example_code(), CLICOLOR_FORCE="1").stdout == plain
