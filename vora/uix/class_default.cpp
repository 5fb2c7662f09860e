// ClassDefault: a class's plain value of an element's tagname, html_tpl or
// default_cls, which reads as that plain value would. Its record, slots and
// type.
#include "common/errors.hpp"
#include "common/static_type.hpp"
#include "tree.hpp"

namespace vora::tree {

namespace {

ClassDefault* record(PyObject* o)
{
    return reinterpret_cast<ClassDefault*>(o);
}

// ------------------------------------------------------------------- slots

// ClassDefault(name, value).
PyObject* ClassDefault_new(PyTypeObject* type, PyObject* args, PyObject* kwargs)
{
    PyObject *name, *value;
    if (kwargs && PyDict_GET_SIZE(kwargs) != 0) {
        PyErr_SetString(PyExc_TypeError, "ClassDefault() takes no keyword arguments");
        return nullptr;
    }
    if (!PyArg_UnpackTuple(args, "ClassDefault", 2, 2, &name, &value))
        return nullptr;
    if (!expect_exact_str(name))
        return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self)
        return nullptr;
    ClassDefault* d = record(self);
    d->name = Py_NewRef(name);
    d->value = Py_NewRef(value);
    return self;
}

int ClassDefault_traverse(PyObject* o, visitproc visit, void* arg)
{
    Py_VISIT(record(o)->value);
    return 0;
}

int ClassDefault_clear(PyObject* o)
{
    Py_CLEAR(record(o)->value);
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

// The value, whoever asks: the generic lookup calls this only where the
// instance has no value of its own (no __set__, so the instance's __dict__
// comes first), and super() or the class ask for the class's.
PyObject* ClassDefault_get(PyObject* self, PyObject*, PyObject*)
{
    ClassDefault* d = record(self);
    if (!d->value) [[unlikely]] {
        PyErr_Format(PyExc_TypeError, "ClassDefault '%U' was cleared", d->name);
        return nullptr;
    }
    return Py_NewRef(d->value);
}

PyMemberDef members[] = {
    {"name", Py_T_OBJECT_EX, offsetof(ClassDefault, name), Py_READONLY,
     "The attribute's name."},
    {"value", Py_T_OBJECT_EX, offsetof(ClassDefault, value), Py_READONLY,
     "The class's value."},
    {nullptr, 0, 0, 0, nullptr},
};

PyTypeObject make_type()
{
    PyTypeObject t = static_type(
        "vora.uix._tree.ClassDefault", sizeof(ClassDefault),
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
        "ClassDefault(name, value, /)\n--\n\n"
        "A class's plain value of an element attribute, ``value``, which the page\n"
        "walk finds without a lookup. It reads as the plain value would: from\n"
        "the class, through ``super()`` or from an instance without a value of\n"
        "its own (set in its ``__dict__``), ``value``.");
    t.tp_new = ClassDefault_new;
    t.tp_dealloc = ClassDefault_dealloc;
    t.tp_traverse = ClassDefault_traverse;
    t.tp_clear = ClassDefault_clear;
    t.tp_descr_get = ClassDefault_get;
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
