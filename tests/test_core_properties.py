"""The other property types: boolean, list, variable list, dict, object,
option, colour, reference list and alias."""

import pytest

from vora.core import properties as P
from vora.core._event import EventDispatcher
from vora_testing import core_subclass as native


class Box(EventDispatcher):
    on = P.BooleanProperty()
    items = P.ListProperty()
    padding = P.VariableListProperty()
    axes = P.VariableListProperty(length=2)
    data = P.DictProperty()
    color = P.ColorProperty()
    x = P.NumericProperty(1)
    y = P.NumericProperty(2)
    pos = P.ReferenceListProperty(x, y)


@pytest.fixture
def box():
    return Box()


@pytest.mark.parametrize("value, stored", [
    (True, True), (False, False), (1, True), (0, False),
])
def test_boolean(box, value, stored):
    box.on = value
    assert box.on is stored


@pytest.mark.parametrize("value", [2, "yes", None, 1.0])
def test_boolean_refusals(box, value):
    with pytest.raises(ValueError, match=r"^Box\.on accept only bool"):
        box.on = value


@pytest.mark.parametrize("value", [[1, "a"], (1, "a"), P.ObservableList([1, "a"])])
def test_list_becomes_a_new_observable_list(box, value):
    box.items = value
    assert type(box.items) is P.ObservableList
    assert box.items == [1, "a"]
    assert box.items is not value


def test_observable_list_is_a_list():
    assert issubclass(P.ObservableList, list)
    assert P.ObservableList("ab") == ["a", "b"]
    assert Box().items == [] and type(Box().items) is P.ObservableList


def reference_expand(value, length):
    """The variable list rule, stated plainly."""
    if not isinstance(value, (list, tuple)):
        return [value] * length
    if len(value) in (1, 2) or len(value) == length == 4:
        return [value[i % len(value)] for i in range(length)]
    return None


@pytest.mark.parametrize("value", [
    7, 2.5, "1px", [7], (1, 2), [1, 2, 3, 4], [], [1, 2, 3], (1, 2, 3, 4, 5),
])
@pytest.mark.parametrize("name, length", [("padding", 4), ("axes", 2)])
def test_variable_list_expansion(box, value, name, length):
    expected = reference_expand(value, length)
    if expected is None:
        with pytest.raises(ValueError) as info:
            setattr(box, name, value)
        counts = "1, 2 or 4" if length == 4 else "1 or 2"
        assert str(info.value) == f"Box.{name} must have {counts} components (got {value!r})"
    else:
        setattr(box, name, value)
        assert getattr(box, name) == expected


def test_variable_list_length_and_default():
    assert (Box.padding.length, Box.axes.length) == (4, 2)
    assert (Box().padding, Box().axes) == ([0, 0, 0, 0], [0, 0])
    assert P.VariableListProperty(None, length=2).defaultvalue is None
    for bad in (3, 0, 2**70):
        with pytest.raises(ValueError, match="^length must be 2 or 4"):
            P.VariableListProperty(length=bad)
    with pytest.raises(TypeError):
        P.VariableListProperty(length="4")


def test_variable_list_accepts_what_its_check_does_not_narrow(box):
    box.padding = None
    assert box.padding is None


def test_dict_is_copied(box):
    given = {"a": 1}
    box.data = given
    assert box.data == given and box.data is not given


@pytest.mark.parametrize("value, stored", [
    ("#ff0000", [1.0, 0.0, 0.0, 1.0]),
    ("00ff0080", [0.0, 1.0, 0.0, 128 / 255]),
    ((0.5, 0.5, 0.5), [0.5, 0.5, 0.5, 1.0]),
    ([0, 0, 0, 0.25], [0.0, 0.0, 0.0, 0.25]),
    (None, None),
])
def test_color(box, value, stored):
    box.color = value
    assert box.color == stored


@pytest.mark.parametrize("value", ["red", [1, 2], (1, 2, "x"), 5, [True, 0, 0]])
def test_color_refusals(box, value):
    with pytest.raises(ValueError) as info:
        box.color = value
    assert str(info.value) == f"Box.color has an invalid format (got {value!r})"


def test_object_and_option_keywords():
    assert P.ObjectProperty(baseclass=int).baseclass is int
    assert P.OptionProperty(options="ab").options == ["a", "b"]
    assert P.OptionProperty().options == []


def test_reference_list(box):
    assert box.pos == [1, 2]
    box.pos = ("3px", 4)
    assert (box.x, box.y, box.pos) == (3.0, 4, [3.0, 4])
    assert Box.x.get_units(box) == "px"
    with pytest.raises(ValueError, match="one component per referenced property"):
        box.pos = [1]
    with pytest.raises(ValueError, match="^Box.y accept only int/float$"):
        box.pos = [5, {}]
    assert Box.pos.properties == (Box.x, Box.y)
    with pytest.raises(TypeError, match="Expected Property, got int"):
        P.ReferenceListProperty(Box.x, 5)


def test_alias():
    log = []

    class Aliased(EventDispatcher):
        double = P.AliasProperty(lambda obj: obj.base * 2,
                                 lambda obj, value: log.append(value))
        fixed = P.AliasProperty(lambda obj: "fixed")

    obj = Aliased()
    obj.base = 4
    assert (obj.double, obj.fixed) == (8, "fixed")
    obj.double = 3
    assert log == [3]
    with pytest.raises(AttributeError, match=r"^Aliased\.fixed is read-only$"):
        obj.fixed = 1
    with pytest.raises(TypeError, match="getter must be callable"):
        P.AliasProperty(5)


@pytest.mark.parametrize("kind, default", [
    (P.Property, None), (P.NumericProperty, 0), (P.BoundedNumericProperty, 0),
    (P.BooleanProperty, False), (P.StringProperty, ""), (P.ListProperty, []),
    (P.DictProperty, {}), (P.ObjectProperty, None), (P.OptionProperty, None),
    (P.ColorProperty, [1.0, 1.0, 1.0, 1.0]), (P.VariableListProperty, [0, 0, 0, 0]),
])
def test_defaults_and_unknown_keywords(kind, default):
    prop = kind(attrtype="style", sync=1, options=["x"], format="css", whatever=object())
    assert prop.defaultvalue == default
    assert kind(7).defaultvalue == 7


def test_python_subclasses_of_property_types():
    class Percent(P.NumericProperty):
        def describe(self):
            return f"{self.name} in %"

    class Owner(EventDispatcher):
        share = Percent(50)

    obj = Owner()
    obj.share = "25%"
    assert (obj.share, Owner.share.get_units(obj)) == (25.0, "%")
    assert Owner.share.describe() == "share in %"
    assert native.convert(Owner.share, obj, 3) == 3
