// vora_testing._faults: reference and collector faults planted on purpose, so
// that tests can prove each test mode catches its kind; never shipped.
#include <Python.h>

#include <cstddef>

#include "common/ref.hpp"

namespace {

// leak_reference(obj): keeps one extra reference to obj for ever (a missing
// decref).
PyObject* leak_reference(PyObject*, PyObject* obj)
{
    Py_INCREF(obj);
    Py_RETURN_NONE;
}

// leak_on_error(obj): [str(obj)]; when str() raises, the error path forgets
// the list it made.
PyObject* leak_on_error(PyObject*, PyObject* obj)
{
    PyObject* pieces = PyList_New(0);
    if (!pieces)
        return nullptr;
    vora::Ref text = vora::Ref::steal(PyObject_Str(obj));  // may run Python code
    if (!text)
        return nullptr;  // planted: pieces is never released
    if (PyList_Append(pieces, text.get()) < 0) {
        Py_DECREF(pieces);
        return nullptr;
    }
    return pieces;
}

// first_if_equal(items, probe): items[0] when probe == items[0], else None. The
// planted fault: items[0] stays borrowed across probe.__eq__, which may drop
// it from the list (and so free it) before it is used.
PyObject* first_if_equal(PyObject*, PyObject* args)
{
    PyObject* items;
    PyObject* probe;
    if (!PyArg_ParseTuple(args, "O!O:first_if_equal", &PyList_Type, &items, &probe))
        return nullptr;
    if (PyList_GET_SIZE(items) == 0)
        Py_RETURN_NONE;
    PyObject* first = PyList_GET_ITEM(items, 0);  // borrowed
    int equal = PyObject_RichCompareBool(probe, first, Py_EQ);  // runs Python code
    if (equal < 0)
        return nullptr;
    if (!equal)
        Py_RETURN_NONE;
    return Py_NewRef(first);
}

PyMethodDef g_methods[] = {
    {"leak_reference", leak_reference, METH_O, nullptr},
    {"leak_on_error", leak_on_error, METH_O, nullptr},
    {"first_if_equal", first_if_equal, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// Holder(value): one object field, readable as .value. The variants each
// leave out one duty of a collector-aware type.
struct Holder {
    PyObject_HEAD
    PyObject* value;
};

enum Fault : unsigned {
    sound = 0,
    no_visit = 1,     // traverse does not visit the field
    no_gc = 2,        // not a collector type at all
    no_untrack = 4,   // dealloc leaves the object tracked while it clears
};

template <unsigned F>
PyObject* Holder_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    static const char* kwlist[] = {"value", nullptr};
    PyObject* value;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O", const_cast<char**>(kwlist), &value))
        return nullptr;
    auto* self = reinterpret_cast<Holder*>(type->tp_alloc(type, 0));
    if (!self)
        return nullptr;
    self->value = Py_NewRef(value);
    return reinterpret_cast<PyObject*>(self);
}

template <unsigned F>
int Holder_traverse(PyObject* op, visitproc visit, void* arg)
{
    Py_VISIT(Py_TYPE(op));
    if constexpr (!(F & no_visit))
        Py_VISIT(reinterpret_cast<Holder*>(op)->value);
    return 0;
}

int Holder_clear(PyObject* op)
{
    Py_CLEAR(reinterpret_cast<Holder*>(op)->value);
    return 0;
}

template <unsigned F>
void Holder_free_fields(PyObject* op)
{
    PyTypeObject* type = Py_TYPE(op);
    Py_CLEAR(reinterpret_cast<Holder*>(op)->value);
    type->tp_free(op);
    Py_DECREF(type);
}

template <unsigned F>
void Holder_dealloc(PyObject* op)
{
    if constexpr (!(F & (no_gc | no_untrack)))
        PyObject_GC_UnTrack(op);
    if constexpr (F & (no_gc | no_untrack)) {
        Holder_free_fields<F>(op);
    } else {
        Py_TRASHCAN_BEGIN(op, Holder_dealloc<F>)
        Holder_free_fields<F>(op);
        Py_TRASHCAN_END
    }
}

PyMemberDef g_holder_members[] = {
    {"value", Py_T_OBJECT_EX, offsetof(Holder, value), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

template <unsigned F>
PyType_Slot g_holder_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(Holder_new<F>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(Holder_dealloc<F>)},
    {Py_tp_members, g_holder_members},
    // A variant outside the collector ends its list here.
    {(F & no_gc) ? 0 : Py_tp_traverse, reinterpret_cast<void*>(Holder_traverse<F>)},
    {Py_tp_clear, reinterpret_cast<void*>(Holder_clear)},
    {0, nullptr},
};

template <unsigned F>
PyType_Spec holder_spec(const char* name)
{
    unsigned flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    if constexpr (!(F & no_gc))
        flags |= Py_TPFLAGS_HAVE_GC;
    return {name, sizeof(Holder), 0, flags, g_holder_slots<F>};
}

template <unsigned F>
int add_holder(PyObject* module, const char* name)
{
    // The spec is read only while the type is made.
    PyType_Spec spec = holder_spec<F>(name);
    vora::Ref type = vora::Ref::steal(PyType_FromModuleAndSpec(module, &spec, nullptr));
    if (!type)
        return -1;
    return PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type.get()));
}

#ifdef Py_DEBUG
constexpr bool built_for_debug = true;
#else
constexpr bool built_for_debug = false;
#endif
#ifdef __SANITIZE_ADDRESS__
constexpr bool built_with_asan = true;
#else
constexpr bool built_with_asan = false;
#endif

int faults_exec(PyObject* module)
{
    // Whether the headers compiled against agree with the interpreter: with
    // release headers the debug interpreter cannot count our references.
    if (PyModule_AddObjectRef(module, "BUILT_FOR_DEBUG", built_for_debug ? Py_True : Py_False) < 0 ||
        PyModule_AddObjectRef(module, "BUILT_WITH_ASAN", built_with_asan ? Py_True : Py_False) < 0)
        return -1;
    if (add_holder<sound>(module, "vora_testing._faults.Holder") < 0 ||
        add_holder<no_visit>(module, "vora_testing._faults.UnvisitedHolder") < 0 ||
        add_holder<no_gc>(module, "vora_testing._faults.UntrackedHolder") < 0 ||
        add_holder<no_untrack>(module, "vora_testing._faults.TrackedDeallocHolder") < 0)
        return -1;
    return 0;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(faults_exec)},
    {0, nullptr},
};

PyModuleDef g_def = {
    PyModuleDef_HEAD_INIT,
    "_faults",
    nullptr,
    0,
    g_methods,
    g_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__faults()
{
    return PyModuleDef_Init(&g_def);
}
