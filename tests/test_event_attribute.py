"""_GenericEventAttribute: parameters, registration of the owner's client
event, and rendering by string and callable handlers."""

import functools
import gc
import sys
import weakref

import pytest

from vora.core._attributes import _GenericEventAttribute
from vora.core._event import EventDispatcher
from vora.core.properties import BooleanProperty
from vora_testing import table_calls

ATTRVALUE = table_calls.ATTRIBUTE_ATTRVALUE


class SpyBase(BooleanProperty):
    """Records what the attribute hands to its base initialiser."""

    def __init__(self, *args, **kwargs):
        self.base_args = (args, kwargs)
        super().__init__(*args, **kwargs)


class Spied(_GenericEventAttribute, SpyBase):
    pass


registered = []


class Recorder(EventDispatcher):
    """Sees the events that attributes register on it."""

    def register_event(self, name, *args, **kwargs):
        registered.append((type(self).__name__, name, args, kwargs))
        return super().register_event(name, *args, **kwargs)


class Calls:
    """A handler that records its calls and returns a marker."""

    def __init__(self, result="handled"):
        self.calls = []
        self.result = result

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return self.result

    def __repr__(self):
        return "Calls()"


def handler_keywords(prevent_default=False, event_args=None, event_js="", dispatch=True):
    return {"prevent_default": prevent_default,
            "event_args": {} if event_args is None else event_args,
            "event_js": event_js, "dispatch": dispatch}


def owner_of(attr, name="onclick", base=EventDispatcher):
    """An owner whose class holds attr under name."""
    return type("Owner", (base,), {name: attr})()


def rendered(attr, value):
    """Renders attr for an owner whose stored value is value."""
    owner = owner_of(attr)
    owner.storage[attr.key].value = value
    return owner, attr.attrvalue(owner)


# ------------------------------------------------------------- handlers

class Text(str):
    pass


@pytest.mark.parametrize("handler", ["go()", "", Text("go()")], ids=repr)
def test_string_handler_is_returned_itself(handler):
    attr = _GenericEventAttribute(eventhandler=handler)
    assert rendered(attr, True)[1] is handler


@pytest.mark.parametrize("value", [False, None, 0, "", []], ids=repr)
@pytest.mark.parametrize("handler", ["go()", Calls(), 42, None], ids=repr)
def test_switched_off_renders_nothing(handler, value):
    attr = _GenericEventAttribute(eventhandler=handler)
    assert rendered(attr, value)[1] == ""
    if isinstance(handler, Calls):
        assert handler.calls == []


def test_no_handler_renders_nothing():
    assert rendered(_GenericEventAttribute(), True)[1] == ""


@pytest.mark.parametrize("value", [True, 1, "yes", [0]], ids=repr)
def test_callable_handler_gets_owner_event_and_keywords(value):
    handler = Calls(result=["any", "object"])
    attr = _GenericEventAttribute(eventhandler=handler)
    owner, result = rendered(attr, value)
    assert result is handler.result
    ((args, kwargs),) = handler.calls
    assert args == (owner, "on_click")
    assert kwargs == handler_keywords()
    assert list(kwargs) == ["prevent_default", "event_args", "event_js", "dispatch"]


def function_handler(obj, event, **kwargs):
    return f"{type(obj).__name__}:{event}:{sorted(kwargs)}"


class ClassHandler:
    def __init__(self, obj, event, *, prevent_default, event_args, event_js, dispatch):
        self.seen = (event, prevent_default, event_args, event_js, dispatch)


# Handlers are made per run: a callable instance records its calls.
@pytest.mark.parametrize("make_handler, check", [
    (lambda: function_handler,
     lambda r: r == "Owner:on_click:['dispatch', 'event_args', 'event_js', 'prevent_default']"),
    (lambda: functools.partial(function_handler),
     lambda r: r == "Owner:on_click:['dispatch', 'event_args', 'event_js', 'prevent_default']"),
    (lambda: ClassHandler,
     lambda r: type(r) is ClassHandler and r.seen == ("on_click", True, {"k": 1}, "js", False)),
    (lambda: Calls(result=7), lambda r: r == 7),
    (lambda: lambda obj, event, **kw: None, lambda r: r is None),
], ids=["function", "partial", "class", "instance", "lambda"])
def test_kinds_of_callables(make_handler, check):
    handler = make_handler()
    attr = _GenericEventAttribute(False, handler, True, {"k": 1}, "js", False)
    assert check(rendered(attr, True)[1])


@pytest.mark.parametrize("handler, shown", [
    (42, "<class 'int'>"),
    ([], "<class 'list'>"),
    (b"go()", "<class 'bytes'>"),
    (object(), "<class 'object'>"),
])
def test_non_callable_handler_is_refused_when_switched_on(handler, shown):
    attr = _GenericEventAttribute(eventhandler=handler)
    with pytest.raises(AttributeError) as info:
        rendered(attr, True)
    assert str(info.value) == f"renderer must be of callable type or string, got {shown}"
    assert rendered(attr, False)[1] == ""


def test_handler_errors_propagate():
    def failing(obj, event, **kwargs):
        raise LookupError(event)

    with pytest.raises(LookupError) as info:
        rendered(_GenericEventAttribute(eventhandler=failing), True)
    assert info.value.args == ("on_click",)


def test_truth_test_errors_propagate():
    class Undecided:
        def __bool__(self):
            raise LookupError("undecided")

    with pytest.raises(LookupError):
        rendered(_GenericEventAttribute(eventhandler="go()"), Undecided())


def test_rendering_through_the_native_entry_and_with_no_owner():
    handler = Calls()
    attr = _GenericEventAttribute(eventhandler=handler)
    owner, _ = rendered(attr, True)
    assert table_calls.attrvalue(attr, ATTRVALUE, owner) == "handled"
    assert handler.calls[-1][0] == (owner, "on_click")


def test_switching_the_event_on_and_off():
    class Button(EventDispatcher):
        onclick = _GenericEventAttribute(eventhandler="go()")

    button = Button()
    assert Button.onclick.attrvalue(button) == ""
    button.onclick = True
    assert Button.onclick.attrvalue(button) == "go()"
    button.onclick = False
    assert Button.onclick.attrvalue(button) == ""


# ------------------------------------------------------------- event names

@pytest.mark.parametrize("name, attrname, event", [
    ("onclick", "", "on_click"),
    ("anything", "onchange", "on_change"),
    ("on_key_up", "", "on_-key-up"),
    ("anything", "on_x_y", "on__x_y"),
    ("oncl\u00e9_x", "", "on_cl\u00e9-x"),
    ("anything", "onchang\u00e9", "on_chang\u00e9"),
    ("on\u20ac", "", "on_\u20ac"),
    ("x", "", "on_"),
    ("xy", "", "on_"),
    ("xyz", "", "on_z"),
])
def test_event_names(name, attrname, event):
    registered.clear()
    handler = Calls()
    attr = _GenericEventAttribute(eventhandler=handler, attrname=attrname)
    owner = type("Widget", (Recorder,), {name: attr})()
    assert registered == [("Widget", event, (), {"client": True})]
    owner.storage[attr.key].value = True
    attr.attrvalue(owner)
    assert handler.calls[-1][0] == (owner, event)


@pytest.mark.parametrize("name, error, message", [
    ("on_key", None, "on_-key"),
    (None, AttributeError, "'NoneType' object has no attribute 'replace'"),
    (5, TypeError, "Expected str, got int"),
    (Text("onkey"), TypeError, "Expected str, got Text"),
])
def test_property_name_is_read_at_each_rendering(name, error, message):
    handler = Calls()
    attr = _GenericEventAttribute(eventhandler=handler)
    owner = owner_of(attr)
    owner.storage[attr.key].value = True
    attr.name = name
    if error is None:
        attr.attrvalue(owner)
        assert handler.calls[-1][0] == (owner, message)
    else:
        with pytest.raises(error) as info:
            attr.attrvalue(owner)
        assert str(info.value) == message


def test_init_storage_entry_registers_again():
    attr = _GenericEventAttribute(attrname="onclick")
    owner = type("Widget", (Recorder,), {"click": attr})()
    registered.clear()
    assert table_calls.init_storage(attr, owner, owner.storage[attr.key]) is None
    assert registered == [("Widget", "on_click", (), {"client": True})]


class Renamed(_GenericEventAttribute):
    """attrname is read as a Python attribute: a subclass may replace it."""

    def __init__(self, shown, **kwargs):
        super().__init__(**kwargs)
        self.shown = shown

    @property
    def attrname(self):
        if isinstance(self.shown, Exception):
            raise self.shown
        return self.shown


@pytest.mark.parametrize("shown, event", [
    ("ondblclick", "on_dblclick"),
    (Text("onkey"), "on_key"),
    ([1, 2, 3, 4], "on_[3, 4]"),
    ((1, 2, 3), "on_(3,)"),
])
def test_overridden_attrname(shown, event):
    registered.clear()
    handler = Calls()
    attr = Renamed(shown, eventhandler=handler)
    owner = type("Widget", (Recorder,), {"onclick": attr})()
    assert registered == [("Widget", event, (), {"client": True})]
    owner.storage[attr.key].value = True
    attr.attrvalue(owner)
    assert handler.calls[-1][0] == (owner, event)


@pytest.mark.parametrize("shown, error, message", [
    (5, TypeError, "'int' object is unsliceable"),
    (None, TypeError, "'NoneType' object is unsliceable"),
    # Made per run: an exception raised again keeps the tracebacks of each raise.
    (lambda: LookupError("no name"), LookupError, "no name"),
])
def test_attrname_failures(shown, error, message):
    if callable(shown):
        shown = shown()
    attr = Renamed(shown, eventhandler=Calls())
    with pytest.raises(error) as info:
        owner_of(attr)
    assert str(info.value) == message
    attr.shown = "onclick"
    owner = owner_of(attr)
    owner.storage[attr.key].value = True
    attr.shown = shown
    with pytest.raises(error) as info:
        attr.attrvalue(owner)
    assert str(info.value) == message


def test_register_event_failure_propagates():
    class Refusing(EventDispatcher):
        def register_event(self, name, **kwargs):
            raise LookupError(name)

    attr = _GenericEventAttribute(attrname="onclick")
    with pytest.raises(LookupError) as info:
        type("Widget", (Refusing,), {"onclick": attr})()
    assert info.value.args == ("on_click",)


# ------------------------------------------------------------- __init__

def test_defaults():
    handler = Calls()
    attr = Spied()
    assert (attr.attrtype, attr.sync) == ("", 0)
    assert attr.base_args == ((False,), {"allownone": True})
    attr = _GenericEventAttribute(eventhandler=handler)
    rendered(attr, True)
    assert handler.calls[0][1] == handler_keywords()
    for hidden in ("eventhandler", "prevent_default", "eventargs", "eventjs"):
        assert not hasattr(attr, hidden)


def test_positional_parameters_and_allownone():
    handler = Calls()
    attr = Spied(True, handler, 1, {"k": 1}, None, 0, attrname="onclick", sync=True,
                 allownone=False, extra=2)
    assert attr.base_args == ((True,), {"attrname": "onclick", "sync": True, "allownone": True,
                                         "extra": 2})
    assert attr.sync == 1
    rendered(attr, True)
    assert handler.calls[0][1] == handler_keywords(True, {"k": 1}, "None", False)


@pytest.mark.parametrize("given, passed", [
    ({}, {}),
    ({"eventargs": None}, {}),
    ({"eventargs": []}, {}),
    ({"eventargs": [0]}, [0]),
    ({"eventjs": 5}, {}),
    ({"prevent_default": [1], "dispatch": ""}, {}),
])
def test_keyword_parameters(given, passed):
    handler = Calls()
    attr = _GenericEventAttribute(eventhandler=handler, **given)
    rendered(attr, True)
    kwargs = handler.calls[0][1]
    assert kwargs["event_args"] == passed and type(kwargs["event_args"]) is type(passed)
    assert kwargs["event_js"] == str(given.get("eventjs", ""))
    assert kwargs["prevent_default"] is bool(given.get("prevent_default"))
    assert kwargs["dispatch"] is bool(given.get("dispatch", True))


def test_eventargs_dicts_are_never_shared():
    empty = {}
    given = {"k": 1}
    seen = []
    for eventargs in (None, None, empty, given):
        handler = Calls()
        rendered(_GenericEventAttribute(eventhandler=handler, eventargs=eventargs), True)
        seen.append(handler.calls[0][1]["event_args"])
    assert seen[0] is not seen[1] and seen[2] is not empty
    assert seen[3] is given


class Undecided:
    def __bool__(self):
        raise LookupError("undecided")


class Unprintable:
    def __str__(self):
        raise LookupError("unprintable")


@pytest.mark.parametrize("args, kwargs, error, message", [
    ((1, 2, 3, 4, 5, 6, 7), {}, TypeError,
     "__init__() takes at most 6 positional arguments (7 given)"),
    ((True,), {"defaultvalue": False}, TypeError,
     "__init__() got multiple values for keyword argument 'defaultvalue'"),
    ((True, "go()"), {"eventhandler": "x"}, TypeError,
     "__init__() got multiple values for keyword argument 'eventhandler'"),
    ((), {"attrname": 5, "attrtype": b""}, TypeError, "Expected str, got int"),
    ((), {"attrtype": b"", "sync": "x"}, TypeError, "Expected str, got bytes"),
    ((), {"sync": "x", "prevent_default": Undecided()}, TypeError, "an integer is required"),
    ((), {"prevent_default": Undecided()}, LookupError, "undecided"),
    ((), {"dispatch": Undecided()}, LookupError, "undecided"),
    ((), {"eventargs": Undecided()}, LookupError, "undecided"),
    ((), {"eventjs": Unprintable()}, LookupError, "unprintable"),
])
def test_init_refusals(args, kwargs, error, message):
    with pytest.raises(error) as info:
        _GenericEventAttribute(*args, **kwargs)
    assert str(info.value) == message


def test_non_string_keyword_names():
    with pytest.raises(TypeError) as info:
        _GenericEventAttribute(**{1: 2})
    assert str(info.value) == "keywords must be strings"


def test_failed_init_keeps_earlier_fields():
    handler = Calls()
    attr = _GenericEventAttribute(eventhandler="old")
    with pytest.raises(LookupError):
        attr.__init__(eventhandler=handler, attrname="onkey", prevent_default=True,
                      eventjs=Unprintable())
    assert attr.attrname == "onkey"
    rendered(attr, True)
    assert handler.calls[0][1] == handler_keywords(prevent_default=True)


# ------------------------------------------------------------- collector

class Node:
    pass


class JS(str):
    """str() of it is the object itself: an eventjs that can close a cycle."""

    def __str__(self):
        return self


@pytest.mark.parametrize("make, node", [
    (lambda node: _GenericEventAttribute(eventhandler=node), Node),
    (lambda node: _GenericEventAttribute(eventargs={"node": node}), Node),
    (lambda node: _GenericEventAttribute(eventargs=[node]), Node),
    (lambda node: _GenericEventAttribute(eventjs=node), lambda: JS("go()")),
], ids=["eventhandler", "eventargs dict", "eventargs list", "eventjs"])
def test_collector_sees_and_breaks_cycles(make, node):
    collected = []
    node = node()
    attr = make(node)
    node.attr = attr
    assert gc.is_tracked(attr)
    ref = weakref.ref(node, collected.append)
    del node, attr
    gc.collect()
    assert collected == [ref]


def test_collector_visits_the_container_fields():
    handler = Calls()
    eventargs = {"k": 1}
    attr = _GenericEventAttribute(False, handler, False, eventargs, "js", False)
    seen = gc.get_referents(attr)
    assert any(r is handler for r in seen) and any(r is eventargs for r in seen)
    # prevent_default and dispatch are: switching both on turns two visited
    # False into True, whatever the base visits.
    switched = gc.get_referents(_GenericEventAttribute(False, handler, True, eventargs, "js", True))
    assert [r is True for r in switched].count(True) - [r is True for r in seen].count(True) == 2


@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter")
def test_no_reference_leaks():
    handler = Calls()
    owners = [rendered(_GenericEventAttribute(eventhandler=h), False)[0]
              for h in ("go()", handler, 42, None)]

    def cycle():
        for owner in owners:
            attr = type(owner).onclick
            for value in (True, False):
                owner.storage[attr.key].value = value
                try:
                    attr.attrvalue(owner)
                except AttributeError:
                    pass
        type("Widget", (Recorder,), {"onclick": _GenericEventAttribute(attrname="onx")})()
        for args, kwargs in ((range(7), {}), ((), {"eventjs": Unprintable()}),
                             ((), {"attrname": 5})):
            try:
                _GenericEventAttribute(*args, **kwargs)
            except (TypeError, LookupError):
                pass
        handler.calls.clear()
        registered.clear()

    for _ in range(3):
        cycle()
    gc.collect()
    before = sys.gettotalrefcount()
    for _ in range(50):
        cycle()
    gc.collect()
    assert sys.gettotalrefcount() - before < 50
