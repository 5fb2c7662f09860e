"""Renders a small sample page through vora.uix._html and checks it against the template engine.

Each element of the page has a tag, an id, default classes and the three
containers that the framework fills from an element's settings (class names,
style properties, attributes). The page is rendered twice: by the native
module (joiners + renderer) and the way it was done before, by Python
joiners and the template engine running DEFAULT_HTML_TPL. The two must be
identical, byte for byte; then both are timed.
"""

import html
import sys
import timeit
from types import SimpleNamespace

import tornado.template

import vora.uix._html as fast


class Element:
    def __init__(self, tag, eid, *children, default_cls=(), cls=None, style=None, attrs=None,
                 text=""):
        self.tag, self.eid, self.children = tag, eid, children
        self.default_cls, self.cls, self.style, self.attrs = list(default_cls), cls, style, attrs
        self.text = text

    def render(self):
        """The element's markup through the native module."""
        content = html.escape(self.text) + "".join(child.render() for child in self.children)
        return fast.render_default_html(
            self.tag, self.eid, fast.join_cls(self.default_cls, self.cls),
            fast.join_style(self.style), fast.join_attributes(self.attrs), content)

    def render_with_engine(self):
        """The element's markup through Python joiners and the template engine."""
        content = html.escape(self.text) + "".join(
            child.render_with_engine() for child in self.children)
        obj = SimpleNamespace(
            tagname=self.tag, tagid=self.eid, cls=py_join_cls(self.default_cls, self.cls),
            style=py_join_style(self.style), attributes=py_join_attributes(self.attrs),
            content=content)
        return ENGINE.generate(obj=obj).decode()


ENGINE = tornado.template.Template(fast.DEFAULT_HTML_TPL)


def py_join_style(container):
    if not container:
        return ""
    return ";".join("{0}: {1}".format(k, v) for k, v in container.items() if v)


def py_join_cls(default_cls, container):
    pieces = list(default_cls) if default_cls else []
    if container:
        pieces.extend(v for v in container.values() if v)
    return " ".join(pieces)


def py_join_attributes(container):
    if not container:
        return ""
    out = []
    for k, v in container.items():
        if v:
            text = html.escape(v if type(v) is str else str(v), quote=True)
            out.append(text if k == v else '{0}="{1}"'.format(k, text))
    return " ".join(out)


def sample_page():
    return Element(
        "div", "page",
        Element("h1", "title", text="Sign up & stay <informed>"),
        Element(
            "form", "signup",
            Element("input", "email", default_cls=["field"], attrs={
                "type": "email", "name": "email", "placeholder": "you@example.com",
                "required": "required", "maxlength": 64}),
            Element("button", "send", default_cls=["btn"], cls={"kind": "btn-primary",
                                                                 "busy": ""},
                    style={"font-size": "12px", "margin": 0}, text="Send",
                    attrs={"type": "submit", "title": 'Send "now"', "disabled": False}),
            attrs={"action": "/signup", "method": "post"},
        ),
        default_cls=["page"], style={"max-width": "40em", "margin": "0 auto"},
    )


def best_us(render, rounds=5):
    number = max(1, int(0.05 / timeit.timeit(render, number=1)))
    return min(timeit.repeat(render, number=number, repeat=rounds)) / number * 1e6


def main():
    page = sample_page()
    markup = page.render()
    print(markup)
    if markup != page.render_with_engine():
        print("\nMISMATCH: the native markup differs from the template engine's", file=sys.stderr)
        return 1
    print("\nidentical to the template engine's output")
    native, engine = best_us(page.render), best_us(page.render_with_engine)
    print(f"native module:   {native:8.2f} us per page")
    print(f"template engine: {engine:8.2f} us per page")
    print(f"speed-up:        {engine / native:8.1f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
