"""attrvalue of the list, variable list, boolean and logical attributes against
pure-Python descriptors that store per-owner values in a dict and render by
the same rules.

Typical values: padding [10, "5px", 10, "5px"], a three-item font list, a
true boolean flag (its name derived from the property name) and a false
logical attribute.
"""

from vora.core._attributes import (
    _BooleanAttribute, _ListAttribute, _LogicalAttribute, _VariableListAttribute)
from vora.core._event import EventDispatcher
from python_descriptor import PyDescriptor
from timing import Case, compare, goal


def _text(item):
    return item if type(item) is str else str(item)


class PyVariableList(PyDescriptor):
    def attrvalue(self, obj):
        value = self.values.get(obj)
        if value is None or isinstance(value, str):
            return value or ""
        return " ".join([_text(item) for item in value])


class PyList(PyDescriptor):
    def attrvalue(self, obj):
        value = self.values.get(obj)
        if not value:
            return ""
        return ", ".join([_text(item) for item in value])


class PyBoolean(PyDescriptor):
    def attrvalue(self, obj):
        return self.attrname if self.values.get(obj) else ""


class PyLogical(PyDescriptor):
    def attrvalue(self, obj):
        value = self.values.get(obj)
        if value is None:
            return ""
        return "true" if value else "false"


PADDING = [10, "5px", 10, "5px"]
FONTS = ["Arial", "Helvetica", "sans-serif"]


class Native(EventDispatcher):
    padding = _VariableListAttribute(attrtype="style")
    font_family = _ListAttribute(attrtype="style")
    read_only = _BooleanAttribute(attrtype="element")
    checked = _LogicalAttribute(attrtype="element")


class Python:
    padding = PyVariableList()
    font_family = PyList()
    read_only = PyBoolean()
    checked = PyLogical()


# The settings whose rendering is a lookup on top of the core's get: a name
# or a word, which a Python descriptor returns nearly as fast.
FLOOR_BOUND = ("read_only", "checked")


def main():
    native, python = Native(), Python()
    for owner in (native, python):
        owner.padding = PADDING
        owner.font_family = FONTS
        owner.read_only = True
        owner.checked = False
    pairs = [
        ("4-item variable list", "padding", "10 5px 10 5px"),
        ("3-item list", "font_family", "Arial, Helvetica, sans-serif"),
        ("boolean (true)", "read_only", "read-only"),
        ("logical (false)", "checked", "false"),
    ]
    met = True
    for title, name, expected in pairs:
        native_attr, python_attr = Native.__dict__[name], Python.__dict__[name]
        assert native_attr.attrvalue(native) == python_attr.attrvalue(python) == expected
        env = dict(n=native_attr, p=python_attr, native=native, python=python)
        cases = [
            Case("pure Python", "p.attrvalue(python)", env),
            Case("native", "n.attrvalue(native)", env),
        ]
        if hasattr(native_attr, "get"):
            # The floor under any native rendering: one method call reading
            # the stored value through the property machinery.
            cases.append(Case("native get alone", "n.get(native)", env))
        ns = compare(f"attrvalue: {title}", cases)
        if name in FLOOR_BOUND:
            # Little more than the get is left to do: the goal is the floor.
            ratio = ns[1] / ns[2]
            met &= goal(f"native within 1.3x of the get alone ({ratio:.2f}x)", ratio <= 1.3)
        else:
            ratio = ns[0] / ns[1]
            met &= goal(f"native at least 3x the pure-Python descriptor ({ratio:.2f}x)", ratio >= 3)
    return 0 if met else 1


if __name__ == "__main__":
    raise SystemExit(main())
