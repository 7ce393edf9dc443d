"""Loads `_tornquil_companion`, the native side of tornquil's companion modules.

It lives in the library that holds `tornquil` itself, so that it can take that module's state
objects and hand back its action objects; the interpreter finds a module by its file name, so it
is loaded from that library by hand, once per interpreter.
"""

from __future__ import annotations

import importlib.machinery
import importlib.util
import sys
import threading
from types import ModuleType

import tornquil

_NAME = "_tornquil_companion"
_lock = threading.Lock()


def companion() -> ModuleType:
    """The native companion module, loaded from tornquil's library on first use."""
    module = sys.modules.get(_NAME)
    if module is not None:
        return module
    with _lock:
        module = sys.modules.get(_NAME)
        if module is None:
            loader = importlib.machinery.ExtensionFileLoader(_NAME, tornquil.__file__)
            spec = importlib.util.spec_from_loader(_NAME, loader, origin=tornquil.__file__)
            assert spec is not None
            module = importlib.util.module_from_spec(spec)
            loader.exec_module(module)
            sys.modules[_NAME] = module
        return module
