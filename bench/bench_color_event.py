"""attrvalue of _ColorAttribute and _GenericEventAttribute against pure-Python
descriptors that store per-owner values in a dict and render by the same rules.

Both sides are called the same way, as a bound method with the owner:
`attr.attrvalue(owner)`.
"""

from vora.core._attributes import _ColorAttribute, _GenericEventAttribute
from vora.core._event import EventDispatcher
from vora.core.properties import BooleanProperty
from python_descriptor import PyDescriptor
from timing import Case, compare, goal


class PyColor(PyDescriptor):
    """The colour rendering rules in Python."""

    def __init__(self, format=""):
        super().__init__()
        self.format = format

    def attrvalue(self, obj):
        value = self.values.get(obj)
        if value is None or isinstance(value, str):
            return value or ""
        if len(value) == 3:
            if self.format == "css":
                return "rgb({0}, {1}, {2})".format(*value)
            return "{}, {}, {}".format(value[0] / 255, value[1] / 255, value[2] / 255)
        if self.format == "css":
            return "rgba({0}, {1}, {2}, {3})".format(*value)
        return "{}, {}, {}, {}".format(value[0] / 255, value[1] / 255, value[2] / 255, value[3])


class PyEvent(PyDescriptor):
    """The event rendering rules in Python."""

    def __init__(self, eventhandler=None, prevent_default=False, eventargs=None, eventjs="",
                 dispatch=True, attrname=""):
        super().__init__(attrname)
        self.eventhandler = eventhandler
        self.prevent_default = bool(prevent_default)
        self.dispatch = bool(dispatch)
        self.eventargs = eventargs if eventargs else {}
        self.eventjs = eventjs

    def attrvalue(self, obj):
        if not self.values.get(obj):
            return ""
        handler = self.eventhandler
        if handler is None:
            return ""
        if isinstance(handler, str):
            return handler
        if callable(handler):
            event = "on_{}".format(self.attrname[2:])
            return handler(obj, event, prevent_default=self.prevent_default,
                           event_args=self.eventargs, event_js=self.eventjs,
                           dispatch=self.dispatch)
        raise AttributeError(
            "renderer must be of callable type or string, got {0}".format(type(handler)))


def handler(obj, event, **kwargs):
    return "send(this, 'click')"


class Box(EventDispatcher):
    color = _ColorAttribute(attrtype="style")
    background = _ColorAttribute(attrtype="style", format="css")
    onclick = _GenericEventAttribute(eventhandler="go()")
    onchange = _GenericEventAttribute(eventhandler=handler)
    plain = BooleanProperty(True)


class PyBox:
    color = PyColor()
    background = PyColor(format="css")
    onclick = PyEvent(eventhandler="go()")
    onchange = PyEvent(eventhandler=handler)


# How far above its floor each floor-bound row may be: the string handler is
# read and returned; the callable one is called with its keywords built.
FLOOR_BOUNDS = {"onclick": 1.3, "onchange": 1.5}


def main():
    box, pybox = Box(), PyBox()
    env = dict(box=box, pybox=pybox, Box=Box, PyBox=PyBox)
    ok = True

    # What no attrvalue can go below: a bound native method that only reads
    # the stored value, and the handler's own call.
    env.update(plain_get=Box.plain.get, handler=handler, eventargs={})
    floors = {
        "onclick": Case("floor: bound BooleanProperty.get", "plain_get(box)", env),
        "onchange": Case("floor: the handler call alone",
                         "handler(box, 'on_change', prevent_default=False, event_args=eventargs, "
                         "event_js='', dispatch=True)", env),
    }
    rows = [
        ("colour [255, 128, 0], normalised", "color", [255, 128, 0]),
        ("colour [255, 0, 0, 0.5], normalised", "color", [255, 0, 0, 0.5]),
        ("colour [255, 128, 0], css", "background", [255, 128, 0]),
        ("colour [255, 0, 0, 0.5], css", "background", [255, 0, 0, 0.5]),
        ("event, string handler", "onclick", True),
        ("event, callable handler", "onchange", True),
    ]
    for title, name, value in rows:
        setattr(box, name, value)
        getattr(PyBox, name).values[pybox] = value
        native = getattr(Box, name).attrvalue(box)
        assert native == getattr(PyBox, name).attrvalue(pybox), title
        env[f"av_{name}"] = getattr(Box, name).attrvalue
        env[f"py_{name}"] = getattr(PyBox, name).attrvalue
        ns = compare(f"{title}: {native!r}", [
            Case("Python descriptor", f"py_{name}(pybox)", env),
            Case("native attrvalue", f"av_{name}(box)", env),
        ] + ([floors[name]] if name in floors else []))
        if name in floors:
            # Bound by the get, or by the app's handler, which both sides
            # call: the goal is that floor.
            bound = FLOOR_BOUNDS[name]
            ok &= goal(f"{title} within {bound}x of its floor ({ns[1] / ns[2]:.2f}x)",
                       ns[1] <= bound * ns[2])
        else:
            ok &= goal(f"{title} at least 3x the Python descriptor ({ns[0] / ns[1]:.2f}x)",
                       ns[0] >= 3 * ns[1])
    print("\nall goals met" if ok else "\nsome goals missed")


if __name__ == "__main__":
    main()
