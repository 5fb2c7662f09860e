"""vora.uix._html against the template engine and against Python statements of its rules.

One typical element: 3 style entries, 2 classes, 4 attributes (one needs
escaping, one is an int, one equals its name), a short content.
"""

import html
from types import SimpleNamespace

import tornado.template

import vora.uix._html as h
from timing import Case, compare, goal
from vora.uix.reference import (
    join_attributes as py_join_attributes,
    join_cls as py_join_cls,
    join_style as py_join_style,
)


ENGINE = tornado.template.Template(h.DEFAULT_HTML_TPL)


def engine_render(tagname, tagid, cls, style, attributes, content):
    ns = SimpleNamespace(tagname=tagname, tagid=tagid, cls=cls, style=style,
                         attributes=attributes, content=content)
    return ENGINE.generate(obj=ns)


STYLE = {"color": "red", "font-size": "12px", "margin": "0 4px"}
DEFAULT_CLS = ["btn"]
CLS = {"kind": "btn-primary", "state": ""}
ATTRS = {"title": 'Say "hi" & go', "tabindex": 3, "disabled": "disabled", "name": "go"}
CONTENT = "Go"


def main():
    env = dict(h=h, html=html, py_join_style=py_join_style, py_join_cls=py_join_cls,
               py_join_attributes=py_join_attributes, engine_render=engine_render, ENGINE=ENGINE,
               STYLE=STYLE, DEFAULT_CLS=DEFAULT_CLS, CLS=CLS, ATTRS=ATTRS, CONTENT=CONTENT)
    style, cls, attrs = h.join_style(STYLE), h.join_cls(DEFAULT_CLS, CLS), h.join_attributes(ATTRS)
    assert (style, cls, attrs) == (py_join_style(STYLE), py_join_cls(DEFAULT_CLS, CLS),
                                   py_join_attributes(ATTRS))
    args = ("button", "b1", cls, style, attrs, CONTENT)
    markup = h.render_default_html(*args)
    assert markup == engine_render(*args).decode(), "the renderer must match the engine"
    # Floors: one call that allocates the result and copies the pieces into
    # it, with the six arguments (shorter text) or the same 18 pieces.
    pieces = ["<", "button", ' id="', "b1", '" ', ' class="', cls, '" ', ' style="', style, '" ',
              " ", attrs, " >", CONTENT, "</", "button", ">"]
    assert "".join(pieces) == markup
    env.update(pieces=pieces, cls=cls, style=style, attrs=attrs, ns=SimpleNamespace(
        tagname="button", tagid="b1", cls=cls, style=style, attributes=attrs, content=CONTENT))
    print(f"element: {markup}")

    ok = True
    render = compare("renderer", [
        Case("tornado Template.generate", "ENGINE.generate(obj=ns)", env),
        Case("render_default_html",
             'h.render_default_html("button", "b1", cls, style, attrs, CONTENT)', env),
        Case('floor: "".join of the 6 arguments',
             '"".join(("button", "b1", cls, style, attrs, CONTENT))', env),
        Case('floor: "".join of the 18 pieces', '"".join(pieces)', env),
    ])
    floor = min(render[2:])
    ok &= goal(f"renderer within 1.5x of the floor ({render[1] / floor:.2f}x)",
               render[1] <= 1.5 * floor)
    # Bound by the floor above: against the engine, a guard.
    ok &= goal(f"renderer at least 50x the engine ({render[0] / render[1]:.0f}x)",
               render[0] >= 50 * render[1])

    for name, py_stmt, stmt, factor in [
        ("join_style", "py_join_style(STYLE)", "h.join_style(STYLE)", 5),
        ("join_cls", "py_join_cls(DEFAULT_CLS, CLS)", "h.join_cls(DEFAULT_CLS, CLS)", 2.5),
        ("join_attributes", "py_join_attributes(ATTRS)", "h.join_attributes(ATTRS)", 6),
    ]:
        ns = compare(name, [Case("Python statement", py_stmt, env), Case(name, stmt, env)])
        ok &= goal(f"{name} at least {factor}x its Python statement ({ns[0] / ns[1]:.1f}x)",
                   ns[0] >= factor * ns[1])

    whole = compare("whole element (three joiners + renderer)", [
        Case("Python joiners + tornado",
             "engine_render('button', 'b1', py_join_cls(DEFAULT_CLS, CLS), py_join_style(STYLE), "
             "py_join_attributes(ATTRS), CONTENT)", env),
        Case("vora.uix._html",
             "h.render_default_html('button', 'b1', h.join_cls(DEFAULT_CLS, CLS), "
             "h.join_style(STYLE), h.join_attributes(ATTRS), CONTENT)", env),
    ])
    ok &= goal(f"whole element at least 18x the Python joiners and the engine "
               f"({whole[0] / whole[1]:.1f}x)", whole[0] >= 18 * whole[1])
    print("\nall goals met" if ok else "\nsome goals missed")


if __name__ == "__main__":
    main()
