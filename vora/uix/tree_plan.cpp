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
    for (int d = 0; d < kDefaults; ++d) {
        Py_CLEAR(p->defaults[d]);
        Py_CLEAR(p->class_values[d]);
    }
    for (PyObject*& m : p->members)
        Py_CLEAR(m);
    p->members_direct = false;
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
    Py_TRASHCAN_BEGIN(o, Plan_dealloc)
    release_fields(plan(o));
    Py_TYPE(o)->tp_free(o);
    Py_TRASHCAN_END
}

int Plan_traverse(PyObject* o, visitproc visit, void* arg)
{
    Plan* p = plan(o);
    Py_VISIT(p->render);
    Py_VISIT(p->content);
    Py_VISIT(p->containers);
    Py_VISIT(p->settings);
    for (int d = 0; d < kDefaults; ++d) {
        Py_VISIT(p->defaults[d]);
        Py_VISIT(p->class_values[d]);
    }
    for (PyObject* m : p->members)
        Py_VISIT(m);
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
    Ref defaults[kDefaults];
    Ref members[kMembers];
    Py_ssize_t member_offsets[kMembers] = {};
    bool members_direct = false;
    bool managed_dict = false;
};

PyObject* default_name(int d)
{
    return d == default_html_tpl ? g_tree.str_html_tpl
         : d == default_tagname  ? g_tree.str_tagname : g_tree.str_default_cls;
}

// The settings that containers was written for, when it is the very function
// written for the class (element.py keeps the pair on the class), or empty.
Ref written_settings(PyTypeObject* type, PyObject* containers, bool& failed)
{
    Ref written = mro_lookup(type, g_tree.str_written, failed);
    PyObject* pair = written.get();
    if (!containers || !pair || !PyTuple_CheckExact(pair) || PyTuple_GET_SIZE(pair) != 2 ||
        PyTuple_GET_ITEM(pair, 0) != containers)
        return Ref();
    return Ref::borrow(PyTuple_GET_ITEM(pair, 1));
}

// What the generic lookup gives an instance without attributes of its own
// when the class's MRO resolves the name to found, if the walk may give it
// too: a ClassDefault's value, or found itself when its type has no __get__
// and cannot be given one (a str, a tuple). nullptr otherwise.
PyObject* class_value(PyObject* found)
{
    if (!found)
        return nullptr;
    if (Py_IS_TYPE(found, &ClassDefault_Type))
        return reinterpret_cast<ClassDefault*>(found)->value;
    PyTypeObject* type = Py_TYPE(found);
    return (type->tp_flags & Py_TPFLAGS_IMMUTABLETYPE) && !type->tp_descr_get &&
                   !type->tp_descr_set
               ? found
               : nullptr;
}

// The offset of the slot that member reads for instances of type, when it
// is an object slot of a class type derives from; else -1.
Py_ssize_t slot_offset(PyTypeObject* type, PyObject* member)
{
    if (!member || !Py_IS_TYPE(member, &PyMemberDescr_Type) ||
        !PyType_IsSubtype(type, PyDescr_TYPE(member)))
        return -1;
    const PyMemberDef* def = reinterpret_cast<PyMemberDescrObject*>(member)->d_member;
    if (def->type != Py_T_OBJECT_EX || (def->flags & (Py_AUDIT_READ | Py_RELATIVE_OFFSET)))
        return -1;
    return def->offset;
}

int read_facts(PyTypeObject* type, Facts& facts)
{
    bool failed = false;
    facts.render = mro_lookup(type, g_tree.str_render, failed);
    facts.content = mro_lookup(type, g_tree.str_content, failed);
    facts.containers = mro_lookup(type, g_tree.str_containers, failed);
    facts.settings = written_settings(type, facts.containers.get(), failed);
    // The generic lookup of an instance attribute calls a data descriptor
    // that the class has (one of the slots), else takes the instance's own
    // value, else the class's. Whether an instance has attributes of its own
    // is asked of its managed dict; an instance of a class with another kind
    // of dict is left to the lookup.
    bool generic = type->tp_getattro == PyObject_GenericGetAttr;
    facts.managed_dict = type->tp_flags & Py_TPFLAGS_MANAGED_DICT;
    bool class_values = generic && (facts.managed_dict || type->tp_dictoffset == 0);
    for (int d = 0; d < kDefaults; ++d) {
        Ref value = mro_lookup(type, default_name(d), failed);
        if (class_values && class_value(value.get()))
            facts.defaults[d] = std::move(value);
    }
    facts.members_direct = generic;
    for (int m = 0; m < kMembers; ++m) {
        facts.members[m] = mro_lookup(type, member_name(static_cast<Member>(m)), failed);
        facts.member_offsets[m] = slot_offset(type, facts.members[m].get());
        if (facts.member_offsets[m] < 0)
            facts.members_direct = false;
    }
    return failed ? -1 : 0;
}

bool made_from(const Plan* p, const Facts& facts)
{
    for (int d = 0; d < kDefaults; ++d) {
        if (p->defaults[d] != facts.defaults[d].get())
            return false;
    }
    for (int m = 0; m < kMembers; ++m) {
        if (p->members[m] != facts.members[m].get())
            return false;
    }
    return p->render == facts.render.get() && p->content == facts.content.get() &&
           p->containers == facts.containers.get() && p->settings == facts.settings.get() &&
           p->members_direct == facts.members_direct && p->managed_dict == facts.managed_dict;
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
    p->members_direct = facts.members_direct;
    p->managed_dict = facts.managed_dict;
    p->render = facts.render.release();
    p->content = facts.content.release();
    p->containers = facts.containers.release();
    p->settings = facts.settings.release();
    for (int d = 0; d < kDefaults; ++d) {
        p->defaults[d] = facts.defaults[d].release();
        p->class_values[d] = Py_XNewRef(class_value(p->defaults[d]));
    }
    for (int m = 0; m < kMembers; ++m) {
        p->members[m] = facts.members[m].release();
        p->member_offsets[m] = facts.member_offsets[m];
    }
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
    // Held to the end: the plan it replaces goes only after the new one is
    // in place, whatever its fields' finalizers do.
    Ref kept = Ref::steal(found);
    if (kept && !Py_IS_TYPE(kept.get(), &Plan_Type))
        kept.reset();
    if (kept && plan(kept.get())->version_tag != 0 &&
        plan(kept.get())->version_tag == type->tp_version_tag)
        return Ref::borrow(kept.get());

    // A class changed while its facts were read (a lookup in its dicts can
    // run a key's __eq__) gets a plan that is checked at every use.
    unsigned int tag = version_tag(type);
    Facts facts;
    if (read_facts(type, facts) < 0)
        return Ref();
    bool stable = tag != 0 && tag == type->tp_version_tag;
    if (kept && made_from(plan(kept.get()), facts)) {
        plan(kept.get())->version_tag = stable ? tag : 0;
        return Ref::borrow(kept.get());
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
        plan(made.get())->version_tag = stable ? version_tag(type) : 0;
    }
    return made;
}

}  // namespace vora::tree
