"""The attribute module as a whole: its namespace, its types' common shape,
and what loading does when the framework core is not what it was built for."""

import copy
import pickle
import subprocess
import sys
import textwrap

import pytest

import vora.core._attributes as attributes
from vora.core._event import EventDispatcher
from vora_testing import table_calls

from attribute_docstrings import DOCSTRINGS

# Each type, its base type, and the slot of attrvalue in its table.
ALL_TYPES = [
    ("_Attribute", "Property", table_calls.ATTRIBUTE_ATTRVALUE),
    ("_NumericAttribute", "NumericProperty", table_calls.NUMERIC_ATTRVALUE),
    ("_BoundedNumericAttribute", "BoundedNumericProperty", table_calls.NUMERIC_ATTRVALUE),
    ("_BooleanAttribute", "BooleanProperty", table_calls.ATTRIBUTE_ATTRVALUE),
    ("_LogicalAttribute", "BooleanProperty", table_calls.ATTRIBUTE_ATTRVALUE),
    ("_VariableListAttribute", "VariableListProperty", table_calls.VARIABLE_LIST_ATTRVALUE),
    ("_ListAttribute", "ListProperty", table_calls.ATTRIBUTE_ATTRVALUE),
    ("_ColorAttribute", "Property", table_calls.COLOR_ATTRVALUE),
    ("_GenericEventAttribute", "BooleanProperty", table_calls.ATTRIBUTE_ATTRVALUE),
]
TYPE_NAMES = [name for name, _, _ in ALL_TYPES]
EVENT_DISPATCHER = f"{EventDispatcher.__module__}.{EventDispatcher.__qualname__}"


def test_namespace():
    assert attributes.__all__ == (
        "_Attribute", "_NumericAttribute", "_BoundedNumericAttribute", "_BooleanAttribute",
        "_VariableListAttribute", "_ColorAttribute", "_GenericEventAttribute",
    )
    namespace = {}
    exec("from vora.core._attributes import *", namespace)
    assert sorted(set(namespace) - {"__builtins__"}) == sorted(attributes.__all__)
    assert attributes.__test__ == {}
    assert attributes.__doc__ is None
    import builtins
    assert attributes.__builtins__ is builtins
    from vora.core import properties, utils
    assert attributes.ObservableList is properties.ObservableList
    assert attributes.CSS_LENGTH_UNITS is properties.CSS_LENGTH_UNITS
    assert attributes.get_color_from_hex_255 is utils.get_color_from_hex_255


@pytest.mark.parametrize("name, base, _", ALL_TYPES)
def test_type_shape(name, base, _):
    from vora.core import properties
    cls = getattr(attributes, name)
    assert cls.__module__ == "vora.core._attributes"
    assert cls.__qualname__ == name
    assert cls.__base__ is getattr(properties, base)
    assert cls.__doc__ == DOCSTRINGS[name]
    method = cls.__dict__["attrvalue"]
    assert method.__qualname__ == f"{name}.attrvalue"
    assert method.__name__ == "attrvalue"
    assert method.__module__ == "vora.core._attributes"
    assert "__reduce__" in cls.__dict__ and "__setstate__" in cls.__dict__

    class Sub(cls):
        pass

    assert isinstance(Sub(), cls)


@pytest.mark.parametrize("name", TYPE_NAMES)
def test_pickling_and_copying_refused(name):
    attr = getattr(attributes, name)()
    message = "no default __reduce__ due to non-trivial __cinit__"
    for action in (pickle.dumps, copy.copy, copy.deepcopy):
        with pytest.raises(TypeError) as info:
            action(attr)
        assert str(info.value) == message
    with pytest.raises(TypeError) as info:
        attr.__setstate__({})
    assert str(info.value) == message


@pytest.mark.parametrize("name", TYPE_NAMES)
def test_common_members_are_read_only(name):
    attr = getattr(attributes, name)()
    for member in ("attrtype", "sync", "attrname"):
        with pytest.raises(AttributeError):
            setattr(attr, member, "x")
    assert type(attr.sync) is int


@pytest.mark.parametrize("name", TYPE_NAMES)
def test_attrvalue_arguments(name):
    attr = getattr(attributes, name)()
    with pytest.raises(TypeError) as info:
        attr.attrvalue(5)
    assert str(info.value) == (
        f"Argument 'obj' has incorrect type (expected {EVENT_DISPATCHER}, got int)")
    for args, given in (((), 0), ((None, None), 2)):
        with pytest.raises(TypeError) as info:
            attr.attrvalue(*args)
        assert str(info.value) == f"attrvalue() takes exactly 1 positional argument ({given} given)"
    for kwargs in ({"other": 1}, {"owner": None}):
        with pytest.raises(TypeError) as info:
            attr.attrvalue(*(() if "owner" in kwargs else (None,)), **kwargs)
        assert str(info.value) == f"attrvalue() got an unexpected keyword argument '{next(iter(kwargs))}'"


@pytest.mark.parametrize("stored, name, expected", [
    ("", "font_size", "font-size"),
    (None, "data_tab_index", "data-tab-index"),
    ("", "title", "title"),
    ("aria-label", "anything_else", "aria-label"),
])
@pytest.mark.parametrize("type_name", TYPE_NAMES)
def test_attrname_resolution(type_name, stored, name, expected):
    cls = getattr(attributes, type_name)
    attr = cls(attrname=stored)
    attr.__set_name__(EventDispatcher, name)
    assert attr.attrname == expected
    if stored:
        assert attr.attrname is stored


@pytest.mark.parametrize("type_name", TYPE_NAMES)
def test_attrname_name_errors(type_name):
    cls = getattr(attributes, type_name)

    class Unnamed(cls):
        name = None

    with pytest.raises(AttributeError) as info:
        Unnamed().attrname
    assert str(info.value) == "'NoneType' object has no attribute 'replace'"

    class Numbered(cls):
        name = 5

    # The name is read and tested before the stored attrname is looked at.
    with pytest.raises(TypeError) as info:
        Numbered(attrname="given").attrname
    assert str(info.value) == "Expected str, got int"

    class Failing(cls):
        @property
        def name(self):
            raise LookupError("no name")

    with pytest.raises(LookupError):
        Failing(attrname="given").attrname


@pytest.mark.parametrize("value, expected", [
    (True, 1), (False, 0), (2.9, 2), (-7, -7), (2**31 - 1, 2**31 - 1),
])
@pytest.mark.parametrize("type_name", TYPE_NAMES)
def test_sync_conversion(type_name, value, expected):
    attr = getattr(attributes, type_name)(sync=value)
    assert attr.sync == expected and type(attr.sync) is int


class IntReturnsText:
    def __int__(self):
        return "7"


@pytest.mark.parametrize("value, error, message", [
    ("1", TypeError, "an integer is required"),
    (None, TypeError, "an integer is required"),
    (IntReturnsText(), TypeError, "__int__ returned non-int (type str)"),
    (2**31, OverflowError, None),
    (-2**31 - 1, OverflowError, None),
])
@pytest.mark.parametrize("type_name", TYPE_NAMES)
def test_sync_refused(type_name, value, error, message):
    with pytest.raises(error) as info:
        getattr(attributes, type_name)(sync=value)
    if message:
        assert str(info.value) == message


@pytest.mark.parametrize("keyword", ["attrtype", "attrname"])
@pytest.mark.parametrize("type_name", TYPE_NAMES)
def test_str_keywords(type_name, keyword):
    cls = getattr(attributes, type_name)
    cls(**{keyword: None})
    assert cls(attrtype=None).attrtype is None

    class Text(str):
        pass

    for value, got in ((5, "int"), (Text("x"), "Text"), (b"x", "bytes")):
        with pytest.raises(TypeError) as info:
            cls(**{keyword: value})
        assert str(info.value) == f"Expected str, got {got}"


class Widget(EventDispatcher):
    pass


@pytest.mark.parametrize("type_name, _, slot", ALL_TYPES)
def test_native_entry_calls_python_override(type_name, _, slot):
    calls = []

    class Custom(getattr(attributes, type_name)):
        def attrvalue(self, obj):
            calls.append(obj)
            return ["rendered", obj]

    attr = Custom()
    owner = Widget()
    # Native code reaches the override through the table entry...
    assert table_calls.attrvalue(attr, slot, owner) == ["rendered", owner]
    # ...and so do Python callers.
    assert attr.attrvalue(None) == ["rendered", None]
    assert calls == [owner, None]


def run_isolated(code):
    """Runs code in a fresh interpreter; returns its stderr's last line."""
    result = subprocess.run(
        [sys.executable, "-P", "-c", textwrap.dedent(code)],
        capture_output=True, text=True, timeout=60)
    assert result.returncode != 0, result.stdout
    return result.stderr.strip().splitlines()[-1]


# Replaces vora.core.properties by a copy of the real module in which one
# name is changed, then imports the attribute module.
LOAD_WITH = """
    import sys, types, warnings
    import vora.core._event
    import vora.core.properties as real
    fake = types.ModuleType("vora.core.properties")
    fake.__dict__.update(real.__dict__)
    {change}
    sys.modules["vora.core.properties"] = fake
    {before}
    import vora.core._attributes
"""


def load_with(change, before=""):
    return run_isolated(LOAD_WITH.format(change=change, before=before))


def expected_property_size():
    import re
    line = load_with("class Property: pass\n    fake.Property = Property")
    return int(re.search(r"Expected (\d+) from C header", line).group(1))


def test_load_refuses_smaller_base_type():
    line = load_with("class Property: pass\n    fake.Property = Property")
    assert line.startswith(
        "ValueError: vora.core.properties.Property size changed, may indicate binary "
        "incompatibility. Expected ")
    assert line.endswith(" from C header, got 16 from PyObject")


def test_load_warns_for_larger_base_type_and_needs_its_table():
    slots = (expected_property_size() - 16) // 8
    same = f"class Property: __slots__ = tuple('s%d' % i for i in range({slots}))\n"
    larger = f"class Property: __slots__ = tuple('s%d' % i for i in range({slots + 1}))\n"
    line = load_with(larger + "    fake.Property = Property",
                     "warnings.simplefilter('error', RuntimeWarning)")
    assert line.startswith("RuntimeWarning: vora.core.properties.Property size changed")
    line = load_with(same + "    fake.Property = Property")
    assert line == "KeyError: '__pyx_vtable__'"


def test_load_refuses_a_non_type():
    line = load_with("fake.Property = 5")
    assert line == "TypeError: vora.core.properties.Property is not a type object"


def test_load_needs_every_imported_name():
    line = load_with("del fake.ObservableList")
    assert line == "ImportError: cannot import name ObservableList"


def test_load_failure_names_the_module_in_the_traceback():
    result = subprocess.run(
        [sys.executable, "-P", "-c", textwrap.dedent(LOAD_WITH.format(
            change="fake.Property = 5", before=""))],
        capture_output=True, text=True, timeout=60)
    assert "init vora.core._attributes" in result.stderr


def test_import_twice_is_the_same_module():
    import importlib
    assert importlib.import_module("vora.core._attributes") is attributes
    assert importlib.reload(attributes) is attributes
