"""Reference-leak hunting for pytest under the debug interpreter.

Load it with ``-p refleaks`` (tests/plugins on the import path). Every test
runs its setup, call and teardown a few warm-up times and then a few counted
times (``--leak-runs WARMUPS:RUNS``, default 3:3). After each run the plugin
drops what caches hold, collects three times and reads the interpreter's total
reference count and its allocated memory blocks (less the interned strings
that stay for the life of the process). A test fails when every counted run
grew either number: one clean run means a cache filling up, not a leak.

Module- and session-scoped fixtures stay set up across the runs of a test;
function-scoped ones are made afresh each time. Warnings of the last run are
passed on to pytest; those of earlier runs are dropped so they do not pile up.
"""

import gc
import sys
import warnings

import pytest
from _pytest.reports import TestReport
from _pytest.runner import CallInfo, runtestprotocol

# One int object per likely delta, so that storing a delta allocates nothing.
_int_pool = {value: value for value in range(-1000, 1000)}


def _pooled(value):
    return _int_pool.setdefault(value, value)


def pytest_addoption(parser):
    parser.addoption(
        "--leak-runs",
        default="3:3",
        metavar="WARMUPS:RUNS",
        help="warm-up and counted runs of each test when hunting leaks (default 3:3)",
    )


def pytest_configure(config):
    if not hasattr(sys, "gettotalrefcount"):
        raise pytest.UsageError("refleaks: leak hunting needs the debug interpreter")
    try:
        warmups, runs = (int(n) for n in config.getoption("leak_runs").split(":"))
    except ValueError:
        raise pytest.UsageError("refleaks: --leak-runs takes WARMUPS:RUNS") from None
    if warmups < 0 or runs < 1:
        raise pytest.UsageError("refleaks: --leak-runs needs at least one counted run")
    config.stash[_runs_key] = (warmups, runs)


_runs_key = pytest.StashKey()


def pytest_report_header(config):
    warmups, runs = config.stash[_runs_key]
    return f"refleaks: {warmups} warm-up and {runs} counted runs of each test"


def _clear_caches():
    # Caches that fill as a side effect of running code, as CPython's own
    # leak hunt clears them.
    for module in list(sys.modules.values()):
        if getattr(module, "__warningregistry__", None):
            module.__warningregistry__.clear()
    for stream in (sys.stdout, sys.stderr, sys.__stdout__, sys.__stderr__):
        if stream is not None:
            stream.flush()
    modules = sys.modules
    if "re" in modules:
        modules["re"].purge()
    if "linecache" in modules:
        modules["linecache"].clearcache()
    if "struct" in modules:
        modules["struct"]._clearcache()
    if "typing" in modules:
        for cleanup in modules["typing"]._cleanups:
            cleanup()
    if "inspect" in modules:
        inspect = modules["inspect"]
        inspect._filesbymodname.clear()
        inspect.modulesbyfile.clear()
    gc.collect()
    gc.collect()
    gc.collect()
    sys._clear_internal_caches()


class _Parents:
    """Stands for a next test that shares every scope of item but its own:
    a run tears down the function-scoped fixtures and keeps the rest."""

    def __init__(self, item):
        self._chain = item.listchain()[:-1]

    def listchain(self):
        return self._chain


def _drop_finished_finalizers(item):
    # A function-scoped fixture that uses a wider-scoped one leaves its
    # finish() among the wider one's finalizers, where it stays, a no-op,
    # until the wider scope ends: growth that is pytest's, not the test's.
    try:
        fixturedefs = item._fixtureinfo.name2fixturedefs.values()
    except AttributeError:
        return
    for defs in fixturedefs:
        for fixturedef in defs:
            finalizers = getattr(fixturedef, "_finalizers", None)
            if finalizers and fixturedef.scope != "function":
                finalizers[:] = [f for f in finalizers if not _finished(f)]


def _finished(finalizer):
    owner = getattr(getattr(finalizer, "func", None), "__self__", None)
    return owner is not None and getattr(owner, "cached_result", True) is None


def _passed(reports):
    return all(report.passed for report in reports)


class _Hunt:
    """The runs of one test and the numbers read after each."""

    def __init__(self, warmups, runs):
        self.warmups = warmups
        total = warmups + runs
        # Made before the first reading, so that filling them allocates
        # nothing the readings would count.
        self.rounds = list(range(total))
        self.ref_deltas = [0] * total
        self.block_deltas = [0] * total
        self.completed = 0

    def run(self, item):
        """Runs the test repeatedly; returns the reports of the last run and
        the warnings it issued."""
        getrefs = sys.gettotalrefcount
        getblocks = sys.getallocatedblocks
        getinterned = sys.getunicodeinternedsize
        sections = item._report_sections
        reports = kept = None
        parents = _Parents(item)
        with warnings.catch_warnings(record=True) as caught:
            _clear_caches()
            # What is left now is not this test's: the collector sets it
            # aside until the runs are over, so that the collections after
            # each run go through what the runs made, not the whole heap
            # (about 0.1 s each under the debug interpreter, 21 of them).
            gc.freeze()
            try:
                refs_before = getrefs()
                blocks_before = getblocks() - getinterned(_only_immortal=True)
                for i in self.rounds:
                    reports = None
                    reports = runtestprotocol(item, log=False, nextitem=parents)
                    kept = None
                    kept = caught[:]
                    caught.clear()
                    sections.clear()
                    _drop_finished_finalizers(item)
                    if not _passed(reports):
                        break
                    _clear_caches()
                    blocks_after = getblocks() - getinterned(_only_immortal=True)
                    refs_after = getrefs()
                    self.ref_deltas[i] = _pooled(refs_after - refs_before)
                    self.block_deltas[i] = _pooled(blocks_after - blocks_before)
                    refs_before = refs_after
                    blocks_before = blocks_after
                    self.completed = i + 1
            finally:
                gc.unfreeze()
        return reports, kept

    def verdict(self):
        """The leak message, or None when some counted run did not grow."""
        if self.completed < len(self.rounds):
            return None
        messages = []
        for deltas, what in ((self.ref_deltas, "references"), (self.block_deltas, "memory blocks")):
            counted = deltas[self.warmups :]
            if all(delta >= 1 for delta in counted):
                messages.append(f"leaked {counted} {what}, sum={sum(counted)}")
        return "; ".join(messages) or None


@pytest.hookimpl(tryfirst=True)
def pytest_runtest_protocol(item, nextitem):
    ihook = item.ihook
    ihook.pytest_runtest_logstart(nodeid=item.nodeid, location=item.location)
    hunt = _Hunt(*item.config.stash[_runs_key])
    reports, kept = hunt.run(item)
    for w in kept:
        warnings.warn_explicit(w.message, w.category, w.filename, w.lineno, source=w.source)

    # The runs tore down only what this test alone uses; now what the next
    # test does not share with it.
    if item.session.shouldfail or item.session.shouldstop:
        nextitem = None
    finish = CallInfo.from_call(
        lambda: item.session._setupstate.teardown_exact(nextitem), when="teardown"
    )
    if finish.excinfo is not None:
        # Made directly: plugins' report hooks expect the test's fixture
        # values, gone by now.
        failed = TestReport.from_item_and_call(item, finish)
        reports = [r for r in reports if r.when != "teardown"] + [failed]

    leak = hunt.verdict()
    if leak is not None:
        for report in reports:
            if report.when == "call":
                report.outcome = "failed"
                report.longrepr = f"{item.nodeid} {leak}"
    for report in reports:
        ihook.pytest_runtest_logreport(report=report)
    ihook.pytest_runtest_logfinish(nodeid=item.nodeid, location=item.location)
    return True
