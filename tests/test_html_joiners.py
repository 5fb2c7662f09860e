"""join_style, join_cls and join_attributes against short Python statements of their rules."""

import builtins
import html

import pytest
from hypothesis import given, strategies as st

import vora.uix._html as h
# The rules, stated in Python.
from vora.uix.reference import (
    join_attributes as py_join_attributes,
    join_cls as py_join_cls,
    join_style as py_join_style,
)


# Values whose text, format and equality differ from a plain str's.
class Sub(str):
    pass


class Loud(str):
    def __str__(self):
        return "str:" + self

    def __format__(self, spec):
        return "fmt:" + self


class Thing:
    """Text by __str__ and __format__, equal to the str it was made from."""

    def __init__(self, text):
        self.text = text

    def __str__(self):
        return "<" + self.text + ">"

    def __format__(self, spec):
        return "{" + self.text + "}"

    def __eq__(self, other):
        return other == self.text

    def __hash__(self):
        return hash(self.text)


class Number(int):
    def __format__(self, spec):
        return "n" + str(int(self))


class Items:
    """A container with items() and values() returning a given kind of sequence."""

    def __init__(self, pairs, kind):
        self.pairs, self.kind = pairs, kind

    def items(self):
        return self.kind(self.pairs)

    def values(self):
        return self.kind(v for _, v in self.pairs)

    def __len__(self):
        return len(self.pairs)


class Reversed(dict):
    def items(self):
        return list(reversed(dict.items(self)))

    def values(self):
        return list(reversed(dict.values(self)))


SPECIAL = "&<>\"' ab"
texts = st.text(st.one_of(st.sampled_from(SPECIAL), st.characters()), max_size=40)
keys = st.one_of(
    texts, texts.map(Sub), texts.map(Thing), st.integers(-5, 5), st.floats(allow_nan=False)
)
values = st.one_of(
    texts, texts.map(Sub), texts.map(Loud), texts.map(Thing), st.none(), st.booleans(),
    st.integers(-3, 300), st.floats(), st.integers(-3, 3).map(Number),
    st.just([]), st.just([1]),
)
KINDS = [dict, Reversed, lambda p: Items(p, list), lambda p: Items(p, tuple),
         lambda p: Items(p, iter), lambda p: Items(p, lambda x: (i for i in x))]


@st.composite
def containers(draw, values=values):
    pairs = list(dict(draw(st.lists(st.tuples(keys, values), max_size=6))).items())
    kind = draw(st.sampled_from(KINDS))
    return kind(dict(pairs)) if kind in (dict, Reversed) else kind(pairs)


@given(containers())
def test_join_style_matches_rule(container):
    assert h.join_style(container) == py_join_style(container)


@given(containers())
def test_join_attributes_matches_rule(container):
    assert h.join_attributes(container) == py_join_attributes(container)


str_values = st.one_of(texts, texts.map(Sub), st.none(), st.just(""), st.just(0))


@given(st.one_of(st.none(), st.lists(texts), st.tuples(texts), texts),
       st.one_of(st.none(), containers(str_values)))
def test_join_cls_matches_rule(default_cls, container):
    assert h.join_cls(default_cls, container) == py_join_cls(default_cls, container)


@pytest.mark.parametrize("call, expected", [
    (lambda: h.join_style({"color": "red", "width": "10px", "margin": "", "top": 0}),
     "color: red;width: 10px"),
    (lambda: h.join_style({"z-index": 3, "opacity": 0.5}), "z-index: 3;opacity: 0.5"),
    (lambda: h.join_style({}), ""),
    (lambda: h.join_style(None), ""),
    (lambda: h.join_style({"a": ""}), ""),
    (lambda: h.join_cls(["btn", "btn-primary"], {"a": "active", "b": "", "c": None, "d": "large"}),
     "btn btn-primary active large"),
    (lambda: h.join_cls(None, {"x": "one"}), "one"),
    (lambda: h.join_cls((), {}), ""),
    (lambda: h.join_cls("ab", None), "a b"),
    (lambda: h.join_attributes({
        "title": 'Say "hi" & <bye>', "disabled": "disabled", "hidden": False, "tabindex": 0,
        "maxlength": 5, "checked": True, "data-x": "it's"}),
     'title="Say &quot;hi&quot; &amp; &lt;bye&gt;" disabled maxlength="5" checked="True" '
     'data-x="it&#x27;s"'),
    (lambda: h.join_attributes({"a": "\xe9\u20ac\U0001f600<"}), 'a="\xe9\u20ac\U0001f600&lt;"'),
    (lambda: h.join_attributes({"\u20ac": "<"}), '\u20ac="&lt;"'),
    (lambda: h.join_attributes({}), ""),
    (lambda: h.join_attributes({"x": None}), ""),
    (lambda: h.join_cls(iter(["x", "y"]), None), "x y"),
    (lambda: h.join_cls((c for c in "ab"), {"k": Sub("c")}), "a b c"),
])
def test_examples(call, expected):
    result = call()
    assert type(result) is str
    assert result == expected


@pytest.mark.parametrize("filler", ["x", "\xe9", "\u20ac", "\U0001f600", "\x00", "\xa6"])
@pytest.mark.parametrize("special", "&<>\"'")
def test_escaping_at_every_position(filler, special):
    for n in range(40):
        text = filler * n + special + filler * (39 - n)
        assert h.join_attributes({"a": text}) == f'a="{html.escape(text)}"'
    text = (filler * 7 + special) * 9
    assert h.join_attributes({"a": text}) == f'a="{html.escape(text)}"'


def test_default_cls_is_left_alone():
    default = ["a"]
    assert h.join_cls(default, {"k": "b"}) == "a b"
    assert default == ["a"]


# ------------------------------------------------------------------ failures

class Mutating:
    """A value whose truth test (or text, or equality) adds an entry to a dict."""

    def __init__(self, target, when="bool"):
        self.target, self.when = target, when

    def _grow(self):
        self.target[object()] = "x"

    def __bool__(self):
        if self.when == "bool":
            self._grow()
        return True

    def __format__(self, spec):
        if self.when == "format":
            self._grow()
        return "m"

    def __str__(self):
        if self.when == "str":
            self._grow()
        return "m"

    def __eq__(self, other):
        if self.when == "eq":
            self._grow()
        return False

    __hash__ = object.__hash__


@pytest.mark.parametrize("join, when", [
    (h.join_style, "bool"), (h.join_style, "format"),
    (lambda d: h.join_cls(None, d), "bool"),
    (h.join_attributes, "bool"), (h.join_attributes, "str"), (h.join_attributes, "eq"),
])
@pytest.mark.parametrize("last", [False, True])
def test_dict_changed_size(join, when, last):
    d = {}
    if last:
        d["a"] = "x"
    d["b"] = Mutating(d, when)
    if not last:
        d["c"] = "x"
    with pytest.raises(RuntimeError) as info:
        join(d)
    assert str(info.value) == "dictionary changed size during iteration"


class Dropping(str):
    """Removes its own entry, the container's reference to it and to its key,
    when tested; a dict gets another key in its place (the same size)."""

    def __bool__(self):
        if isinstance(self.target, dict):
            del self.target[self.key]
            self.target[runtime("a2")] = "y"
        else:
            self.target.clear()
        return True


def runtime(text):
    """A str made at run time: unlike a code constant, nothing else keeps it."""
    return "".join(list(text))


def dropping(target, key):
    value = Dropping("kept")
    value.target, value.key = target, key
    return value


def outcome(f, *args):
    try:
        return f(*args)
    except Exception as exc:
        return type(exc), str(exc)


# A joiner that used a borrowed key or value after the value's code ran would
# read freed memory here (asan and valgrind modes).
@pytest.mark.parametrize("join, rule", [
    (h.join_style, py_join_style),
    (h.join_attributes, py_join_attributes),
    (lambda c: h.join_cls(None, c), lambda c: py_join_cls(None, c)),
], ids=["style", "attributes", "cls"])
@pytest.mark.parametrize("later", [[], ["b"]], ids=["alone", "followed"])
def test_value_dropping_its_entry(join, rule, later):
    def container():
        d = {}
        key = runtime("a")
        d[key] = dropping(d, key)
        d.update((runtime(k), "x") for k in later)
        return d

    expected = outcome(rule, container())
    assert expected == (RuntimeError, "dictionary keys changed during iteration")
    assert outcome(join, container()) == expected

    def pairs():
        p = []
        p += [(runtime("a"), dropping(p, None)), (runtime("b"), "late")]
        return Items(p, lambda p: p)

    assert outcome(join, pairs()) == outcome(rule, pairs())


@pytest.mark.parametrize("pair, error, message", [
    (lambda: (1, 2, 3), ValueError, "too many values to unpack (expected 2)"),
    (lambda: [1, 2, 3], ValueError, "too many values to unpack (expected 2)"),
    (lambda: iter([1, 2, 3]), ValueError, "too many values to unpack (expected 2)"),
    (lambda: (1,), ValueError, "need more than 1 value to unpack"),
    (lambda: (), ValueError, "need more than 0 values to unpack"),
    (lambda: iter([1]), ValueError, "need more than 1 value to unpack"),
    (lambda: iter([]), ValueError, "need more than 0 values to unpack"),
    (lambda: 5, TypeError, "'int' object is not iterable"),
])
@pytest.mark.parametrize("join", [h.join_style, h.join_attributes])
def test_bad_pairs(join, pair, error, message):
    with pytest.raises(error) as info:
        join(Items([pair()], list))
    assert str(info.value) == message


@pytest.mark.parametrize("join, expected", [
    (h.join_style, "k: v;a: b"), (h.join_attributes, 'k="v" a="b"')])
def test_any_iterable_is_a_pair(join, expected):
    assert join(Items([iter(["k", "v"]), "ab"], list)) == expected


@pytest.mark.parametrize("args, message", [
    (([1], None), "sequence item 0: expected str instance, int found"),
    ((["a"], {"x": "b", "y": 5}), "sequence item 2: expected str instance, int found"),
    ((None, Items([("x", b"b")], list)), "sequence item 0: expected str instance, bytes found"),
])
def test_join_cls_non_str_piece(args, message):
    with pytest.raises(TypeError) as info:
        h.join_cls(*args)
    assert str(info.value) == message


class NoBool:
    def __bool__(self):
        raise ZeroDivisionError("no truth")


@pytest.mark.parametrize("call, error, message", [
    (lambda: h.join_style(object()), AttributeError, "'object' object has no attribute 'items'"),
    (lambda: h.join_attributes(5), AttributeError, "'int' object has no attribute 'items'"),
    (lambda: h.join_cls(None, [1]), AttributeError, "'list' object has no attribute 'values'"),
    (lambda: h.join_style(NoBool()), ZeroDivisionError, "no truth"),
    (lambda: h.join_attributes({"a": NoBool()}), ZeroDivisionError, "no truth"),
    (lambda: h.join_cls(NoBool(), None), ZeroDivisionError, "no truth"),
    (lambda: h.join_cls(None, {"a": NoBool()}), ZeroDivisionError, "no truth"),
    (lambda: h.join_cls(5, None), TypeError, "'int' object is not iterable"),
])
def test_errors_propagate(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message


# ------------------------------------------------------- replaced html_escape

@pytest.fixture
def escape_calls(monkeypatch):
    calls = []

    def escape(text, quote=False):
        calls.append((type(text), text, quote))
        return "[" + text + "]"

    monkeypatch.setattr(h, "html_escape", escape)
    return calls


def test_replacement_called_per_item(escape_calls):
    container = {"a": "<x>", "b": 5, "c": "", "d": Loud("q"), "e": "e"}
    assert h.join_attributes(container) == 'a="[<x>]" b="[5]" d="[str:q]" [e]'
    assert escape_calls == [(str, "<x>", True), (str, "5", True), (str, "str:q", True),
                            (str, "e", True)]


@given(containers())
def test_replacement_matches_rule(container):
    def escape(text, quote):
        return text.upper() + str(quote)

    saved = h.html_escape
    h.html_escape = escape
    try:
        assert h.join_attributes(container) == py_join_attributes(container, escape)
    finally:
        h.html_escape = saved


def test_replacement_from_builtins(monkeypatch):
    monkeypatch.delattr(h, "html_escape")
    monkeypatch.setattr(builtins, "html_escape", lambda text, quote: text * 2, raising=False)
    assert h.join_attributes({"a": "<"}) == 'a="<<"'
    assert h.join_style({"a": "<"}) == "a: <"  # only join_attributes escapes


def test_html_escape_missing(monkeypatch):
    monkeypatch.delattr(h, "html_escape")
    with pytest.raises(NameError) as info:
        h.join_attributes({"a": "b"})
    assert str(info.value) == "name 'html_escape' is not defined"
    assert h.join_attributes({"a": ""}) == ""  # looked up only for kept items


@pytest.mark.parametrize("result, message", [
    (5, "Expected str, got int"),
    (b"x", "Expected str, got bytes"),
    (Sub("x"), "Expected str, got Sub"),
])
def test_replacement_result_not_str(monkeypatch, result, message):
    monkeypatch.setattr(h, "html_escape", lambda text, quote: result)
    with pytest.raises(TypeError) as info:
        h.join_attributes({"a": "b"})
    assert str(info.value) == message


def test_replacement_returning_none(monkeypatch):
    monkeypatch.setattr(h, "html_escape", lambda text, quote: None)
    rule = lambda c: py_join_attributes(c, escape=lambda text, quote: None)
    for container in ({"a": "b", "d": "e"}, {"a": "b", "c": "c", "d": "e"}):
        assert outcome(h.join_attributes, container) == outcome(rule, container)
    assert h.join_attributes({"a": "b"}) == 'a="None"'
    assert outcome(h.join_attributes, {"a": "b", "c": "c", "d": "e"}) == (
        TypeError, "sequence item 1: expected str instance, NoneType found")
