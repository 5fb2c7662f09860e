"""Elements end to end: the native path against the template engine, custom
templates, and markup built from hostile values."""

import gc
import weakref
from html.parser import HTMLParser

import pytest
import tornado.template

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
from vora.uix import reference
from vora.uix.element import Element
from vora.uix.widgets import Button, Cell, Div, Form, Heading, Input, Label, Page, Row, Table


def handler(obj, event, prevent_default, event_args, event_js, dispatch):
    return f"send('{obj.tagid}', '{event}', {sorted(event_args.items())})"


class Everything(Element):
    """One setting of every attribute type."""

    label = _Attribute(attrtype="element", attrname="aria-label")
    size = _Attribute("md", attrtype="class", options=["sm", "md"], values=["small", "medium"])
    font_size = _NumericAttribute(12, attrtype="style", units="px", options=["inherit"])
    opacity = _BoundedNumericAttribute(1.0, attrtype="style", min=0, max=1)
    read_only = _BooleanAttribute(attrtype="element")
    draggable = _LogicalAttribute(None, attrtype="element")
    padding = _VariableListAttribute([1, 2, 1, 2], attrtype="style")
    data_items = _ListAttribute([], attrtype="element")
    color = _ColorAttribute([255, 0, 0], attrtype="style", format="css")
    onclick = _GenericEventAttribute(attrtype="element", eventhandler=handler,
                                     eventargs={"a": 1})


def every_setting_page():
    return Element(
        Everything(tagid="first"),
        Everything(label='say "hi"', size="sm", font_size="1.5em", opacity=0.25, read_only=True,
                   draggable=False, padding="3px 4px", data_items=[1, "b", 2.5],
                   color=(0, 128, 255, 0.5), onclick=True, text="<b>bold</b> & co"),
        Everything(font_size="inherit", draggable=True, padding=[7], color="#00ff80",
                   title="plain"),
        tagid="root")


@pytest.mark.parametrize("make", [
    every_setting_page,
    lambda: Page(Heading(text="Title", color=[1, 2, 3]), title="T & <t>"),
    lambda: Form(Label(text="Name", html_for="n"), Input(name="n", required=True, maxlength=5),
                 Button(text="Go", onclick=True, kind="danger"), action="/go", onsubmit=True),
    lambda: Table(Row(Cell("a"), Cell(2, align="right")), striped=True, data_columns=["a", "b"]),
])
def test_native_path_equals_the_template_engine(make):
    page = make()
    assert page.render() == reference.render(page)


def test_every_setting_renders():
    markup = every_setting_page().render()
    assert markup.startswith('<div id="root"   >')
    assert ('<button' not in markup and
            'aria-label="say &quot;hi&quot;"' in markup and
            'style="font-size: 1.5em;opacity: 0.25;padding: 3px 4px 3px 4px;'
            'color: rgba(0, 128, 255, 0.5)"' in markup and
            'class="small"' in markup and
            "read-only" in markup and 'draggable="false"' in markup and
            'data-items="1, b, 2.5"' in markup and
            "onclick=\"send(&#x27;" in markup and
            "&lt;b&gt;bold&lt;/b&gt; &amp; co" in markup)


def test_custom_templates_go_to_the_engine():
    class Card(Element):
        html_tpl = '<section id="{{obj.tagid}}" data-kind="{{obj.element.kind}}">{% raw obj.content %}</section>'
        kind = "card"

    card = Card(Element(tagid="inner"), tagid="c1")
    inner = '<div id="inner"   ></div>'
    assert card.render() == f'<section id="c1" data-kind="card">{inner}</section>'
    # The engine's namespace is a reference cycle: the element and its
    # content (a whole page, for a page's shell) must not wait there for the
    # collector.
    alive = weakref.ref(card)
    gc.disable()
    try:
        card.render()
        del card
        assert alive() is None
    finally:
        gc.enable()
    page = Page(Heading(text="Hi", tagid="h"), title="T & <t>", tagid="p")
    assert page.render() == (
        '<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>T &amp; &lt;t&gt;</title>'
        '</head>\n<body id="p" style="padding: 0 0 0 0"><h1 id="h"   >Hi</h1></body></html>\n')


class Collect(HTMLParser):
    """The start tags, their attributes and the text of a markup string."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.tags, self.text = [], []

    def handle_starttag(self, tag, attrs):
        self.tags.append((tag, dict(attrs)))

    def handle_data(self, data):
        self.text.append(data)


HOSTILE = '"><script>alert(1)</script>\' & <'


class Hostile(Element):
    note = _Attribute(attrtype="element")
    font = _Attribute(attrtype="style", attrname="font-family")
    flavour = _Attribute(attrtype="class")


def test_hostile_values_render_safely():
    element = Hostile(note=HOSTILE, font=HOSTILE, flavour=HOSTILE, text=HOSTILE, tagid=HOSTILE)
    for markup in (element.render(), reference.render(element)):
        parsed = Collect()
        parsed.feed(markup)
        parsed.close()
        assert [tag for tag, _ in parsed.tags] == ["div"]
        attrs = parsed.tags[0][1]
        assert attrs["id"] == HOSTILE
        assert attrs["note"] == HOSTILE
        assert attrs["class"] == HOSTILE
        assert attrs["style"] == f"font-family: {HOSTILE}"
        assert "".join(parsed.text) == HOSTILE
