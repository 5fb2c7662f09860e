"""Each native module exists once per process: a reload keeps it, a second
module object is refused, and so is a second interpreter. The cases that
change process state run in a fresh interpreter."""

import importlib
import subprocess
import sys
import textwrap

import pytest

MODULES = [
    "vora.uix._html",
    "vora.core._attributes",
    "vora.uix._tree",
]

# Set again from the module spec by every (re)load; the rest must stay.
_IMPORT_ATTRS = {"__name__", "__spec__", "__loader__", "__file__", "__package__", "__path__", "__cached__"}


def run_fresh(code):
    """Runs code in a new interpreter like this one; returns its output lines."""
    proc = subprocess.run(
        [sys.executable, "-P", "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert proc.returncode == 0, proc.stderr
    return proc.stdout.splitlines()


def refused_reinit(name):
    short = name.rpartition(".")[2]
    return f"Module '{short}' has already been imported. Re-initialisation is not supported."


@pytest.mark.parametrize("name", MODULES)
def test_reload_keeps_module(name):
    module = importlib.import_module(name)
    before = {k: v for k, v in vars(module).items() if k not in _IMPORT_ATTRS}
    assert importlib.reload(module) is module
    assert sys.modules[name] is module
    after = {k: v for k, v in vars(module).items() if k not in _IMPORT_ATTRS}
    assert after.keys() == before.keys()
    assert all(after[k] is before[k] for k in before)


@pytest.mark.parametrize("name", MODULES)
def test_second_module_object_refused(name):
    out = run_fresh(f"""
        import importlib.util
        spec = importlib.util.find_spec({name!r})
        # Made before any is executed, so each is a module object of its own.
        first, second, third = (importlib.util.module_from_spec(spec) for _ in range(3))
        print(len({{id(first), id(second), id(third)}}))
        spec.loader.exec_module(first)
        spec.loader.exec_module(first)  # the same object again: nothing to do
        # A refusal must not forget the module it refuses for.
        for other in (second, third):
            try:
                spec.loader.exec_module(other)
            except RuntimeError as exc:
                print(exc)
            else:
                print("executed another module object")
        print(importlib.util.module_from_spec(spec) is first)
        import {name} as imported
        print(imported is first)
    """)
    message = refused_reinit(name)
    assert out == ["3", message, message, "True", "True"]


@pytest.mark.parametrize("name", MODULES)
def test_legacy_subinterpreter_refused(name):
    out = run_fresh(f"""
        import {name}
        import _interpreters
        interp = _interpreters.create(_interpreters.new_config("legacy"))
        try:
            failure = _interpreters.exec(interp, "import {name}")
        finally:
            _interpreters.destroy(interp)
        print(failure.type.__name__)
        print(failure.msg)
    """)
    assert out == [
        "ImportError",
        "Interpreter change detected - this module can only be loaded into one interpreter "
        "per process.",
    ]


@pytest.mark.parametrize("name", MODULES)
def test_isolated_subinterpreter_refused(name):
    # An interpreter with its own GIL is refused by the import machinery,
    # before the module's own check. (3.13 has no concurrent.interpreters;
    # the module under it serves every version.)
    out = run_fresh(f"""
        import {name}
        import _interpreters
        interp = _interpreters.create(_interpreters.new_config("isolated"))
        try:
            failure = _interpreters.exec(interp, "import {name}")
        finally:
            _interpreters.destroy(interp)
        if failure is None:
            print("imported")
        else:
            print(failure.type.__name__)
            print(failure.msg)
    """)
    assert out == ["ImportError", f"module {name} does not support loading in subinterpreters"]
