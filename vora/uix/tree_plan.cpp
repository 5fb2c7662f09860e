// The plan of an element class: its record, slots and type, how it is read
// off the class, and where it is kept (the class's own dict).
#include <cstring>

#include "common/errors.hpp"
#include "common/static_type.hpp"
#include "common/text.hpp"
#include "tree.hpp"

namespace vora::tree {

namespace {

// ------------------------------------------------------------------ record

Plan* plan(PyObject* o)
{
    return reinterpret_cast<Plan*>(o);
}

// Releases everything the plan holds; it is left empty.
void release_fields(Plan* p)
{
    PlanEntry* entries = p->entries;
    Py_ssize_t entry_count = p->entry_count;
    PyObject** keys = p->keys;
    PyObject** written = p->written;
    Py_ssize_t key_count = p->keys ? p->group_end[2] : 0;
    p->entries = nullptr;
    p->entry_count = 0;
    p->keys = nullptr;
    p->written = nullptr;
    p->group_end[0] = p->group_end[1] = p->group_end[2] = 0;
    p->containers_native = false;
    Py_CLEAR(p->render);
    Py_CLEAR(p->content);
    Py_CLEAR(p->containers);
    Py_CLEAR(p->settings);
    for (Py_ssize_t i = 0; i < entry_count; ++i)
        Py_XDECREF(entries[i].descriptor);
    for (Py_ssize_t i = 0; i < key_count; ++i) {
        Py_XDECREF(keys[i]);
        Py_XDECREF(written[i]);
    }
    PyMem_Free(entries);
    PyMem_Free(keys);
    PyMem_Free(written);
}

// ------------------------------------------------------------------- slots

void Plan_dealloc(PyObject* o)
{
    PyObject_GC_UnTrack(o);
    release_fields(plan(o));
    Py_TYPE(o)->tp_free(o);
}

int Plan_traverse(PyObject* o, visitproc visit, void* arg)
{
    Plan* p = plan(o);
    Py_VISIT(p->render);
    Py_VISIT(p->content);
    Py_VISIT(p->containers);
    Py_VISIT(p->settings);
    for (Py_ssize_t i = 0; i < p->entry_count; ++i)
        Py_VISIT(p->entries[i].descriptor);
    return 0;
}

int Plan_clear(PyObject* o)
{
    release_fields(plan(o));
    return 0;
}

PyTypeObject make_type()
{
    PyTypeObject t = static_type(
        "vora.uix._tree.Plan", sizeof(Plan), Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
        "How the page walk serializes the instances of one element class (made by the walk).");
    t.tp_dealloc = Plan_dealloc;
    t.tp_traverse = Plan_traverse;
    t.tp_clear = Plan_clear;
    return t;
}

// ------------------------------------------------------ reading the class

// name as the MRO of type resolves it, without running its __get__: a new
// reference, or empty (with no error) when no class defines it.
Ref mro_lookup(PyTypeObject* type, PyObject* name, bool& failed)
{
    Ref mro = Ref::borrow(type->tp_mro);
    if (!mro || !PyTuple_Check(mro.get()))
        return Ref();
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro.get()); ++i) {
        PyObject* base = PyTuple_GET_ITEM(mro.get(), i);
        Ref dict = Ref::steal(PyType_GetDict(reinterpret_cast<PyTypeObject*>(base)));
        if (!dict)
            continue;
        PyObject* found;
        int status = PyDict_GetItemRef(dict.get(), name, &found);
        if (status < 0) {
            failed = true;
            return Ref();
        }
        if (status > 0)
            return Ref::steal(found);
    }
    return Ref();
}

// What a plan is made from, as read off the class now.
struct Facts {
    Ref render;
    Ref content;
    Ref containers;
    Ref settings;
    bool reads_plain = false;
    bool members_direct = false;
};

// The settings a generated containers was written for (element.py marks the
// function with them), or empty.
Ref generated_settings(PyObject* containers, bool& failed)
{
    // A plain function's attributes are its __dict__: the lookup runs no code.
    if (!containers || !PyFunction_Check(containers))
        return Ref();
    PyObject* found;
    if (PyObject_GetOptionalAttr(containers, g_tree.str_settings_mark, &found) < 0) {
        failed = true;
        return Ref();
    }
    return Ref::steal(found);
}

int read_facts(PyTypeObject* type, Facts& facts)
{
    bool failed = false;
    facts.render = mro_lookup(type, g_tree.str_render, failed);
    facts.content = mro_lookup(type, g_tree.str_content, failed);
    facts.containers = mro_lookup(type, g_tree.str_containers, failed);
    facts.settings = generated_settings(facts.containers.get(), failed);
    // The reads are plain when the generic lookup finds an instance
    // attribute, a class attribute that is no descriptor, or Element's slot.
    bool generic = type->tp_getattro == PyObject_GenericGetAttr;
    facts.reads_plain = generic;
    for (PyObject* name : {g_tree.str_tagname, g_tree.str_tagid, g_tree.str_default_cls,
                           g_tree.str_html_tpl}) {
        Ref value = mro_lookup(type, name, failed);
        if (value && Py_TYPE(value.get())->tp_descr_get &&
            value.get() != g_tree.members[member_tagid])
            facts.reads_plain = false;
    }
    facts.members_direct = generic;
    for (int m = 0; m < kMembers; ++m) {
        Ref value = mro_lookup(type, member_name(static_cast<Member>(m)), failed);
        if (!value || value.get() != g_tree.members[m])
            facts.members_direct = false;
    }
    return failed ? -1 : 0;
}

bool made_from(const Plan* p, const Facts& facts)
{
    return p->render == facts.render.get() && p->content == facts.content.get() &&
           p->containers == facts.containers.get() && p->settings == facts.settings.get() &&
           p->reads_plain == facts.reads_plain && p->members_direct == facts.members_direct;
}

// ---------------------------------------------------------- making a plan

Call call_of(PyObject* descriptor)
{
    for (int i = 0; i < kAttributeTypes; ++i) {
        if (PyObject_TypeCheck(descriptor, g_tree.attribute_types[i])) {
            // A record whose table was never set is left to its Python method.
            if (!reinterpret_cast<core::PropertyRecord*>(descriptor)->table)
                return Call::python;
            return g_tree.attribute_calls[i];
        }
    }
    return Call::python;
}

// True when settings has the shape _settings_of makes: three tuples of
// (attrname, descriptor) pairs, every attrname an exact str. Other shapes
// (only set by hand) leave containers to Python.
bool native_shape(PyObject* settings)
{
    if (!settings || !PyTuple_CheckExact(settings) || PyTuple_GET_SIZE(settings) != 3)
        return false;
    for (Py_ssize_t g = 0; g < 3; ++g) {
        PyObject* group = PyTuple_GET_ITEM(settings, g);
        if (!PyTuple_CheckExact(group))
            return false;
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(group); ++i) {
            PyObject* pair = PyTuple_GET_ITEM(group, i);
            if (!PyTuple_CheckExact(pair) || PyTuple_GET_SIZE(pair) != 2 ||
                !PyUnicode_CheckExact(PyTuple_GET_ITEM(pair, 0)))
                return false;
        }
    }
    return true;
}

// html.escape(text, quote=True), as the default template writes a style.
Ref escaped(PyObject* text)
{
    TextBuilder out;
    if (out.append_escaped(text) < 0)
        return Ref();
    return out.finish();
}

// Fills the entries and slots from settings (of the native shape). Names
// compare as str keys of a dict do; exact strs run no code.
int fill_entries(Plan* p, PyObject* settings)
{
    Py_ssize_t total = 0;
    for (Py_ssize_t g = 0; g < 3; ++g)
        total += PyTuple_GET_SIZE(PyTuple_GET_ITEM(settings, g));
    p->entries = PyMem_New(PlanEntry, total > 0 ? total : 1);
    p->keys = PyMem_New(PyObject*, total > 0 ? total : 1);
    p->written = PyMem_New(PyObject*, total > 0 ? total : 1);
    if (!p->entries || !p->keys || !p->written) {
        PyErr_NoMemory();
        return -1;
    }
    Py_ssize_t slots = 0;
    for (Py_ssize_t g = 0; g < 3; ++g) {
        PyObject* group = PyTuple_GET_ITEM(settings, g);
        Py_ssize_t first = slots;
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(group); ++i) {
            PyObject* pair = PyTuple_GET_ITEM(group, i);
            PyObject* name = PyTuple_GET_ITEM(pair, 0);
            PyObject* descriptor = PyTuple_GET_ITEM(pair, 1);
            Py_ssize_t slot = first;
            while (slot < slots && !PyUnicode_Equal(p->keys[slot], name))
                ++slot;
            if (slot == slots) {
                Ref shown = g == 0 ? escaped(name) : Ref::borrow(name);
                if (!shown)
                    return -1;
                p->keys[slots] = Py_NewRef(name);
                p->written[slots++] = shown.release();
                p->group_end[2] = slots;  // release_fields reads the key count here
            }
            p->entries[p->entry_count++] = {Py_NewRef(descriptor), call_of(descriptor), slot};
        }
        p->group_end[g] = slots;
    }
    return 0;
}

Ref make_plan(Facts& facts)
{
    Plan* p = PyObject_GC_New(Plan, &Plan_Type);
    if (!p)
        return Ref();
    std::memset(reinterpret_cast<char*>(p) + sizeof(PyObject), 0, sizeof(Plan) - sizeof(PyObject));
    Ref owner = Ref::steal(reinterpret_cast<PyObject*>(p));
    p->render_default = facts.render.get() == g_tree.element_render;
    p->content_default = facts.content.get() == g_tree.element_content;
    p->reads_plain = facts.reads_plain;
    p->members_direct = facts.members_direct;
    p->render = facts.render.release();
    p->content = facts.content.release();
    p->containers = facts.containers.release();
    p->settings = facts.settings.release();
    PyObject_GC_Track(p);
    if (native_shape(p->settings)) {
        if (fill_entries(p, p->settings) < 0)
            return Ref();
        p->containers_native = true;
    }
    return owner;
}

// The class's current version tag, assigned if it has none; 0 when the
// interpreter gives it none (then the plan is checked at every use).
unsigned int version_tag(PyTypeObject* type)
{
    return PyUnstable_Type_AssignVersionTag(type) ? type->tp_version_tag : 0;
}

}  // namespace

PyTypeObject Plan_Type = make_type();

int ready_plan_type()
{
    return PyType_Ready(&Plan_Type);
}

Ref plan_of(PyTypeObject* type)
{
    Ref dict = Ref::steal(PyType_GetDict(type));
    PyObject* found = nullptr;
    if (dict && PyDict_GetItemRef(dict.get(), g_tree.str_plan, &found) < 0)
        return Ref();
    Ref kept = Ref::steal(found);
    if (kept && !Py_IS_TYPE(kept.get(), &Plan_Type))
        kept.reset();
    if (kept && plan(kept.get())->version_tag != 0 &&
        plan(kept.get())->version_tag == type->tp_version_tag)
        return kept;

    Facts facts;
    if (read_facts(type, facts) < 0)
        return Ref();
    if (kept && made_from(plan(kept.get()), facts)) {
        plan(kept.get())->version_tag = version_tag(type);
        return kept;
    }
    Ref made = make_plan(facts);
    if (!made)
        return Ref();
    // Kept in the class's own dict (found there only, never through a base);
    // a class whose dict cannot change gets a new plan at each use.
    if ((type->tp_flags & Py_TPFLAGS_HEAPTYPE) && !(type->tp_flags & Py_TPFLAGS_IMMUTABLETYPE)) {
        if (PyType_Type.tp_setattro(reinterpret_cast<PyObject*>(type), g_tree.str_plan,
                                    made.get()) < 0)
            return Ref();
        plan(made.get())->version_tag = version_tag(type);
    }
    return made;
}

}  // namespace vora::tree
