"""The small event types: ObjectWithUid, Observable, BoundCallback and
EventObservers (through its methods and its native table)."""

import pytest

from vora.core import _event as E
from vora_testing import core_subclass as native


def test_uids_are_unique_and_kept():
    objs = [E.ObjectWithUid(), E.Observable(), E.EventDispatcher(), E.ObjectWithUid()]
    uids = [o.uid for o in objs]
    assert len(set(uids)) == len(uids)
    assert objs[0].uid == uids[0]
    with pytest.raises(AttributeError):
        objs[0].uid = 1


def test_hierarchy():
    assert issubclass(E.EventDispatcher, E.ObjectWithUid)
    assert issubclass(E.Observable, E.ObjectWithUid)

    class Sub(E.Observable):
        pass

    assert Sub().uid


def test_bound_callback():
    def func(*args, **kwargs):
        return args, kwargs

    callback = E.BoundCallback(func, 1, 2, a=3)
    assert callback(4, b=5) == ((1, 2, 4), {"a": 3, "b": 5})
    assert callback(a=6) == ((1, 2), {"a": 6})
    assert (callback.func, callback.args, callback.kwargs) == (func, (1, 2), {"a": 3})
    with pytest.raises(TypeError):
        E.BoundCallback(5)
    with pytest.raises(TypeError):
        E.BoundCallback()


def via_methods(observers, entry, *args):
    return getattr(observers, entry)(*args)


def via_table(observers, entry, *args):
    return native.observers(observers, entry, *args)


@pytest.mark.parametrize("call", [via_methods, via_table])
def test_observers(call):
    log = []

    def first(obj, value):
        log.append(("first", obj, value))

    def stopper(obj, value):
        log.append(("stopper", obj, value))
        return True

    observers = E.EventObservers()
    call(observers, "bind", first)
    call(observers, "bind", stopper)
    call(observers, "bind", first)
    assert len(observers) == 3
    assert call(observers, "dispatch", "o", 1) is True
    assert log == [("first", "o", 1), ("stopper", "o", 1)]
    assert call(observers, "unbind", stopper) is True
    assert call(observers, "unbind", stopper) is False
    log.clear()
    assert call(observers, "dispatch", "o", 2) is False
    assert log == [("first", "o", 2), ("first", "o", 2)]


def test_observers_bound_during_dispatch_wait_for_the_next():
    observers = E.EventObservers()
    calls = []

    def binder(obj, value):
        calls.append(value)
        observers.bind(binder)

    observers.bind(binder)
    observers.dispatch(None, 1)
    assert calls == [1]
    observers.dispatch(None, 2)
    assert calls == [1, 2, 2]


def test_observers_errors_propagate():
    observers = E.EventObservers()

    def broken(obj, value):
        raise KeyError(value)

    observers.bind(broken)
    with pytest.raises(KeyError):
        observers.dispatch(None, "v")
