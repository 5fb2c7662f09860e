// ClassDefault: the class's value of an element's tagname, html_tpl or
// default_cls, which an instance may override in a slot of its own. Its
// record, slots and type.
#include <cstring>

#include "common/errors.hpp"
#include "common/static_type.hpp"
#include "tree.hpp"

namespace vora::tree {

namespace {

ClassDefault* record(PyObject* o)
{
    return reinterpret_cast<ClassDefault*>(o);
}

// False, with TypeError set, unless obj is an instance of the class whose
// slot d reads (or d was cleared by the collector, which leaves nothing to
// read).
bool applies(ClassDefault* d, PyObject* obj)
{
    if (d->owner && d->value && PyObject_TypeCheck(obj, d->owner)) [[likely]]
        return true;
    if (!d->owner || !d->value)
        PyErr_Format(PyExc_TypeError, "ClassDefault '%U' was cleared", d->name);
    else
        PyErr_Format(PyExc_TypeError,
                     "descriptor '%U' for '%.100s' objects doesn't apply to a '%.100s' object",
                     d->name, d->owner->tp_name, Py_TYPE(obj)->tp_name);
    return false;
}

// ------------------------------------------------------------------- slots

// ClassDefault(name, value, slot): slot is the member descriptor of an
// object slot that holds the instance's own value.
PyObject* ClassDefault_new(PyTypeObject* type, PyObject* args, PyObject* kwargs)
{
    PyObject *name, *value, *slot;
    if (kwargs && PyDict_GET_SIZE(kwargs) != 0) {
        PyErr_SetString(PyExc_TypeError, "ClassDefault() takes no keyword arguments");
        return nullptr;
    }
    if (!PyArg_UnpackTuple(args, "ClassDefault", 3, 3, &name, &value, &slot))
        return nullptr;
    if (!expect_exact_str(name))
        return nullptr;
    const PyMemberDef* def = Py_IS_TYPE(slot, &PyMemberDescr_Type)
                                 ? reinterpret_cast<PyMemberDescrObject*>(slot)->d_member
                                 : nullptr;
    if (!def || def->type != Py_T_OBJECT_EX || (def->flags & (Py_READONLY | Py_RELATIVE_OFFSET))) {
        PyErr_Format(PyExc_TypeError, "ClassDefault() needs an object slot, not %.200s",
                     Py_TYPE(slot)->tp_name);
        return nullptr;
    }
    PyObject* self = type->tp_alloc(type, 0);
    if (!self)
        return nullptr;
    ClassDefault* d = record(self);
    d->name = Py_NewRef(name);
    d->value = Py_NewRef(value);
    d->owner = reinterpret_cast<PyTypeObject*>(
        Py_NewRef(reinterpret_cast<PyObject*>(PyDescr_TYPE(slot))));
    d->offset = def->offset;
    return self;
}

int ClassDefault_traverse(PyObject* o, visitproc visit, void* arg)
{
    ClassDefault* d = record(o);
    Py_VISIT(d->value);
    Py_VISIT(reinterpret_cast<PyObject*>(d->owner));
    return 0;
}

int ClassDefault_clear(PyObject* o)
{
    ClassDefault* d = record(o);
    Py_CLEAR(d->value);
    Py_CLEAR(d->owner);
    return 0;
}

void ClassDefault_dealloc(PyObject* o)
{
    PyObject_GC_UnTrack(o);
    Py_TRASHCAN_BEGIN(o, ClassDefault_dealloc)
    ClassDefault_clear(o);
    Py_CLEAR(record(o)->name);
    Py_TYPE(o)->tp_free(o);
    Py_TRASHCAN_END
}

PyObject* ClassDefault_get(PyObject* self, PyObject* obj, PyObject*)
{
    ClassDefault* d = record(self);
    if ((!obj || obj == Py_None) && d->value)
        return Py_NewRef(d->value);
    if (!applies(d, obj ? obj : Py_None))
        return nullptr;
    PyObject* own = *own_slot(obj, d->offset);
    return Py_NewRef(own ? own : d->value);
}

int ClassDefault_set(PyObject* self, PyObject* obj, PyObject* value)
{
    ClassDefault* d = record(self);
    if (!applies(d, obj))
        return -1;
    PyObject** slot = own_slot(obj, d->offset);
    if (!value && !*slot) {
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%U'",
                     Py_TYPE(obj)->tp_name, d->name);
        return -1;
    }
    // The old value goes only once the slot holds the new one: its
    // finalizer may read the attribute.
    PyObject* old = *slot;
    *slot = Py_XNewRef(value);
    Py_XDECREF(old);
    return 0;
}

PyMemberDef members[] = {
    {"name", Py_T_OBJECT_EX, offsetof(ClassDefault, name), Py_READONLY,
     "The attribute's name."},
    {"value", Py_T_OBJECT_EX, offsetof(ClassDefault, value), Py_READONLY,
     "The class's value, which an instance without its own has."},
    {nullptr, 0, 0, 0, nullptr},
};

PyTypeObject make_type()
{
    PyTypeObject t = static_type(
        "vora.uix._tree.ClassDefault", sizeof(ClassDefault),
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
        "ClassDefault(name, value, slot, /)\n--\n\n"
        "A class's value of an element attribute that an instance may set for\n"
        "itself: read from an instance, the instance's own value if it has one\n"
        "(kept in ``slot``, an object slot of the instance's class), else\n"
        "``value``; read from the class, ``value``.");
    t.tp_new = ClassDefault_new;
    t.tp_dealloc = ClassDefault_dealloc;
    t.tp_traverse = ClassDefault_traverse;
    t.tp_clear = ClassDefault_clear;
    t.tp_descr_get = ClassDefault_get;
    t.tp_descr_set = ClassDefault_set;
    t.tp_members = members;
    return t;
}

}  // namespace

PyTypeObject ClassDefault_Type = make_type();

int ready_class_default_type()
{
    return PyType_Ready(&ClassDefault_Type);
}

}  // namespace vora::tree
