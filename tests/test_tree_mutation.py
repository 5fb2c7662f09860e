"""The page walk while user code changes what it walks: at every point where a
render calls out (an attrvalue override, a value's __bool__, __str__,
__format__, __eq__ or replace, a property, a content, render or containers
override, a template, a replaced escape, a colliding key in a module dict)
hooks change the tree, the classes or the module globals, or raise. Every path
must give the same markup or exception as the element code in Python
(tree_oracle), after the same calls out in the same order."""

import functools
import html
import types

from hypothesis import example, given, settings, strategies as st

import tree_oracle
import vora.uix._html as h
import vora.uix.element as em
from tree_oracle import oracle, result_of
from vora.core._attributes import _Attribute
from vora.uix import reference
from vora.uix._html import DEFAULT_HTML_TPL
from vora.uix._tree import render_tree
from vora.uix.element import Element, _containers_function, _settings_of, render_python

# Templates besides the default (the engine caches each text it compiles):
# shells, which use the content once, raw, at their top level (the walk puts
# their output around the content it wrote; SHELL reads settings of the
# element that may call out before and after it), and one that needs the
# content itself.
TPL = '<t id="{{obj.tagid}}" c="{{obj.cls}}" s="{{obj.style}}" {% raw obj.attributes %}>{% raw obj.content %}</t>'
SHELL = '<s>{{ obj.element.tagname }}|{% raw obj.content %}|{{ obj.element.text }}</s>'
ESCAPED = '<e id="{{obj.tagid}}">{{ obj.content }}</e>'
TEMPLATE = em.render_template
ORIGINAL = {"html_escape": (vars(h), h.html_escape), "escape": (vars(em), em.escape),
            "render_template": (vars(em), em.render_template)}
WORLD = None  # the world being rendered; its hooks fire while it is armed


class World:
    def __init__(self, description):
        self.hooks = {point: list(queue) for point, queue in description["hooks"].items()}
        self.log, self.classes, self.nodes, self.keys = [], [Element], [], []
        self.armed, self.own_cls = False, ["pa", "pb"]


def fire(point, subject=None):
    """Logs the call out; runs the next list of changes queued for the point."""
    world = WORLD
    if world is not None and world.armed:
        world.log.append(point)
        queue = world.hooks.get(point)
        for op in queue.pop(0) if queue else ():
            apply(world, op, subject)


def calls_out(point, result):
    def method(self, *args):
        fire(point, self)
        return result(self, *args) if callable(result) else result
    return method


class Hooked:
    """A value whose truth, text, format, equality and escape are calls out."""

    __bool__, __str__, __format__ = (calls_out("bool", True), calls_out("str", "h&<"),
                                     calls_out("format", "f&<"))
    __eq__, __hash__, __repr__ = calls_out("eq", False), object.__hash__, lambda self: "Hooked()"
    replace = calls_out("replace", lambda self, old, new: "h&<".replace(old, new))  # html.escape's


class Colliding:
    """A module dict key that a lookup of `name` compares with."""

    def __init__(self, name):
        self.name = name

    def __hash__(self):
        return hash(self.name)

    def __eq__(self, other):
        fire("key_" + self.name)
        return False


class HookAttribute(_Attribute):
    def attrvalue(self, obj):
        value = super().attrvalue(obj)
        fire("attrvalue", obj)
        return Hooked() if value == "hooked" else value


SETTINGS = {
    "title": lambda: HookAttribute(attrtype="element"),
    "data_x": lambda: HookAttribute(attrtype="element", attrname="data-x"),
    "color": lambda: HookAttribute(attrtype="style", attrname="color"),
    "size": lambda: _Attribute(attrtype="class"),
    "tone": lambda: HookAttribute(attrtype="class"),
}
VALUES = ["t", 'v&<"', "", "hooked"]
TEXTS = {"t": lambda: "t&<", "": lambda: "", "hooked": Hooked, "int": lambda: 5}
OWN = {"tagname": ["i", "b"], "default_cls": [("o",), ["l1", "l2"]],
       "html_tpl": [TPL, DEFAULT_HTML_TPL, SHELL, ESCAPED]}


def own(name, index):
    value = OWN[name][index % len(OWN[name])]
    return list(value) if type(value) is list else value  # a list that "grow" may change


def escaping(point, mark):
    def replacement(text, quote=True):
        fire(point)
        return mark + html.escape(text if type(text) is str else str(text), quote=quote)
    return replacement


def hooked_template(element, text, pieces):
    fire("template", element)
    return TEMPLATE(element, text, pieces)


REPLACEMENTS = {"escape": escaping("escape", "E"), "html_escape": escaping("html_escape", "H"),
                "render_template": hooked_template}


# The element module's global render_template, looked up as its own code
# does (a module attribute would turn an error of the lookup into its own).
template_global = types.FunctionType((lambda: render_template).__code__, vars(em))  # noqa: F821


def oracle_template(element, text, pieces):
    # The oracle's engine makes the default markup; any other template goes
    # to the module's render_template of the moment, as in the walk.
    if text is DEFAULT_HTML_TPL:
        return TEMPLATE(element, text, pieces)
    return template_global()(element, text, pieces)


def class_value(name):
    return property(calls_out(name, lambda self: {"tagname": "em", "html_tpl": TPL}.get(name)
                              or WORLD.own_cls))


def slot_value(name):
    slot = vars(Element)[name]
    return property(calls_out(name, lambda self: slot.__get__(self, type(self))), slot.__set__)


PROPERTIES = {name: class_value(name) for name in OWN} | {
    name: slot_value(name) for name in ("text", "children")}
METHODS = {
    "content": calls_out("content", lambda self, render: "[" + Element.content(self, render) + "]"),
    "render": calls_out("render", "<r/>"),
    "containers": calls_out("containers", lambda self: (
        {"color": Hooked()}, {"c": "own"}, {"data-own": 'o&"', "data-h": Hooked()})),
}


def wrapped(containers):
    return functools.wraps(containers)(calls_out("containers", containers))


def collide(name):
    """A key with name's hash, put before name's own in its module's dict."""
    d, key = ORIGINAL[name][0], Colliding(name)
    WORLD.keys.append((d, key))
    value = d.pop(name)
    try:
        d[key] = None
    finally:
        d[name] = value


def apply(world, op, subject):
    kind, *args = op
    if kind == "raise":
        raise ValueError(f"raised with {len(world.log)} calls made")
    if kind == "global":
        d, value = ORIGINAL[args[0]]
        d[args[0]] = REPLACEMENTS[args[0]] if d.get(args[0]) is value else value
        return
    if kind == "collide":
        return collide(args[0])
    # A negative index is the element that the call out is about, else the root.
    node = world.nodes[args[0] % len(world.nodes)] if args[0] >= 0 else subject
    node = node if isinstance(node, Element) else world.nodes[0]
    if len(args) > 1 and type(args[1]) is tuple:
        leaf = world.classes[args[1][0] % len(world.classes)](text=TEXTS[args[1][1]](), tagid="new")
        world.nodes.append(leaf)
    if kind == "add":
        node.children.append(leaf)
    elif kind == "pop" and node.children:
        node.children.pop()
    elif kind == "clear":
        node.children.clear()
    elif kind == "swap":
        node.children[:1] = [leaf]
    elif kind == "assign":
        node.children = (tuple if args[2] else list)([leaf])
    elif kind == "text":
        node.text = TEXTS[args[1]]()
    elif kind in ("set", "own"):
        setattr(node, args[1], args[2] if kind == "set" else own(args[1], args[2]))
    elif kind == "grow" and type(default_cls := node.default_cls) is list:
        default_cls.append(12345)
    elif kind == "reclass":
        node.__class__ = world.classes[args[1] % len(world.classes)]
    elif kind in ("class", "content", "render", "containers"):
        cls = type(node) if args[1] < 0 else world.classes[args[1] % len(world.classes)]
        if cls not in world.classes[1:]:
            return  # Element itself stays as it is
        if kind == "class":
            setattr(cls, args[2], own(args[2], args[3]))
        elif kind != "containers":
            if args[2]:
                setattr(cls, kind, METHODS[kind])
            elif kind in vars(cls):
                delattr(cls, kind)
        elif args[2] == "regen":
            cls._settings = _settings_of(cls)
            cls.containers = _containers_function(cls)
        else:
            cls.containers = METHODS["containers"] if args[2] == "custom" else wrapped(cls.containers)


def build(description, world):
    for i, shape in enumerate(description["classes"]):
        namespace = {name: SETTINGS[name]() for name in shape["settings"]}
        namespace |= {method: METHODS[method] for method in shape["methods"]}
        for name, value in shape["values"].items():
            namespace[name] = (PROPERTIES[name] if value == "prop" else
                               ["a", "b"] if value == "list" else value)
        cls = type(f"C{i + 1}", (world.classes[shape["base"] % len(world.classes)],), namespace)
        if shape["wraps"]:
            cls.containers = wrapped(cls.containers)
        world.classes.append(cls)
    for i, (kind, parent, text, values, owned) in enumerate(description["nodes"]):
        node = world.classes[kind % len(world.classes)](text=TEXTS[text](), tagid=f"n{i}")
        for name, value in values.items():
            setattr(node, name, value)
        for name, index in owned.items():
            try:
                setattr(node, name, own(name, index))
            except AttributeError:  # a property without a setter
                pass
        if world.nodes:
            world.nodes[parent % len(world.nodes)].children.append(node)
        world.nodes.append(node)
    for name in description["globals"]:
        if name.startswith("key_"):
            collide(name[4:])
        else:
            ORIGINAL[name][0][name] = REPLACEMENTS[name]


def settle():
    """The module dicts rebuilt key by key (a copy may keep the layout): how
    often a lookup compares with a colliding key depends on whether a change
    made during it resizes the dict, so every run starts from the same one."""
    for d in (vars(h), vars(em)):
        items = list(d.items())
        d.clear()
        for key, value in items:
            d[key] = value


def outcome(render, description):
    """render's result for a world built from description, and the calls out."""
    global WORLD
    WORLD = world = World(description)
    settle()
    try:
        build(description, world)
        if render is oracle:
            tree_oracle.render_template = oracle_template
        world.armed = True
        return result_of(render, world.nodes[0]), world.log
    finally:
        world.armed, WORLD = False, None
        tree_oracle.render_template = TEMPLATE
        for d, key in world.keys:
            d.pop(key, None)
        for name, (d, value) in ORIGINAL.items():
            d[name] = value
        settle()


node_index, class_index = st.integers(-1, 5), st.integers(-1, 3)
texts = st.sampled_from(["t", "", "t", "hooked", "t", "int", "t"])
leaf = st.tuples(st.integers(0, 3), texts)
op = st.one_of(
    st.tuples(st.sampled_from(["raise"])),
    st.tuples(st.sampled_from(["global", "collide"]), st.sampled_from(list(ORIGINAL))),
    st.tuples(st.sampled_from(["pop", "clear", "grow"]), node_index),
    st.tuples(st.sampled_from(["add", "swap"]), node_index, leaf),
    st.tuples(st.just("assign"), node_index, leaf, st.booleans()),
    st.tuples(st.just("text"), node_index, texts),
    st.tuples(st.just("set"), node_index, st.sampled_from(list(SETTINGS)), st.sampled_from(VALUES)),
    st.tuples(st.just("own"), node_index, st.sampled_from(list(OWN)), st.integers(0, 3)),
    st.tuples(st.just("reclass"), node_index, st.integers(0, 3)),
    st.tuples(st.just("class"), node_index, class_index, st.sampled_from(list(OWN)),
              st.integers(0, 3)),
    st.tuples(st.sampled_from(["content", "render"]), node_index, class_index, st.booleans()),
    st.tuples(st.just("containers"), node_index, class_index,
              st.sampled_from(["custom", "wraps", "regen"])),
)
POINTS = ["attrvalue", "bool", "str", "format", "eq", "replace", "content", "render", "containers",
          "template", "escape", "html_escape"] + ["key_" + n for n in ORIGINAL] + list(PROPERTIES)
shape = st.fixed_dictionaries({
    "base": st.integers(0, 3),
    "settings": st.lists(st.sampled_from(list(SETTINGS)), max_size=3, unique=True),
    "values": st.fixed_dictionaries({}, optional={
        "tagname": st.sampled_from(["p", "prop"]),
        "default_cls": st.sampled_from([("a", "b"), "ab", "list", "prop"]),
        "html_tpl": st.sampled_from([TPL, "prop", SHELL, ESCAPED]),
        "text": st.just("prop"), "children": st.just("prop")}),
    "methods": st.lists(st.sampled_from(list(METHODS)), max_size=2, unique=True),
    "wraps": st.booleans(),
})
node = st.tuples(st.integers(0, 3), st.integers(0, 5), texts,
                 st.dictionaries(st.sampled_from(list(SETTINGS)), st.sampled_from(VALUES),
                                 max_size=2),
                 st.dictionaries(st.sampled_from(list(OWN)), st.integers(0, 3), max_size=1))
descriptions = st.fixed_dictionaries({
    "classes": st.lists(shape, min_size=1, max_size=3),
    "nodes": st.lists(node, min_size=1, max_size=6),
    "globals": st.lists(st.sampled_from(list(ORIGINAL) + ["key_" + n for n in ORIGINAL]),
                        max_size=3, unique=True),
    "hooks": st.dictionaries(st.sampled_from(POINTS), st.lists(
        st.lists(op, min_size=1, max_size=2), min_size=1, max_size=2), max_size=4),
})


def describe(classes=({},), nodes=((1, 0, "", {}, {}),), globals=(), hooks=None):
    """A description with defaults: one class, the root of that class."""
    full = [{"base": 0, "settings": [], "values": {}, "methods": [], "wraps": False} | c
            for c in classes]
    return {"classes": full, "nodes": list(nodes), "globals": list(globals), "hooks": hooks or {}}


CASES = {
    # A key compared with "html_escape" while the attributes are joined grows
    # the class list that the classes were joined from.
    "key grows default_cls": describe([{"values": {"default_cls": "list"}}],
                                      [(1, 0, "", {"title": "t"}, {})], ["key_html_escape"],
                                      {"key_html_escape": [[("grow", -1)]]}),
    "attrvalue sets content": describe([{"settings": ["data_x"]}], [(1, 0, "t", {"data_x": "t"}, {})],
                                       hooks={"attrvalue": [[("content", -1, -1, True)]]}),
    "attrvalue reclasses": describe(
        [{"settings": ["data_x"]}, {"methods": ["content"], "values": {"tagname": "p"}}],
        [(1, 0, "t", {"data_x": "t"}, {})], hooks={"attrvalue": [[("reclass", -1, 2)]]}),
    "wrapped containers": describe([{"settings": ["data_x"], "wraps": True}],
                                   [(1, 0, "", {"data_x": "t"}, {})],
                                   hooks={"containers": [[("set", -1, "data_x", 'v&<"')]]}),
    "escape replaced": describe(nodes=[(0, 0, "t", {}, {})], globals=["escape"]),
}


# Examples are cheap: several times the profile's budget, but only a few in
# leak mode (each run six times) and under valgrind.
_budget = settings.default.max_examples


@settings(max_examples=4 * _budget if _budget >= 60 else max(_budget // 5, 4))
@given(descriptions)
def test_same_outcome_and_calls_out_as_the_element_code(description):
    expected = outcome(oracle, description)
    assert outcome(render_tree, description) == expected
    assert outcome(render_python, description) == expected


for case in CASES.values():
    test_same_outcome_and_calls_out_as_the_element_code = example(case)(
        test_same_outcome_and_calls_out_as_the_element_code)


def test_methods_set_on_instances_are_ignored():
    def tree():
        child = Element(text="c", tagid="c")
        return Element(child, tagid="r", title="t"), child

    root, child = tree()
    root.containers = lambda: ({}, {}, {"data-no": "x"})
    root.content = lambda render: "<no/>"
    child.render = lambda: "<no/>"
    expected = result_of(oracle, tree()[0])
    assert result_of(oracle, root) == expected
    for path in (render_tree, Element.render, render_python, reference.render):
        assert (path.__qualname__, result_of(path, root)) == (path.__qualname__, expected)
