"""_Attribute against pure-Python descriptors with the same rules: rendering
an element's value (attrvalue) and assigning through the property.

Two Python baselines: the same attribute written in Python on the framework's
own Property (what the native type replaces: same property system, same
storage), and a minimal self-contained descriptor that keeps values in the
owner's __dict__ (the cheapest Python can do, for reference).
"""

from timing import Case, compare, goal
from vora.core._attributes import _Attribute
from vora.core._event import EventDispatcher
from vora.core.properties import Property


class PyPropertyAttribute(Property):
    """The string attribute's rendering in Python, on the framework's Property."""

    def __init__(self, defaultvalue="", options=(), values=(), **kwargs):
        super().__init__(defaultvalue, allownone=True, **kwargs)
        self.options = list(options)
        self.values = dict(zip(self.options, list(values) or self.options)) if options else {}

    def attrvalue(self, obj):
        value = self.__get__(obj, None)
        if value is None:
            return ""
        if self.values:
            return self.values[value]
        return value


class PyAttribute:
    """The string attribute's rules in Python: str values, optional options
    rendered through values, None renders as nothing."""

    def __init__(self, defaultvalue="", options=(), values=()):
        self.defaultvalue = defaultvalue
        self.options = list(options)
        self.values = dict(zip(self.options, list(values) or self.options)) if options else {}

    def __set_name__(self, owner, name):
        self.name = name

    def __get__(self, obj, owner=None):
        if obj is None:
            return self
        return obj.__dict__.get(self.name, self.defaultvalue)

    def __set__(self, obj, value):
        if value is not None:
            if not isinstance(value, str):
                raise ValueError(f"{type(obj).__name__}.{self.name} accept only str")
            if self.options and value not in self.options:
                raise ValueError(f"{type(obj).__name__}.{self.name} is set to an invalid option")
        obj.__dict__[self.name] = value

    def attrvalue(self, obj):
        value = self.__get__(obj)
        if value is None:
            return ""
        if self.values:
            return self.values[value]
        return value


class Native(EventDispatcher):
    title = _Attribute(attrtype="element")
    size = _Attribute(attrtype="class", options=["sm", "lg"], values=["small", "large"])


class Python:
    title = PyAttribute()
    size = PyAttribute(options=["sm", "lg"], values=["small", "large"])


class OnProperty(EventDispatcher):
    title = PyPropertyAttribute()
    size = PyPropertyAttribute(options=["sm", "lg"], values=["small", "large"])


def main():
    native, python, on_property = Native(), Python(), OnProperty()
    for obj in (native, python, on_property):
        obj.title = "Go"
        obj.size = "lg"
    for cls, obj in ((Native, native), (Python, python), (OnProperty, on_property)):
        assert cls.title.attrvalue(obj) == "Go"
        assert cls.size.attrvalue(obj) == "large"
    env = dict(native=native, python=python, on_property=on_property, N=Native.title,
               P=Python.title, O=OnProperty.title, NS=Native.size, PS=Python.size,
               OS=OnProperty.size)

    ok = True
    for title, suffix, bound in (("attrvalue, plain string", "", 1.3),
                                 ("attrvalue, option rendered through values", "S", 1.5)):
        ns = compare(title, [
            Case("Python on the framework's Property", f"O{suffix}.attrvalue(on_property)", env),
            Case("minimal Python descriptor", f"P{suffix}.attrvalue(python)", env),
            Case("_Attribute", f"N{suffix}.attrvalue(native)", env),
            # The floor under any rendering: one method call reading the
            # stored value through the property machinery.
            Case("floor: the core's get alone", f"N{suffix}.get(native)", env),
        ])
        ok &= goal(f"_Attribute within {bound}x of the core's get ({ns[2] / ns[3]:.2f}x)",
                   ns[2] <= bound * ns[3])
    compare("assignment through the property", [
        Case("pure-Python descriptor", "python.title = 'Go'", env),
        Case("_Attribute", "native.title = 'Go'", env),
    ])
    compare("assignment checked against options", [
        Case("pure-Python descriptor", "python.size = 'sm'", env),
        Case("_Attribute", "native.size = 'sm'", env),
    ])
    print("\nall goals met" if ok else "\nsome goals MISSED")


if __name__ == "__main__":
    main()
