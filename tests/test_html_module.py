"""The namespace of vora.uix._html and the argument errors of its functions."""

import ctypes
import html
import os
import subprocess
import sys

import pytest

import vora.uix._html as h

TEMPLATE = (
    '<{{obj.tagname}} id="{{obj.tagid}}" {% if obj.cls %} class="{{obj.cls}}" {% end %}'
    '{% if obj.style %} style="{{obj.style}}" {% end %} {% raw obj.attributes %} >'
    "{%raw obj.content%}</{{obj.tagname}}>"
)

FUNCTIONS = {
    "join_style": "Join ``style_container`` into a CSS style attribute value.",
    "join_cls": "Join default classes and ``cls_container`` values into a class string.",
    "join_attributes": "Join ``attr_container`` into an HTML attribute string.",
    "render_default_html": (
        "Render the default Element ``html_tpl`` without Tornado.\n\n"
        "    Whitespace matches ``tornado.template.Template.generate`` for\n"
        "    :data:`DEFAULT_HTML_TPL` so markup stays byte-compatible with the\n"
        "    previous renderer.\n    "
    ),
}


def test_namespace():
    assert h.__doc__ == (
        "Fast HTML attribute joiners and the default element template renderer.\n\n"
        "The default ``html_tpl`` on :class:`~vora.uix.element.Element` is a small\n"
        "Tornado template whose *run* cost dominates tree serialization. This module\n"
        "reproduces that template's output (including its whitespace) without Tornado.\n"
        "Custom ``html_tpl`` values still go through Tornado.\n"
    )
    assert h.__all__ == ("DEFAULT_HTML_TPL", "join_style", "join_cls", "join_attributes",
                         "render_default_html")
    assert h.DEFAULT_HTML_TPL == TEMPLATE and len(TEMPLATE) == 196
    assert h.html_escape is html.escape
    assert h.__test__ == {} and type(h.__test__) is dict
    assert h.__builtins__ is sys.modules["builtins"]
    assert sys.modules["vora.uix._html"] is h


def test_body_binds_in_order():
    # In a fresh process: other tests here rebind html_escape.
    names = subprocess.run(
        [sys.executable, "-P", "-c", "import vora.uix._html as h; print(*vars(h))"],
        capture_output=True, text=True, check=True,
        env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)),
    ).stdout.split()
    body = ["__builtins__", "html_escape", "__all__", "DEFAULT_HTML_TPL", "join_style",
            "join_cls", "join_attributes", "render_default_html", "__test__"]
    assert names[-len(body):] == body


@pytest.mark.parametrize("name, doc", FUNCTIONS.items())
def test_function_objects(name, doc):
    f = getattr(h, name)
    assert f.__doc__ == doc
    assert f.__module__ == "vora.uix._html"
    assert f.__name__ == f.__qualname__ == name


S, C, A, R = h.join_style, h.join_cls, h.join_attributes, h.render_default_html
SIX = dict(tagname="", tagid="", cls="", style="", attributes="", content="")


@pytest.mark.parametrize("call, message", [
    (lambda: S(), "join_style() takes exactly 1 positional argument (0 given)"),
    (lambda: S({}, {}), "join_style() takes exactly 1 positional argument (2 given)"),
    # Keyword problems come before a missing parameter, as in Python.
    (lambda: S(x=1), "join_style() got an unexpected keyword argument 'x'"),
    (lambda: S(foo=1), "join_style() got an unexpected keyword argument 'foo'"),
    (lambda: S({}, x=1), "join_style() got an unexpected keyword argument 'x'"),
    (lambda: S(style_container={}, x=1), "join_style() got an unexpected keyword argument 'x'"),
    (lambda: S({}, style_container={}),
     "join_style() got multiple values for keyword argument 'style_container'"),
    (lambda: C([]), "join_cls() takes exactly 2 positional arguments (1 given)"),
    (lambda: C(default_cls=[]), "join_cls() takes exactly 2 positional arguments (1 given)"),
    (lambda: C(cls_container={}), "join_cls() takes exactly 2 positional arguments (0 given)"),
    (lambda: C(1, 2, 3), "join_cls() takes exactly 2 positional arguments (3 given)"),
    (lambda: C(1, 2, 3, x=1), "join_cls() takes exactly 2 positional arguments (3 given)"),
    (lambda: C(("a",), default_cls=("b",)),
     "join_cls() got multiple values for keyword argument 'default_cls'"),
    (lambda: C(x=1, default_cls=[]), "join_cls() got an unexpected keyword argument 'x'"),
    (lambda: C([], {}, default_cls=[]),
     "join_cls() got multiple values for keyword argument 'default_cls'"),
    (lambda: A(), "join_attributes() takes exactly 1 positional argument (0 given)"),
    (lambda: A({}, attr_container={}),
     "join_attributes() got multiple values for keyword argument 'attr_container'"),
    (lambda: A(attr_container={}, attrs={}),
     "join_attributes() got an unexpected keyword argument 'attrs'"),
    (lambda: R(), "render_default_html() takes exactly 6 positional arguments (0 given)"),
    (lambda: R(*"abc"), "render_default_html() takes exactly 6 positional arguments (3 given)"),
    (lambda: R(*"abcdefg"),
     "render_default_html() takes exactly 6 positional arguments (7 given)"),
    (lambda: R("a", "b", cls="", style="", content=""),
     "render_default_html() takes exactly 6 positional arguments (4 given)"),
    (lambda: R(tagname="a", tagid="b", cls="", style="", attributes=""),
     "render_default_html() takes exactly 6 positional arguments (5 given)"),
    (lambda: R("a", "b", cls="", content=""),
     "render_default_html() takes exactly 6 positional arguments (3 given)"),
    (lambda: R("div", tagname="p"),
     "render_default_html() got multiple values for keyword argument 'tagname'"),
    (lambda: R("div", "e1", "", "", tagid="x"),
     "render_default_html() got multiple values for keyword argument 'tagid'"),
    (lambda: R("a", **SIX),
     "render_default_html() got multiple values for keyword argument 'tagname'"),
    (lambda: R(**SIX, other=1),
     "render_default_html() got an unexpected keyword argument 'other'"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def vectorcall(f, args, kwnames):
    """f called with positional args followed by keyword values named by kwnames."""
    call = ctypes.pythonapi.PyObject_Vectorcall
    call.restype = ctypes.py_object
    call.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.py_object), ctypes.c_size_t,
                     ctypes.py_object]
    values = list(args)
    return call(f, (ctypes.py_object * len(values))(*values), len(values) - len(kwnames), kwnames)


@pytest.mark.parametrize("f, positional", [(S, 1), (C, 2), (A, 1), (R, 6)])
def test_keyword_names_must_be_strings(f, positional):
    with pytest.raises(TypeError) as info:
        vectorcall(f, [""] * positional + [1], (5,))
    assert str(info.value) == f"{f.__name__}() keywords must be strings"


@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter")
@pytest.mark.parametrize("call", [
    lambda: S({"a": 1, "b": "x", 2: 0.5}),
    lambda: S({"a": object()}),
    lambda: C(["a", "b"], {"x": "c", "y": 1}),
    lambda: A({"a": "<&>", "b": "b", "c": 3, 4: "d"}),
    lambda: A({"a": "x", "b": "\u20ac'"}),
    lambda: R("d", "i\xe9", "c", "s<", "a", "x"),
    lambda: R("d", "i", "c", "s", 1, "x"),
    lambda: S(),
    lambda: R(**SIX, other=1),
])
def test_no_reference_leaks(call):
    def run(n):
        for _ in range(n):
            try:
                call()
            except Exception:
                pass

    run(50)
    before = sys.gettotalrefcount()
    run(500)
    assert sys.gettotalrefcount() - before < 50
