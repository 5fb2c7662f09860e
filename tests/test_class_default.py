"""ClassDefault against the plain class attribute it stands in for: random
sequences of sets, deletes and reassignments on instances and on the classes
of a hierarchy, each followed by every read (instance, class, super(), the
markup) and compared with a twin hierarchy of plain classes and attributes."""

from hypothesis import example, given, strategies as st

from vora.uix._html import DEFAULT_HTML_TPL
from vora.uix._tree import ClassDefault
from vora.uix.element import Element, render_python, render_template
from vora.uix.reference import join_cls

NAMES = ("tagname", "html_tpl", "default_cls")
TPL = '<t id="{{obj.tagid}}" class="{{obj.cls}}">{% raw obj.content %}</t>'
VALUES = {"tagname": ["p", "em", "b"], "html_tpl": [DEFAULT_HTML_TPL, TPL],
          "default_cls": [("x", "y<"), ["l"], ()]}
LEVELS = 3  # classes below the root, each the base of the next


def value(name, index):
    return VALUES[name][index % len(VALUES[name])]


def twins(bodies):
    """The element classes C1..Cn below Element, with their class bodies'
    values (ClassDefaults, as a class body makes them), and plain classes of
    the same names below a plain class with Element's values."""
    elements = [Element]
    plains = [type("Element", (), {name: getattr(Element, name) for name in NAMES})]
    for level, body in enumerate(bodies, 1):
        values = {name: value(name, index) for name, index in body.items()}
        elements.append(type(f"C{level}", (elements[-1],), dict(values)))
        plains.append(type(f"C{level}", (plains[-1],), dict(values)))
    return elements, plains


def apply(op, classes, instances, side):
    kind, target, name, *index = op
    if kind == "set":
        setattr(instances[target], name, value(name, index[0]))
    elif kind == "del":
        delattr(instances[target], name)
    elif kind == "set class":
        setattr(classes[target], name, value(name, index[0]))
    elif kind == "wrap class":  # a ClassDefault given later; the plain twin gets the value
        given = value(name, index[0])
        setattr(classes[target], name, ClassDefault(name, given) if side == "element" else given)
    else:
        delattr(classes[target], name)


def outcome(thunk):
    """thunk's result, or its exception's type and message."""
    try:
        return thunk()
    except Exception as exc:
        return type(exc), str(exc)


def reads(classes, instances):
    """Every read of the three names: from each instance, each class and
    each super() of an instance."""
    found = {}
    for name in NAMES:
        for i, instance in enumerate(instances):
            found["instance", i, name] = outcome(lambda: getattr(instance, name))
            for level in range(1, i + 2):
                found["super", i, level, name] = outcome(
                    lambda: getattr(super(classes[level], instance), name))
        for level, cls in enumerate(classes):
            found["class", level, name] = outcome(lambda: getattr(cls, name))
    return found


def markup_of(plain):
    """The markup of an element without settings, text or children whose
    reads are the plain instance's: the template engine's."""
    tagname, html_tpl, default_cls = (getattr(plain, name) for name in NAMES)
    return render_template(None, html_tpl, (tagname, plain.tagid, join_cls(default_cls, {}),
                                            "", "", ""))


bodies = st.lists(st.dictionaries(st.sampled_from(NAMES), st.integers(0, 2), max_size=3),
                  min_size=LEVELS, max_size=LEVELS)
name, index = st.sampled_from(NAMES), st.integers(0, 2)
op = st.one_of(
    st.tuples(st.just("set"), st.integers(0, LEVELS - 1), name, index),
    st.tuples(st.just("del"), st.integers(0, LEVELS - 1), name),
    st.tuples(st.sampled_from(["set class", "wrap class"]), st.integers(1, LEVELS), name, index),
    st.tuples(st.just("del class"), st.integers(1, LEVELS), name),
)


@given(bodies, st.lists(op, max_size=10))
# An instance's own value outlives its class's change of value; super()
# reads the base's value, not the instance's.
@example([{"tagname": 0}, {}, {}], [("set", 0, "tagname", 1), ("set class", 1, "tagname", 2),
                                    ("set", 0, "tagname", 2), ("del class", 1, "tagname")])
@example([{"tagname": 0, "default_cls": 0}, {"tagname": 1, "default_cls": 1}, {}],
         [("set", 1, "tagname", 2), ("set", 1, "default_cls", 2)])
def test_class_default_reads_as_a_plain_attribute(bodies, ops):
    elements, plains = twins(bodies)
    element_instances = [cls(tagid=f"i{level}") for level, cls in enumerate(elements[1:], 1)]
    plain_instances = [cls() for cls in plains[1:]]
    for level, plain in enumerate(plain_instances, 1):
        plain.tagid = f"i{level}"  # where an element keeps it (a slot) is beside the point
    for step in [None, *ops]:
        if step is not None:
            done = outcome(lambda: apply(step, elements, element_instances, "element"))
            assert done == outcome(lambda: apply(step, plains, plain_instances, "plain"))
        assert reads(elements, element_instances) == reads(plains, plain_instances), step
        for element, plain in zip(element_instances, plain_instances):
            assert element.render() == render_python(element) == markup_of(plain), step
