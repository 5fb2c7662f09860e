// The page walk: Element.render of an element and its descendants, in the
// steps that Element's docstring writes down, into one growing text.
//
// Per element: the class's containers (for a class whose containers is the
// one written for its settings, the settings' attrvalue called here), the
// reads of html_tpl, tagname, tagid and default_cls, the joins, the class's
// content and the template. With the default template the opening tag is
// written where the joins are made and the content streams in after it, the
// children's markup included, so nothing is read twice or taken back out.
// Whatever the walk learns of an object holds only until it next runs
// Python code: the plan of the element's class is checked again before each
// step that uses it, and values are held by owned references.
#include <cstdint>

#include "common/errors.hpp"
#include "common/sequence.hpp"
#include "common/text.hpp"
#include "containers.hpp"
#include "html.hpp"
#include "tree.hpp"
#include "tree_prefetch.hpp"

namespace vora::tree {

namespace {

using attributes::AttrvalueFn;
using html::g_state;
using html::truth;

// ------------------------------------------------------------ small pieces

inline const Plan* plan_ptr(const Ref& plan) noexcept
{
    return reinterpret_cast<const Plan*>(plan.get());
}

// The values of one element's settings, one owned reference per slot.
class Values {
public:
    Values() noexcept = default;
    Values(const Values&) = delete;
    Values& operator=(const Values&) = delete;
    ~Values()
    {
        for (Py_ssize_t i = 0; i < size_; ++i)
            Py_XDECREF(items_[i]);
        if (items_ != inline_)
            PyMem_Free(items_);
    }

    int init(Py_ssize_t size) noexcept
    {
        if (size > kInline) {
            items_ = PyMem_New(PyObject*, size);
            if (!items_) {
                items_ = inline_;
                PyErr_NoMemory();
                return -1;
            }
        }
        for (Py_ssize_t i = 0; i < size; ++i)
            items_[i] = nullptr;
        size_ = size;
        return 0;
    }

    // Takes over value (a new reference).
    void set(Py_ssize_t i, PyObject* value) noexcept { Py_XSETREF(items_[i], value); }
    PyObject* operator[](Py_ssize_t i) const noexcept { return items_[i]; }
    Py_ssize_t size() const noexcept { return size_; }

private:
    static constexpr Py_ssize_t kInline = 16;
    PyObject* inline_[kInline];
    PyObject** items_ = inline_;
    Py_ssize_t size_ = 0;
};

// Step 1's result: the values of the settings by slot of the plan that
// called their attrvalue (held with them), or the three objects the class's
// own containers() returned.
struct Containers {
    Ref plan;
    Values values;
    Ref python[3];
};

// Step 2's result.
struct Reads {
    Ref html_tpl;
    Ref tagname;
    Ref tagid;
    Ref default_cls;
};

// Step 3's result where the joiners made it: three exact strs.
struct Joined {
    Ref cls;
    Ref style;
    Ref attributes;
};

PyObject* call_attrvalue(const PlanEntry& entry, PyObject* element) noexcept
{
    PyObject* d = entry.descriptor;
    const void* table = reinterpret_cast<core::PropertyRecord*>(d)->table;
    AttrvalueFn fn;
    switch (entry.call) {
    case Call::attribute:
        fn = static_cast<const attributes::AttributeTable*>(table)->attrvalue;
        break;
    case Call::numeric:
        fn = static_cast<const attributes::NumericAttributeTable*>(table)->attrvalue;
        break;
    case Call::variable_list:
        fn = static_cast<const attributes::VariableListAttributeTable*>(table)->attrvalue;
        break;
    case Call::color:
        fn = static_cast<const attributes::ColorAttributeTable*>(table)->attrvalue;
        break;
    default: return PyObject_CallMethodOneArg(d, g_tree.str_attrvalue, element);
    }
    return fn(d, element, core::Dispatch::allowed);
}

// A value whose truth test, text and comparison with a str key run no code
// and cannot fail.
inline bool inert(PyObject* v) noexcept
{
    return PyUnicode_CheckExact(v) || v == Py_None || v == Py_False;
}

inline bool present(PyObject* v) noexcept
{
    return PyUnicode_CheckExact(v) && PyUnicode_GET_LENGTH(v) != 0;
}

inline bool text_or_none(PyObject* o) noexcept
{
    return o == Py_None || PyUnicode_CheckExact(o);
}

// default_cls as the walk joins it itself: None, or an exact tuple or list
// of exact strs. True only until Python code runs.
bool inert_classes(PyObject* default_cls) noexcept
{
    if (default_cls == Py_None)
        return true;
    if (!PyTuple_CheckExact(default_cls) && !PyList_CheckExact(default_cls))
        return false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(default_cls); ++i) {
        if (!PyUnicode_CheckExact(PySequence_Fast_GET_ITEM(default_cls, i)))
            return false;
    }
    return true;
}

// getattr(el, name); the generic lookup is called straight when the class
// keeps it.
inline PyObject* get_attr(PyObject* el, PyObject* name) noexcept
{
    getattrofunc get = Py_TYPE(el)->tp_getattro;
    if (get == PyObject_GenericGetAttr) [[likely]]
        return PyObject_GenericGetAttr(el, name);
    return PyObject_GetAttr(el, name);
}

inline bool plain_class(PyObject* el) noexcept
{
    return Py_IS_TYPE(reinterpret_cast<PyObject*>(Py_TYPE(el)), &PyType_Type);
}

// The content of an element with the default template, where it is an
// object rather than text written: None writes nothing, an exact str is
// written, anything else is refused as render_default_html refuses it.
int append_content(TextBuilder& out, PyObject* content) noexcept
{
    if (content == Py_None)
        return 0;
    if (!expect_exact_str(content))
        return -1;
    return out.append(content);
}

// ------------------------------------------------------------------- walk

class Walk {
public:
    Walk() noexcept = default;
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;
    ~Walk()
    {
        for (CacheSlot& slot : cache_) {
            Py_XDECREF(slot.plan);
            Py_XDECREF(reinterpret_cast<PyObject*>(slot.type));
        }
        for (TagMarkup& tag : tags_) {
            Py_XDECREF(tag.tagname);
            Py_XDECREF(tag.open);
            Py_XDECREF(tag.close);
        }
    }

    TextBuilder out;

    // The plan of tp into plan, or nothing when tp is no Element subclass.
    int plan_for(PyTypeObject* tp, Ref& plan) noexcept;

    // The markup of el (an Element, plan its class's plan) appended to out
    // (0), or, when its template returned an object that is no str (or any
    // object, with hand_over), that object in *markup (1). -1 on error.
    int element(PyObject* el, Ref plan, Ref* markup, bool hand_over) noexcept;

    // A child as Element.content's render makes it: by the child's class's
    // own render where that is not Element.render, else by element().
    // Returns as element() does.
    int child(PyObject* kid, Ref* markup, bool hand_over) noexcept;

private:
    int element_body(PyObject* el, Ref& plan, Ref* markup, bool hand_over) noexcept;
    int current(PyObject* el, Ref& plan) noexcept;
    int containers(PyObject* el, const Ref& plan, Containers& c) noexcept;
    int reads(PyObject* el, Ref& plan, Reads& r) noexcept;
    int join(const Containers& c, PyObject* default_cls, Joined& j) noexcept;
    int write_open(const Containers& c, const Reads& r) noexcept;
    int write_joins(const Containers& c, PyObject* default_cls) noexcept;
    int write_joined(const Joined& j) noexcept;
    int content(PyObject* el, Ref& plan, Ref& made) noexcept;
    int default_content(PyObject* el, Ref& plan, Ref& made) noexcept;
    int children(PyObject* kids) noexcept;
    int around_content(PyObject* el, const Reads& r, const Joined& j, Py_ssize_t start) noexcept;
    int join_at_content(PyObject* parts, Py_ssize_t start) noexcept;
    int hand(Ref result, Ref* markup, bool hand_over) noexcept;

    // The markup around an element's attributes and content for one
    // tagname (None or an exact str): `<tag id="` and `</tag>`, escaped.
    struct TagMarkup {
        PyObject* tagname = nullptr;  // owned, with the texts
        PyObject* open = nullptr;
        PyObject* close = nullptr;
    };
    const TagMarkup* tag_markup(PyObject* tagname) noexcept;

    // Plans by their classes' version tags, which tell apart the classes
    // that a page's elements have (consecutive ones, mostly).
    struct CacheSlot {
        PyTypeObject* type = nullptr;  // owned, with plan
        PyObject* plan = nullptr;
    };
    static constexpr unsigned kCacheSlots = 16;
    CacheSlot cache_[kCacheSlots];
    TagMarkup tags_[4];
    unsigned next_tag_ = 0;
};

const Walk::TagMarkup* Walk::tag_markup(PyObject* tagname) noexcept
{
    for (const TagMarkup& tag : tags_) {
        if (tag.tagname == tagname)
            return &tag;
    }
    PyObject* name = tagname == Py_None ? Py_GetConstantBorrowed(Py_CONSTANT_EMPTY_STR) : tagname;
    TextBuilder text;
    if (text.append_ascii('<') < 0 || text.append_escaped(name) < 0 ||
        text.append_ascii(" id=\"") < 0)
        return nullptr;
    Ref open = text.finish();
    if (!open || text.append_ascii("</") < 0 || text.append_escaped(name) < 0 ||
        text.append_ascii('>') < 0)
        return nullptr;
    Ref close = text.finish();
    if (!close)
        return nullptr;
    TagMarkup& slot = tags_[next_tag_++ % 4];
    TagMarkup old = slot;
    slot = {Py_NewRef(tagname), open.release(), close.release()};
    Py_XDECREF(old.tagname);
    Py_XDECREF(old.open);
    Py_XDECREF(old.close);
    return &slot;
}

int Walk::plan_for(PyTypeObject* tp, Ref& plan) noexcept
{
    unsigned int tag = tp->tp_version_tag;
    const CacheSlot& hit = cache_[tag % kCacheSlots];
    if (tag != 0 && hit.type == tp &&
        reinterpret_cast<const Plan*>(hit.plan)->version_tag == tag) [[likely]] {
        plan = Ref::borrow(hit.plan);
        return 0;
    }
    int element = is_element_class(tp);
    if (element <= 0)
        return element;
    plan = plan_of(tp);
    if (!plan)
        return -1;
    tag = plan_ptr(plan)->version_tag;
    if (tag == 0)
        return 0;
    CacheSlot& slot = cache_[tag % kCacheSlots];
    CacheSlot old = slot;
    slot.plan = plan.new_ref();
    slot.type = reinterpret_cast<PyTypeObject*>(Py_NewRef(reinterpret_cast<PyObject*>(tp)));
    Py_XDECREF(old.plan);
    Py_XDECREF(reinterpret_cast<PyObject*>(old.type));
    return 0;
}

// Makes plan the plan of el's class as it is now: the same one while the
// class (and el's being of it) is unchanged, else the class's plan now
// (nothing, if el's class became one that is no Element).
int Walk::current(PyObject* el, Ref& plan) noexcept
{
    const Plan* p = plan_ptr(plan);
    if (p && p->version_tag != 0 && p->version_tag == Py_TYPE(el)->tp_version_tag) [[likely]]
        return 0;
    plan.reset();
    return plan_for(Py_TYPE(el), plan);
}

int Walk::element(PyObject* el, Ref plan, Ref* markup, bool hand_over) noexcept
{
    if (Py_EnterRecursiveCall(" while rendering an element"))
        return -1;
    int status = element_body(el, plan, markup, hand_over);
    Py_LeaveRecursiveCall();
    return status;
}

// Step 1.
int Walk::containers(PyObject* el, const Ref& plan, Containers& c) noexcept
{
    const Plan* p = plan_ptr(plan);
    // The written containers is called here only where asking the class
    // for it would give it without running code, as for content and render.
    if (!p->containers_native || !plain_class(el)) {
        Ref method = class_method(el, p->containers, g_tree.str_containers);
        if (!method)
            return -1;
        Ref value = Ref::steal(PyObject_CallOneArg(method.get(), el));
        return value ? unpack_three(value.get(), c.python) : -1;
    }
    c.plan = Ref::borrow(plan.get());
    if (c.values.init(p->group_end[2]) < 0)
        return -1;
    for (Py_ssize_t i = 0; i < p->entry_count; ++i) {
        const PlanEntry& entry = p->entries[i];
        PyObject* value = call_attrvalue(entry, el);
        if (!value)
            return -1;
        c.values.set(entry.slot, value);
    }
    return 0;
}

int found_one(PyObject*, void*) noexcept
{
    return 1;
}

// Whether el, of a class whose plan is p, has no attributes of its own (no
// value in its managed dict, which is asked without making it a dict).
// True only until Python code runs.
inline bool no_own_attributes(PyObject* el, const Plan* p) noexcept
{
    return !p->managed_dict || PyObject_VisitManagedDict(el, found_one, nullptr) == 0;
}

// getattr(el, <the Default's name>): the class's value where plan (checked
// since Python code last ran) has it and el has no attributes of its own;
// else the lookup.
inline Ref read_default(PyObject* el, const Plan* p, Default d) noexcept
{
    if (p && p->class_values[d] && no_own_attributes(el, p))
        return Ref::borrow(p->class_values[d]);
    PyObject* name = d == default_html_tpl ? g_tree.str_html_tpl
                   : d == default_tagname  ? g_tree.str_tagname : g_tree.str_default_cls;
    return Ref::steal(get_attr(el, name));
}

// getattr(el, <one of Element's slots>): straight from the slot when plan
// (checked since Python code last ran) says the class leaves the name to
// it; else, or when the slot is empty (for its AttributeError), the lookup.
inline Ref read_member(PyObject* el, const Plan* p, Member m) noexcept
{
    if (p && p->members_direct) [[likely]] {
        if (PyObject* value = *own_slot(el, p->member_offsets[m]))
            return Ref::borrow(value);
    }
    return Ref::steal(get_attr(el, member_name(m)));
}

// Whether reading m of el through plan runs no Python code.
inline bool member_direct(PyObject* el, const Plan* p, Member m) noexcept
{
    return p && p->members_direct && *own_slot(el, p->member_offsets[m]);
}

// Step 2. Each read may run Python code only where it takes the generic
// lookup; the plan is checked again after such a read.
int Walk::reads(PyObject* el, Ref& plan, Reads& r) noexcept
{
    if (current(el, plan) < 0)
        return -1;
    const Plan* p = plan_ptr(plan);
    if (p && p->class_values[default_html_tpl] && p->class_values[default_tagname] &&
        p->class_values[default_default_cls] && member_direct(el, p, member_tagid) &&
        no_own_attributes(el, p)) [[likely]] {
        r.html_tpl = Ref::borrow(p->class_values[default_html_tpl]);
        r.tagname = Ref::borrow(p->class_values[default_tagname]);
        r.tagid = read_member(el, p, member_tagid);
        r.default_cls = Ref::borrow(p->class_values[default_default_cls]);
        return 0;
    }
    if (!(r.html_tpl = read_default(el, p, default_html_tpl)) || current(el, plan) < 0 ||
        !(r.tagname = read_default(el, plan_ptr(plan), default_tagname)) ||
        current(el, plan) < 0 ||
        !(r.tagid = read_member(el, plan_ptr(plan), member_tagid)) || current(el, plan) < 0 ||
        !(r.default_cls = read_default(el, plan_ptr(plan), default_default_cls)))
        return -1;
    return 0;
}

// Step 3 by the joiners, in their order: classes, style, attributes. The
// containers are the ones the class's containers() returned, or the dicts
// that the written one makes (the later value of a name, at its first
// place).
int Walk::join(const Containers& c, PyObject* default_cls, Joined& j) noexcept
{
    Ref objects[3];
    if (!c.plan) {
        for (int g = 0; g < 3; ++g)
            objects[g] = Ref::borrow(c.python[g].get());
    } else {
        const Plan* p = plan_ptr(c.plan);
        Py_ssize_t slot = 0;
        for (int g = 0; g < 3; ++g) {
            objects[g] = Ref::steal(PyDict_New());
            if (!objects[g])
                return -1;
            for (; slot < p->group_end[g]; ++slot) {
                if (PyDict_SetItem(objects[g].get(), p->keys[slot], c.values[slot]) < 0)
                    return -1;
            }
        }
    }
    if (!(j.cls = Ref::steal(html::join_cls_impl(default_cls, objects[1].get()))) ||
        !(j.style = Ref::steal(html::join_style_impl(objects[0].get()))) ||
        !(j.attributes =
              Ref::steal(html::join_attributes_impl(g_tree.html_module, objects[2].get()))))
        return -1;
    return 0;
}

// Steps 3 and 5's opening tag: <tag id="tagid"  class="..."  style="..."  attributes >
// as render_default_html writes the joined pieces. tagname and tagid are
// None or exact strs.
int Walk::write_open(const Containers& c, const Reads& r) noexcept
{
    const TagMarkup* tag = tag_markup(r.tagname.get());
    if (!tag || out.append(tag->open) < 0 ||
        (r.tagid.get() != Py_None && out.append_escaped(r.tagid.get()) < 0) ||
        out.append_ascii("\" ") < 0)
        return -1;
    bool joins_here = c.plan && inert_classes(r.default_cls.get());
    for (Py_ssize_t i = 0; joins_here && i < c.values.size(); ++i)
        joins_here = inert(c.values[i]);
    if (joins_here) {
        if (write_joins(c, r.default_cls.get()) < 0)
            return -1;
    } else {
        Joined j;
        if (join(c, r.default_cls.get(), j) < 0 || write_joined(j) < 0)
            return -1;
    }
    return out.append_ascii(" >");
}

// The pieces the joiners made, where render_default_html puts them.
int Walk::write_joined(const Joined& j) noexcept
{
    if (PyUnicode_GET_LENGTH(j.cls.get()) != 0 &&
        (out.append_ascii(" class=\"") < 0 || out.append_escaped(j.cls.get()) < 0 ||
         out.append_ascii("\" ") < 0))
        return -1;
    if (PyUnicode_GET_LENGTH(j.style.get()) != 0 &&
        (out.append_ascii(" style=\"") < 0 || out.append_escaped(j.style.get()) < 0 ||
         out.append_ascii("\" ") < 0))
        return -1;
    return out.append_ascii(' ') | out.append(j.attributes.get());
}

// The joiners' rules written straight into the opening tag, for values that
// are exact strs, None or False and default classes as inert_classes()
// takes them (checked by the caller, with no Python code run since). The
// classes and the style run no code; the attributes look html_escape up
// for each value, and a replaced one is called.
int Walk::write_joins(const Containers& c, PyObject* default_cls) noexcept
{
    const Plan* p = plan_ptr(c.plan);
    const Values& v = c.values;

    // join_cls: the default classes, then the present class values, by spaces.
    Py_ssize_t defaults = default_cls == Py_None ? 0 : PySequence_Fast_GET_SIZE(default_cls);
    Py_ssize_t pieces = defaults;
    Py_ssize_t length = 0;
    for (Py_ssize_t i = 0; i < defaults; ++i)
        length += PyUnicode_GET_LENGTH(PySequence_Fast_GET_ITEM(default_cls, i));
    for (Py_ssize_t i = p->group_end[0]; i < p->group_end[1]; ++i) {
        if (present(v[i])) {
            ++pieces;
            length += PyUnicode_GET_LENGTH(v[i]);
        }
    }
    if (pieces > 1 || length > 0) {
        if (out.append_ascii(" class=\"") < 0)
            return -1;
        bool first = true;
        auto piece = [&](PyObject* s) {
            int status = (first ? 0 : out.append_ascii(' ')) | out.append_escaped(s);
            first = false;
            return status;
        };
        for (Py_ssize_t i = 0; i < defaults; ++i) {
            if (piece(PySequence_Fast_GET_ITEM(default_cls, i)) < 0)
                return -1;
        }
        for (Py_ssize_t i = p->group_end[0]; i < p->group_end[1]; ++i) {
            if (present(v[i]) && piece(v[i]) < 0)
                return -1;
        }
        if (out.append_ascii("\" ") < 0)
            return -1;
    }

    // join_style: "key: value" for each present value, by semicolons.
    bool first = true;
    for (Py_ssize_t i = 0; i < p->group_end[0]; ++i) {
        if (!present(v[i]))
            continue;
        if ((first ? out.append_ascii(" style=\"") : out.append_ascii(';')) < 0 ||
            out.append(p->written[i]) < 0 || out.append_ascii(": ") < 0 ||
            out.append_escaped(v[i]) < 0)
            return -1;
        first = false;
    }
    if (!first && out.append_ascii("\" ") < 0)
        return -1;

    // join_attributes: key="escaped value", or the bare escaped value when
    // it equals its key, by spaces. A replaced escape's None is written
    // "None" after a key; a bare one fails the join once every value is in.
    if (out.append_ascii(' ') < 0)
        return -1;
    Py_ssize_t kept = 0;
    Py_ssize_t bare_none = -1;
    for (Py_ssize_t i = p->group_end[1]; i < p->group_end[2]; ++i) {
        PyObject* value = v[i];
        if (!present(value))
            continue;
        Ref escape = html_escape();
        if (!escape)
            return -1;
        bool standard = g_state.std_escape && escape.get() == g_state.std_escape;
        Ref text = standard ? Ref::borrow(value) : html::call_html_escape(escape.get(), value);
        if (!text)
            return -1;
        bool bare = PyUnicode_Equal(p->keys[i], value);
        if (kept++ > 0 && out.append_ascii(' ') < 0)
            return -1;
        if (!bare && (out.append(p->written[i]) < 0 || out.append_ascii("=\"") < 0))
            return -1;
        if (text.get() == Py_None) {
            if (bare && bare_none < 0)
                bare_none = kept - 1;
            if (!bare && out.append_ascii("None") < 0)
                return -1;
        } else if ((standard ? out.append_escaped(text.get()) : out.append(text.get())) < 0) {
            return -1;
        }
        if (!bare && out.append_ascii('"') < 0)
            return -1;
    }
    if (bare_none >= 0) {
        html::raise_not_str_piece(bare_none, Py_None);
        return -1;
    }
    return 0;
}

// Step 4: the class's content. Written into out, or, where it is an object
// rather than text (a content override's result, or the text as a replaced
// escape made it), that object in made.
int Walk::content(PyObject* el, Ref& plan, Ref& made) noexcept
{
    if (current(el, plan) < 0)
        return -1;
    const Plan* p = plan_ptr(plan);
    if (p && p->content == g_tree.element_content && plain_class(el)) [[likely]]
        return default_content(el, plan, made);
    Ref method = class_method(el, p ? p->content : nullptr, g_tree.str_content);
    if (!method)
        return -1;
    made = Ref::steal(PyObject_CallFunctionObjArgs(method.get(), el, g_tree.render_child, nullptr));
    return made ? 0 : -1;
}

// Element.content(render), inlined: the text escaped by the element module's
// escape (natively while that is the standard function and the text an
// exact str), then the children's markup.
int Walk::default_content(PyObject* el, Ref& plan, Ref& made) noexcept
{
    bool text_direct = member_direct(el, plan_ptr(plan), member_text);
    Ref text = read_member(el, plan_ptr(plan), member_text);
    if (!text || (!text_direct && current(el, plan) < 0))
        return -1;
    Ref kids = read_member(el, plan_ptr(plan), member_children);
    if (!kids)
        return -1;
    int has_text = truth(text.get());
    if (has_text < 0)
        return -1;
    Ref escaped;  // what a replaced escape made of the text, when no exact str
    if (has_text) {
        Ref escape = element_escape();
        if (!escape)
            return -1;
        if (g_state.std_escape && escape.get() == g_state.std_escape &&
            PyUnicode_CheckExact(text.get())) [[likely]] {
            if (out.append_escaped_text(text.get()) < 0)
                return -1;
        } else {
            escaped = call_text_escape(escape.get(), text.get());
            if (!escaped)
                return -1;
            if (PyUnicode_CheckExact(escaped.get())) {
                if (out.append(escaped.get()) < 0)
                    return -1;
                escaped.reset();
            }
        }
    }
    int has_children =
        PyList_CheckExact(kids.get()) ? PyList_GET_SIZE(kids.get()) != 0 : truth(kids.get());
    if (has_children < 0)
        return -1;
    if (!escaped)
        return has_children ? children(kids.get()) : 0;
    // content = escaped + "".join(...): whatever that object makes of it.
    if (!has_children) {
        made = std::move(escaped);
        return 0;
    }
    Py_ssize_t start = out.length();
    if (children(kids.get()) < 0)
        return -1;
    Ref joined = out.cut(start);
    if (!joined)
        return -1;
    made = Ref::steal(PyNumber_Add(escaped.get(), joined.get()));
    return made ? 0 : -1;
}

int Walk::hand(Ref result, Ref* markup, bool hand_over) noexcept
{
    if (hand_over || !PyUnicode_Check(result.get())) {
        *markup = std::move(result);
        return 1;
    }
    return out.append(result.get());
}

int Walk::element_body(PyObject* el, Ref& plan, Ref* markup, bool hand_over) noexcept
{
    Containers c;
    Reads r;
    if (containers(el, plan, c) < 0 || reads(el, plan, r) < 0)
        return -1;
    bool is_default = r.html_tpl.get() == g_tree.default_tpl;

    if (is_default && text_or_none(r.tagname.get()) && text_or_none(r.tagid.get())) {
        // The default template's markup, in one pass.
        Ref made;
        if (write_open(c, r) < 0 || content(el, plan, made) < 0 ||
            (made && append_content(out, made.get()) < 0))
            return -1;
        const TagMarkup* tag = tag_markup(r.tagname.get());
        return tag ? out.append(tag->close) : -1;
    }

    // Any other template, or a tagname or tagid that render_default_html
    // refuses: the pieces as objects.
    Joined j;
    if (join(c, r.default_cls.get(), j) < 0)
        return -1;
    Py_ssize_t start = out.length();
    Ref made;
    if (content(el, plan, made) < 0)
        return -1;
    if (is_default) {
        Ref inner = made ? std::move(made) : out.cut(start);
        if (!inner)
            return -1;
        Ref result = Ref::steal(html::render_default_html_impl(
            r.tagname.get(), r.tagid.get(), j.cls.get(), j.style.get(), j.attributes.get(),
            inner.get()));
        return result ? hand(std::move(result), markup, hand_over) : -1;
    }
    Ref render_template = element_global(g_tree.str_render_template);
    if (!render_template)
        return -1;
    if (!made && render_template.get() == g_tree.render_template) {
        int written = around_content(el, r, j, start);
        if (written != 0)
            return written < 0 ? -1 : 0;
    }
    Ref inner = made ? std::move(made) : out.cut(start);
    if (!inner)
        return -1;
    Ref pieces = Ref::steal(PyTuple_Pack(6, r.tagname.get(), r.tagid.get(), j.cls.get(),
                                         j.style.get(), j.attributes.get(), inner.get()));
    if (!pieces)
        return -1;
    PyObject* args[] = {el, r.html_tpl.get(), pieces.get()};
    Ref result = Ref::steal(PyObject_Vectorcall(render_template.get(), args, 3, nullptr));
    return result ? hand(std::move(result), markup, hand_over) : -1;
}

// The template of el, which the element module's render_template would run,
// put around the content that is written from start on, when the template's
// only use of the content is one raw insertion (the page's shell, mostly):
// render_template_around runs it with a stand-in for the content, and the
// two sides of its output go around the content where it is, rather than
// the engine encoding, joining and decoding the whole page once more.
// Returns 1 when el's markup is written, 0 when the template needs the
// content itself (nothing was run), -1 on error.
int Walk::around_content(PyObject* el, const Reads& r, const Joined& j, Py_ssize_t start) noexcept
{
    // The engine fails to encode a lone surrogate, before the rest of the
    // template runs: that failure is its own path's.
    if (out.has_surrogate(start))
        return 0;
    Ref pieces = Ref::steal(PyTuple_Pack(6, r.tagname.get(), r.tagid.get(), j.cls.get(),
                                         j.style.get(), j.attributes.get(), Py_None));
    if (!pieces)
        return -1;
    PyObject* args[] = {el, r.html_tpl.get(), pieces.get()};
    Ref parts = Ref::steal(PyObject_Vectorcall(g_tree.render_template_around, args, 3, nullptr));
    if (!parts)
        return -1;
    if (parts.get() == Py_None)
        return 0;
    if (!PyTuple_CheckExact(parts.get()) || PyTuple_GET_SIZE(parts.get()) != 2)
        return join_at_content(parts.get(), start);
    PyObject* sides[2] = {PyTuple_GET_ITEM(parts.get(), 0), PyTuple_GET_ITEM(parts.get(), 1)};
    Ref text[2];
    for (int i = 0; i < 2; ++i) {
        if (!PyBytes_CheckExact(sides[i]))
            return join_at_content(parts.get(), start);
        text[i] = Ref::steal(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(sides[i]),
                                                  PyBytes_GET_SIZE(sides[i]), nullptr));
        if (!text[i]) {
            // The engine decodes the whole output at once: its failure, or
            // a character split across the content when that is empty.
            if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError))
                return -1;
            PyErr_Clear();
            return join_at_content(parts.get(), start);
        }
    }
    if (out.insert(start, text[0].get()) < 0 || out.append(text[1].get()) < 0)
        return -1;
    return 1;
}

// The engine's output whole, where its parts are not two sides to decode
// apart: the parts joined by the content in UTF-8 and decoded at once, as
// the engine and render_template do; its error is theirs.
int Walk::join_at_content(PyObject* parts, Py_ssize_t start) noexcept
{
    Ref content = out.cut(start);
    Ref encoded = content ? Ref::steal(PyUnicode_AsUTF8String(content.get())) : Ref();
    Ref joined = encoded ? Ref::steal(PyObject_CallMethodOneArg(encoded.get(), g_tree.str_join,
                                                                parts))
                         : Ref();
    if (!joined)
        return -1;
    Ref text = Ref::steal(PyUnicode_FromEncodedObject(joined.get(), nullptr, nullptr));
    if (!text || out.append(text.get()) < 0)
        return -1;
    return 1;
}

int Walk::child(PyObject* kid, Ref* markup, bool hand_over) noexcept
{
    Ref plan;
    if (plan_for(Py_TYPE(kid), plan) < 0)
        return -1;
    const Plan* p = plan_ptr(plan);
    if (p && p->render == g_tree.element_render && plain_class(kid)) [[likely]]
        return element(kid, std::move(plan), markup, hand_over);
    Ref method = class_method(kid, p ? p->render : nullptr, g_tree.str_render);
    if (!method)
        return -1;
    if (p && method.get() == g_tree.element_render) {
        if (current(kid, plan) < 0)
            return -1;
        if (plan)
            return element(kid, std::move(plan), markup, hand_over);
    }
    Ref result = Ref::steal(PyObject_CallOneArg(method.get(), kid));
    return result ? hand(std::move(result), markup, hand_over) : -1;
}

// "".join([render(child) for child in children]) into out: every child is
// rendered before an item that is no str fails the join.
int Walk::children(PyObject* kids) noexcept
{
    Py_ssize_t bad_index = -1;
    Ref bad;
    Py_ssize_t index = 0;
    int status = vora::for_each_in(kids, [&](PyObject* kid) {
        if (PyList_CheckExact(kids))
            prefetch_siblings(kids, index);
        Ref markup;
        int found = child(kid, &markup, false);
        if (found < 0)
            return -1;
        if (found > 0 && bad_index < 0) {
            bad_index = index;
            bad = std::move(markup);
        }
        ++index;
        return 0;
    });
    if (status < 0)
        return -1;
    if (bad_index >= 0) {
        html::raise_not_str_piece(bad_index, bad.get());
        return -1;
    }
    return 0;
}

}  // namespace

PyObject* render_tree_impl(PyObject* element)
{
    if (load_element() < 0)
        return nullptr;
    int is_element = is_element_class(Py_TYPE(element));
    if (is_element < 0)
        return nullptr;
    if (!is_element) {
        PyErr_Format(PyExc_TypeError, "render_tree() argument must be an Element, not %.200s",
                     Py_TYPE(element)->tp_name);
        return nullptr;
    }
    Walk walk;
    Ref plan;
    if (walk.plan_for(Py_TYPE(element), plan) < 0)
        return nullptr;
    // Room for what the last page of this class took, and its width: the
    // markup is then written into one str, trimmed to its length at the end.
    Ref root_plan = Ref::borrow(plan.get());
    Plan* root = reinterpret_cast<Plan*>(root_plan.get());
    if (root && walk.out.presize(root->markup_length, root->markup_maxchar) < 0)
        return nullptr;
    Ref markup;
    int status = walk.element(element, std::move(plan), &markup, true);
    if (status < 0)
        return nullptr;
    if (status == 0)
        markup = walk.out.finish();
    if (root && markup && PyUnicode_Check(markup.get())) {
        root->markup_length = PyUnicode_GET_LENGTH(markup.get());
        root->markup_maxchar = PyUnicode_MAX_CHAR_VALUE(markup.get());
    }
    return markup.release();
}

PyObject* render_child_impl(PyObject* child)
{
    if (load_element() < 0)
        return nullptr;
    Walk walk;
    Ref markup;
    int status = walk.child(child, &markup, true);
    if (status < 0)
        return nullptr;
    if (status > 0)
        return markup.release();
    return walk.out.finish().release();
}

}  // namespace vora::tree
