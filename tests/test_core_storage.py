"""Owners and their storage: one PropertyStorage per property, set up through
each property's own native table; Python subclasses of EventDispatcher."""

import pytest

from vora.core import properties as P
from vora.core._event import EventDispatcher
from vora_testing import core_subclass as native


class Base(EventDispatcher):
    title = P.StringProperty("untitled")
    size = P.NumericProperty(12, units="px")
    items = P.ListProperty([1, 2])


class Derived(Base):
    title = P.StringProperty("derived")  # replaces the inherited one
    size = 5                             # hides the inherited one
    flag = P.BooleanProperty(True)


def test_one_record_per_property_with_its_default():
    obj = Base()
    assert sorted(obj.storage) == ["items", "size", "title"]
    for key, record in obj.storage.items():
        assert type(record) is P.PropertyStorage
        assert record.options is None
    assert obj.storage["title"].value == "untitled"
    assert obj.title == "untitled"


def test_inherited_properties_replaced_and_hidden():
    obj = Derived()
    assert sorted(obj.storage) == ["flag", "items", "title"]
    assert obj.title == "derived"
    assert obj.size == 5
    # Each class has its own cached list.
    assert sorted(Base().storage) == ["items", "size", "title"]


def test_each_owner_gets_its_own_container():
    a, b = Base(), Base()
    assert a.items == b.items == [1, 2]
    assert a.items is not b.items
    assert a.items is not Base.items.defaultvalue
    a.items.append(3)
    assert b.items == [1, 2]


def test_class_access_returns_the_property_with_its_name_and_key():
    prop = Base.__dict__["title"]
    assert Base.title is prop
    assert (prop.name, prop.key) == ("title", "title")
    unbound = P.Property()
    assert (unbound.name, unbound.key) == ("", None)


def test_name_is_writable_and_key_stays():
    class Owner(EventDispatcher):
        value = P.Property(1)

    Owner.value.name = 42
    assert Owner.value.name == 42
    assert Owner.value.key == "value"
    assert Owner().value == 1
    with pytest.raises(AttributeError):
        Owner.value.key = "other"


def test_property_set_on_the_class_later_is_named_by_its_attribute():
    class Late(EventDispatcher):
        pass

    Late.extra = P.Property("x")
    obj = Late()
    assert obj.extra == "x"
    assert Late.extra.name == "extra"


def test_one_property_under_two_names_has_one_record():
    shared = P.Property(0)

    class Twice(EventDispatcher):
        a = shared
        b = shared

    obj = Twice()
    assert list(obj.storage) == ["a"]
    obj.b = 7
    assert obj.a == 7


def test_keywords_give_first_values():
    obj = Base(title="given", size="2em")
    assert obj.title == "given"
    assert obj.size == 2.0
    assert Base.size.get_units(obj) == "em"


@pytest.mark.parametrize("args, kwargs, message", [
    ((1,), {}, "__init__() takes exactly 0 positional arguments (1 given)"),
    ((), {"nope": 1}, "__init__() got an unexpected keyword argument 'nope'"),
    ((), {"register_event": 1}, "__init__() got an unexpected keyword argument 'register_event'"),
])
def test_init_refuses_what_is_no_property(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        Base(*args, **kwargs)
    assert str(info.value) == message


def test_python_subclass_with_its_own_init_and_register_event():
    calls = []

    class Element(EventDispatcher):
        title = P.StringProperty("")

        def __init__(self, text, **kwargs):
            super().__init__(**kwargs)
            self.text = text

        def register_event(self, name, client=False):
            calls.append((name, client))
            return super().register_event(name, client=client)

    obj = Element("hello", title="t")
    assert (obj.text, obj.title) == ("hello", "t")
    obj.register_event("on_click", client=True)
    assert calls == [("on_click", True)]
    assert obj.events == {"on_click": True}


def test_register_event_records_client_events():
    obj = EventDispatcher()
    obj.register_event("on_a")
    obj.register_event("on_b", client=True)
    obj.register_event("on_b")          # a client event stays one
    obj.register_event("on_a", True)
    assert dict(obj.events) == {"on_a": True, "on_b": True}
    with pytest.raises(TypeError):
        obj.events["on_c"] = True
    with pytest.raises(TypeError, match="Expected str, got int"):
        obj.register_event(5)
    native.register_event(obj, "on_native", False)
    assert obj.events["on_native"] is False


def test_replaced_init_storage_runs_through_the_own_table():
    class Traced(EventDispatcher):
        value = native.TracingProperty(3)

    a, b = Traced(), Traced()
    assert Traced.value.log == [a.storage["value"], b.storage["value"]]
    assert a.value == 3


def test_init_storage_failure_propagates_out_of_construction():
    class Traced(EventDispatcher):
        value = native.TracingProperty(3)

    Traced.value.fail = "refused"
    with pytest.raises(RuntimeError, match="^refused$"):
        Traced()
    Traced.value.fail = None
    assert Traced().value == 3


def test_conversion_of_the_default_can_fail_construction():
    class Broken(EventDispatcher):
        size = P.NumericProperty("twelve")

    with pytest.raises(ValueError) as info:
        Broken()
    assert str(info.value) == "Broken.size has an invalid format (got 'twelve')"


def test_owner_without_the_key():
    class Other(EventDispatcher):
        pass

    obj = Other()
    with pytest.raises(KeyError) as info:
        Base.title.__get__(obj, Other)
    assert info.value.args == ("title",)
    with pytest.raises(KeyError):
        Base.title.__set__(obj, "x")
    with pytest.raises(KeyError):
        Base.size.get_units(obj)
    with pytest.raises(TypeError, match="Expected EventDispatcher, got NoneType"):
        Base.title.get(None)


def test_foreign_entry_in_storage_is_refused():
    obj = Base()
    obj.storage["title"] = "not a record"
    with pytest.raises(TypeError, match="Expected PropertyStorage, got str"):
        obj.title


def test_delete_is_refused():
    obj = Base()
    with pytest.raises(AttributeError) as info:
        del obj.title
    assert str(info.value) == "Base.title cannot be deleted"
    assert obj.title == "untitled"


def test_property_storage_attributes():
    record = P.PropertyStorage()
    assert (record.value, record.options, record.units) == (None, None, None)
    record.value = [1]
    record.options = ["a"]
    record.units = "px"
    assert (record.value, record.options, record.units) == ([1], ["a"], "px")
    with pytest.raises(TypeError, match="Expected list, got tuple"):
        record.options = ("a",)
    with pytest.raises(TypeError, match="Expected str, got int"):
        record.units = 5
    with pytest.raises(TypeError):
        del record.value
    with pytest.raises(TypeError, match="takes no arguments"):
        P.PropertyStorage(1)


def test_property_storage_entry_of_the_dispatcher_table():
    obj = Base()
    assert native.property_storage(obj, "title") is obj.storage["title"]
    with pytest.raises(KeyError):
        native.property_storage(obj, "missing")
    with pytest.raises(KeyError) as info:
        native.property_storage(obj, ("a", "b"))
    assert info.value.args == (("a", "b"),)
