"""render_default_html against the template engine running DEFAULT_HTML_TPL."""

from types import SimpleNamespace

import pytest
import tornado.template
from hypothesis import given, strategies as st

import vora.uix._html as h

ENGINE = tornado.template.Template(h.DEFAULT_HTML_TPL)


def engine(tagname, tagid, cls, style, attributes, content):
    """The engine fed what the renderer normalises its arguments to."""
    ns = SimpleNamespace(
        tagname="" if tagname is None else tagname,
        tagid="" if tagid is None else tagid,
        cls=cls or "",
        style=style or "",
        attributes=attributes or "",
        content="" if content is None else content,
    )
    return ENGINE.generate(obj=ns).decode()


# The engine encodes to UTF-8, which lone surrogates cannot take.
text = st.text(st.one_of(st.sampled_from("&<>\"' x"),
                         st.characters(exclude_categories=("Cs",))), max_size=40)
text_or_none = st.one_of(st.none(), text)
text_or_false = st.one_of(st.sampled_from([None, 0, False, [], ""]), text)


@given(text_or_none, text_or_none, text_or_false, text_or_false, text_or_false, text_or_none)
def test_matches_engine(tagname, tagid, cls, style, attributes, content):
    args = (tagname, tagid, cls, style, attributes, content)
    result = h.render_default_html(*args)
    assert type(result) is str
    assert result == engine(*args)


def test_keywords():
    args = dict(tagname="a", tagid="b", cls="c", style="d", attributes="e", content="f")
    assert h.render_default_html(**args) == engine(**args)
    assert h.render_default_html("a", "b", "c", content="f", attributes="e", style="d") == engine(
        **args)


@pytest.mark.parametrize("args, expected", [
    (("div", "e1", "btn big", "color: red", 'title="x"', "hi"),
     '<div id="e1"  class="btn big"  style="color: red"  title="x" >hi</div>'),
    (("div", "", None, None, None, None), '<div id=""   ></div>'),
    ((None, None, "", "", "", ""), '< id=""   ></>'),
    (("span", "s1", "", None, "disabled", "<b>x</b>"), '<span id="s1"  disabled ><b>x</b></span>'),
    (("p", "x", 0, False, [], ""), '<p id="x"   ></p>'),
    (("p", "x", "", "", 'a="1"', "'\"&<>"), '<p id="x"  a="1" >\'"&<></p>'),
    (("a&", "<'\">", "c<", "s&", "<raw>", "<c>"),
     '<a&amp; id="&lt;&#x27;&quot;&gt;"  class="c&lt;"  style="s&amp;"  <raw> ><c></a&amp;>'),
    (("d\xe9", "\u20ac", "\U0001f600", "x", "y", "\xff"),
     '<d\xe9 id="\u20ac"  class="\U0001f600"  style="x"  y >\xff</d\xe9>'),
    (("div", "\ud800<", None, None, None, None), '<div id="\ud800&lt;"   ></div>'),
])
def test_examples(args, expected):
    assert h.render_default_html(*args) == expected


class Truthy:
    def __bool__(self):
        return True


class NoBool:
    def __bool__(self):
        raise ZeroDivisionError("no truth")


class Sub(str):
    pass


@pytest.mark.parametrize("args, error, message", [
    ((0, "", "", "", "", ""), TypeError, "Expected str, got int"),
    (("", False, "", "", "", ""), TypeError, "Expected str, got bool"),
    (("", Sub("x"), "", "", "", ""), TypeError, "Expected str, got Sub"),
    (("", "", ["a"], "", "", ""), TypeError, "Expected str, got list"),
    (("", "", Truthy(), "", "", ""), TypeError, "Expected str, got Truthy"),
    (("", "", "", Sub("s"), "", ""), TypeError, "Expected str, got Sub"),
    (("", "", "", "", 1, ""), TypeError, "Expected str, got int"),
    (("", "", "", "", "", False), TypeError, "Expected str, got bool"),
    (("", "", "", "", "", b""), TypeError, "Expected str, got bytes"),
    (("", "", NoBool(), "", "", ""), ZeroDivisionError, "no truth"),
    (("", "", "", "", NoBool(), ""), ZeroDivisionError, "no truth"),
    # The first offender in parameter order is the one reported.
    ((1, b"", NoBool(), "", "", ""), TypeError, "Expected str, got int"),
    (("", "", [1], NoBool(), "", ""), TypeError, "Expected str, got list"),
    (("", "", NoBool(), 1, "", ""), ZeroDivisionError, "no truth"),
    (("", "", "", "", 1.5, 2), TypeError, "Expected str, got float"),
])
def test_rejected_arguments(args, error, message):
    with pytest.raises(error) as info:
        h.render_default_html(*args)
    assert str(info.value) == message
