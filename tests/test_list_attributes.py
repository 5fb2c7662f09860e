"""_ListAttribute and _VariableListAttribute: keywords, the length and type
checks, the expansion of assigned values, rendering, and the collector."""

import gc

import pytest

import vora.core._attributes as attributes
from vora.core._attributes import _ListAttribute, _VariableListAttribute
from vora.core._event import EventDispatcher
from vora.core.properties import (
    CSS_LENGTH_UNITS, ListProperty, ObservableList, VariableListProperty)
from vora_testing import table_calls

from collector import check_field

CONVERT_NUMERIC = table_calls.VARIABLE_LIST_CONVERT_NUMERIC


def store(owner, attr, value):
    """Puts value in the owner's record as it is, past check and convert."""
    owner.storage[attr.key].value = value


def spied(cls, base):
    class SpyBase(base):
        def __init__(self, *args, **kwargs):
            self.base_args = (args, kwargs)
            super().__init__(*args, **kwargs)

    class Spied(cls, SpyBase):
        pass

    return Spied


class Widget(EventDispatcher):
    items = _ListAttribute(attrtype="element")
    pair = _ListAttribute(length=2)
    quad = _ListAttribute(length=4)
    maybe = _ListAttribute(allownone=True)


class Box(EventDispatcher):
    padding = _VariableListAttribute(attrtype="style", options=["inherit"])
    gap = _VariableListAttribute(attrtype="style", length=2)


# --------------------------------------------------------------- _ListAttribute

def test_list_keywords_reach_the_base_unchanged():
    Spied = spied(_ListAttribute, ListProperty)
    assert Spied().base_args == ((), {})
    given = {"attrtype": "style", "attrname": "n", "sync": 1, "length": 2, "allownone": False}
    assert Spied([1, 2], **given).base_args == (([1, 2],), given)


def test_list_length_is_kept_without_a_test():
    marker = object()
    attr = _ListAttribute(length=marker)
    assert any(r is marker for r in gc.get_referents(attr))
    assert not hasattr(attr, "length")


class Anything:
    """Equal to everything: len(value) != Anything() is False."""

    def __eq__(self, other):
        return True

    def __ne__(self, other):
        return False

    def __format__(self, spec):
        return "anything"


class Nothing:
    """Different from everything, shown through __format__."""

    def __ne__(self, other):
        return True

    def __format__(self, spec):
        return "formatted"

    def __str__(self):
        return "str() is not used"


@pytest.mark.parametrize("name, length", [("pair", 2), ("quad", 4)])
@pytest.mark.parametrize("size", range(6))
def test_list_check_by_length(name, length, size):
    attr = getattr(Widget, name)
    owner = Widget()
    items = list(range(size))
    if size != length:
        for value in (items, ObservableList(items), tuple(items)):
            with pytest.raises(ValueError) as info:
                table_calls.check(attr, owner, value)
            assert str(info.value) == f"Length of input array is wrong, must be {length}"
    else:
        assert table_calls.check(attr, owner, ObservableList(items)) is None
        for value in (items, tuple(items)):
            with pytest.raises(ValueError) as info:
                table_calls.check(attr, owner, value)
            assert str(info.value) == f"Widget.{name} accept only ObservableList"


class SubList(ObservableList):
    pass


@pytest.mark.parametrize("value, accepted", [
    (ObservableList(), True), (ObservableList(range(9)), True), ([], False), ((1,), False),
    (SubList([1]), False), ("text", False), (5, False), (None, False),
])
def test_list_check_without_length(value, accepted):
    owner = Widget()
    if accepted:
        assert table_calls.check(Widget.items, owner, value) is None
    else:
        with pytest.raises(ValueError) as info:
            table_calls.check(Widget.items, owner, value)
        assert str(info.value) == "Widget.items accept only ObservableList"


def test_list_check_base_acceptance_comes_first():
    assert table_calls.check(Widget.maybe, Widget(), None) is True


@pytest.mark.parametrize("length, value, message", [
    (2.0, ObservableList([1, 2]), None),
    (Anything(), ObservableList([1, 2, 3]), None),
    (Nothing(), ObservableList([1, 2]), "Length of input array is wrong, must be formatted"),
    ([1, 2], ObservableList([1, 2]), "Length of input array is wrong, must be [1, 2]"),
    ("2", ObservableList([1, 2]), "Length of input array is wrong, must be 2"),
])
def test_list_length_compared_and_shown_as_python_does(length, value, message):
    attr = _ListAttribute(length=length)
    if message is None:
        assert table_calls.check(attr, Widget(), value) is None
    else:
        with pytest.raises(ValueError) as info:
            table_calls.check(attr, Widget(), value)
        assert str(info.value) == message


def test_list_value_without_length():
    with pytest.raises(TypeError) as info:
        table_calls.check(Widget.pair, Widget(), 5)
    assert str(info.value) == "object of type 'int' has no len()"


def test_list_observable_list_is_looked_up_at_each_call(monkeypatch):
    owner = Widget()
    monkeypatch.setattr(attributes, "ObservableList", list)
    assert table_calls.check(Widget.items, owner, [1]) is None
    monkeypatch.delattr(attributes, "ObservableList")
    with pytest.raises(NameError) as info:
        table_calls.check(Widget.items, owner, [1])
    assert str(info.value) == "name 'ObservableList' is not defined"


class Shown:
    def __str__(self):
        return "shown"


class Text(str):
    def __str__(self):
        return "text-str"


def iterable_only(items):
    class Items:
        def __iter__(self):
            return iter(items)

    return Items()


class Number(int):
    def __str__(self):
        return "number"


class Backwards(list):
    def __iter__(self):
        return reversed(self[:])


RENDERED_ITEMS = [
    ["a"], [1, 2], [1, "a", 2.5], (True, None), [Shown(), Text("t")], ["", ""],
    ObservableList(["x", 3]), ["x", Text("t")], ["é", "ü"], ["€", "a"], ["a", "\U0001d11e"],
    ["a", "é", 7, "€", "\U0001d11e"], [2**70, -5, 0, -2**63, 2**63 - 1, False, Number(4)],
    list(range(20)), ["x"] * 12, Backwards(["a", "b", 1]), ObservableList(["é", "€"]),
    iterable_only([1, "b"]), {"k": 1, "j": 2}, iterable_only([]),
]
SEPARATORS = [(_ListAttribute, ", "), (_VariableListAttribute, " ")]


def rendered(cls, value):
    class Owner(EventDispatcher):
        attr = cls()

    owner = Owner()
    store(owner, Owner.attr, value)
    return Owner.attr.attrvalue(owner)


@pytest.mark.parametrize("value", RENDERED_ITEMS)
@pytest.mark.parametrize("cls, separator", SEPARATORS)
def test_rendering_of_items(cls, separator, value):
    assert rendered(cls, value) == separator.join([str(v) for v in value])


@pytest.mark.parametrize("value", [None, [], (), ObservableList()])
@pytest.mark.parametrize("cls", [_ListAttribute, _VariableListAttribute])
def test_rendering_of_nothing(cls, value):
    assert rendered(cls, value) == ""


@pytest.mark.parametrize("value", ["inherit", "", Text("sub")])
def test_variable_list_renders_strings_unchanged(value):
    assert rendered(_VariableListAttribute, value) is value


class Shrinking:
    """Empties the list it is rendered from."""

    def __init__(self, target):
        self.target = target

    def __str__(self):
        self.target.clear()
        return "last"


@pytest.mark.parametrize("cls, separator", SEPARATORS)
def test_rendering_survives_a_list_changed_by_an_item(cls, separator):
    value = ["a", None, "c"]
    value[1] = Shrinking(value)
    assert rendered(cls, value) == f"a{separator}last"


class Broken:
    def __str__(self):
        raise LookupError("no text")


@pytest.mark.parametrize("cls", [_ListAttribute, _VariableListAttribute])
def test_failing_item_text_propagates(cls):
    with pytest.raises(LookupError):
        rendered(cls, [1, Broken()])


def test_list_assignment_end_to_end():
    widget = Widget()
    widget.items = [1, "a"]
    assert type(widget.items) is ObservableList
    assert Widget.items.attrvalue(widget) == "1, a"
    widget.pair = (3, 4)
    assert Widget.pair.attrvalue(widget) == "3, 4"
    with pytest.raises(ValueError) as info:
        widget.pair = [1, 2, 3]
    assert str(info.value) == "Length of input array is wrong, must be 2"
    assert Widget.pair.attrvalue(widget) == "3, 4"


# ------------------------------------------------------- _VariableListAttribute

def test_variable_list_keywords():
    Spied = spied(_VariableListAttribute, VariableListProperty)
    assert Spied().base_args == ((), {"allownone": True})
    given = {"attrtype": "style", "sync": 1, "options": ("auto",), "length": 2}
    attr = Spied([1, 2], allownone=False, **given)
    assert attr.base_args == (([1, 2],), {**given, "allownone": True})
    assert attr.options == ["auto"] and type(attr.options) is list
    assert Spied(options=iter("ab")).options == ["a", "b"]
    with pytest.raises(TypeError) as info:
        _VariableListAttribute(options=5)
    assert str(info.value) == "'int' object is not iterable"


def test_variable_list_options_are_the_stored_list():
    attr = _VariableListAttribute()
    assert attr.options == [] and attr.options is attr.options
    with pytest.raises(AttributeError):
        attr.options = ["x"]


def reference_convert(length, options, value, name="padding"):
    """A short statement of the expansion rules, for comparison."""
    def message(text, x):
        return f"Box.{name}{text}{x!r})"

    def numeric(x):
        if type(x) in (int, float):
            return x
        if isinstance(x, str):
            return x if x[-2:] in CSS_LENGTH_UNITS or x[-1:] == "%" else None
        raise ValueError(message(" has an invalid format (got ", x))

    def expand(a, b):
        return {2: [a, b], 4: [a, b, a, b]}.get(length)

    if value is None:
        return None
    if value in options:
        return value
    if isinstance(value, (list, tuple)):
        n = len(value)
        if n in (1, 2):
            a = numeric(value[0])
            return expand(a, numeric(value[1]) if n == 2 else a)
        if n == 4 and length == 4:
            return [numeric(x) for x in value]
        text = (" must have 1, 2 or 4 components (got " if n != 4 and length == 4
                else " must have 1 or 2 components (got ")
        raise ValueError(message(text, value))
    if type(value) in (int, float) or isinstance(value, str):
        if isinstance(value, str) and len(value.split()) > 1:
            return reference_convert(length, options, value.split(), name)
        v = numeric(value)
        return expand(v, v)
    raise ValueError(message(" has an invalid format (got ", value))


CONVERTED = [
    None, "inherit", 7, 2.5, -1, 0.0, "5px", "50%", "12", "auto", "", " 3mm ", " 3mm", "3mm ",
    "1px 2px", " 1px\t2em ", "1px 2px 3px", "1px 2px 3px 4px", "1 2 3 4 5", "a b",
    [7], [1, 2], (1, 2), [1, 2, 3], [1, 2, 3, 4], (1, "2px", "3%", 4.5), [1, 2, 3, 4, 5], [],
    ["1px"], ["inherit"], ("auto", "1em"), [[1]], [True], [None], (1, 1.5j), True, None,
    {}, {"a": 1}, b"1px", 1.5j, ObservableList([3]),
]


@pytest.mark.parametrize("value", CONVERTED, ids=repr)
@pytest.mark.parametrize("attr_name, length", [("padding", 4), ("gap", 2)])
def test_variable_list_convert(attr_name, length, value):
    attr = getattr(Box, attr_name)
    try:
        expected = reference_convert(length, attr.options, value, attr_name)
    except ValueError as error:
        with pytest.raises(ValueError) as info:
            table_calls.convert(attr, Box(), value)
        assert str(info.value) == str(error)
    else:
        result = table_calls.convert(attr, Box(), value)
        assert result == expected and type(result) is type(expected)
        if value in attr.options:
            assert result is value


@pytest.mark.parametrize("attr, value, expected", [
    (Box.padding, 10, [10] * 4),
    (Box.padding, "5px", ["5px"] * 4),
    (Box.padding, "1px 2px", ["1px", "2px", "1px", "2px"]),
    (Box.padding, (1, 2, 3, 4), [1, 2, 3, 4]),
    (Box.padding, " 3mm ", [None] * 4),
    (Box.gap, (1, 2), [1, 2]),
    (Box.padding, "1px 2px 3px",
     "Box.padding must have 1, 2 or 4 components (got ['1px', '2px', '3px'])"),
    (Box.padding, [], "Box.padding must have 1, 2 or 4 components (got [])"),
    (Box.gap, [1, 2, 3, 4], "Box.gap must have 1 or 2 components (got [1, 2, 3, 4])"),
    (Box.gap, "1px 2px 3px 4px",
     "Box.gap must have 1 or 2 components (got ['1px', '2px', '3px', '4px'])"),
    (Box.padding, {}, "Box.padding has an invalid format (got {})"),
    (Box.padding, [True], "Box.padding has an invalid format (got True)"),
])
def test_variable_list_convert_examples(attr, value, expected):
    """The documented examples, pinning the reference above."""
    if isinstance(expected, str):
        with pytest.raises(ValueError) as info:
            table_calls.convert(attr, Box(), value)
        assert str(info.value) == expected
    else:
        assert table_calls.convert(attr, Box(), value) == expected


def test_variable_list_conversion_error_comes_before_the_length():
    attr = _VariableListAttribute(length=2)
    attr.__set_name__(Box, "other")
    with pytest.raises(ValueError) as info:
        table_calls.convert(attr, Box(), [1, 1.5j])
    assert str(info.value) == "Box.other has an invalid format (got 1.5j)"


@pytest.mark.parametrize("x, expected", [
    (3, 3), (2.5, 2.5), ("12px", "12px"), ("50%", "50%"), ("%", "%"), ("12", None), ("auto", None),
    ("", None), ("px", "px"), ("12PX", None),
])
def test_convert_numeric_entry(x, expected):
    result = table_calls.appended(Box.padding, CONVERT_NUMERIC, Box(), x)
    assert result == expected
    if expected is not None:
        assert result is x


@pytest.mark.parametrize("x", [True, None, 1.5j, [1], b"1px", "inherit".encode()])
def test_convert_numeric_entry_refusals(x):
    with pytest.raises(ValueError) as info:
        table_calls.appended(Box.padding, CONVERT_NUMERIC, Box(), x)
    assert str(info.value) == f"Box.padding has an invalid format (got {x!r})"


def test_css_length_units_are_looked_up_at_each_call(monkeypatch):
    owner = Box()
    monkeypatch.setattr(attributes, "CSS_LENGTH_UNITS", ("zz",))
    assert table_calls.convert(Box.gap, owner, "1zz 1px") == ["1zz", None]
    monkeypatch.delattr(attributes, "CSS_LENGTH_UNITS")
    with pytest.raises(NameError) as info:
        table_calls.convert(Box.gap, owner, "1px")
    assert str(info.value) == "name 'CSS_LENGTH_UNITS' is not defined"


def test_options_changed_later_take_effect():
    attr = _VariableListAttribute(options=["auto"])
    attr.__set_name__(Box, "margin")
    assert table_calls.convert(attr, Box(), "auto") == "auto"
    attr.options.append("inherit")
    assert table_calls.convert(attr, Box(), "inherit") == "inherit"


class Units(str):
    """Its own slicing and splitting are what the conversion sees."""

    def __getitem__(self, index):
        return "px"

    def split(self):
        return ["1em", "2em"]


def test_string_subclasses_use_their_own_methods():
    assert table_calls.convert(Box.gap, Box(), Units("anything")) == ["1em", "2em"]
    value = Units("x")
    assert table_calls.appended(Box.gap, CONVERT_NUMERIC, Box(), value) is value


def test_splitting_into_itself_ends_in_recursion_error():
    class Endless(str):
        def split(self):
            return Endless("a b")

    with pytest.raises(RecursionError):
        table_calls.convert(Box.gap, Box(), Endless("a b"))


def test_variable_list_assignment_end_to_end():
    box = Box()
    box.padding = 10
    assert box.padding == [10, 10, 10, 10]
    assert Box.padding.attrvalue(box) == "10 10 10 10"
    box.padding = "1px 2px"
    assert Box.padding.attrvalue(box) == "1px 2px 1px 2px"
    box.padding = "inherit"
    assert Box.padding.attrvalue(box) == "inherit"
    box.padding = None
    assert Box.padding.attrvalue(box) == ""
    with pytest.raises(ValueError) as info:
        box.gap = (1, 2, 3)
    assert str(info.value) == "Box.gap must have 1 or 2 components (got (1, 2, 3))"
    box.gap = "3em"
    assert Box.gap.attrvalue(box) == "3em 3em"


# ------------------------------------------------------------------- collector

def test_length_field_takes_part_in_collection():
    check_field(lambda payload: _ListAttribute(length=payload))


def test_options_field_takes_part_in_collection():
    check_field(lambda payload: _VariableListAttribute(options=[payload]),
                read=lambda attr: attr.options)
