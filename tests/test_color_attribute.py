"""_ColorAttribute: keywords, conversion of lists, tuples and colour strings,
and the css and normalised renderings."""

import decimal
import fractions
import gc
import random
import struct
import sys
import weakref

import pytest

import vora.core._attributes as attributes
from vora.core import utils
from vora.core._attributes import _ColorAttribute
from vora.core._event import EventDispatcher
from vora.core.properties import Property
from vora_testing import table_calls

PARSE_STR = table_calls.COLOR_PARSE_STR


class SpyBase(Property):
    """Records what the attribute hands to its base initialiser."""

    def __init__(self, *args, **kwargs):
        self.base_args = (args, kwargs)
        super().__init__(*args, **kwargs)


class Spied(_ColorAttribute, SpyBase):
    pass


class Box(EventDispatcher):
    color = _ColorAttribute(attrtype="style")
    background = _ColorAttribute(attrtype="style", format="css", options=["inherit"])


def outcome(action, *args):
    """The result of action, or the type and text of what it raised."""
    try:
        return action(*args)
    except Exception as error:
        return type(error), str(error)


# The rendering rules, stated in Python.
def css_reference(value):
    if value is None:
        return ""
    if isinstance(value, str):
        return value
    if len(value) == 3:
        return "rgb({0}, {1}, {2})".format(*value)
    return "rgba({0}, {1}, {2}, {3})".format(*value)


def normalised_reference(value):
    if value is None:
        return ""
    if isinstance(value, str):
        return value
    if len(value) == 3:
        return "{}, {}, {}".format(value[0] / 255, value[1] / 255, value[2] / 255)
    return "{}, {}, {}, {}".format(value[0] / 255, value[1] / 255, value[2] / 255, value[3])


def render(attr, value):
    box = Box()
    box.storage[attr.key].value = value
    return attr.attrvalue(box)


class Shown:
    """A component whose format(x, "") is its own text."""

    def __init__(self, text):
        self.text = text

    def __format__(self, spec):
        return self.text

    def __repr__(self):
        return f"Shown({self.text!r})"

    def __truediv__(self, other):
        return Shown(f"{self.text}/{other}")


class Indexed:
    """Sized and indexable, but not a list: reached through len() and []."""

    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __repr__(self):
        return f"Indexed{self.items!r}"

    def __getitem__(self, i):
        return self.items[i]


class Text(str):
    pass


class Components(list):
    pass


RENDERED = [
    None,
    "inherit",
    Text("transparent"),
    [255, 0, 51],
    [255, 128, 0],
    [0, 0, 0],
    [255, 255, 255, 1],
    [255, 0, 0, 0.5],
    [1, 2, 3, 4, 5],
    (10, 20, 30),
    (10, 20, 30, 0.25),
    Components([7, 8, 9]),
    [127.5, 0.1, 1e300, 0.75],
    [-5, -0.0, float("inf"), float("nan")],
    [2**53, 2**53 + 1, 2**60, -2**70],
    [2**400, 1, 2],
    [True, False, 1],
    [fractions.Fraction(1, 3), decimal.Decimal("2.5"), 0],
    [Shown("a"), Shown("\u00e9t\u00e9"), Shown("\U0001f600"), Shown("")],
    Indexed(1, 2, 3),
    Indexed(1, 2, 3, 4),
    # Too short, or not colours at all: Python's own errors.
    [1, 2],
    (1, 2),
    [],
    Indexed(1),
    ["a", 0, 0],
    [0, "b", 0, 1],
    5,
    {0: 1, 1: 2, 2: 3},
]


@pytest.mark.parametrize("value", RENDERED, ids=repr)
@pytest.mark.parametrize("attr, reference", [
    (Box.color, normalised_reference),
    (Box.background, css_reference),
])
def test_rendering(attr, reference, value):
    assert outcome(render, attr, value) == outcome(reference, value)


@pytest.mark.parametrize("fmt, reference", [
    ("", normalised_reference),
    (None, normalised_reference),
    ("CSS", normalised_reference),
    ("css ", normalised_reference),
    ("".join(["c", "ss"]), css_reference),
])
def test_format_selects_the_rendering(fmt, reference):
    class Owner(EventDispatcher):
        color = _ColorAttribute(format=fmt)

    owner = Owner()
    for value in ([255, 255, 255], [0, 0, 0, 1]):
        owner.color = value
        assert Owner.color.attrvalue(owner) == reference(value)


def float_samples():
    """Doubles of every magnitude, the edges of repr's fixed notation, and
    the usual quotients k / 255."""
    rnd = random.Random(1)
    samples = [struct.unpack("<d", rnd.getrandbits(64).to_bytes(8, "little"))[0]
               for _ in range(3000)]
    samples += [m * 10.0 ** e for e in range(-22, 24) for m in (1, 1.5, 9.999999999999998)]
    samples += [5e-324, -5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, 2.0**53]
    return samples + [k / 255 for k in range(256)]


def test_float_components_read_as_their_repr():
    samples = float_samples()
    for i in range(0, len(samples) - 3, 4):
        value = samples[i:i + 4]
        assert render(Box.background, value) == css_reference(value)
        assert render(Box.color, value) == normalised_reference(value)


def test_rendering_examples():
    assert render(Box.background, [255, 255, 255]) == "rgb(255, 255, 255)"
    assert render(Box.background, [0, 0, 0, 1]) == "rgba(0, 0, 0, 1)"
    assert render(Box.color, [255, 255, 255]) == "1.0, 1.0, 1.0"
    assert render(Box.color, [0, 0, 0, 1]) == "0.0, 0.0, 0.0, 1"
    assert render(Box.color, [255, 128, 0]) == "1.0, 0.5019607843137255, 0.0"
    assert render(Box.color, None) == ""


def test_a_string_value_is_returned_itself():
    value = Text("inherit")
    assert render(Box.color, value) is value


def test_components_are_taken_once():
    class Emptying:
        """Empties the colour while it is formatted."""

        def __format__(self, spec):
            value.clear()
            return "e"

    value = [Emptying(), 1, 2]
    assert render(Box.background, value) == "rgb(e, 1, 2)"


# ------------------------------------------------------------- conversion

def test_lists_and_tuples_are_stored_as_new_lists():
    box = Box()
    given = [1, 2, 3]
    box.color = given
    assert box.color == given and box.color is not given
    box.color = (255, 0, 0)
    assert box.color == [255, 0, 0] and type(box.color) is list
    box.color = (255, 0, 0, 0.5)
    assert box.color == [255, 0, 0, 0.5]
    box.color = ["not", "checked", "here"]
    assert box.color == ["not", "checked", "here"]
    box.color = None
    assert box.color is None


@pytest.mark.parametrize("value, message", [
    ([1, 2], "Box.color must have 3 or 4 components (got [1, 2])"),
    ((1, 2), "Box.color must have 3 or 4 components (got (1, 2))"),
    ([1, 2, 3, 4, 5], "Box.color must have 3 or 4 components (got [1, 2, 3, 4, 5])"),
    ((), "Box.color must have 3 or 4 components (got ())"),
    (Components([1, 2, 3]), "Box.color has an invalid format (got [1, 2, 3])"),
    (Indexed(1, 2, 3), None),
    (5, "Box.color has an invalid format (got 5)"),
    ({1, 2, 3}, "Box.color has an invalid format (got {1, 2, 3})"),
    (b"#fff", "Box.color has an invalid format (got b'#fff')"),
])
def test_refused_values_keep_the_old_one(value, message):
    box = Box()
    box.color = [1, 2, 3]
    with pytest.raises(ValueError) as info:
        box.color = value
    if message is None:
        message = f"Box.color has an invalid format (got {value!r})"
    assert str(info.value) == message
    assert box.color == [1, 2, 3]


@pytest.mark.parametrize("text", [
    "#fff", "#ff8000", "#ff000080", "#FFF", Text("#ff8000"), "#", "", "zzz", "#12345", "#gggggg",
])
def test_strings_go_through_the_module_function(text):
    expected = outcome(utils.get_color_from_hex_255, text)
    assert outcome(table_calls.appended, Box.color, PARSE_STR, Box(), text) == expected
    assert outcome(table_calls.convert, Box.color, Box(), text) == expected


def test_colour_strings_end_to_end():
    box = Box()
    box.background = "#ff8000"
    assert box.background == utils.get_color_from_hex_255("#ff8000")
    assert Box.background.attrvalue(box) == "rgb(255, 128, 0)"
    box.color = "#ff000080"
    parsed = utils.get_color_from_hex_255("#ff000080")
    assert Box.color.attrvalue(box) == normalised_reference(parsed)


def test_module_function_is_looked_up_at_each_call(monkeypatch):
    calls = []

    def parse(text, *rest):
        calls.append((text, rest))
        return [1, 2, 3] if text == "ok" else None

    monkeypatch.setattr(attributes, "get_color_from_hex_255", parse)
    box = Box()
    assert table_calls.convert(Box.color, box, "ok") == [1, 2, 3]
    assert table_calls.appended(Box.color, PARSE_STR, box, "none") is None
    assert calls == [("ok", ()), ("none", ())]


class ListResult(list):
    pass


@pytest.mark.parametrize("result, error, message", [
    ((1, 2, 3), TypeError, "Expected list, got tuple"),
    ("#fff", TypeError, "Expected list, got str"),
    (ListResult([1, 2, 3]), TypeError, "Expected list, got ListResult"),
])
def test_module_function_must_return_a_list(monkeypatch, result, error, message):
    monkeypatch.setattr(attributes, "get_color_from_hex_255", lambda text: result)
    with pytest.raises(error) as info:
        table_calls.convert(Box.color, Box(), "#fff")
    assert str(info.value) == message


def test_missing_module_function(monkeypatch):
    monkeypatch.delattr(attributes, "get_color_from_hex_255")
    with pytest.raises(NameError) as info:
        table_calls.appended(Box.color, PARSE_STR, Box(), "#fff")
    assert str(info.value) == "name 'get_color_from_hex_255' is not defined"


def test_failing_module_function(monkeypatch):
    def parse(text):
        raise LookupError(text)

    monkeypatch.setattr(attributes, "get_color_from_hex_255", parse)
    box = Box()
    with pytest.raises(LookupError):
        box.color = "#fff"
    assert box.color is None


class Equality:
    def __init__(self, result):
        self.result = result

    def __eq__(self, other):
        if isinstance(self.result, Exception):
            raise self.result
        return self.result


def test_options_are_accepted_unchanged():
    box = Box()
    box.background = "inherit"
    assert box.background == "inherit"
    assert Box.background.attrvalue(box) == "inherit"
    marker = [1, 2]

    class Owner(EventDispatcher):
        color = _ColorAttribute(options=[Equality(True)])
        strict = _ColorAttribute(options=[Equality(LookupError("eq"))])

    owner = Owner()
    owner.color = marker
    assert owner.color is marker
    with pytest.raises(LookupError):
        owner.strict = [1, 2, 3]
    assert table_calls.convert(Owner.strict, owner, None) is None


# ------------------------------------------------------------- __init__

def test_defaults():
    attr = Spied()
    assert (attr.attrtype, attr.sync) == ("", 0)
    attr.__set_name__(EventDispatcher, "border_color")
    assert attr.attrname == "border-color"
    assert attr.base_args == ((None,), {"allownone": True})
    assert not hasattr(attr, "format") and not hasattr(attr, "options")


def test_keywords_reach_the_base_with_allownone_forced():
    attr = Spied([1, 2, 3], attrtype="style", attrname="c", format="css", sync=2.5,
                 options=("inherit",), allownone=False, extra=1)
    assert attr.base_args == (([1, 2, 3],), {
        "attrtype": "style", "attrname": "c", "format": "css", "sync": 2.5,
        "options": ("inherit",), "allownone": True, "extra": 1})
    assert (attr.attrtype, attr.attrname, attr.sync) == ("style", "c", 2)
    assert Spied(defaultvalue="x").base_args == (("x",), {"allownone": True})


@pytest.mark.parametrize("args, kwargs, error, message", [
    ((1, 2), {}, TypeError, "__init__() takes at most 1 positional argument (2 given)"),
    ((1,), {"defaultvalue": 2}, TypeError,
     "__init__() got multiple values for keyword argument 'defaultvalue'"),
    ((), {"format": 5}, TypeError, "Expected str, got int"),
    ((), {"format": Text("css")}, TypeError, "Expected str, got Text"),
    ((), {"attrname": b"", "format": 5}, TypeError, "Expected str, got bytes"),
    ((), {"format": b"", "sync": "x"}, TypeError, "Expected str, got bytes"),
    ((), {"sync": "x", "options": 5}, TypeError, "an integer is required"),
    ((), {"options": 5}, TypeError, "'int' object is not iterable"),
])
def test_init_refusals(args, kwargs, error, message):
    with pytest.raises(error) as info:
        _ColorAttribute(*args, **kwargs)
    assert str(info.value) == message


def test_failed_init_keeps_earlier_fields():
    attr = _ColorAttribute.__new__(_ColorAttribute)
    with pytest.raises(TypeError):
        attr.__init__(attrtype="style", attrname="tint", format="css", sync=None)
    assert (attr.attrtype, attr.attrname) == ("style", "tint")

    class Owner(EventDispatcher):
        color = _ColorAttribute(format="css")

    owner = Owner()
    owner.color = [1, 2, 3]
    with pytest.raises(TypeError):
        Owner.color.__init__(format="", sync=None)
    assert Owner.color.attrvalue(owner) == normalised_reference([1, 2, 3])


def options_of(attr):
    """The options list, which has no Python name: the one list among the
    attribute's referents (its default value being None)."""
    (options,) = [r for r in gc.get_referents(attr) if type(r) is list]
    return options


def test_options_are_a_fresh_list():
    given = ["inherit"]
    options = options_of(_ColorAttribute(options=given, format="css"))
    assert options == given and options is not given
    assert options_of(_ColorAttribute(options="ab")) == ["a", "b"]
    assert options_of(_ColorAttribute()) == []


# ------------------------------------------------------------- collector

def test_collector_sees_and_breaks_cycles_through_options():
    class Node:
        pass

    collected = []
    node = Node()
    attr = _ColorAttribute(options=[node])
    node.attr = attr
    assert gc.is_tracked(attr)
    assert any(type(r) is list and r and r[0] is node for r in gc.get_referents(attr))
    ref = weakref.ref(node, collected.append)
    del node, attr
    gc.collect()
    assert collected == [ref]


@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter")
def test_no_reference_leaks():
    box = Box()

    def cycle():
        for value in ([255, 0, 0], (1, 2, 3, 0.5), [2**400, Shown("\u00e9"), 1.5], "#ff8000"):
            try:
                box.color = value
            except ValueError:
                pass
            Box.color.attrvalue(box)
            box.background = value
            Box.background.attrvalue(box)
        for value in ([1, 2], 5, Components([1, 2, 3])):
            outcome(table_calls.convert, Box.color, box, value)
            outcome(render, Box.color, value)
            outcome(render, Box.background, value)
        _ColorAttribute([1, 2, 3], format="css", options=["a"], sync=1)
        outcome(lambda: _ColorAttribute(format=5))

    for _ in range(3):
        cycle()
    gc.collect()
    before = sys.gettotalrefcount()
    for _ in range(50):
        cycle()
    gc.collect()
    assert sys.gettotalrefcount() - before < 50
