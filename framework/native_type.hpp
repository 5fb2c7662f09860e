// Building blocks of the framework's static extension types: a type object
// from its named slots, the deallocation, traversal and clearing of a type
// that appends object fields to its base's record and chains to the base for
// the rest, and the readying of a module's types.
#pragma once

#include <Python.h>

#include "common/imports.hpp"
#include "common/ref.hpp"
#include "common/static_type.hpp"

#include <iterator>
#include <span>

namespace vora::framework {

using vora::static_type;

// Flags of a type that native and Python code may extend and whose fields
// may hold cycles.
constexpr unsigned long extensible_gc_flags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;

// Flags of such a type that adds no object fields: the interpreter gives it
// the collector flag together with its base's traverse and clear.
constexpr unsigned long extensible_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;

// The slots of a type beyond those static_type() sets, named with designated
// initialisers in this order; what is not named stays zero.
struct TypeSlots {
    newfunc new_ = nullptr;
    initproc init = nullptr;
    destructor dealloc = nullptr;
    traverseproc traverse = nullptr;
    inquiry clear = nullptr;
    ternaryfunc call = nullptr;
    descrgetfunc descr_get = nullptr;
    descrsetfunc descr_set = nullptr;
    PyMethodDef* methods = nullptr;
    PyMemberDef* members = nullptr;
    PyGetSetDef* getset = nullptr;
    PySequenceMethods* as_sequence = nullptr;
    PyTypeObject* base = nullptr;
};

// A static type object with its name, instance size, flags, docstring and
// slots.
inline PyTypeObject native_type(const char* name, Py_ssize_t basicsize, unsigned long flags,
                                const char* doc, const TypeSlots& s)
{
    PyTypeObject t = static_type(name, basicsize, flags, doc);
    t.tp_new = s.new_;
    t.tp_init = s.init;
    t.tp_dealloc = s.dealloc;
    t.tp_traverse = s.traverse;
    t.tp_clear = s.clear;
    t.tp_call = s.call;
    t.tp_descr_get = s.descr_get;
    t.tp_descr_set = s.descr_set;
    t.tp_methods = s.methods;
    t.tp_members = s.members;
    t.tp_getset = s.getset;
    t.tp_as_sequence = s.as_sequence;
    t.tp_base = s.base;
    return t;
}

// A type whose record appends the object fields `Fields` to the record of
// `base`. Its slots release, visit or clear its own fields and hand the rest
// to the base (a base without traverse or clear holds no objects), as a
// native subclass in another module does; the base's deallocator untracks
// again (harmless) and frees with the instance type's tp_free. A type that
// appends no object fields keeps the base's slots, and the interpreter gives
// it the collector flag with them.
template <class Record, PyTypeObject* base, PyObject* Record::*... Fields>
struct Chained {
    static Record* record(PyObject* self) { return reinterpret_cast<Record*>(self); }
    static void release(PyObject*& field) { Py_CLEAR(field); }

    static void dealloc(PyObject* self)
    {
        PyObject_GC_UnTrack(self);
        Py_TRASHCAN_BEGIN(self, dealloc)
        Record* r = record(self);
        (release(r->*Fields), ...);
        base->tp_dealloc(self);
        Py_TRASHCAN_END
    }

    static int traverse(PyObject* self, visitproc visit, void* arg)
    {
        if (base->tp_traverse) {
            if (int err = base->tp_traverse(self, visit, arg))
                return err;
        }
        Record* r = record(self);
        int err = 0;
        ((err = err ? err : (r->*Fields ? visit(r->*Fields, arg) : 0)), ...);
        return err;
    }

    static int clear(PyObject* self)
    {
        if (base->tp_clear)
            base->tp_clear(self);
        Record* r = record(self);
        (set_field(r->*Fields, Ref::borrow(Py_None)), ...);
        return 0;
    }

    // The type object: extensible by native and Python code, its record
    // Record, built on base.
    static PyTypeObject type(const char* name, const char* doc, TypeSlots s)
    {
        s.base = base;
        if constexpr (sizeof...(Fields) == 0) {
            return native_type(name, sizeof(Record), extensible_flags, doc, s);
        } else {
            s.dealloc = dealloc;
            s.traverse = traverse;
            s.clear = clear;
            return native_type(name, sizeof(Record), extensible_gc_flags, doc, s);
        }
    }
};

// A METH_FASTCALL (| METH_KEYWORDS) function as the PyCFunction that
// PyMethodDef stores; the flags tell the interpreter its real signature.
template <class F>
PyCFunction as_method(F f)
{
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// A type of a module's namespace, for add_types.
struct ModuleType {
    const char* name;
    PyTypeObject* type;
    void* table;  // published as __pyx_vtable__, or nullptr
};

// Readies each type, publishes its table when it has one and binds it in
// module under its name, in order.
inline int add_types(PyObject* module, std::span<const ModuleType> types)
{
    for (const ModuleType& entry : types) {
        if (PyType_Ready(entry.type) < 0)
            return -1;
        if (entry.table && publish_vtable(entry.type, entry.table) < 0)
            return -1;
        if (PyModule_AddObjectRef(module, entry.name, reinterpret_cast<PyObject*>(entry.type)) < 0)
            return -1;
    }
    return 0;
}

}  // namespace vora::framework
