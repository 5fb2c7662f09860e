"""What an HTML parser that follows the standard (html5lib) builds from our
markup is the element tree: every element, attribute, class, style and text
in place, nothing more. tests/test_browser.py asks Chromium the same."""

from hypothesis import given
from hypothesis import strategies as st

import dom_check
from dom_check import HOSTILE, PAGE_FINDINGS, hostile_page, mismatches, parse_html5lib, problems
from page import build_page
from vora.uix.widgets import Button, Cell, Div, Form, Heading, Input, Label, Row, Table

# NUL and CR are findings of the hostile pages (the markup does not keep
# them); the generated trees leave them out so that they look for new ones.
# The surrogates cannot be encoded.
texts = st.text(st.characters(exclude_categories=["Cs"], exclude_characters="\x00\r"),
                max_size=8)
common = dict(text=texts, title=texts, tagid=texts)


def parents(cls, children, **settings):
    return st.builds(lambda children, **kw: cls(*children, **kw), children, **settings)


leaves = st.one_of(
    st.builds(Heading, color=st.tuples(*[st.integers(0, 255)] * 3), **common),
    st.builds(Label, html_for=texts, **common),
    st.builds(Input, name=texts, value=texts, placeholder=texts, required=st.booleans(),
              spellcheck=st.sampled_from([None, True, False]), maxlength=st.integers(1, 1024),
              tagid=texts, title=texts),
    st.builds(Button, kind=st.sampled_from(["default", "primary", "danger"]),
              disabled=st.booleans(), onclick=st.booleans(), **common),
    parents(Table, st.lists(parents(Row, st.lists(st.builds(Cell, texts, title=texts,
                                                            tagid=texts), max_size=3),
                                    selected=st.booleans(), tagid=texts), max_size=2),
            data_columns=st.lists(texts, max_size=3), tagid=texts),
)
divs = st.recursive(leaves, lambda inner: parents(
    Div, st.lists(inner, max_size=3), align=st.sampled_from(["", "left", "center"]),
    width=st.integers(0, 999), **common), max_leaves=8)
# At least two elements; forms do not nest.
trees = st.one_of(parents(Div, st.lists(divs, min_size=1, max_size=3), **common),
                  parents(Form, st.lists(divs, min_size=1, max_size=3), action=texts, **common))


@given(trees)
def test_generated_trees_parse_as_declared(tree):
    tables = any(isinstance(e, Table) and e.children for e in dom_check.walk(tree))
    findings = ("implied tbody",) if tables else ()
    assert problems(tree, parse_html5lib(dom_check.markup(tree)), findings) == []


def test_hostile_text_stays_text():
    # One test for all of them: each test costs about a second in leak mode.
    found = {}
    for name, (text, findings) in HOSTILE.items():
        page = hostile_page(text)
        found[name] = problems(page, parse_html5lib(page.render()), PAGE_FINDINGS + findings)
    assert found == dict.fromkeys(HOSTILE, [])


def test_main_page_parses_as_declared():
    page = build_page(rows=12, fields=3)
    assert problems(page, parse_html5lib(page.render()), PAGE_FINDINGS) == []


def test_comparison_sees_each_kind_of_difference():
    # Each change made to the tree after rendering is one mismatch, in full.
    label = Label(text="Name", html_for="n", tagid="l")
    form = Form(Div(label, tagid="d"), Input(name="n", tagid="i"), Button(tagid="b"),
                action="/go", tagid="f")
    document = parse_html5lib(dom_check.markup(form))
    label.text, label.html_for, label.title = "Nom", "m", "new"
    form.children[1].tagname = "textarea"
    form.children.pop()
    form.action = ""
    assert mismatches(form, document) == [
        "body > form#f: attribute action = '/go' the tree did not declare",
        "body > form#f: 2 children in the tree, 3 in the document: ['div', 'input', 'button']",
    ]
    form.children.append(Button(tagid="b"))
    form.action = "/go"
    assert sorted(mismatches(form, document)) == [
        "body > form#f > div#d > label#l: attribute for: 'm' in the tree, 'n' in the document",
        "body > form#f > div#d > label#l: attribute title = 'new' missing from the document",
        "body > form#f > div#d > label#l: text 'Nom' in the tree, 'Name' in the document",
        "body > form#f > textarea#i: tag <textarea> in the tree, <input> in the document",
    ]
    # A finding explains the mismatches it matches, and must match one.
    assert problems(form, document, ("value equal to its name", "nul")) == [
        *mismatches(form, document), "finding no longer seen: value equal to its name",
        "finding no longer seen: nul"]
