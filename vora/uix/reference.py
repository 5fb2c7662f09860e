"""Serialization as it was before the native joiners and renderer: the
joiners written in Python and the template engine run for every element.

The main job and the benchmarks measure the native path against this one.
The tests compare with it too: the joiners' tests with the three joiners,
the element tests with render; both paths must produce the same markup,
byte for byte.
"""

from html import escape

from vora.uix._html import DEFAULT_HTML_TPL
from vora.uix import element as element_module
from vora.uix.element import Element


def join_style(style_container):
    if not style_container:
        return ""
    return ";".join("{0}: {1}".format(k, v) for k, v in style_container.items() if v)


def join_cls(default_cls, cls_container):
    pieces = list(default_cls) if default_cls else []
    if cls_container:
        pieces.extend(v for v in cls_container.values() if v)
    return " ".join(pieces)


def join_attributes(attr_container, escape=escape):
    """escape is the html_escape in use (the tests give replacements)."""
    if not attr_container:
        return ""
    pieces = []
    for key, value in attr_container.items():
        if value:
            text = escape(value if type(value) is str else str(value), quote=True)
            pieces.append(text if key == value else '{0}="{1}"'.format(key, text))
    return " ".join(pieces)


def render(element, progress=None):
    """The element's markup through the Python joiners and the template
    engine (DEFAULT_HTML_TPL included), in the steps of Element.render;
    progress(), when given, is called once per element rendered."""
    style, classes, attributes = type(element).containers(element)
    html_tpl = element.html_tpl
    tagname, tagid, default_cls = element.tagname, element.tagid, element.default_cls
    cls = join_cls(default_cls, classes)
    style = join_style(style)
    attributes = join_attributes(attributes)

    def render_child(child):
        method = type(child).render
        return render(child, progress) if method is Element.render else method(child)

    content = type(element).content(element, render_child)
    # The element module's render_template of the moment, as its code calls it.
    markup = element_module.render_template(element, html_tpl or DEFAULT_HTML_TPL,
                                            (tagname, tagid, cls, style, attributes, content))
    if progress is not None:
        progress()
    return markup
