"""Assignment: convert, then check (a refusal keeps the old value), then
compare with the stored value, then store; reading returns the stored value."""

import pytest

from vora.core import properties as P
from vora.core._event import EventDispatcher
from vora_testing import core_subclass as native


class Logged:
    """A value whose comparison is logged, or raises when told to."""

    def __init__(self, log, equal=False, fail=False):
        self.log, self.equal, self.fail = log, equal, fail

    def __eq__(self, other):
        self.log.append("compare")
        if self.fail:
            raise RuntimeError("no comparison")
        return self.equal

    __hash__ = None


def logging_class(log):
    class Meta(type):
        def __instancecheck__(cls, value):
            log.append("check")
            return not getattr(value, "refused", False)

    return Meta("Accepted", (), {})


def owner_with(prop):
    class Owner(EventDispatcher):
        value = prop

    return Owner()


def set_value(obj, value):
    """obj.value = value, returning whether the stored value changed."""
    return type(obj).value.set(obj, value)


def test_order_check_then_compare_then_store():
    log = []
    obj = owner_with(P.ObjectProperty(baseclass=logging_class(log)))
    new = Logged(log)
    assert set_value(obj, new) is True
    assert log == ["check", "compare"]
    assert obj.value is new


def test_convert_comes_before_check():
    # The check alone would refuse text; the conversion makes it a number.
    obj = owner_with(P.NumericProperty())
    obj.value = "3px"
    assert obj.value == 3.0
    obj = owner_with(P.BooleanProperty())
    obj.value = 1
    assert obj.value is True


def test_refusal_keeps_old_value_and_units():
    obj = owner_with(P.BoundedNumericProperty(0, min=0, max=10))
    obj.value = "5em"
    with pytest.raises(ValueError) as info:
        obj.value = "11px"
    assert str(info.value) == "Owner.value is above the maximum bound (got 11.0)"
    assert obj.value == 5.0
    assert type(obj).value.get_units(obj) == "em"


def test_equal_value_is_not_stored():
    log = []
    obj = owner_with(P.Property())
    first = Logged(log, equal=True)
    obj.storage["value"].value = first
    second = Logged(log)
    assert set_value(obj, second) is False
    assert obj.value is first
    assert log == ["compare"]


def test_failing_comparison_stores_nothing():
    obj = owner_with(P.Property(0))
    obj.storage["value"].value = Logged([], fail=True)
    kept = obj.value
    with pytest.raises(RuntimeError, match="no comparison"):
        obj.value = 5
    assert obj.value is kept


@pytest.mark.parametrize("a, b, expected", [
    ("a", "".join(["a"]), True),
    (1, 1.0, True),
    ([1], [2], False),
])
def test_compare_value_is_equality(a, b, expected):
    prop = P.Property()
    assert native.compare_value(prop, a, b) is expected


def test_set_and_get_entries_of_the_table():
    obj = owner_with(P.StringProperty("a"))
    prop = type(obj).value
    assert native.set(prop, obj, "b") is True
    assert native.set(prop, obj, "b") is False
    assert native.get(prop, obj) == "b"


@pytest.mark.parametrize("allownone, expected", [(True, True), (False, False)])
def test_property_check_accepts_none_only_when_allowed(allownone, expected):
    prop = P.Property(allownone=allownone)
    assert native.check(prop, None, None) is expected
    assert native.check(prop, None, "x") is False
    obj = owner_with(prop)
    obj.value = None
    obj.value = 5  # Property itself never refuses
    assert obj.value == 5


def test_init_accepts_and_ignores_other_keywords():
    prop = P.Property("d", allownone=1, attrtype="style", attrname="x", sync=True,
                      options=["a"], values=["b"], format="css", length=2)
    assert (prop.defaultvalue, prop.allownone) == ("d", True)
    assert P.Property().defaultvalue is None
    with pytest.raises(TypeError) as info:
        P.Property(1, 2)
    assert str(info.value) == "__init__() takes at most 1 positional argument (2 given)"
    with pytest.raises(TypeError) as info:
        P.Property(1, defaultvalue=2)
    assert str(info.value) == "__init__() got multiple values for keyword argument 'defaultvalue'"


@pytest.mark.parametrize("prop, value, message", [
    (P.StringProperty(), 5, "Owner.value accept only str (got 5)"),
    (P.NumericProperty(), None, "Owner.value accept only int/float"),
    (P.NumericProperty(), True, "Owner.value accept only int/float"),
    (P.BooleanProperty(), "yes", "Owner.value accept only bool (got 'yes')"),
    (P.DictProperty(), [1], "Owner.value accept only dict (got [1])"),
    (P.ListProperty(), 5, "Owner.value accept only list (got 5)"),
    (P.ObjectProperty(baseclass=int), "x",
     "Owner.value is not an instance of its baseclass (got 'x')"),
    (P.OptionProperty("a", options=["a", "b"]), "c",
     "Owner.value is set to an invalid option (got 'c')"),
])
def test_refusals_name_owner_class_and_property(prop, value, message):
    obj = owner_with(prop)
    old = obj.value
    with pytest.raises(ValueError) as info:
        obj.value = value
    assert str(info.value) == message
    assert obj.value == old


def test_refusal_names_an_odd_property_name():
    obj = owner_with(P.StringProperty())
    type(obj).value.name = 3.5
    with pytest.raises(ValueError, match=r"^Owner\.3\.5 accept only str"):
        obj.value = 1
