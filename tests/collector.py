"""Collector checks for native types that keep Python objects in fields.

A native type that owns references must be visible to the cyclic collector
(tracked, its tp_traverse visiting each field, so that a cycle through it is
found and freed), must untrack itself before its tp_dealloc releases anything
(releasing a field can run Python code, and so a collection), and must not
recurse without bound when it frees a long chain. A type that forgets one of
these passes every ordinary test.

Usage, from any test module (tests/ is on the import path)::

    from collector import Probe, check_field

    def test_handler_field_takes_part_in_collection():
        check_field(lambda payload: _GenericEventAttribute(eventhandler=payload))

    def test_options_field_takes_part_in_collection():
        check_field(lambda payload: _Attribute(options=[payload]),
                    read=lambda attr: attr.options)

``make(payload)`` returns a new owner whose field holds ``payload``, either
itself or inside a container that the owner keeps. ``payload`` is a
``Probe`` (callable, hashable, printable), or another owner for the chain
check (pass ``chain=False`` when the field cannot hold an owner).
``read(owner)`` returns the object the field holds, for the check of the
owner's referents; by default it is the payload itself. Each check is also a
function of its own, for fields that suit only some of them; a field that
holds only strings or numbers needs none (those objects make no cycles).

A failing check raises AssertionError naming the missing duty. Some faults
cannot be reported from the inside: a dealloc that leaves its object tracked
aborts the debug interpreter, which names the object (the release one goes on,
its memory possibly corrupt): the suite's dev and leak modes catch it. A dealloc
that recurses down a chain overflows the C stack and crashes the test process
in any mode (since 3.14 the interpreter itself defers the deallocs of
collector types that run deep, so this catches types outside the collector and
recursion of other kinds; before, each type's own trashcan did).
"""

import gc
import sys
import threading
import weakref

__all__ = [
    "Probe",
    "check_field",
    "check_tracked",
    "check_referents",
    "check_cycle_collected",
    "check_collect_during_dealloc",
    "check_deep_chain",
]


class Probe:
    """A payload for a field: callable, hashable, printable; ``back`` closes
    a cycle, ``on_del`` runs when the probe is freed."""

    __slots__ = ("back", "on_del", "__weakref__")

    def __init__(self, on_del=None):
        self.back = None
        self.on_del = on_del

    def __call__(self, *args, **kwargs):
        return "probe"

    def __str__(self):
        return "probe"

    def __del__(self):
        if self.on_del is not None:
            self.on_del()


def _field_object(owner, payload, read):
    return payload if read is None else read(owner)


def check_tracked(owner):
    """The owner is tracked by the collector."""
    assert gc.is_tracked(owner), (
        f"{type(owner).__qualname__} is not tracked by the collector "
        "(Py_TPFLAGS_HAVE_GC, and tracked once its fields are set)"
    )


def check_referents(owner, field_object):
    """The owner's tp_traverse visits the field's object."""
    assert any(r is field_object for r in gc.get_referents(owner)), (
        f"tp_traverse of {type(owner).__qualname__} does not visit its field "
        f"holding {type(field_object).__qualname__}"
    )


def check_cycle_collected(make):
    """A cycle owner -> field -> probe -> owner, where the probe carries a
    weakref callback, is freed by one gc.collect()."""
    fired = []
    probe = Probe()
    owner = make(probe)
    probe.back = owner
    ref = weakref.ref(probe, fired.append)
    name = type(owner).__qualname__
    del owner, probe
    gc.collect()
    assert fired and ref() is None, (
        f"a cycle through a field of {name} was not collected "
        "(tp_traverse must visit the field and tp_clear clear it)"
    )


def check_collect_during_dealloc(make):
    """Freeing the owner releases a field value whose finalizer runs a
    collection while the owner is being deallocated; the owner must have
    left the collector first."""
    ran = []

    def collect():
        gc.collect()
        ran.append(True)

    owner = make(Probe(on_del=collect))
    del owner
    assert ran, "the field's value was not released when its owner was freed"


def check_deep_chain(make, depth=20_000, stack_size=512 * 1024):
    """Frees a chain of ``depth`` owners, each holding the next, in a thread
    with a small stack, so that a dealloc recursing without the trashcan
    overflows it quickly (the process then dies) while a sound one does not."""
    if sys.version_info < (3, 14):
        # 3.13's trashcan counts levels instead of measuring the stack: it
        # defers a dealloc only some 10,000 levels down, which a small stack
        # does not hold (its own types crash there too). So the thread gets
        # room for that, and a chain too deep for it without the trashcan.
        depth, stack_size = max(depth, 150_000), 4 * 1024 * 1024
    chain = make(Probe())
    for _ in range(depth):
        chain = make(chain)
    box = [chain]
    del chain
    errors = []

    def free():
        try:
            box.clear()
        except BaseException as exc:  # reported by the caller
            errors.append(exc)

    old_size = threading.stack_size(stack_size)
    try:
        worker = threading.Thread(target=free, name="collector-deep-chain")
        worker.start()
    finally:
        threading.stack_size(old_size)
    worker.join()
    if errors:
        raise errors[0]


def check_field(make, read=None, *, chain=True, depth=20_000):
    """Runs every check on the field that ``make`` fills (module docstring)."""
    payload = Probe()
    owner = make(payload)
    check_tracked(owner)
    check_referents(owner, _field_object(owner, payload, read))
    del owner, payload
    check_cycle_collected(make)
    check_collect_during_dealloc(make)
    if chain:
        check_deep_chain(make, depth)
