"""Elements: user-interface objects whose settings are attribute descriptors
and which serialize themselves, and their children, to HTML."""

import itertools
from html import escape
from types import SimpleNamespace

from vora.core import _attributes
from vora.core._attributes import _Attribute, _BooleanAttribute
from vora.core._event import EventDispatcher
from vora.uix._html import (
    DEFAULT_HTML_TPL,
    join_attributes,
    join_cls,
    join_style,
    render_default_html,
)
from vora.uix._tree import render_tree

# The setting types: the nine descriptor types of the attribute module.
ATTRIBUTE_TYPES = tuple(
    value for name, value in vars(_attributes).items() if name.endswith("Attribute"))

_ids = itertools.count(1)


class Element(EventDispatcher):
    """A user-interface element: a tag, its settings and its children.

    Settings are attribute descriptors declared on the class; at serialization
    each one's ``attrvalue`` goes, under its ``attrname``, into the element's
    style, class or attribute container according to its ``attrtype``.
    Elements whose ``html_tpl`` is :data:`DEFAULT_HTML_TPL` are rendered
    natively; any other template goes through the template engine.
    """

    # What every element has, in slots: a slot is a data descriptor, so no
    # instance attribute can hide it, and its value sits at a fixed place in
    # the object, where the page walk reads it straight (while the class
    # leaves these names to the slots). Instances keep a __dict__ and weak
    # references, as without slots.
    __slots__ = ("children", "text", "tagid", "__dict__", "__weakref__")

    tagname = "div"
    html_tpl = DEFAULT_HTML_TPL
    default_cls = ()

    title = _Attribute(attrtype="element")
    hidden = _BooleanAttribute(attrtype="element")

    def __init_subclass__(cls, **kwargs):
        super().__init_subclass__(**kwargs)
        cls._settings = _settings_of(cls)
        if "containers" not in cls.__dict__:
            cls.containers = _containers_function(cls)

    def __init__(self, *children, text="", tagid=None, **settings):
        super().__init__()
        self.children = list(children)
        self.text = text
        self.tagid = f"e{next(_ids)}" if tagid is None else tagid
        for name, value in settings.items():
            setattr(self, name, value)

    def containers(self):
        """The element's style, class and attribute containers: attrname to
        rendered value, in declaration order. (Each class gets its own
        version of this method, made when the class is created.)"""
        style, classes, attributes = self._settings
        return ({name: d.attrvalue(self) for name, d in style},
                {name: d.attrvalue(self) for name, d in classes},
                {name: d.attrvalue(self) for name, d in attributes})

    def content(self, render):
        """The inner markup: the escaped text, then the markup that render
        makes of each child."""
        text = escape(self.text, quote=False) if self.text else ""
        if not self.children:
            return text
        return text + "".join([render(child) for child in self.children])

    def render(self):
        """The element's markup, and its children's: the whole tree in one
        native call (vora.uix._tree), which calls the Python code of the
        tree (overrides of render, containers, content or attrvalue, custom
        templates) where this method's Python version would."""
        return render_tree(self)


def render_python(element):
    """Element.render written in Python over the public accelerators, as it
    was before the native walk: the benchmarks' baseline. Children are
    rendered by this function too: their classes' own render is not called,
    so it serializes only trees without render overrides."""
    style, classes, attributes = element.containers()
    # content(render_python), inlined: this runs for every element.
    text, children = element.text, element.children
    content = escape(text, quote=False) if text else ""
    if children:
        content += "".join([render_python(child) for child in children])
    if element.html_tpl is DEFAULT_HTML_TPL:
        return render_default_html(element.tagname, element.tagid,
                                   join_cls(element.default_cls, classes), join_style(style),
                                   join_attributes(attributes), content)
    return render_template(element, element.html_tpl, (
        element.tagname, element.tagid, join_cls(element.default_cls, classes),
        join_style(style), join_attributes(attributes), content))


def _settings_of(cls):
    """The attribute settings of cls by attrtype: three tuples of
    (attrname, descriptor), inherited ones first, a redefinition in place of
    the setting it overrides."""
    found = {}
    for klass in reversed(cls.__mro__):
        for name, value in vars(klass).items():
            if isinstance(value, ATTRIBUTE_TYPES):
                found[name] = value
    groups = {"style": [], "class": [], "element": []}
    for descriptor in found.values():
        group = groups.get(descriptor.attrtype)
        if group is not None:
            group.append((descriptor.attrname, descriptor))
    return tuple(tuple(groups[kind]) for kind in ("style", "class", "element"))


def _containers_function(cls):
    """Element.containers for one class, written out: three dict displays of
    attrvalue calls. Serialization calls it for every element, and the
    displays cost a fraction of a loop over the settings."""
    namespace = {}
    displays = []
    for group in cls._settings:
        entries = []
        for name, descriptor in group:
            key = f"d{len(namespace)}"
            namespace[key] = descriptor
            entries.append(f"{name!r}: {key}.attrvalue(self)")
        displays.append("{" + ", ".join(entries) + "}")
    source = f"def containers(self):\n    return ({', '.join(displays)})\n"
    exec(source, namespace)
    function = namespace["containers"]
    function.__qualname__ = f"{cls.__qualname__}.containers"
    function.__doc__ = Element.containers.__doc__
    # The settings it is written for: render_tree calls their attrvalue itself.
    function._vora_settings = cls._settings
    return function


Element._settings = _settings_of(Element)
Element.containers = _containers_function(Element)

_templates = {}


def render_template(element, text, pieces):
    """Runs template text with ``obj`` holding the element's pieces (tagname,
    tagid, cls, style, attributes, content) and the element itself."""
    template = _templates.get(text)
    if template is None:
        import tornado.template
        template = _templates[text] = tornado.template.Template(text)
    tagname, tagid, cls, style, attributes, content = pieces
    obj = SimpleNamespace(tagname=tagname, tagid=tagid, cls=cls, style=style,
                          attributes=attributes, content=content, element=element)
    return template.generate(obj=obj).decode()
