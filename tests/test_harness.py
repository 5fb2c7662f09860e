"""The test harness catches what it is there to catch: each mode is run on
planted faults (tests/planted/, vora_testing._faults) and must fail on them,
and the collector helper must reject types that miss a collector duty.

The planted runs use the variant builds already made (scripts/test builds
every variant before it runs all modes) and are skipped when one is absent;
they run from plain mode only, as they leave garbage and crash on purpose."""

import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys

import pytest

import collector
from vora_testing import _faults

TOP = pathlib.Path(__file__).resolve().parent.parent
MODE = os.environ.get("VORA_TEST_MODE", "plain")

plain_only = pytest.mark.skipif(
    MODE != "plain", reason=f"planted faults run from plain mode (this is {MODE})"
)


# The builds for this interpreter (scripts/build names the 3.14 ones plainly).
VERSION = "%d.%d" % sys.version_info[:2]
BUILD_SUFFIX = "" if VERSION == "3.14" else f"-{VERSION}"


def needs_build(variant):
    site = TOP / "build" / (variant + BUILD_SUFFIX) / "site" / "vora_testing"
    return pytest.mark.skipif(
        not site.is_dir(),
        reason=f"no {variant} build: run scripts/build --python {VERSION} {variant}",
    )


def clean_env(**extra):
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYTEST_")}
    env.update(extra)
    return env


def run_mode(mode, planted, *pytest_args):
    """Runs scripts/test MODE on one planted file, without building."""
    proc = subprocess.run(
        ["bash", "scripts/test", mode, "--", f"tests/planted/{planted}", "-n", "0", *pytest_args],
        cwd=TOP,
        env=clean_env(VORA_TEST_NO_BUILD="1"),
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        text=True,
        timeout=600,
    )
    return proc.returncode, proc.stdout


def run_snippet(variant, python, code):
    """Runs code with the staged build of variant and tests/ on the path."""
    path = f"{TOP / 'build' / (variant + BUILD_SUFFIX) / 'site'}{os.pathsep}{TOP / 'tests'}"
    return subprocess.run(
        [python, "-P", "-c", code],
        cwd=TOP,
        env=clean_env(PYTHONPATH=path),
        capture_output=True,
        text=True,
        timeout=600,
    )


def _under_valgrind():
    with open("/proc/self/maps") as maps:
        return "vgpreload" in maps.read()


def test_mode_is_what_it_says(request):
    # A mode that quietly runs without its checker passes everything.
    debug = hasattr(sys, "gettotalrefcount")
    leak_hunt = request.config.pluginmanager.has_plugin("refleaks")
    assert (debug, sys.flags.dev_mode, leak_hunt, _under_valgrind()) == {
        "plain": (False, False, False, False),
        "dev": (True, True, False, False),
        "leaks": (True, False, True, False),
        "asan": (False, False, False, False),
        "valgrind": (False, False, False, True),
        "wheel": (False, False, False, False),
    }[MODE]
    assert _faults.BUILT_WITH_ASAN == (MODE == "asan")
    # A module built with release headers cannot be counted by the debug
    # interpreter: leak mode would see only memory blocks.
    assert _faults.BUILT_FOR_DEBUG == debug
    if MODE in ("asan", "valgrind"):
        assert os.environ["PYTHONMALLOC"] == "malloc"


def test_sound_holder_passes_collector_checks():
    collector.check_field(_faults.Holder, read=lambda holder: holder.value)


@plain_only
@needs_build("debug")
def test_leak_mode_catches_planted_leaks():
    status, out = run_mode("leaks", "planted_leaks.py")
    assert status != 0, out
    leaked = dict(re.findall(r"^tests/planted/planted_leaks\.py::(\w+) (leaked .*)$", out, re.M))
    assert leaked == {
        "test_leaks_a_reference": "leaked [1, 1, 1] references, sum=3; "
        "leaked [1, 1, 1] memory blocks, sum=3",
        "test_leaks_on_error_path": "leaked [1, 1, 1] references, sum=3; "
        "leaked [1, 1, 1] memory blocks, sum=3",
    }
    # The clean ones (hypothesis, fixtures, output, warnings) pass.
    assert re.search(r"^2 failed, 5 passed\b", out, re.M), out


@plain_only
@needs_build("asan")
def test_asan_mode_catches_use_after_free():
    status, out = run_mode("asan", "planted_memory.py")
    assert status != 0, out
    assert "ERROR: AddressSanitizer: heap-use-after-free" in out, out
    assert re.search(r"in first_if_equal .*faults_module\.cpp:\d+", out), out


@plain_only
@pytest.mark.skipif(not shutil.which("valgrind"), reason="valgrind is not installed")
def test_valgrind_mode_catches_use_after_free():
    # Fewer plugins to load under valgrind; the file needs none of them.
    status, out = run_mode(
        "valgrind", "planted_memory.py", "--noconftest", "-p", "no:hypothesispytest"
    )
    assert status != 0, out
    assert re.search(r"Invalid (read|write) of size \d+", out), out
    assert "first_if_equal" in out, out
    assert "valgrind reported errors" in out, out


@plain_only
@pytest.mark.parametrize(
    "holder, message",
    [
        (
            _faults.UnvisitedHolder,
            "tp_traverse of UnvisitedHolder does not visit its field holding Probe",
        ),
        (
            _faults.UntrackedHolder,
            "UntrackedHolder is not tracked by the collector "
            "(Py_TPFLAGS_HAVE_GC, and tracked once its fields are set)",
        ),
    ],
)
def test_collector_check_rejects(holder, message):
    with pytest.raises(AssertionError) as info:
        collector.check_field(holder)
    assert str(info.value) == message


@plain_only
def test_collector_cycle_check_rejects_unvisited_field():
    with pytest.raises(AssertionError) as info:
        collector.check_cycle_collected(_faults.UnvisitedHolder)
    assert str(info.value) == (
        "a cycle through a field of UnvisitedHolder was not collected "
        "(tp_traverse must visit the field and tp_clear clear it)"
    )


@plain_only
@needs_build("debug")
def test_debug_interpreter_names_object_freed_while_tracked():
    proc = run_snippet(
        "debug",
        os.environ.get("PYTHON_DEBUG", "python3.14d"),
        "import collector\nfrom vora_testing import _faults\n"
        "collector.check_collect_during_dealloc(_faults.TrackedDeallocHolder)\n",
    )
    assert proc.returncode == -signal.SIGABRT, proc.stderr
    assert "object type name: vora_testing._faults.TrackedDeallocHolder" in proc.stderr


@plain_only
def test_deep_chain_check_crashes_on_recursive_dealloc():
    proc = run_snippet(
        "release",
        sys.executable,
        "import collector\nfrom vora_testing import _faults\n"
        # Deep enough for 3.13's larger stack too (collector.check_deep_chain).
        "collector.check_deep_chain(_faults.UntrackedHolder, depth=400_000)\n",
    )
    assert proc.returncode == -signal.SIGSEGV, proc.stderr
