"""Elements: user-interface objects whose settings are attribute descriptors
and which serialize themselves, and their children, to HTML."""

import io
import itertools
import os
import tokenize
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
from vora.uix._tree import ClassDefault, render_tree

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

    Every way of rendering an element (``render``, :func:`render_python`,
    ``vora.uix.reference.render``) takes the same steps, in this order:

    1. the class's ``containers()``: the settings' values by container;
    2. the reads of ``html_tpl``, ``tagname``, ``tagid`` and ``default_cls``;
    3. the joins: classes, style, then the other attributes;
    4. the class's ``content(render)``: the escaped text, then each child's
       markup, made by the child's class's own ``render`` where it overrides
       this one, else in the same way as its parent's;
    5. the template: the default one's markup, or the template engine.

    ``render``, ``containers`` and ``content`` are the class's, as Python's
    special methods are: they are looked up on the element's class, and an
    instance attribute of one of those names is ignored. ``tagname``,
    ``html_tpl`` and ``default_cls`` are plain class attributes, which an
    instance may set for itself (``Element(tagname="span")``): a class's
    value is kept in a :class:`~vora.uix._tree.ClassDefault`, which reads as
    the plain value does, and an instance's own in its ``__dict__``.
    """

    # What every element has, in slots: a slot is a data descriptor, so no
    # instance attribute can hide it, and its value sits at a fixed place in
    # the object, where the page walk reads it straight (while the class
    # leaves these names to the slots). Instances keep a __dict__ (where an
    # instance's own tagname, html_tpl or default_cls goes) and weak
    # references, as without slots.
    __slots__ = ("children", "text", "tagid", "__dict__", "__weakref__")

    tagname = "div"
    html_tpl = DEFAULT_HTML_TPL
    default_cls = ()

    title = _Attribute(attrtype="element")
    hidden = _BooleanAttribute(attrtype="element")

    def __init_subclass__(cls, **kwargs):
        super().__init_subclass__(**kwargs)
        _class_defaults(cls)
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
        text, children = self.text, self.children
        content = escape(text, quote=False) if text else ""
        if children:
            content = content + "".join([render(child) for child in children])
        return content

    def render(self):
        """The element's markup, and its children's: the whole tree in one
        native call (vora.uix._tree), which calls the Python code of the
        tree (overrides of render, containers, content or attrvalue, custom
        templates) where the steps above call it."""
        return render_tree(self)


def render_python(element):
    """Element.render written in Python over the public accelerators, in the
    same steps: the benchmarks' baseline. A child is rendered by this
    function, or by its class's own render where that overrides Element's."""
    style, classes, attributes = type(element).containers(element)
    html_tpl = element.html_tpl
    tagname, tagid, default_cls = element.tagname, element.tagid, element.default_cls
    cls = join_cls(default_cls, classes)
    style = join_style(style)
    attributes = join_attributes(attributes)
    content_method = type(element).content
    if content_method is _CONTENT:
        # content(render), inlined: this runs for every element.
        text, children = element.text, element.children
        content = escape(text, quote=False) if text else ""
        if children:
            content = content + "".join([
                render_python(child) if (method := type(child).render) is _RENDER else method(child)
                for child in children])
    else:
        content = content_method(element, _render_python_child)
    if html_tpl is DEFAULT_HTML_TPL:
        return render_default_html(tagname, tagid, cls, style, attributes, content)
    return render_template(element, html_tpl, (tagname, tagid, cls, style, attributes, content))


def _render_python_child(child):
    method = type(child).render
    return render_python(child) if method is _RENDER else method(child)


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
    # The function and the settings it is written for, where the page walk
    # finds them: while the class's containers is this very function, the
    # walk calls the settings' attrvalue itself. (An attribute of the
    # function would be copied by a decorator that wraps it.)
    cls._written_containers = (function, cls._settings)
    return function


def _class_defaults(cls):
    """The plain values that cls gives tagname, html_tpl and default_cls,
    each put in a ClassDefault, which reads as the plain value; a
    descriptor (a property, say) is left as it is. A value given to the
    class later stays as it is given, and reads the same."""
    for name in _CLASS_DEFAULTS:
        value = cls.__dict__.get(name, _CLASS_DEFAULTS)
        if value is not _CLASS_DEFAULTS and not hasattr(type(value), "__get__"):
            setattr(cls, name, ClassDefault(name, value))


_CLASS_DEFAULTS = ("tagname", "html_tpl", "default_cls")
_class_defaults(Element)
Element._settings = _settings_of(Element)
Element.containers = _containers_function(Element)
_RENDER = Element.render
_CONTENT = Element.content

_templates = {}


def _template(text):
    """The engine's template for text, compiled once."""
    template = _templates.get(text)
    if template is None:
        import tornado.template
        template = _templates[text] = tornado.template.Template(text)
    return template


def render_template(element, text, pieces):
    """Runs template text with ``obj`` holding the element's pieces (tagname,
    tagid, cls, style, attributes, content) and the element itself."""
    return _generate(_template(text), element, pieces).decode()


def _generate(template, element, pieces, stand_in=None):
    """The template's output (UTF-8) with obj holding the element's pieces
    (stand_in, when given, for their content) and the element itself."""
    tagname, tagid, cls, style, attributes, content = pieces
    if stand_in is not None:
        content = stand_in
    obj = SimpleNamespace(tagname=tagname, tagid=tagid, cls=cls, style=style,
                          attributes=attributes, content=content, element=element)
    try:
        return template.generate(obj=obj)
    finally:
        # The engine runs the template in a namespace that is a reference
        # cycle, kept until the collector next runs. Emptied, obj no longer
        # keeps the content (for a page's shell, the whole page) alive there.
        vars(obj).clear()


# What stands in for the content where the page walk has written it already:
# bytes, which the engine inserts raw as they are, and which no output of
# the engine can hold otherwise (0xff is never part of UTF-8 text, and the
# rest is drawn at random).
_CONTENT_MARK = b"\xff" + os.urandom(15)


def render_template_around(element, text, pieces):
    """render_template for the page walk, which has written the content
    already: for a template whose only use of the content is one raw
    insertion, runs it with a stand-in for the content and returns its
    output (UTF-8) split where the content goes, a tuple of bytes. None,
    with nothing run, for any other template: it needs the content itself.
    The content of pieces is not read."""
    template = _template(text)
    verdict = _inserts_content_once.get(template)
    if verdict is None:
        verdict = _inserts_content_once[template] = _content_inserted_once(template)
    if not verdict:
        return None
    return tuple(_generate(template, element, pieces, _CONTENT_MARK).split(_CONTENT_MARK))


_inserts_content_once = {}  # template: whether render_template_around may run it

# The page walk calls render_template_around in place of render_template
# while the module's render_template is the one it goes with (a replacement
# is called itself). A reload binds both anew.
_TEMPLATE_AROUND = (render_template, render_template_around)

# The pieces a template may read besides the content, and what its own code
# must not name: the ways to reach the namespace that holds the content other
# than obj.<name>, and a frame's globals.
_PIECES = frozenset({"tagname", "tagid", "cls", "style", "attributes", "element"})
_UNPROVEN = frozenset({"globals", "locals", "vars", "eval", "exec", "compile", "getattr",
                       "dir", "breakpoint", "import", "from", "f_globals", "f_locals",
                       "f_back", "f_builtins", "gi_frame", "cr_frame", "ag_frame", "tb_frame",
                       "tb_next", "content"})


def _content_inserted_once(template):
    """Whether the template's own code uses obj.content only once, inserted
    raw at its top level (so it runs exactly once, in its place), and reads
    nothing else of obj but its other pieces: then its output with a
    stand-in for the content, split there, is the engine's around the
    content. Anything else, or anything this does not know, is refused."""
    import tornado.template as engine
    inserted = 0
    for chunk in template.file.body.chunks:
        if (type(chunk) is engine._Expression and _is_content(chunk.expression)
                and (chunk.raw or template.autoescape is None)):
            inserted += 1
        elif not _harmless(chunk, engine):
            return False
    return inserted == 1


def _harmless(node, engine):
    """Whether a node of the engine's parse tree runs only code that cannot
    reach the content."""
    kind = type(node)
    if kind is engine._Text:
        return True
    if kind is engine._Expression:
        return _clean(node.expression)
    if kind in (engine._Statement, engine._IntermediateControlBlock):
        return _clean(node.statement)
    if kind is engine._ControlBlock:
        return _clean(node.statement) and all(_harmless(c, engine) for c in node.body.chunks)
    return False  # includes, blocks, apply, modules: not looked into


def _clean(code):
    tokens = _tokens(code)
    if tokens is None:
        return False
    words = [t.string for t in tokens if t.type == tokenize.NAME or t.string == "."]
    for i, word in enumerate(words):
        if word.startswith("_") or word in _UNPROVEN:
            return False
        if word == "obj" and words[i - 1:i] != ["."] and not (
                words[i + 1:i + 2] == ["."] and words[i + 2:i + 3] and words[i + 2] in _PIECES):
            return False
    return True


def _is_content(code):
    tokens = _tokens(code)
    return tokens is not None and [t.string for t in tokens] == ["obj", ".", "content"]


_LAYOUT = frozenset({tokenize.NEWLINE, tokenize.NL, tokenize.COMMENT, tokenize.INDENT,
                     tokenize.DEDENT, tokenize.ENDMARKER})


def _tokens(code):
    """The tokens of a piece of template code, but for its layout, or None
    when it does not tokenize."""
    try:
        tokens = list(tokenize.generate_tokens(io.StringIO(code).readline))
    except (tokenize.TokenError, SyntaxError):
        return None
    return [t for t in tokens if t.type not in _LAYOUT]
