"""The page walk (vora.uix._tree.render_tree, behind Element.render) against
the element code in Python over the reference joiners and the template engine:
random trees of every attribute type, overrides, odd values and templates give
the same markup or the same exception; then the walk's own duties: deep trees,
trees changed while walked, and the per-class plans."""

import gc
import sys
import threading
import weakref
from html import escape

import pytest
from hypothesis import given, strategies as st

import vora.uix._html as h
from collector import check_field
from tree_oracle import oracle, result_of
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
from vora.uix._tree import ClassDefault, render_tree
from vora.uix.element import Element, _containers_function, _settings_of, render_template

PLAN = "__vora_tree_plan__"


# What the odd values did, in order: the walk must make the same calls in the
# same order as the method, and their results show it.
LOG = []


def outcome(render, element):
    LOG.clear()
    return result_of(render, element)


# ------------------------------------------------------------ odd values

class Sub(str):
    pass


class Loud:
    """A value whose truth, text, format and equality are logged calls."""

    def __bool__(self):
        LOG.append("bool")
        return True

    def __str__(self):
        LOG.append("str")
        return f"s{len(LOG)}<&>"

    def __format__(self, spec):
        LOG.append("format")
        return f"f{len(LOG)}"

    def __eq__(self, other):
        LOG.append("eq")
        return False

    __hash__ = object.__hash__


ODD = {
    "int": lambda: 7,
    "zero": lambda: 0,
    "none": lambda: None,
    "false": lambda: False,
    "true": lambda: True,
    "sub": lambda: Sub('a"<b'),
    "loud": Loud,
    "same": lambda: "data-same",
}


class OddAttribute(_Attribute):
    """attrvalue overridden in Python: the stored text names what it returns."""

    def attrvalue(self, obj):
        value = super().attrvalue(obj)
        if value == "raise":
            raise ValueError(f"attrvalue of {obj.tagid}")
        return ODD[value]() if value in ODD else value


class PlainSetting:
    """A setting that is none of the native types: attrvalue, attrname and
    attrtype in Python."""

    def __init__(self, attrname, attrtype):
        self.attrname, self.attrtype = attrname, attrtype

    def attrvalue(self, obj):
        value = getattr(obj, "plain", "")
        return ODD[value]() if value in ODD else value


def handler(obj, event, prevent_default, event_args, event_js, dispatch):
    return f"go('{obj.tagid}', \"{event}\")"


# ------------------------------------------------------------ classes

TEMPLATE = ('<sec id="{{obj.tagid}}" class="{{obj.cls}}" data-style="{{obj.style}}" '
            '{% raw obj.attributes %}>{% raw obj.content %}</sec>')


class Everything(Element):
    """Every attribute type, in each container, with names that repeat."""

    tagname = "p"
    default_cls = ("base", "x<y")
    label = _Attribute(attrtype="element", attrname="aria-label")
    same = _Attribute(attrtype="element", attrname="data-same")
    again = _Attribute(attrtype="element", attrname="aria-label")
    size = _Attribute("md", attrtype="class", options=["sm", "md"], values=["small", ""])
    shade = _Attribute(attrtype="class", attrname="size")
    font_size = _NumericAttribute(None, attrtype="style", units="px", options=["inherit"])
    opacity = _BoundedNumericAttribute(None, attrtype="style", min=0, max=1)
    read_only = _BooleanAttribute(attrtype="element")
    wide = _BooleanAttribute(attrtype="class")
    draggable = _LogicalAttribute(None, attrtype="element")
    padding = _VariableListAttribute([0, 0, 0, 0], attrtype="style")
    data_items = _ListAttribute([], attrtype="element")
    color = _ColorAttribute(None, attrtype="style", format="css")
    border_color = _ColorAttribute(None, attrtype="style", attrname="color")
    onclick = _GenericEventAttribute(attrtype="element", eventhandler=handler)
    odd = OddAttribute(attrtype="element", attrname="data-odd")
    odd_style = OddAttribute(attrtype="style", attrname="odd")
    odd_class = OddAttribute(attrtype="class", attrname="odd")


class Listed(Everything):
    default_cls = ["l1", "l&2"]
    html_tpl = TEMPLATE


class Spelled(Element):
    default_cls = "ab"
    title = OddAttribute(attrtype="element")


class Plain(Element):
    """Settings that are no native descriptors, set by hand."""

    tagname = "q"


Plain._settings = ((("plain", PlainSetting("plain", "style")),),
                   (("plain", PlainSetting("plain", "class")),),
                   (("data-plain", PlainSetting("data-plain", "element")),
                    ("title", Element.title),
                    ("data-plain", PlainSetting("data-plain", "element"))))
Plain.containers = _containers_function(Plain)


class Decorated(Element):
    def render(self):
        return "<!--" + self.tagid + "-->" + super().render()


class Foreign(Element):
    def render(self):
        if self.text == "int":
            return 42
        return "<i>" + escape(self.text) + "</i>"


class OwnContainers(Element):
    def containers(self):
        if self.text == "short":
            return ({}, {})
        return ({"color": self.text and "red", "odd": Loud()},
                {"k": "kls", "n": None},
                {"data-own": self.tagid, "hidden": False, "same": "same"})


class Wrapped(Element):
    def content(self, render):
        return "[" + Element.content(self, render) + "]"


class Unwritten(Element):
    """A class whose settings changed after its containers was written."""

    extra = _Attribute("set", attrtype="element")


Unwritten._settings = _settings_of(Element)  # the old settings, as a stale recompute leaves them


def logged(name):
    """A property over the instance dict whose reads are logged; Element's
    slot of that name is left holding a decoy."""
    def set_value(self, value):
        self.__dict__[name] = value
        vars(Element)[name].__set__(self, ["decoy"])

    return property(lambda self: LOG.append(name) or self.__dict__[name], set_value)


class Relaid(Element):
    """text, children and tagid in properties of its own over Element's slots."""

    text, children, tagid = logged("text"), logged("children"), logged("tagid")
    title = OddAttribute(attrtype="element")


CLASSES = [Element, Everything, Listed, Spelled, Plain, Decorated, Foreign, OwnContainers,
           Wrapped, Unwritten, Relaid]

# ------------------------------------------------------------ strategies

hostile = st.sampled_from(["", "plain", "a&b", '<"quoted">', "it's", "Zürich", "Ōsaka ✓",
                           "astral \U0001f600 <", "raise", "int"] + list(ODD))
settings = {
    "label": hostile,
    "same": st.sampled_from(["", "data-same", "other"]),
    "again": hostile,
    "size": st.sampled_from(["sm", "md"]),
    "shade": hostile,
    "font_size": st.sampled_from([None, 12, 1.5, "inherit", "2em"]),
    "opacity": st.sampled_from([0, 0.25, 1]),
    "read_only": st.booleans(),
    "wide": st.booleans(),
    "draggable": st.sampled_from([None, True, False]),
    "padding": st.sampled_from([[1], [1, 2], [1, 2, 3, 4], "3px 4px"]),
    "data_items": st.sampled_from([[], [1, "b"], ["<&>"]]),
    "color": st.sampled_from([None, "#ff0080", [1, 2, 3], (0, 128, 255, 0.5)]),
    "border_color": st.sampled_from([None, "#00ff00"]),
    "onclick": st.booleans(),
    "odd": hostile,
    "odd_style": hostile,
    "odd_class": hostile,
    "title": hostile,
    "hidden": st.booleans(),
}


@st.composite
def element(draw, children):
    cls = draw(st.sampled_from(CLASSES))
    kwargs = {name: draw(strategy) for name, strategy in settings.items()
              if hasattr(cls, name) and draw(st.booleans())}
    made = cls(*children, text=draw(hostile), tagid=draw(st.sampled_from(["e", "q\"'<&>"])),
               **kwargs)
    if cls is Plain:
        made.plain = draw(hostile)
    if draw(st.integers(0, 9)) == 0:
        made.html_tpl = TEMPLATE
    return made


trees = st.recursive(element([]), lambda kids: st.lists(kids, max_size=3).flatmap(element),
                     max_leaves=8)


@given(trees)
def test_same_markup_as_the_element_code(tree):
    assert outcome(render_tree, tree) == outcome(oracle, tree)


# ------------------------------------------------------------ errors

def test_a_child_render_that_is_no_str_fails_the_join_after_its_siblings():
    rendered = []

    class Counted(Element):
        def render(self):
            rendered.append(self.tagid)
            return super().render()

    tree = Element(Counted(tagid="a"), Foreign(text="int"), Counted(tagid="b"), Foreign(text="int"))
    with pytest.raises(TypeError) as info:
        tree.render()
    assert str(info.value) == "sequence item 1: expected str instance, int found"
    assert rendered == ["a", "b"]


def test_an_element_whose_slots_were_never_set_fails_as_the_lookup_does():
    class Unset(Element):
        def __init__(self):
            pass

    failure = outcome(render_tree, Unset())
    assert failure == outcome(oracle, Unset())
    assert failure[0] is AttributeError and failure[1].endswith(" has no attribute 'tagid'")


@pytest.mark.parametrize("containers, error, message", [
    (lambda: ({}, {}), ValueError, "not enough values to unpack (expected 3, got 2)"),
    (lambda: [{}, {}, {}, {}], ValueError, "too many values to unpack (expected 3, got 4)"),
    (lambda: iter([{}] * 4), ValueError, "too many values to unpack (expected 3)"),
    (lambda: iter([{}]), ValueError, "not enough values to unpack (expected 3, got 1)"),
    (lambda: {1: 1, 2: 2, 3: 3, 4: 4}, ValueError, "too many values to unpack (expected 3, got 4)"),
    (lambda: 5, TypeError, "cannot unpack non-iterable int object"),
])
def test_containers_unpacked_as_the_method_unpacks_them(containers, error, message):
    class Odd(Element):
        def containers(self):
            return containers()

    with pytest.raises(error) as info:
        Odd().render()
    assert str(info.value) == message


def test_root_template_result_is_returned_as_it_is():
    class Raw(Element):
        html_tpl = "raw"

    # The root's markup is what its template made, even if it is no str; a
    # child's must be a str.
    from vora.uix import element as module
    saved = module.render_template
    module.render_template = lambda element, tpl, pieces: pieces
    try:
        assert render_tree(Raw(tagid="r", text="t")) == ("div", "r", "", "", "", "t")
        with pytest.raises(TypeError, match="sequence item 0: expected str instance, tuple found"):
            render_tree(Element(Raw()))
    finally:
        module.render_template = saved


def test_only_elements():
    with pytest.raises(TypeError) as info:
        render_tree(object())
    assert str(info.value) == "render_tree() argument must be an Element, not object"


def test_a_replaced_html_escape_is_called_for_every_attribute():
    calls = []

    def shout(text, quote=True):
        calls.append((text, quote))
        return text.upper()

    tree = Element(Element(title="a&b"), Element(title="c"), title="root")
    h.html_escape = shout
    try:
        markup = tree.render()
    finally:
        h.html_escape = escape
    assert calls == [("root", True), ("a&b", True), ("c", True)]
    assert markup.count('title="A&B"') == 1 and 'title="ROOT"' in markup
    assert tree.render() == oracle(tree)


def test_a_binding_changed_by_a_child_comes_after_its_parent_joined():
    class Rebind(Element):
        def render(self):
            h.html_escape = lambda text, quote=True: text.upper()
            return "<r/>"

    tree = Element(Element(title="a", tagid="c"), Rebind(), title="t", tagid="p")
    try:
        markup = tree.render()
    finally:
        h.html_escape = escape
    assert markup == '<div id="p"  title="t" ><div id="c"  title="a" ></div><r/></div>'


# ------------------------------------------------------------ the walk's duties

def test_deep_tree_ends_in_recursion_error():
    if sys.version_info >= (3, 14):
        # In a thread with a small stack the interpreter's stack check stops
        # the walk after a few hundred levels: far less than this.
        depth, stack = 3_000, 256 * 1024
    else:
        # 3.13 counts C levels (10,000) instead of measuring the stack: a
        # deeper tree, in a thread whose stack holds that many.
        depth, stack = 12_000, 64 * 1024 * 1024
    tree = Element()
    for _ in range(depth):
        tree = Element(tree)
    errors = []

    def run():
        try:
            render_tree(tree)
        except RecursionError as exc:
            errors.append(exc)

    old = threading.stack_size(stack)
    try:
        worker = threading.Thread(target=run)
        worker.start()
    finally:
        threading.stack_size(old)
    worker.join()
    assert len(errors) == 1
    del tree
    gc.collect()


@pytest.mark.parametrize("change", ["grow", "clear", "swap", "settings", "retag", "reslot",
                                    "replan"])
def test_overrides_that_change_the_tree_while_it_is_walked(change):
    def make():
        class Parent(Element):
            size = _Attribute(attrtype="class")

        class Mutator(Element):
            def render(self):
                parent = self.parent
                if change == "clear":
                    parent.children.clear()
                elif change == "grow":
                    parent.children.append(Element(text="late", tagid="late"))
                elif change == "swap":
                    parent.children = [Element(text="new", tagid="new")]
                    parent.title = "changed"
                elif change == "settings":
                    parent.children[-1].title = "retitled"
                elif change == "retag":
                    parent.tagname, parent.tagid = "section", "re"
                elif change == "reslot":
                    # The parent's class now reads its id elsewhere than its slot.
                    Parent.tagid = property(lambda self: "prop")
                elif change == "replan":
                    # The parent's plan is replaced while the parent is walked.
                    Parent._settings = ((), (), (("data-size", Parent.size),))
                    Parent.containers = _containers_function(Parent)
                self.parent = None
                return "<m/>"

        tree = Parent(title="t", tagid="root", size="big")
        child = Mutator(tagid="m")
        child.parent = tree
        tree.children = [Element(text="keep", tagid="a"), child, Element(text="keep", tagid="b")]
        return tree

    assert outcome(render_tree, make()) == outcome(oracle, make())


def test_plans_follow_their_classes():
    class Box(Element):
        tagname = "b"
        size = _Attribute(attrtype="class")

    box = Box(size="big", title="t")
    assert box.render() == oracle(box)
    plan = vars(Box)[PLAN]
    assert box.render() == oracle(box) and vars(Box)[PLAN] is plan

    # Settings recomputed without a new containers: the method would still
    # write the old ones, and so does the walk; with it, the new ones.
    before = box.render()
    Box._settings = ((("x-title", Element.title),), (), (("data-size", Box.size),))
    assert box.render() == before
    Box.containers = _containers_function(Box)
    assert box.render() == oracle(box) == box.render()
    assert 'style="x-title: t"' in box.render() and 'data-size="big"' in box.render()
    assert vars(Box)[PLAN] is not plan

    reads = []
    Box.tagname = property(lambda self: reads.append(1) or "bb")
    assert box.render() == oracle(box) and len(reads) == 2

    Box.render = lambda self: "<own/>"
    assert Element(box, tagid="p").render() == '<div id="p"   ><own/></div>'


def test_plan_is_the_class_own():
    class Base(Element):
        size = _Attribute(attrtype="class")

    class Derived(Base):
        colour = _Attribute(attrtype="style", attrname="color")

    Base(size="s").render()
    derived = Derived(size="s", colour="red", tagid="d")
    assert PLAN not in vars(Derived)
    assert derived.render() == '<div id="d"  class="s"  style="color: red"   ></div>'
    assert vars(Derived)[PLAN] is not vars(Base)[PLAN]


def test_plan_dies_with_its_class():
    def make():
        class Passing(Element):
            size = _Attribute(attrtype="class")

        Passing(size="x").render()
        return weakref.ref(Passing)

    ref = make()
    gc.collect()
    assert ref() is None


def test_an_instance_may_set_its_own_tagname_and_default_classes():
    class Box(Element):
        tagname = "section"
        default_cls = ["a"]

    box = Box(tagid="b", tagname="span", default_cls=("x", "y"))
    assert type(vars(Box)["tagname"]) is ClassDefault and Box.tagname == "section"
    assert box.render() == oracle(box) == '<span id="b"  class="x y"   ></span>'
    del box.tagname, box.default_cls
    assert box.render() == oracle(box) == '<section id="b"  class="a"   ></section>'
    with pytest.raises(AttributeError) as info:
        del box.tagname
    assert str(info.value) == "'Box' object has no attribute 'tagname'"


@pytest.mark.parametrize("call, message", [
    (lambda: vars(Element)["tagname"].__get__(object()),
     "descriptor 'tagname' for 'Element' objects doesn't apply to a 'object' object"),
    (lambda: vars(Element)["tagname"].__set__(object(), "p"),
     "descriptor 'tagname' for 'Element' objects doesn't apply to a 'object' object"),
    (lambda: ClassDefault("tagname", "div", Element.title),
     "ClassDefault() needs an object slot, not vora.core._attributes._Attribute"),
    (lambda: ClassDefault(1, "div", vars(Element)["_own_tagname"]), "Expected str, got int"),
])
def test_class_default_refusals(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_class_default_value_takes_part_in_collection():
    check_field(lambda payload: ClassDefault("tagname", payload, vars(Element)["_own_tagname"]))


def plan_holding(payload, where):
    """A plan whose field holds payload, which only the plan keeps."""
    cls = type("Holder", (Element,), {})
    if where == "settings":
        cls._settings = ((), (), (("x", payload),))
        cls.containers = _containers_function(cls)
    else:
        setattr(cls, where, payload)
    try:
        render_tree(cls())
    except Exception:  # the payload is no real setting or method
        pass
    plan = vars(cls)[PLAN]
    if where == "settings":
        cls.containers.__globals__.clear()  # its namespace holds it and the payload
    for name in (PLAN, "_settings", "_written_containers", "containers", where):
        if name in vars(cls):
            delattr(cls, name)
    return plan


@pytest.mark.parametrize("where", ["settings", "render", "content", "containers"])
def test_plan_fields_take_part_in_collection(where):
    check_field(lambda payload: plan_holding(payload, where), chain=where == "settings",
                depth=200)
