"""Loads a module with the n-th memory allocation failing, for many n, and
reports every load that neither succeeded nor failed soundly.

    python nomemory_load.py MODULE [STRIDE]

Sound is: the load succeeds, or raises an exception whose chain (cause or
context) holds the MemoryError; then, with memory back, the same import
succeeds. Anything else is reported, one line each: a crash (the signal), a
SystemError, an exception that hides the MemoryError. The process exits 1 if
it reported anything.

Each load runs in a child forked from this process, which has already
imported the interpreter's own modules that the load uses, so that the
failures land in the module under test and not in CPython's imports. n runs
from 1 to the number of allocations a clean load makes (found by bisection),
every STRIDE-th n (default 1).
"""

import faulthandler
import importlib
import os
import sys

import _testcapi

# What the loads import besides the modules under test: the standard library
# and the framework's pure-Python pieces.
import html  # noqa: F401
import re  # noqa: F401
import vora.core.utils  # noqa: F401
import vora.uix  # noqa: F401

SOUND, UNSOUND = 0, 3


def holds_memory_error(exc, seen=None):
    seen = set() if seen is None else seen
    if exc is None or id(exc) in seen:
        return False
    seen.add(id(exc))
    return (isinstance(exc, MemoryError) or holds_memory_error(exc.__cause__, seen)
            or holds_memory_error(exc.__context__, seen))


def child(module, n, count_only):
    """The child's part; never returns."""
    _testcapi.set_nomemory(n, 0 if count_only else n + 1)
    try:
        importlib.import_module(module)
    except BaseException as exc:
        _testcapi.remove_mem_hooks()
        if count_only:
            os._exit(1)
        if isinstance(exc, SystemError) or not holds_memory_error(exc):
            os.write(2, f"n={n}: {type(exc).__name__}: {exc}\n".encode())
            os._exit(UNSOUND)
        try:
            importlib.import_module(module)
        except BaseException as again:
            os.write(2, f"n={n}: the import again: {type(again).__name__}: {again}\n".encode())
            os._exit(UNSOUND)
        os._exit(SOUND)
    _testcapi.remove_mem_hooks()
    os._exit(SOUND)


def run(module, n, count_only=False):
    """The child's exit status, or a negative signal number."""
    sys.stdout.flush()
    sys.stderr.flush()
    pid = os.fork()
    if pid == 0:
        child(module, n, count_only)
    _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status)


def allocations(module):
    """How many allocations a clean load makes: the least n from which
    failing every allocation still lets the load succeed, less one."""
    low, high = 1, 1
    while run(module, high, count_only=True) != SOUND:
        low, high = high, high * 2
    while low < high:
        middle = (low + high) // 2
        if run(module, middle, count_only=True) == SOUND:
            high = middle
        else:
            low = middle + 1
    return low - 1


def main(argv):
    faulthandler.enable()  # a crashing child says where
    module = argv[1]
    stride = int(argv[2]) if len(argv) > 2 else 1
    total = allocations(module)
    faults = 0
    for n in range(1, total + 1, stride):
        status = run(module, n)
        if status < 0:
            print(f"n={n}: killed by signal {-status}", file=sys.stderr)
        if status != SOUND:
            faults += 1
    print(f"{module}: {total} allocations, {len(range(1, total + 1, stride))} loads, "
          f"{faults} unsound")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
