"""Help where Python users look: the module's classes have no docstrings, so the stubs carry them."""

import ast
import pathlib

import pytest

PYTHON = pathlib.Path(__file__).resolve().parents[2] / "python"
DOCUMENTED = sorted((PYTHON / "tornquil-stubs").glob("*.pyi")) + [PYTHON / "tornquil_env.py", PYTHON / "tornquil_solver.py"]


def undocumented(tree):
    """The public classes and functions below `tree`, constructors included, that have no docstring."""
    missing = [] if ast.get_docstring(tree) else ["<module>"]

    def visit(body, prefix):
        for node in body:
            if not isinstance(node, (ast.ClassDef, ast.FunctionDef)):
                continue
            if node.name.startswith("_") and node.name != "__new__":
                continue
            if not ast.get_docstring(node):
                missing.append(prefix + node.name)
            if isinstance(node, ast.ClassDef):
                visit(node.body, f"{prefix}{node.name}.")

    visit(tree.body, "")
    return missing


@pytest.mark.parametrize("path", DOCUMENTED, ids=lambda path: path.name)
def test_every_public_class_and_function_has_a_docstring(path):
    assert undocumented(ast.parse(path.read_text())) == []
