"""_Attribute: keywords, options and values, per-owner options, check and
rendering."""

import pytest

from vora.core._attributes import _Attribute
from vora.core._event import EventDispatcher
from vora.core.properties import Property
from vora_testing import table_calls

from collector import check_field


class SpyBase(Property):
    """Records what the attribute hands to its base initialiser."""

    def __init__(self, *args, **kwargs):
        self.base_args = (args, kwargs)
        super().__init__(*args, **kwargs)


class Spied(_Attribute, SpyBase):
    pass


class Button(EventDispatcher):
    title = _Attribute(attrtype="element")
    align = _Attribute(attrtype="style", options=["left", "right"])
    size = _Attribute(attrtype="class", options=["sm", "lg"], values=["small", "large"])


def test_defaults():
    attr = Spied()
    attr.__set_name__(EventDispatcher, "label")
    assert (attr.attrtype, attr.attrname, attr.sync, attr.options, attr.values) == ("", "label", 0, [], {})
    assert attr.base_args == (("",), {"allownone": True})


def test_keywords_reach_the_base_with_allownone_forced():
    attr = Spied("x", attrtype="style", attrname="n", sync=True, options=("a",), values=["A"],
                 allownone=False, extra=3)
    assert attr.base_args == (("x",), {
        "attrtype": "style", "attrname": "n", "sync": True, "options": ("a",), "values": ["A"],
        "allownone": True, "extra": 3})
    assert Spied(defaultvalue="d").base_args == (("d",), {"allownone": True})


@pytest.mark.parametrize("kwargs, options, values", [
    ({"options": ["left", "right"]}, ["left", "right"], {"left": "left", "right": "right"}),
    ({"options": ["sm", "lg"], "values": ["small", "large"]}, ["sm", "lg"], {"sm": "small", "lg": "large"}),
    ({"values": ["x"]}, [], {}),
    ({"options": "ab"}, ["a", "b"], {"a": "a", "b": "b"}),
    ({"options": ("a", "b", "a"), "values": ("x", "y", "z")}, ["a", "b", "a"], {"a": "z", "b": "y"}),
])
def test_options_and_values(kwargs, options, values):
    attr = _Attribute(**kwargs)
    assert attr.options == options and type(attr.options) is list
    assert attr.values == values


def test_options_are_a_fresh_list():
    given = ["a"]
    attr = _Attribute(options=given)
    assert attr.options == given and attr.options is not given


@pytest.mark.parametrize("args, kwargs, error, message", [
    (("a", "b"), {}, TypeError, "__init__() takes at most 1 positional argument (2 given)"),
    (("a",), {"defaultvalue": "b"}, TypeError,
     "__init__() got multiple values for keyword argument 'defaultvalue'"),
    ((), {"options": ["a", "b"], "values": ["x"]}, AttributeError,
     "length mismatch between options and values lists"),
    ((), {"options": 5}, TypeError, "'int' object is not iterable"),
    ((), {"options": ["a"], "values": 5}, TypeError, "'int' object is not iterable"),
    ((), {"attrtype": 5}, TypeError, "Expected str, got int"),
])
def test_init_refusals(args, kwargs, error, message):
    with pytest.raises(error) as info:
        _Attribute(*args, **kwargs)
    assert str(info.value) == message


def test_failed_init_keeps_earlier_fields():
    attr = _Attribute.__new__(_Attribute)
    attr.__set_name__(EventDispatcher, "label")
    with pytest.raises(TypeError):
        attr.__init__(attrtype="style", attrname=5)
    assert attr.attrtype == "style" and attr.attrname == "label"


def test_non_string_keyword_names():
    with pytest.raises(TypeError) as info:
        _Attribute(**{1: 2})
    assert str(info.value) == "keywords must be strings"


def test_assignment_and_rendering():
    button = Button()
    assert button.title == "" and Button.title.attrvalue(button) == ""
    button.title = "Go"
    assert button.title == "Go" and Button.title.attrvalue(button) == "Go"
    button.title = None
    assert Button.title.attrvalue(button) == ""
    button.size = "lg"
    assert Button.size.attrvalue(button) == "large"


@pytest.mark.parametrize("value", [5, 1.5, b"x", ["a"]])
def test_only_strings_are_accepted(value):
    button = Button()
    with pytest.raises(ValueError) as info:
        button.title = value
    assert str(info.value) == "Button.title accept only str"
    assert button.title == ""


def test_invalid_option_keeps_the_old_value():
    button = Button()
    button.align = "right"
    with pytest.raises(ValueError) as info:
        button.align = "top"
    assert str(info.value) == (
        "Button.align is set to an invalid option 'top'. Must be one of: ['left', 'right']")
    assert button.align == "right"


class Text(str):
    pass


def test_string_subclasses_pass_the_type_test():
    button = Button()
    button.align = Text("left")
    assert Button.align.attrvalue(button) == "left"


def test_options_are_per_owner():
    first, second = Button(), Button()
    storage = first.storage[Button.align.key]
    assert storage.options == ["left", "right"]
    assert storage.options is not Button.align.options
    storage.options.append("top")
    first.align = "top"
    with pytest.raises(ValueError):
        second.align = "top"
    storage.options = None
    first.align = "anything"
    assert first.align == "anything"


def test_check_entry():
    button = Button()
    attr = Button.align
    assert table_calls.check(attr, button, None) is True
    assert table_calls.check(attr, button, "left") is None
    assert table_calls.check(Button.title, button, "free") is None
    button.storage[attr.key] = 5
    with pytest.raises(TypeError) as info:
        table_calls.check(attr, button, "left")
    assert str(info.value).endswith("Cannot convert int to vora.core.properties.PropertyStorage")
    del button.storage[attr.key]
    with pytest.raises(KeyError):
        table_calls.check(attr, button, "left")


class Equality:
    def __init__(self, result):
        self.result = result

    def __eq__(self, other):
        return self.result

    __hash__ = object.__hash__


def test_compare_value_entry():
    attr = Button.title
    a, b = "".join(["a", "b"]), "".join(["a", "b"])
    assert a is not b and table_calls.compare_value(attr, a, b) is True
    assert table_calls.compare_value(attr, "a", "b") is False
    marker = object()
    assert table_calls.compare_value(attr, Equality(marker), 1) is marker


def test_options_containment_uses_equality():
    class Owner(EventDispatcher):
        mode = _Attribute(options=[Equality(True)])

    owner = Owner()
    owner.mode = "anything equal"
    assert owner.mode == "anything equal"


def test_value_without_rendering_entry():
    class Owner(EventDispatcher):
        mode = _Attribute(options=["a"], values=["A"])

    owner = Owner()
    owner.storage[Owner.mode.key].value = "b"
    with pytest.raises(KeyError) as info:
        Owner.mode.attrvalue(owner)
    assert info.value.args == ("b",)



@pytest.mark.parametrize("make, read", [
    (lambda payload: _Attribute(options=[payload]), lambda attr: attr.options),
    (lambda payload: _Attribute(options=["a"], values=[payload]), lambda attr: attr.values),
], ids=["options", "values"])
def test_container_fields_take_part_in_collection(make, read):
    check_field(make, read)
