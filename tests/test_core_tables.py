"""Published native tables and record sizes: what native subclasses in other
modules build on."""

import ctypes

import pytest

from vora.core import _event as E
from vora.core import properties as P
from vora_testing import core_subclass as native

capsule_name = ctypes.pythonapi.PyCapsule_GetName
capsule_name.restype = ctypes.c_char_p
capsule_name.argtypes = [ctypes.py_object]
capsule_pointer = ctypes.pythonapi.PyCapsule_GetPointer
capsule_pointer.restype = ctypes.c_void_p
capsule_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]

PROPERTY_TYPES = [
    "Property", "NumericProperty", "BoundedNumericProperty", "BooleanProperty", "ListProperty",
    "VariableListProperty", "StringProperty", "DictProperty", "ObjectProperty", "OptionProperty",
    "ReferenceListProperty", "AliasProperty", "ColorProperty",
]
NUMERIC = {"NumericProperty", "BoundedNumericProperty"}

# Entries a type replaces in the table of the type it copies from.
REPLACED = {
    ("NumericProperty", "Property"): {13, 14},
    ("BoundedNumericProperty", "NumericProperty"): {13},
    ("BooleanProperty", "Property"): {13, 14},
    ("ListProperty", "Property"): {13, 14},
    ("VariableListProperty", "Property"): {14},
    ("StringProperty", "Property"): {13},
    ("DictProperty", "Property"): {13, 14},
    ("ObjectProperty", "Property"): {13},
    ("OptionProperty", "Property"): {13},
    ("ReferenceListProperty", "Property"): {11, 12},
    ("AliasProperty", "Property"): {11, 12},
    ("ColorProperty", "Property"): {14},
}


def entries(type_, count):
    return native.table_entries(type_, count)


def differing(a, b):
    return {i for i, (x, y) in enumerate(zip(a, b)) if x != y}


@pytest.mark.parametrize("type_", [getattr(P, n) for n in PROPERTY_TYPES]
                         + [E.EventDispatcher, E.EventObservers])
def test_table_is_an_unnamed_capsule_in_the_type_dict(type_):
    capsule = type_.__dict__["__pyx_vtable__"]
    assert type(capsule).__name__ == "PyCapsule"
    assert capsule_name(capsule) is None
    assert capsule_pointer(capsule, None)


def test_property_table_entries():
    table = entries(P.Property, 16)
    assert all(table[i] for i in (0, 10, 11, 12, 13, 14, 15))
    assert not any(table[1:10])  # reserved places


@pytest.mark.parametrize("derived, base", REPLACED)
def test_tables_copy_their_base(derived, base):
    count = 18 if base in NUMERIC else 16
    mine = entries(getattr(P, derived), count)
    assert differing(mine, entries(getattr(P, base), count)) == REPLACED[derived, base]


def test_numeric_tables_append_the_parsers():
    numeric = entries(P.NumericProperty, 18)
    bounded = entries(P.BoundedNumericProperty, 18)
    assert numeric[16] and numeric[17]
    assert bounded[16:] == numeric[16:]


def test_native_subclass_tables():
    assert differing(entries(native.TracingProperty, 16), entries(P.Property, 16)) == {0}
    assert differing(entries(native.FixedParseNumeric, 18),
                     entries(P.NumericProperty, 18)) == {16}


def test_event_tables():
    assert all(entries(E.EventDispatcher, 2))
    assert all(entries(E.EventObservers, 3))


@pytest.mark.parametrize("name, size", sorted(native.record_sizes().items()))
def test_instance_sizes_equal_the_shared_records(name, size):
    type_ = getattr(P, name, None) or getattr(E, name)
    assert type_.__basicsize__ == size


@pytest.mark.parametrize("name", PROPERTY_TYPES + ["PropertyStorage", "ObservableList"])
def test_module_and_names(name):
    type_ = getattr(P, name)
    assert (type_.__module__, type_.__qualname__) == ("vora.core.properties", name)


@pytest.mark.parametrize("name", PROPERTY_TYPES)
def test_property_types_are_subclassable_collector_types(name):
    type_ = getattr(P, name)
    flags = type_.__flags__
    assert flags & (1 << 10)  # Py_TPFLAGS_BASETYPE
    assert flags & (1 << 14)  # Py_TPFLAGS_HAVE_GC


@pytest.mark.parametrize("name", PROPERTY_TYPES)
def test_allocation_accepts_any_arguments(name):
    type_ = getattr(P, name)
    obj = type_.__new__(type_, 1, 2, three=3)
    assert type(obj) is type_
