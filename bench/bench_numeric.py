"""attrvalue of the numeric attributes against pure-Python descriptors with the same rules.

One element with a numeric attribute holding 12 with units "px" and a bounded
one holding 12.5 with units "%".
"""

from vora.core._attributes import _BoundedNumericAttribute, _NumericAttribute
from vora.core._event import EventDispatcher
from python_descriptor import PyDescriptor
from timing import Case, compare, goal


class PyNumeric(PyDescriptor):
    """A value rendered with its unit."""

    def __init__(self, units="", options=()):
        super().__init__()
        self.units = units
        self.options = list(options)

    def get_units(self, obj):
        return self.units

    def attrvalue(self, obj):
        value = self.values.get(obj)
        if value is None or isinstance(value, str):
            return value or ""
        units = self.get_units(obj)
        return "{0}{1}".format(value, units) if units else "{0}".format(value)


class PyBounded(PyNumeric):
    def __init__(self, min=None, max=None, **kwargs):
        super().__init__(**kwargs)
        self.min, self.max = min, max


class Box(EventDispatcher):
    size = _NumericAttribute(attrtype="style", units="px")
    width = _BoundedNumericAttribute(attrtype="style", units="%", min=0, max=100)


class PyBox:
    size = PyNumeric(units="px")
    width = PyBounded(units="%", min=0, max=100)


def main():
    box, pybox = Box(), PyBox()
    box.size = pybox.size = 12
    box.width = pybox.width = 12.5
    assert Box.size.attrvalue(box) == PyBox.size.attrvalue(pybox) == "12px"
    assert Box.width.attrvalue(box) == PyBox.width.attrvalue(pybox) == "12.5%"
    env = dict(Box=Box, PyBox=PyBox, box=box, pybox=pybox)
    ok = True
    for title, attr in (("numeric, 12 with px", "size"), ("bounded, 12.5 with %", "width")):
        ns = compare(f"attrvalue: {title}", [
            Case("pure-Python descriptor", f"PyBox.{attr}.attrvalue(pybox)", env),
            Case("native", f"Box.{attr}.attrvalue(box)", env),
            # What the rendering calls of the framework core: the value's get
            # and the units' get_units, a method called by name.
            Case("floor: the core's get and get_units",
                 f"Box.{attr}.get(box); Box.{attr}.get_units(box)", env),
        ], rounds=21)  # more rounds: the best one is less disturbed on a busy machine
        ok &= goal(f"{title}: within 1.5x of the core's get and get_units "
                   f"({ns[1] / ns[2]:.2f}x)", ns[1] <= 1.5 * ns[2])
    return ok


if __name__ == "__main__":
    raise SystemExit(0 if main() else 1)
