"""Loading each native module with one memory allocation failing, for every
allocation that a load makes (tests/nomemory_load.py, a child process per
allocation): the module loads, or the import fails with the MemoryError in
its exception's chain and succeeds when tried again; never a crash, never a
SystemError, never an error that hides the MemoryError."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

MODE = os.environ.get("VORA_TEST_MODE", "plain")
DRIVER = pathlib.Path(__file__).with_name("nomemory_load.py")

# Leak mode would count nothing of the children; valgrind would take minutes.
# CPython 3.13's and 3.15's own import machinery crashes when some of its
# allocations fail (3.13 reads memory it has freed, 3.15 builds a weakref from
# garbage arguments; loading the standard library's _zoneinfo crashes the same
# way), and the modules' loads import Python modules through it.
pytestmark = [
    pytest.mark.skipif(MODE in ("leaks", "valgrind"),
                       reason=f"loads under allocation failure do not run in {MODE} mode"),
    pytest.mark.skipif(sys.version_info[:2] in ((3, 13), (3, 15)),
                       reason="the interpreter's own imports crash under allocation failure"),
]


@pytest.mark.parametrize("module", ["vora.core._attributes", "vora.uix._html", "vora.uix._tree"])
def test_load_under_allocation_failure(module):
    proc = subprocess.run([sys.executable, "-P", str(DRIVER), module],
                          capture_output=True, text=True, timeout=900)
    assert proc.returncode == 0, proc.stderr[-20000:]
    # The loop really ran: a load makes well over a hundred allocations.
    allocations = int(re.search(r": (\d+) allocations", proc.stdout).group(1))
    assert allocations > 100, proc.stdout
