"""The page walk's oracle: Element.render written in Python, step by step as
Element's docstring orders them, over the reference joiners, with the
template engine for every template (the default one included)."""

import vora.uix._html as h
from vora.uix import reference
from vora.uix.element import Element, render_template


def oracle(element):
    """element's markup. join_attributes is the module's, which looks its
    html_escape up afresh for each value, as the walk must."""
    style, classes, attributes = type(element).containers(element)
    html_tpl = element.html_tpl
    tagname, tagid, default_cls = element.tagname, element.tagid, element.default_cls
    cls = reference.join_cls(default_cls, classes)
    style = reference.join_style(style)
    attributes = h.join_attributes(attributes)
    content = type(element).content(element, oracle_child)
    return render_template(element, html_tpl, (tagname, tagid, cls, style, attributes, content))


def oracle_child(child):
    method = type(child).render
    return oracle(child) if method is Element.render else method(child)


def result_of(render, element):
    """What render(element) gives: its markup, or its exception's type and
    message."""
    try:
        return render(element)
    except Exception as exc:
        return type(exc), str(exc)
