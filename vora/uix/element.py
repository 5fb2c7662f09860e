"""Elements: user-interface objects whose settings are attribute descriptors
and which serialize themselves, and their children, to HTML."""

from html import escape
from types import SimpleNamespace

from vora.core._attributes import (
    _Attribute,
    _BooleanAttribute,
    _BoundedNumericAttribute,
    _ColorAttribute,
    _GenericEventAttribute,
    _ListAttribute,
    _LogicalAttribute,
    _NumericAttribute,
    _VariableListAttribute,
)
from vora.core._event import EventDispatcher
from vora.uix._html import (
    DEFAULT_HTML_TPL,
    join_attributes,
    join_cls,
    join_style,
    render_default_html,
)

ATTRIBUTE_TYPES = (
    _Attribute,
    _NumericAttribute,
    _BoundedNumericAttribute,
    _BooleanAttribute,
    _LogicalAttribute,
    _VariableListAttribute,
    _ListAttribute,
    _ColorAttribute,
    _GenericEventAttribute,
)


def client_event(obj, event, prevent_default, event_args, event_js, dispatch):
    """The default handler of event attributes: the script that reports the
    event to the server."""
    script = f"vora.emit('{obj.tagid}', '{event}'"
    if event_args:
        script += ", " + ", ".join(f"{k}: {v!r}" for k, v in event_args.items())
    script += ")"
    if prevent_default:
        script = "event.preventDefault(); " + script
    if event_js:
        script = event_js + "; " + script
    return script if dispatch else event_js


class Element(EventDispatcher):
    """A user-interface element: a tag, its settings and its children.

    Settings are attribute descriptors declared on the class; their values
    go into the element's style, class and attribute containers by their
    ``attrtype``. Elements whose ``html_tpl`` is :data:`DEFAULT_HTML_TPL` are
    rendered natively; any other template goes through the template engine.
    """

    tagname = "div"
    html_tpl = DEFAULT_HTML_TPL
    default_cls = ()

    title = _Attribute(attrtype="element")
    hidden = _BooleanAttribute(attrtype="element")
    tabindex = _NumericAttribute(None, attrtype="element", attrname="tabindex")
    color = _ColorAttribute(attrtype="style", format="css")
    background_color = _ColorAttribute(attrtype="style", format="css")
    margin = _VariableListAttribute(None, attrtype="style", length=4, options=["auto"])
    padding = _VariableListAttribute(None, attrtype="style", length=4)
    width = _NumericAttribute(None, attrtype="style", units="px", options=["auto"])
    align = _Attribute(attrtype="class", options=["", "left", "center", "right"],
                       values=["", "align-left", "align-center", "align-right"])
    onclick = _GenericEventAttribute(attrtype="element", eventhandler=client_event)

    def __init__(self, *children, text="", tagid=None, **settings):
        super().__init__()
        self.children = list(children)
        self.text = text
        self.tagid = tagid if tagid is not None else f"e{id(self):x}"
        for name, value in settings.items():
            setattr(self, name, value)

    @classmethod
    def descriptors(cls):
        """(descriptor, attrname, attrtype) of every attribute setting of the
        class, inherited ones first; computed once per class."""
        cached = cls.__dict__.get("_descriptors")
        if cached is None:
            seen = {}
            for klass in reversed(cls.__mro__):
                for name, value in vars(klass).items():
                    if isinstance(value, ATTRIBUTE_TYPES):
                        seen[name] = value
            cached = tuple((d, d.attrname, d.attrtype) for d in seen.values())
            cls._descriptors = cached
        return cached

    def containers(self):
        """The style, class and attribute containers of the element."""
        style, classes, attributes = {}, {}, {}
        targets = {"style": style, "class": classes, "element": attributes}
        for descriptor, attrname, attrtype in self.descriptors():
            target = targets.get(attrtype)
            if target is not None:
                target[attrname] = descriptor.attrvalue(self)
        return style, classes, attributes

    def render(self, engine=False):
        """The element's markup. With engine, every element goes through the
        template engine, as before the native renderer existed."""
        style, classes, attributes = self.containers()
        content = escape(self.text, quote=False) + "".join(
            child.render(engine) for child in self.children)
        pieces = (self.tagname, self.tagid, join_cls(self.default_cls, classes),
                  join_style(style), join_attributes(attributes), content)
        if not engine and self.html_tpl is DEFAULT_HTML_TPL:
            return render_default_html(*pieces)
        return render_template(self.html_tpl, pieces)


_templates = {}


def render_template(text, pieces):
    """Runs template text with ``obj`` holding the element's pieces."""
    template = _templates.get(text)
    if template is None:
        import tornado.template
        template = _templates[text] = tornado.template.Template(text)
    tagname, tagid, cls, style, attributes, content = pieces
    obj = SimpleNamespace(tagname=tagname, tagid=tagid, cls=cls, style=style,
                          attributes=attributes, content=content)
    return template.generate(obj=obj).decode()
