// The Python-level attrvalue method: argument checks, then the type's own
// rendering with dispatch suppressed.
#include "vora/core/attrvalue_method.hpp"

#include <cstddef>

#include "common/args.hpp"
#include "common/errors.hpp"
#include "common/ref.hpp"
#include "common/static_type.hpp"
#include "vora/core/state.hpp"

namespace vora::attributes {

namespace {

struct AttrvalueMethod {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    PyTypeObject* owner;   // the attribute type (static, immortal)
    RenderFn render;
    PyObject* qualname;    // "<type name>.attrvalue"
};

const char* const attrvalue_params[] = {"obj"};
const Signature attrvalue_signature{"attrvalue", attrvalue_params, 1, 1};

VORA_COLD PyObject* raise_obj_type(PyObject* obj)
{
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                 "obj", g_state.event_dispatcher_type->tp_name,
                 Py_TYPE(obj)->tp_name);
    return nullptr;
}

VORA_COLD PyObject* raise_self_type(AttrvalueMethod* m, PyObject* self)
{
    if (self)
        PyErr_Format(PyExc_TypeError,
                     "descriptor 'attrvalue' for '%.100s' objects doesn't apply to a '%.100s' object",
                     m->owner->tp_name, Py_TYPE(self)->tp_name);
    else
        PyErr_Format(PyExc_TypeError, "unbound method %U() needs an argument", m->qualname);
    return nullptr;
}

PyObject* AttrvalueMethod_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                                     PyObject* kwnames)
{
    auto* m = reinterpret_cast<AttrvalueMethod*>(callable);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (nargs < 1 || !PyObject_TypeCheck(args[0], m->owner)) [[unlikely]]
        return raise_self_type(m, nargs < 1 ? nullptr : args[0]);
    PyObject* obj;
    if (kwnames || nargs != 2) [[unlikely]] {
        if (parse_fastcall(attrvalue_signature, args + 1, nargs - 1, kwnames, &obj) < 0)
            return nullptr;
    } else {
        obj = args[1];
    }
    if (obj != Py_None && !PyObject_TypeCheck(obj, g_state.event_dispatcher_type)) [[unlikely]]
        return raise_obj_type(obj);
    return m->render(args[0], obj);
}

PyObject* AttrvalueMethod_descr_get(PyObject* self, PyObject* obj, PyObject*)
{
    if (!obj || obj == Py_None)
        return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

void AttrvalueMethod_dealloc(PyObject* self)
{
    Py_XDECREF(reinterpret_cast<AttrvalueMethod*>(self)->qualname);
    Py_TYPE(self)->tp_free(self);
}

PyObject* AttrvalueMethod_repr(PyObject* self)
{
    return PyUnicode_FromFormat("<method %R>", reinterpret_cast<AttrvalueMethod*>(self)->qualname);
}

PyObject* AttrvalueMethod_get_name(PyObject*, void*)
{
    return Py_NewRef(str_attrvalue);
}

PyObject* AttrvalueMethod_get_qualname(PyObject* self, void*)
{
    return Py_NewRef(reinterpret_cast<AttrvalueMethod*>(self)->qualname);
}

PyObject* AttrvalueMethod_get_module(PyObject*, void*)
{
    return PyUnicode_FromString("vora.core._attributes");
}

PyObject* AttrvalueMethod_get_text_signature(PyObject*, void*)
{
    return PyUnicode_FromString("($self, /, obj)");
}

PyGetSetDef AttrvalueMethod_getset[] = {
    {"__name__", checked_entry<AttrvalueMethod_get_name>, nullptr, nullptr, nullptr},
    {"__qualname__", checked_entry<AttrvalueMethod_get_qualname>, nullptr, nullptr, nullptr},
    {"__module__", checked_entry<AttrvalueMethod_get_module>, nullptr, nullptr, nullptr},
    {"__text_signature__", checked_entry<AttrvalueMethod_get_text_signature>, nullptr, nullptr,
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject make_type()
{
    PyTypeObject t = static_type("vora.core._attributes.attrvalue_method", sizeof(AttrvalueMethod),
                                 Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL |
                                     Py_TPFLAGS_METHOD_DESCRIPTOR);
    t.tp_dealloc = AttrvalueMethod_dealloc;
    t.tp_vectorcall_offset = offsetof(AttrvalueMethod, vectorcall);
    t.tp_repr = checked_entry<AttrvalueMethod_repr>;
    t.tp_call = PyVectorcall_Call;
    t.tp_getset = AttrvalueMethod_getset;
    t.tp_descr_get = checked_entry<AttrvalueMethod_descr_get>;
    return t;
}

}  // namespace

PyTypeObject AttrvalueMethod_Type = make_type();

PyObject* attrvalue_method_new(PyTypeObject* type, RenderFn render)
{
    if (PyType_Ready(&AttrvalueMethod_Type) < 0)
        return nullptr;
    Ref type_name = Ref::steal(PyType_GetName(type));
    if (!type_name)
        return nullptr;
    Ref qualname = Ref::steal(PyUnicode_FromFormat("%U.attrvalue", type_name.get()));
    if (!qualname)
        return nullptr;
    auto* m = PyObject_New(AttrvalueMethod, &AttrvalueMethod_Type);
    if (!m)
        return nullptr;
    m->vectorcall = checked_entry<AttrvalueMethod_vectorcall>;
    m->owner = type;
    m->render = render;
    m->qualname = qualname.release();
    return reinterpret_cast<PyObject*>(m);
}

bool is_attrvalue_method(PyObject* callable, RenderFn render)
{
    return Py_IS_TYPE(callable, &AttrvalueMethod_Type) &&
           reinterpret_cast<AttrvalueMethod*>(callable)->render == render;
}

}  // namespace vora::attributes
