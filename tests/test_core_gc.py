"""Collector behaviour: cycles through stored values, defaults and native
subclass fields are found and freed; no references leak."""

import gc
import sys
import weakref

import pytest

from vora.core import _event as E
from vora.core import properties as P
from vora_testing import core_subclass as native


class Sentinel:
    pass


class Node(E.EventDispatcher):
    other = P.ObjectProperty()
    items = P.ListProperty()
    pos = P.VariableListProperty()
    data = P.DictProperty()


def collected(make_cycle):
    """Builds a cycle holding a sentinel, drops it, collects; True when freed."""
    sentinel = Sentinel()
    make_cycle(sentinel)
    ref = weakref.ref(sentinel)
    del sentinel
    gc.collect()
    return ref() is None


@pytest.mark.parametrize("attach", [
    lambda node, s: setattr(node, "other", [node, s]),
    lambda node, s: setattr(node, "items", [node, s]),
    lambda node, s: setattr(node, "pos", [node, s]),
    lambda node, s: setattr(node, "data", {"self": node, "s": s}),
])
def test_cycle_through_a_stored_value(attach):
    assert collected(lambda s: attach(Node(), s))


def test_cycle_through_a_plain_dispatcher_storage():
    def make(s):
        obj = E.EventDispatcher()
        obj.storage["x"] = P.PropertyStorage()
        obj.storage["x"].value = [obj, s]
    assert collected(make)


def test_cycle_through_options_and_units_of_a_record():
    def make(s):
        record = P.PropertyStorage()
        record.options = [record, s]
    assert collected(make)


@pytest.mark.parametrize("kind", [
    P.Property, P.NumericProperty, P.BoundedNumericProperty, P.ObjectProperty,
    P.OptionProperty, P.AliasProperty, native.TracingProperty,
])
def test_cycle_through_a_property_default(kind):
    def make(s):
        prop = kind.__new__(kind)
        P.Property.__init__(prop, [prop, s])
    assert collected(make)


def test_cycle_through_native_subclass_fields():
    def make(s):
        class Owner(E.EventDispatcher):
            value = native.TracingProperty()
        obj = Owner()
        obj.value = [Owner.value, s]  # prop -> log -> record -> value -> prop
    assert collected(make)


def test_cycle_through_python_subclass_of_a_property():
    class Tagged(P.NumericProperty):
        pass

    def make(s):
        prop = Tagged()
        prop.tag = (prop, s)
    assert collected(make)


def test_bound_callback_and_observers_cycles():
    def make(s):
        observers = E.EventObservers()
        observers.bind(E.BoundCallback(print, observers, s))
    assert collected(make)


def test_dispatcher_referents():
    obj = Node()
    referents = gc.get_referents(obj)
    assert obj.storage in referents
    record = obj.storage["items"]
    assert obj.items in gc.get_referents(record)


def churn():
    class Owner(E.EventDispatcher):
        a = P.NumericProperty(1)
        b = P.ListProperty([1])
        c = native.TracingProperty()
        d = P.ColorProperty("#123")

    for _ in range(200):
        obj = Owner(a="3px")
        obj.b = (1, 2)
        obj.register_event("on_x", client=True)
        Owner.c.log.clear()
        try:
            obj.a = "bad"
        except ValueError:
            pass
    return Owner


def test_instances_release_their_heap_type():
    owner = churn()
    before = sys.getrefcount(owner)
    for _ in range(100):
        obj = owner()
        del obj
    assert sys.getrefcount(owner) == before

    class SubProperty(P.BoundedNumericProperty):
        pass

    before = sys.getrefcount(SubProperty)
    for _ in range(100):
        SubProperty(1, min=0)
    assert sys.getrefcount(SubProperty) == before


@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter")
def test_no_reference_leaks():
    churn()
    gc.collect()
    before = sys.gettotalrefcount()
    churn()
    gc.collect()
    assert sys.gettotalrefcount() - before < 50
