"""_NumericAttribute and _BoundedNumericAttribute: keywords, conversion, check
and rendering with units."""

import math
import random
import struct
import subprocess
import sys

import pytest

from vora.core._attributes import _BoundedNumericAttribute, _NumericAttribute
from vora.core._event import EventDispatcher
from vora.core.properties import BoundedNumericProperty, NumericProperty
from vora_testing import table_calls

from collector import check_field

BOTH = [_NumericAttribute, _BoundedNumericAttribute]
INVALID = "Box.size accept only int/float/str and is set to an invalid option "


def single(x):
    """x as the property base's parsers hold it: single precision, widened."""
    return struct.unpack("f", struct.pack("f", x))[0]


def owner_of(*props):
    """One element of a class "Box" holding the first property as `size`; the
    others get the same owner class name and property name."""
    owner = type("Box", (EventDispatcher,), {"size": props[0]})()
    for prop in props[1:]:
        prop.__set_name__(type(owner), "size")
    return owner


def outcome(call, *args):
    """What a call returns, or the type and text of what it raises."""
    try:
        return call(*args)
    except Exception as error:
        return type(error), str(error)


class Text(str):
    pass


class Items(list):
    pass


class Whole(int):
    pass


class Raises:
    def __eq__(self, other):
        raise LookupError("compared")

    def __bool__(self):
        raise LookupError("truth")


class Formatted:
    def __format__(self, spec):
        return Text(f"<{spec}>")  # str.format's result is an exact str all the same


# ------------------------------------------------------------------ __init__

@pytest.mark.parametrize("cls", BOTH)
def test_base_receives_every_argument_with_allownone_forced(cls):
    class SpyBase(cls.__base__):
        def __init__(self, *args, **kwargs):
            self.base_args = (args, kwargs)
            if len(args) < 2:  # the real base takes one positional argument
                super().__init__(*args, **kwargs)

    Spied = type("Spied", (cls, SpyBase), {})
    assert Spied().base_args == ((), {"allownone": True})
    given = {"attrtype": "style", "options": "ab", "units": "px", "allownone": False, "extra": 3}
    assert Spied(5, 6, **given).base_args == ((5, 6), dict(given, allownone=True))
    assert given["allownone"] is False  # the caller's dict is left alone


@pytest.mark.parametrize("cls", BOTH)
def test_fields(cls):
    attr = cls.__new__(cls)
    assert (attr.attrtype, attr.sync, attr.options) == ("", 0, [])
    assert attr.options is not cls.__new__(cls).options
    given = ["inherit"]
    attr = cls(attrtype="style", options=given)
    assert attr.attrtype == "style" and attr.options == given and attr.options is not given
    assert cls(options="auto").options == ["a", "u", "t", "o"]
    # A failing step keeps the fields stored before it.
    with pytest.raises(TypeError) as info:
        attr.__init__(attrtype="class", sync=3, options=5)
    assert str(info.value) == "'int' object is not iterable"
    assert (attr.attrtype, attr.sync, attr.options) == ("class", 3, given)
    with pytest.raises(TypeError) as info:
        cls(**{1: 2})
    assert str(info.value) == "keywords must be strings"


# ----------------------------------------------------------------- convert

@pytest.mark.parametrize("value, expected", [
    (12, 12), (2**70, 2**70), (1.5, 1.5), (None, None),
    ("0.1", single(0.1)), (Text("0.1"), single(0.1)), ("10px", 10.0),
    ("-1", -1.0),  # the parsers' failure value, here a real result
    ((0.1, "px"), single(0.1)), ([2.5, "%"], 2.5),
    ((1, 2, 3), (ValueError, "Box.size must have 2 components (got (1, 2, 3))")),
    ([1], (ValueError, "Box.size must have 2 components (got [1])")),
    (True, (ValueError, "Box.size has an invalid format (got True)")),
    (Whole(4), (ValueError, "Box.size has an invalid format (got 4)")),
    (Items([1, "px"]), (ValueError, "Box.size has an invalid format (got [1, 'px'])")),
    ({"a": 1}, (ValueError, "Box.size has an invalid format (got {'a': 1})")),
])
def test_convert(value, expected):
    attr = _NumericAttribute()
    result = outcome(table_calls.convert, attr, owner_of(attr), value)
    assert result == expected and type(result) is type(expected)
    if type(value) in (int, float):
        assert result is value


@pytest.mark.parametrize("value", ["nonsense", "px", (1, "parsec"), ["x", "px"]])
def test_parser_refusals_pass_through(value):
    attr, plain = _NumericAttribute(), NumericProperty()
    owner = owner_of(attr, plain)
    expected = outcome(table_calls.convert, plain, owner, value)
    assert outcome(table_calls.convert, attr, owner, value) == expected


@pytest.mark.parametrize("cls", BOTH)
@pytest.mark.parametrize("option", ["10px", "inherit", (1, "px"), [1, "px"], Items(), True])
def test_options_are_never_parsed(cls, option):
    attr = cls(options=[option])
    assert table_calls.convert(attr, owner_of(attr), option) is option


@pytest.mark.parametrize("cls", BOTH)
def test_options_come_before_the_type_tests(cls):
    attr = cls()
    owner = owner_of(attr)
    attr.options.append(Raises())  # the property returns the stored list
    assert table_calls.convert(attr, owner, None) is None
    with pytest.raises(LookupError):
        table_calls.convert(attr, owner, 12)


# ------------------------------------------------------------------- check

@pytest.mark.parametrize("value, options, expected", [
    (None, [], True),  # the base's own check accepts None: allownone was forced
    (12, [], None),
    (1.5, [], None),
    ("anything", ["a"], None),
    (True, [1], None),  # 1 == True
    (Text("x"), ["x"], None),
    (True, [], (ValueError, INVALID + "True. Must be one of: []")),
    (Text("x"), ["y"], (ValueError, INVALID + "'x'. Must be one of: ['y']")),
    (Whole(3), ["auto", 2], (ValueError, INVALID + "3. Must be one of: ['auto', 2]")),
])
def test_check(value, options, expected):
    attr = _NumericAttribute(options=options)
    assert outcome(table_calls.check, attr, owner_of(attr), value) == expected


def test_check_tests_exact_types_before_options():
    attr = _NumericAttribute()
    owner = owner_of(attr)
    attr.options.append(Raises())
    for value in (3, 3.5, "x"):
        assert table_calls.check(attr, owner, value) is None
    with pytest.raises(LookupError):
        table_calls.check(attr, owner, Text("x"))


# ----------------------------------------------------------------- bounded

def bounded(options=()):
    """A bounded attribute, a bare BoundedNumericProperty with the same bounds
    and the name they share, and an owner."""
    attr, plain = _BoundedNumericAttribute(min=0, max=10), BoundedNumericProperty(min=0, max=10)
    owner = owner_of(attr, plain)
    attr.options[:] = options  # after the owner has converted its default
    return attr, plain, owner


@pytest.mark.parametrize("value", [0, 10, 5.5, -1, 11, 10.5, float("nan")])
def test_bounded_check_hands_numbers_to_the_base(value):
    attr, plain, owner = bounded(options=[Raises()])
    assert outcome(table_calls.check, attr, owner, value) == outcome(
        table_calls.check, plain, owner, value)


@pytest.mark.parametrize("value, options, expected", [
    ("auto", ["auto"], True),
    (True, [1], True),
    (None, [None], True),
    (None, ["auto"], (ValueError, INVALID + "None. Must be one of: ['auto']")),
    ("wide", ["auto"], (ValueError, INVALID + "'wide'. Must be one of: ['auto']")),
    (True, [], (ValueError, INVALID + "True. Must be one of: []")),
    (Whole(5), [], (ValueError, INVALID + "5. Must be one of: []")),
])
def test_bounded_check(value, options, expected):
    attr, _, owner = bounded(options)
    assert outcome(table_calls.check, attr, owner, value) == expected


@pytest.mark.parametrize("value", [3, 2.5, "4px", (2, "px"), "nonsense", True, {"a": 1}, -4])
def test_bounded_convert_hands_the_rest_to_the_base(value):
    attr, plain, owner = bounded(options=["auto"])
    assert outcome(table_calls.convert, attr, owner, value) == outcome(
        table_calls.convert, plain, owner, value)


# --------------------------------------------------------------- rendering

VALUES = [10, -7, 0, 2**29, -2**40, 2**70, 12.5, -0.0, 3.0, 1e22, single(0.1), float("nan"), True,
          Formatted()]
UNITS = ["px", "%", "", None, 0, 7, Formatted(), "é", "€", "𝔭"]


@pytest.mark.parametrize("cls", BOTH)
def test_rendering_follows_str_format(cls):
    class Sub(cls):
        def get_units(self, obj):
            return self.units_given

    attr = Sub()
    owner = owner_of(attr)
    wrong = []
    for value in VALUES:
        owner.storage[attr.key].value = value
        for units in UNITS:
            attr.units_given = units
            expected = "{0}{1}".format(value, units) if units else "{0}".format(value)
            result = attr.attrvalue(owner)
            if result != expected or type(result) is not str:
                wrong.append((value, units, result))
    assert wrong == []


def float_samples():
    rng = random.Random(20)
    edges = [0.0, 1e-4, 2.0**50, 1e15, 1e16, 1e17, 5e-324, 1.7976931348623157e308, 0.1 + 0.2,
             2.0**50 - 0.5, 123456789.123456789, 1 / 3, float("inf"),
             # powers of two (less room below), the end of exact integers,
             # and two digits equally near (written as the even one)
             2.0**-13, 2.0**52, 2.0**53, 2.0**49 + 0.75, 2.0**49 + 0.25]
    for value in edges + [0.1, 0.5, 12.5, 100.0, 1e-3, 0.07, 1920.0]:
        yield from (value, -value, math.nextafter(value, math.inf), math.nextafter(value, 0))
    for _ in range(2000):
        yield round(rng.uniform(-1e4, 1e4), rng.randrange(0, 9))
        yield rng.uniform(-1, 1) * 10.0 ** rng.randrange(-8, 20)
        yield struct.unpack("d", struct.pack("Q", rng.getrandbits(64)))[0]


def test_floats_render_as_repr():
    class Sub(_NumericAttribute):
        def get_units(self, obj):
            return "px"

    attr = Sub()
    owner = owner_of(attr)
    storage = owner.storage[attr.key]
    wrong = []
    for value in float_samples():
        storage.value = value
        if attr.attrvalue(owner) != repr(value) + "px":
            wrong.append(value)
    assert wrong == []


# Renders the doubles read from stdin, and colours of some of them, under each
# rounding mode, set with the C library's fesetround (the attribute module
# loads, and makes its quotients k / 255, under the upward one). Prints, per
# mode: the doubles not written as format(x, "") writes them in that mode,
# the colours whose parts are not the quotients rounded to nearest, and
# whether the mode is still the script's afterwards.
ROUNDING_MODES = """
import ctypes, platform, struct, sys

data = sys.stdin.buffer.read()
values = struct.unpack(f"{len(data) // 8}d", data)
libm = ctypes.CDLL("libm.so.6")
modes = dict(zip(["nearest", "upward", "downward", "toward zero"],
                 [0, 0x400000, 0x800000, 0xc00000] if platform.machine() == "aarch64"
                 else [0, 0x800, 0x400, 0xc00]))

def probe(one=1.0, tiny=2.0**-60, most=3 * 2.0**-54):
    # what the mode does to arithmetic: each mode gives other sums
    return libm.fegetround(), one + tiny, -one - tiny, one + most

assert libm.fesetround(modes["upward"]) == 0
if probe()[1] == 1.0:
    sys.exit("rounding mode not honoured")
from vora.core._attributes import _ColorAttribute, _NumericAttribute
from vora.core._event import EventDispatcher

Box = type("Box", (EventDispatcher,), {"size": _NumericAttribute(units="px"),
                                       "color": _ColorAttribute()})
box = Box()
size, color = box.storage[Box.size.key], box.storage[Box.color.key]
libm.fesetround(modes["nearest"])
colors = [[k, values[k], -k * 99991] for k in range(256)]
nearest = [", ".join(format(part / 255, "") for part in value) for value in colors]
for name, mode in modes.items():
    libm.fesetround(mode)
    before = probe()
    numbers, wrong_colors = [], []
    for value in values:
        size.value = value
        if Box.size.attrvalue(box) != format(value, "") + "px":
            numbers.append(value)
    for value, expected in zip(colors, nearest):
        color.value = value
        if Box.color.attrvalue(box) != expected:
            wrong_colors.append(value)
    print(name, numbers[:5], wrong_colors[:5], probe() == before)
libm.fesetround(modes["nearest"])
"""


def rounding_samples():
    """float_samples, and the values that a product, quotient or rounding
    to an integer done in another rounding mode gets wrong: powers of ten,
    halves, binary fractions and decimals whose scaled digits lie near a
    half, with their neighbours."""
    rng = random.Random(7)
    near = [10.0 ** e for e in range(-5, 18)]
    near += [n + 0.5 for n in (0, 1, 2, 1023, 2**40, 2**49, 2**51)]
    near += [(rng.randrange(10**k) + 0.5) / 10**k for k in range(1, 12) for _ in range(10)]
    near += [math.ldexp(rng.randrange(1, 2**20), -rng.randrange(1, 30)) for _ in range(100)]
    for value in near:
        yield from (value, math.nextafter(value, math.inf), math.nextafter(value, 0))
    yield from float_samples()


def test_floats_render_alike_in_every_rounding_mode():
    values = list(rounding_samples())
    result = subprocess.run(
        [sys.executable, "-P", "-c", ROUNDING_MODES], input=struct.pack(f"{len(values)}d", *values),
        capture_output=True, timeout=120)
    if result.stderr.strip() == b"rounding mode not honoured":
        pytest.skip("double arithmetic ignores fesetround here (valgrind rounds SSE to nearest only)")
    assert (result.returncode, result.stderr, result.stdout.decode().splitlines()) == (0, b"", [
        f"{name} [] [] True" for name in ["nearest", "upward", "downward", "toward zero"]])


@pytest.mark.parametrize("cls", BOTH)
def test_get_units_is_looked_up_at_each_call_for_numbers_only(cls):
    calls = []

    class Sub(cls):
        def get_units(self, obj):
            calls.append(obj)
            return "px"

    attr = Sub()
    owner = owner_of(attr)
    for value in (None, "inherit", Text("raw")):
        owner.storage[attr.key].value = value
        assert attr.attrvalue(owner) == (value or "")
    assert calls == []
    owner.storage[attr.key].value = 2
    assert attr.attrvalue(owner) == "2px" and calls == [owner]
    attr.get_units = lambda obj: "vh"
    assert attr.attrvalue(owner) == "2vh"
    attr.get_units = lambda obj: Raises()
    with pytest.raises(LookupError):
        attr.attrvalue(owner)


@pytest.mark.parametrize("cls, assigned, units, expected", [
    (_NumericAttribute, 10, "px", "10px"),
    (_NumericAttribute, 12.5, "%", "12.5%"),
    (_NumericAttribute, 3.0, "", "3.0"),
    (_NumericAttribute, "0.1", "", "0.10000000149011612"),
    (_NumericAttribute, "inherit", "px", "inherit"),
    (_BoundedNumericAttribute, 7, "px", "7px"),
    (_BoundedNumericAttribute, "inherit", "px", "inherit"),
])
def test_assignment_and_rendering(cls, assigned, units, expected):
    class Button(EventDispatcher):
        size = cls(attrtype="style", units=units, min=0, max=10, options=["inherit"])

    button = Button()
    button.size = assigned
    assert Button.size.attrvalue(button) == expected


@pytest.mark.parametrize("assigned", [11, -1, "12px", "wide", True])
def test_bounded_refusals_keep_the_value(assigned):
    attr, plain = _BoundedNumericAttribute(min=0, max=10), BoundedNumericProperty(min=0, max=10)
    box, bare = owner_of(attr), type("Box", (EventDispatcher,), {"size": plain})()
    box.size = 4
    refused = outcome(setattr, box, "size", assigned)
    assert refused[0] is ValueError and box.size == 4
    if type(assigned) is int:  # numbers: the bare base's own refusal, unchanged
        assert refused == outcome(setattr, bare, "size", assigned)


# --------------------------------------------------------- collector support

@pytest.mark.parametrize("cls", BOTH)
def test_options_take_part_in_collection(cls):
    check_field(lambda payload: cls(options=[payload]), read=lambda attr: attr.options)
