"""What a browser builds from an element's markup, against the element tree it
came from: one comparison (`mismatches`, `problems`) of an element tree with a
parsed document, fed by two parsers that follow the HTML standard, html5lib
(`parse_html5lib`, every mode) and headless Chromium (`ChromiumPages`, the
browser mode).

A parsed document is plain data, the same from both parsers:
  {"title": text of head > title, or None,
   "body": node,
   "css": {(property, value): the browser's reading of that one declaration}}
  node = {"tag": local name, "attrs": {name: value}, "nodes": [node or text],
          and from the browser only "classes": its classList,
          "css": {property: element.style's value} for the probed properties}
"""

import pathlib
import re
import tempfile

import headless
import html5lib

from vora.core._attributes import (
    _Attribute,
    _BooleanAttribute,
    _BoundedNumericAttribute,
    _ColorAttribute,
    _ListAttribute,
    _NumericAttribute,
    _VariableListAttribute,
)
from vora.uix.element import Element
from vora.uix.widgets import Button, Cell, Div, Form, Heading, Input, Label, Page, Row, Table

# Style settings whose values are CSS lengths, colours and lists: each is read
# back through the browser's CSS object model.
CSS_TYPED = (_NumericAttribute, _BoundedNumericAttribute, _VariableListAttribute,
             _ListAttribute, _ColorAttribute)

# A page for an element that is not a Page itself: the element is the body's
# only child.
HARNESS = ('<!DOCTYPE html><html><head><meta charset="utf-8"><title></title></head>'
           '<body>{}</body></html>')


def markup(root):
    """The markup of a document that holds root."""
    return root.render() if isinstance(root, Page) else HARNESS.format(root.render())


# ------------------------------------------------------------------ the tree


def _plain(text):
    return re.fullmatch(r"[\w-]+", text, re.ASCII) is not None


def walk(element):
    yield element
    for child in element.children:
        yield from walk(child)


def css_declarations(root):
    """The (property, value) of every CSS-typed style setting in the tree."""
    found = set()
    for element in walk(root):
        for name, descriptor in element._settings[0]:
            value = descriptor.attrvalue(element)
            if value and isinstance(descriptor, CSS_TYPED):
                found.add((name, str(value)))
    return found


def _expected_attrs(element):
    """The attributes the tree declares for element, each with the value a
    browser gives it: the rendered setting before escaping, or "" for a
    boolean attribute, which is written as a bare word."""
    style, classes, attributes = element._settings
    declared = {"id": str(element.tagid)}
    pieces = list(element.default_cls)
    pieces += [str(v) for v in (d.attrvalue(element) for _, d in classes) if v]
    if pieces:
        declared["class"] = " ".join(pieces)
    declarations = [(name, d.attrvalue(element)) for name, d in style]
    text = ";".join(f"{name}: {value}" for name, value in declarations if value)
    if text:
        declared["style"] = text
    # The Page template writes the id, class and style only; its title is
    # the document's.
    if not isinstance(element, Page):
        for name, descriptor in attributes:
            value = descriptor.attrvalue(element)
            if value:
                boolean = isinstance(descriptor, _BooleanAttribute)
                declared[name] = "" if boolean else str(value)
    return declared


# ------------------------------------------------------------ the comparison


def mismatches(root, document):
    """Every way in which document differs from the element tree root, as
    full sentences that name the element by its path."""
    out = []
    if isinstance(root, Page):
        want = str(root.title)
        if document["title"] != want:
            out.append(f"title: {want!r} in the tree, {document['title']!r} in the document")
        _compare(root, document["body"], document["css"], f"body{_label(root)}", out)
    else:
        body = document["body"]
        if body["attrs"]:
            out.append(f"body: attributes {body['attrs']!r} the harness did not write")
        _compare_nodes([root], body["nodes"], document["css"], "body", out)
    return out


def _label(element):
    tagid = str(element.tagid)
    return f"#{tagid}" if _plain(tagid) else ""


def _compare(element, node, css, path, out):
    if node["tag"] != element.tagname:
        out.append(f"{path}: tag <{element.tagname}> in the tree, <{node['tag']}> in the document")
    declared, attrs = _expected_attrs(element), node["attrs"]
    for name in [*declared, *(name for name in attrs if name not in declared)]:
        if name not in attrs:
            out.append(f"{path}: attribute {name} = {declared[name]!r} missing from the document")
        elif name not in declared:
            out.append(f"{path}: attribute {name} = {attrs[name]!r} the tree did not declare")
        elif attrs[name] != declared[name]:
            out.append(f"{path}: attribute {name}: {declared[name]!r} in the tree, "
                       f"{attrs[name]!r} in the document")
    if "classes" in node:
        # A class value may hold several names, split at ASCII whitespace;
        # the browser keeps each once.
        names = re.split(r"[\t\n\f\r ]+", declared.get("class", ""))
        names = list(dict.fromkeys(name for name in names if name))
        if node["classes"] != names:
            out.append(f"{path}: classes {names!r} in the tree, "
                       f"{node['classes']!r} in the document")
    if "css" in node:
        for name, descriptor in element._settings[0]:
            value = descriptor.attrvalue(element)
            if not (value and isinstance(descriptor, CSS_TYPED)):
                continue
            reading = css[name, str(value)]
            if not reading:
                out.append(f"{path}: style {name}: {str(value)!r} is not valid CSS")
            elif node["css"].get(name) != reading:
                out.append(f"{path}: style {name}: {reading!r} on its own, "
                           f"{node['css'].get(name)!r} in the element")
    nodes = node["nodes"]
    if element.text:
        if nodes and isinstance(nodes[0], str):
            if nodes[0] != element.text:
                out.append(f"{path}: text {element.text!r} in the tree, "
                           f"{nodes[0]!r} in the document")
            nodes = nodes[1:]
        else:
            out.append(f"{path}: text {element.text!r} in the tree, '' in the document")
    _compare_nodes(element.children, nodes, css, path, out)


def _compare_nodes(children, nodes, css, path, out):
    """Compares the child elements with the nodes that should be exactly
    them. Every element the tree declares carries an id, so an element node
    without one is a wrapper that the parser made: it is reported, and its
    nodes are compared in its place."""
    flat = []
    for node in nodes:
        if isinstance(node, dict) and "id" not in node["attrs"]:
            out.append(f"{path}: an element the tree did not declare: <{node['tag']}> "
                       f"(its nodes compared in its place)")
            flat.extend(node["nodes"])
        else:
            flat.append(node)
    elements = []
    for node in flat:
        if isinstance(node, str):
            where = f"after child {len(elements)}" if elements else "before the first child"
            out.append(f"{path}: text the tree did not declare, {where}: {node!r}")
        else:
            elements.append(node)
    if len(elements) != len(children):
        out.append(f"{path}: {len(children)} children in the tree, "
                   f"{len(elements)} in the document: "
                   f"{[n['tag'] for n in elements]!r}")
        return
    for index, (child, node) in enumerate(zip(children, elements)):
        _compare(child, node, css, f"{path} > {child.tagname}{_label(child) or f'[{index}]'}", out)


# Where the browser reads our markup otherwise than the element tree says.
# Each is a pattern over the mismatch sentences above; problems() requires
# the findings a case names to show up, and nothing else.
FINDINGS = {
    # The parser drops a NUL from text and turns one in an attribute value or
    # the title into U+FFFD: HTML has no way to write the character.
    "nul": r"\\x00",
    # Input-stream preprocessing turns CR and CR LF into LF; an unescaped CR
    # never reaches the document (a "&#13;" would).
    "carriage return": r"\\r",
    # Rows directly inside a table get an implied tbody around them.
    "implied tbody": r": an element the tree did not declare: <tbody> ",
    # The attribute joiner writes any setting whose value is its own name as a
    # bare word, meant for boolean attributes: value="value" becomes a bare
    # `value`, which a browser reads as "".
    "value equal to its name": r": attribute (\S+): '\1' in the tree, '' in the document$",
    # The Page template ends in a newline after </html>, which the parser
    # appends to the body.
    "newline after the page": r"^body[^>]*: text the tree did not declare, after child \d+: '\\n'$",
}


def problems(root, document, findings=()):
    """The mismatches of document with the tree root that none of the named
    findings explains, and a line for each named finding that no longer
    shows up: [] when document is root but for those findings."""
    found = mismatches(root, document)
    patterns = {name: re.compile(FINDINGS[name]) for name in findings}
    unexplained = [m for m in found if not any(p.search(m) for p in patterns.values())]
    return unexplained + [f"finding no longer seen: {name}" for name, p in patterns.items()
                          if not any(p.search(m) for m in found)]


# ------------------------------------------------------------- hostile pages


class Free(Element):
    """Free text in each of the three containers."""

    font = _Attribute(attrtype="style", attrname="font-family")
    flavour = _Attribute(attrtype="class")
    note = _Attribute(attrtype="element", attrname="data-note")


def hostile_page(v):
    """A page with the text v in every setting that takes text, and a
    setting of each CSS type."""
    every = dict(tagid=v, title=v)
    return Page(
        Heading(text=v, color=[20, 40, 80], **every),
        Div(Form(Label(text=v, html_for=v, **every),
                 Input(name=v, value=v, placeholder=v, required=True, spellcheck=False,
                       maxlength=64, onchange=True, **every),
                 Button(text=v, type="submit", kind="primary", font_size=14, onclick=True,
                        **every),
                 action=v, onsubmit=True, **every),
            text=v, width=480, margin="auto", **every),
        Table(Row(Cell(v, **every), Cell(v, align="right", colspan=2), selected=True,
                  onclick=True, **every),
              data_columns=[v, v], striped=True, **every),
        Free(text=v, font=v, flavour=v, note=v, **every),
        background_color="#f8f8ff", padding="8px 16px", **every)


# Every hostile page has a table and ends as the Page template does.
PAGE_FINDINGS = ("implied tbody", "newline after the page")

# Name: (text, findings beyond PAGE_FINDINGS).
HOSTILE = {
    "double quotes": ('say "hi"', ()),
    "single quotes": ("it's 'quoted'", ()),
    "angle brackets": ("a < b > c", ()),
    "ampersand": ("fish & chips", ()),
    "escaped already": ("&amp; &lt;b&gt; &#39; &quot;", ()),
    "end tags": ("</td></tr></table></body>", ()),
    "script": ("<script>alert(1)</script>", ()),
    "attribute break": ('" onclick="x', ()),
    "single-quoted break": ("' onclick='x", ()),
    "javascript url": ("javascript:alert(1)", ()),
    "comment and cdata": ("<!-- x --> <![CDATA[ y ]]>", ()),
    "non-ascii": ("Zürich – Kraków · São Paulo · 東京 · ½ €", ()),
    "astral": ("\U0001d11e \U0001f600 \U00010348", ()),
    "whitespace": (" \t x \n ", ()),
    "newlines": ("one\ntwo\n", ()),
    "carriage returns": ("one\r\ntwo\rthree", ("carriage return",)),
    "nul": ("a\x00b", ("nul",)),
    "a setting's own name": ("title", ("value equal to its name",)),
}


# ---------------------------------------------------------------- the parsers


def parse_html5lib(text):
    """The document that html5lib builds from text (no CSS: it has none)."""
    html = html5lib.parse(text, namespaceHTMLElements=False)
    title = html.find("head/title")
    return {"title": None if title is None else title.text or "",
            "body": _etree_node(html.find("body")), "css": {}}


def _etree_node(element):
    nodes = [element.text] if element.text else []
    for child in element:
        if isinstance(child.tag, str):
            nodes.append(_etree_node(child))
        else:  # a comment
            nodes.append({"tag": "#comment", "attrs": {}, "nodes": []})
        if child.tail:
            nodes.append(child.tail)
    return {"tag": element.tag, "attrs": dict(element.attrib), "nodes": nodes}


# One call: reads every declaration on its own through a blank element's
# style, then walks the body.
_EXTRACT = """
const [names, declarations] = arguments;
const blank = document.createElement('div');
const readings = declarations.map(([name, value]) => {
    blank.style.cssText = '';
    blank.style.setProperty(name, value);
    return blank.style.getPropertyValue(name);
});
function walk(element) {
    const attrs = {}, css = {}, nodes = [];
    for (const a of element.attributes) attrs[a.name] = a.value;
    for (const name of names) {
        const value = element.style.getPropertyValue(name);
        if (value) css[name] = value;
    }
    for (const child of element.childNodes) {
        if (child.nodeType === Node.TEXT_NODE) nodes.push(child.data);
        else if (child.nodeType === Node.ELEMENT_NODE) nodes.push(walk(child));
        else nodes.push({tag: '#' + child.nodeName, attrs: {}, nodes: []});
    }
    return {tag: element.localName, attrs, classes: Array.from(element.classList), css, nodes};
}
const title = document.querySelector('head > title');
return {title: title && title.textContent, body: walk(document.body), readings};
"""


class ChromiumPages:
    """Loads element trees' markup into headless Chromium from a file and
    reads back the document it built."""

    def __init__(self):
        self.browser = headless.Chromium()
        self.folder = tempfile.TemporaryDirectory(prefix="vora-pages-")

    def document(self, root):
        path = pathlib.Path(self.folder.name) / "page.html"
        path.write_text(markup(root), encoding="utf-8")
        self.browser.open(path)
        declarations = sorted(css_declarations(root))
        names = sorted({name for name, _ in declarations})
        found = self.browser.driver.execute_script(_EXTRACT, names, declarations)
        return {"title": found["title"], "body": found["body"],
                "css": dict(zip(declarations, found["readings"]))}

    def close(self):
        try:
            self.browser.close()
        finally:
            self.folder.cleanup()
