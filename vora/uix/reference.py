"""Serialization as it was before the native joiners and renderer: the
joiners written in Python and the template engine run for every element.

The main job and the benchmarks measure the native path against this one.
The tests compare with it too: the joiners' tests with the three joiners,
the element tests with render; both paths must produce the same markup,
byte for byte.
"""

from html import escape

from vora.uix._html import DEFAULT_HTML_TPL
from vora.uix.element import render_template


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
    engine (DEFAULT_HTML_TPL included); progress(), when given, is called
    once per element rendered."""
    style, classes, attributes = element.containers()
    content = element.content(lambda child: render(child, progress))
    pieces = (element.tagname, element.tagid, join_cls(element.default_cls, classes),
              join_style(style), join_attributes(attributes), content)
    markup = render_template(element, element.html_tpl or DEFAULT_HTML_TPL, pieces)
    if progress is not None:
        progress()
    return markup
