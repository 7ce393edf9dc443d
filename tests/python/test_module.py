import sys

import tornquil


def test_top_module_is_an_extension_module_with_a_docstring():
    assert tornquil.__file__.endswith(".so")
    assert tornquil.__doc__ and tornquil.__doc__.strip().endswith(".")


def test_submodules_are_attributes_but_not_imported_modules():
    for name in ("card", "actions", "players"):
        submodule = getattr(tornquil, name)
        assert submodule.__name__ == name
        assert submodule.__doc__ is None
        assert f"tornquil.{name}" not in sys.modules
        assert name not in sys.modules or sys.modules[name] is not submodule
