"""A few element classes, declared the way an app declares its own."""

import json

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
from vora.uix.element import Element


def js_string(text):
    """text as a single-quoted JavaScript string literal: an id or event name
    with a quote or a backslash in it stays one string."""
    text = str(text)
    if text.isascii() and text.isidentifier():
        # Letters, digits and "_": most ids and every event name, with
        # nothing to escape; the JSON encoder would be most of the
        # handler's time.
        return "'" + text + "'"
    return "'" + json.dumps(text)[1:-1].replace("'", "\\'") + "'"


def emit_event(obj, event, prevent_default, event_args, event_js, dispatch):
    """Handler of the event attributes below: the script that reports the
    event of obj to the server, after the event's own script."""
    script = f"vora.emit({js_string(obj.tagid)}, {js_string(event)})" if dispatch else ""
    if prevent_default:
        script = "event.preventDefault(); " + script
    if event_js:
        script = f"{event_js}; {script}" if script else event_js
    return script


class Page(Element):
    """The whole document; its template is a custom one (the engine runs it)."""

    tagname = "body"
    html_tpl = (
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<title>{{obj.element.title}}</title></head>\n"
        "<body id=\"{{obj.tagid}}\"{% if obj.cls %} class=\"{{obj.cls}}\"{% end %}"
        "{% if obj.style %} style=\"{{obj.style}}\"{% end %}>"
        "{% raw obj.content %}</body></html>\n")

    background_color = _ColorAttribute(attrtype="style", format="css")
    padding = _VariableListAttribute([0, 0, 0, 0], attrtype="style")


class Div(Element):
    margin = _VariableListAttribute([0, 0, 0, 0], attrtype="style", options=["auto"])
    width = _NumericAttribute(None, attrtype="style", units="px", options=["auto"])
    align = _Attribute(attrtype="class", attrname="align", options=["", "left", "center"],
                       values=["", "text-left", "text-center"])


class Heading(Element):
    tagname = "h1"
    color = _ColorAttribute(attrtype="style", format="css")


class Form(Element):
    tagname = "form"
    action = _Attribute(attrtype="element")
    method = _Attribute("post", attrtype="element", options=["get", "post"])
    onsubmit = _GenericEventAttribute(attrtype="element", eventhandler=emit_event,
                                      prevent_default=True)


class Label(Element):
    tagname = "label"
    html_for = _Attribute(attrtype="element", attrname="for")


class Input(Element):
    tagname = "input"
    default_cls = ("field",)
    type = _Attribute("text", attrtype="element",
                      options=["text", "email", "number", "password"])
    name = _Attribute(attrtype="element")
    value = _Attribute(attrtype="element")
    placeholder = _Attribute(attrtype="element")
    maxlength = _BoundedNumericAttribute(None, attrtype="element", min=1, max=1024)
    required = _BooleanAttribute(attrtype="element")
    disabled = _BooleanAttribute(attrtype="element")
    spellcheck = _LogicalAttribute(None, attrtype="element")
    onchange = _GenericEventAttribute(attrtype="element", eventhandler=emit_event)


class Button(Element):
    tagname = "button"
    default_cls = ("btn",)
    type = _Attribute("button", attrtype="element", options=["button", "submit", "reset"])
    kind = _Attribute("default", attrtype="class", options=["default", "primary", "danger"],
                      values=["", "btn-primary", "btn-danger"])
    font_size = _NumericAttribute(None, attrtype="style", units="px")
    disabled = _BooleanAttribute(attrtype="element")
    onclick = _GenericEventAttribute(attrtype="element", eventhandler=emit_event)


class Table(Element):
    tagname = "table"
    default_cls = ("table",)
    striped = _BooleanAttribute(attrtype="class", attrname="table-striped")
    data_columns = _ListAttribute(None, attrtype="element")


class Row(Element):
    tagname = "tr"
    selected = _BooleanAttribute(attrtype="class")
    onclick = _GenericEventAttribute(attrtype="element", eventhandler=emit_event)


class Cell(Element):
    tagname = "td"
    align = _Attribute(attrtype="style", attrname="text-align", options=["", "left", "right"])
    colspan = _NumericAttribute(None, attrtype="element")

    def __init__(self, text="", **settings):
        super().__init__(text=str(text), **settings)
