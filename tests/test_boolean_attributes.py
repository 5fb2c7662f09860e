"""_BooleanAttribute and _LogicalAttribute: keywords handed to the base,
allownone, and the rendering of every kind of stored truth value."""

import pytest

from vora.core._attributes import _BooleanAttribute, _LogicalAttribute
from vora.core._event import EventDispatcher
from vora.core.properties import BooleanProperty


class SpyBase(BooleanProperty):
    """Records what the attribute hands to its base initialiser."""

    def __init__(self, *args, **kwargs):
        self.base_args = (args, kwargs)
        super().__init__(*args[:1], **kwargs)  # the base takes one at most


class SpiedBoolean(_BooleanAttribute, SpyBase):
    pass


class SpiedLogical(_LogicalAttribute, SpyBase):
    pass


class Form(EventDispatcher):
    read_only = _BooleanAttribute(attrtype="element")
    disabled = _BooleanAttribute(attrname="disabled-flag", sync=True)
    checked = _LogicalAttribute(attrtype="element")


def store(owner, attr, value):
    """Puts value in the owner's record as it is, past check and convert."""
    owner.storage[attr.key].value = value


def test_defaults():
    for cls in (_BooleanAttribute, _LogicalAttribute):
        attr = cls()
        assert (attr.attrtype, attr.attrname, attr.sync) == ("", "", 0)


@pytest.mark.parametrize("kwargs, boolean_gets, logical_gets", [
    ({}, {}, {"allownone": True}),
    ({"allownone": False}, {"allownone": False}, {"allownone": True}),
    ({"allownone": True}, {"allownone": True}, {"allownone": True}),
    ({"attrtype": "style", "sync": 1, "attrname": "x", "other": 5},
     {"attrtype": "style", "sync": 1, "attrname": "x", "other": 5},
     {"attrtype": "style", "sync": 1, "attrname": "x", "other": 5, "allownone": True}),
])
def test_base_receives_arguments(kwargs, boolean_gets, logical_gets):
    assert SpiedBoolean(True, **kwargs).base_args == ((True,), boolean_gets)
    assert SpiedLogical(True, **kwargs).base_args == ((True,), logical_gets)


@pytest.mark.parametrize("cls", [SpiedBoolean, SpiedLogical])
def test_positional_arguments_pass_unchanged(cls):
    assert cls().base_args[0] == ()
    assert cls(False, "extra").base_args[0] == (False, "extra")


@pytest.mark.parametrize("cls", [_BooleanAttribute, _LogicalAttribute])
def test_failed_init_keeps_earlier_fields(cls):
    attr = cls.__new__(cls)
    with pytest.raises(TypeError) as info:
        attr.__init__(attrtype="style", attrname="n", sync="1")
    assert str(info.value) == "an integer is required"
    assert (attr.attrtype, attr.attrname, attr.sync) == ("style", "n", 0)


@pytest.mark.parametrize("sync, expected", [(1, 1), (False, 0)])
def test_sync_reads_back(sync, expected):
    assert _BooleanAttribute(sync=sync).sync == expected
    assert _LogicalAttribute(sync=sync).sync == expected


class Truth:
    def __init__(self, value):
        self.value = value

    def __bool__(self):
        if isinstance(self.value, Exception):
            raise self.value
        return self.value


TRUE = [True, 1, -1, 2.5, "x", "false", [0], (None,), {"": 0}, Truth(True)]
FALSE = [False, 0, 0.0, "", [], (), {}, Truth(False)]


@pytest.mark.parametrize("value", TRUE)
def test_boolean_renders_name_when_true(value):
    form = Form()
    store(form, Form.read_only, value)
    store(form, Form.disabled, value)
    assert Form.read_only.attrvalue(form) == "read-only"
    assert Form.disabled.attrvalue(form) == "disabled-flag"


@pytest.mark.parametrize("value", [None] + FALSE)
def test_boolean_renders_nothing_when_false(value):
    form = Form()
    store(form, Form.read_only, value)
    assert Form.read_only.attrvalue(form) == ""


@pytest.mark.parametrize("value, expected",
                         [(None, "")] + [(v, "true") for v in TRUE] + [(v, "false") for v in FALSE])
def test_logical_rendering(value, expected):
    form = Form()
    store(form, Form.checked, value)
    assert Form.checked.attrvalue(form) == expected


@pytest.mark.parametrize("attr", [Form.read_only, Form.checked])
def test_failing_truth_test_propagates(attr):
    form = Form()
    store(form, attr, Truth(LookupError("no truth")))
    with pytest.raises(LookupError):
        attr.attrvalue(form)


def test_assignment_end_to_end():
    form = Form()
    assert (Form.read_only.attrvalue(form), Form.checked.attrvalue(form)) == ("", "false")
    form.read_only = True
    form.checked = True
    assert (Form.read_only.attrvalue(form), Form.checked.attrvalue(form)) == ("read-only", "true")
    # allownone is forced for the logical attribute only.
    form.checked = None
    assert Form.checked.attrvalue(form) == ""
    with pytest.raises(ValueError):
        form.read_only = None
    assert form.read_only is True


def test_boolean_reads_attrname_as_python_would():
    class Renamed(_BooleanAttribute):
        @property
        def attrname(self):
            return 5  # no type test on what the lookup gives

    class Unnamed(_BooleanAttribute):
        name = None

    class Owner(EventDispatcher):
        flag = Renamed()
        missing = Unnamed()

    owner = Owner()
    store(owner, Owner.flag, True)
    assert Owner.flag.attrvalue(owner) == 5
    store(owner, Owner.missing, True)
    with pytest.raises(AttributeError) as info:
        Owner.missing.attrvalue(owner)
    assert str(info.value) == "'NoneType' object has no attribute 'replace'"
    store(owner, Owner.missing, False)
    assert Owner.missing.attrvalue(owner) == ""


def test_collector_sees_no_string_fields():
    import gc
    attr = _BooleanAttribute(attrtype="element-type", attrname="explicit-name")
    assert gc.is_tracked(attr)
    referents = gc.get_referents(attr)
    assert not any(r is attr.attrtype for r in referents)
