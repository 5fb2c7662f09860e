"""NumericProperty and BoundedNumericProperty: numbers, CSS lengths parsed
into single precision with the unit kept per owner, and bounds."""

import math
import struct

import pytest

from vora.core import properties as P
from vora.core._event import EventDispatcher
from vora_testing import core_subclass as native


def single(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def reference_parse(text):
    """(value, unit) as the property should parse text, or None."""
    for unit in ("%",) + tuple(P.CSS_LENGTH_UNITS):
        if text.endswith(unit):
            number, found = text[: -len(unit)], unit
            break
    else:
        number, found = text, None
    if not number or not number.isascii() or "_" in number or number != number.strip():
        return None
    try:
        value = single(float(number))
    except (ValueError, OverflowError):
        return None
    return (value, found) if math.isfinite(value) else None


class Box(EventDispatcher):
    width = P.NumericProperty(0, units="pt")
    plain = P.NumericProperty()
    bounded = P.BoundedNumericProperty(5, min=0, max=10.5)
    fixed = native.FixedParseNumeric(1)


@pytest.fixture
def box():
    return Box()


@pytest.mark.parametrize("text", [
    "12px", "1.5em", "50%", "-3.25mm", "1e2pt", "0.1px", ".5in", "7", "-0.5", "+2ch",
    "100vw", "3vh", "2ex", "1pc", "4cm", "1lh",
])
def test_parse_matches_reference(box, text):
    value, unit = reference_parse(text)
    box.width = text
    assert box.width == value
    assert type(box.width) is float
    assert Box.width.get_units(box) == (unit or "pt")
    assert native.parse_string(Box.width, None, text) == value


@pytest.mark.parametrize("text", [
    "", "px", "%", "12 px", " 12px", "12px ", "12PX", "12zz", "abc", "nan", "infpx",
    "1e40px", "1_0px", "\u0661\u0662px", "12\x00px", "--1px", "0x10px",
])
def test_unparsable_text_is_refused(box, text):
    assert reference_parse(text) is None
    with pytest.raises(ValueError) as info:
        box.width = text
    assert str(info.value) == f"Box.width has an invalid format (got {text!r})"
    assert box.width == 0
    with pytest.raises(ValueError):
        native.parse_string(Box.width, box, text)


def test_single_precision():
    assert native.parse_string(Box.width, None, "0.1px") == 0.10000000149011612
    assert native.parse_pair(Box.width, None, 0.1, "px") == 0.10000000149011612


@pytest.mark.parametrize("pair, value, unit", [
    ((12, "px"), 12.0, "px"),
    ([1.5, "%"], 1.5, "%"),
    ((-2, "em"), -2.0, "em"),
])
def test_pairs(box, pair, value, unit):
    box.width = pair
    assert (box.width, Box.width.get_units(box)) == (value, unit)


@pytest.mark.parametrize("pair, message", [
    ((True, "px"), "Box.width has an invalid number (got True)"),
    (("12", "px"), "Box.width has an invalid number (got '12')"),
    ((1e40, "px"), "Box.width has an invalid number (got 1e+40)"),
    ((12, "zz"), "Box.width has an invalid unit (got 'zz')"),
    ((12, None), "Box.width has an invalid unit (got None)"),
    ((1, "px", 2), "Box.width must have 2 components (got (1, 'px', 2))"),
    ([], "Box.width must have 2 components (got [])"),
])
def test_bad_pairs(box, pair, message):
    with pytest.raises(ValueError) as info:
        box.width = pair
    assert str(info.value) == message


def test_unit_follows_the_last_assignment(box):
    box.width = "12px"
    assert Box.width.get_units(box) == "px"
    box.width = 5
    assert Box.width.get_units(box) == "pt"
    box.width = (5, "em")           # same number, other unit: the unit changes
    assert (box.width, Box.width.get_units(box)) == (5, "em")
    box.width = "4"
    assert Box.width.get_units(box) == "pt"
    box.plain = "3px"
    box.plain = 3.0
    assert Box.plain.get_units(box) is None
    assert Box().storage["width"].units is None


def test_units_are_per_owner():
    a, b = Box(width="1em"), Box(width="1px")
    assert (Box.width.get_units(a), Box.width.get_units(b)) == ("em", "px")


def test_numbers_stay_as_they_are(box):
    box.width = 7
    assert type(box.width) is int
    box.width = 2.5
    assert box.width == 2.5
    with pytest.raises(ValueError, match="^Box.width accept only int/float$"):
        box.width = {}


def test_units_keyword():
    assert P.NumericProperty().units is None
    assert P.NumericProperty(units="px").units == "px"
    with pytest.raises(TypeError, match="Expected str, got int"):
        P.NumericProperty(units=5)


def test_convert_parses_through_the_own_table(box):
    box.fixed = "anything"
    assert box.fixed == 42.0
    with pytest.raises(ValueError, match="^bad text$"):
        box.fixed = "bad"
    assert box.fixed == 42.0
    box.fixed = 3
    assert box.fixed == 3


@pytest.mark.parametrize("value, accepted", [
    (0, True), (10.5, True), (5, True), (-1, False), (10.6, False), ("11px", False),
    ("10px", True),
])
def test_bounds(box, value, accepted):
    if accepted:
        box.bounded = value
        assert box.bounded == (float(value[:-2]) if isinstance(value, str) else value)
    else:
        with pytest.raises(ValueError, match=r"^Box\.bounded is (below|above) the"):
            box.bounded = value
        assert box.bounded == 5


def test_bounded_check_entry_and_keywords():
    prop = Box.bounded
    assert (prop.min, prop.max) == (0, 10.5)
    box = Box()
    assert native.check(prop, box, 3) is True
    with pytest.raises(ValueError) as info:
        native.check(prop, box, -0.5)
    assert str(info.value) == "Box.bounded is below the minimum bound (got -0.5)"
    assert native.check(P.BoundedNumericProperty(allownone=True), box, None) is True
    unbounded = P.BoundedNumericProperty()
    assert (unbounded.min, unbounded.max, unbounded.defaultvalue) == (None, None, 0)
    with pytest.raises(TypeError, match="^min must be an int or a float, not str$"):
        P.BoundedNumericProperty(min="0")


def test_css_length_units():
    units = P.CSS_LENGTH_UNITS
    assert all(type(u) is str and len(u) == 2 for u in units)
    assert {"px", "pt", "pc", "mm", "cm", "in", "em", "ex", "ch", "vw", "vh"} <= set(units)
    assert "%" not in units
