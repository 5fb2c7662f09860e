// Import of outside native types and of their native method tables.
#include "imports.hpp"

#include "dict.hpp"

namespace vora {

namespace {

const char* module_name_of(PyObject* module, Ref& holder)
{
    holder = Ref::steal(PyModule_GetNameObject(module));
    if (!holder)
        return nullptr;
    return PyUnicode_AsUTF8(holder.get());
}

}  // namespace

Ref import_type(PyObject* module, const char* type_name, Py_ssize_t expected_size)
{
    Ref name_holder;
    const char* module_name = module_name_of(module, name_holder);
    if (!module_name)
        return Ref();
    Ref type = Ref::steal(PyObject_GetAttrString(module, type_name));
    if (!type)
        return Ref();
    if (!PyType_Check(type.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", module_name, type_name);
        return Ref();
    }
    Py_ssize_t size = reinterpret_cast<PyTypeObject*>(type.get())->tp_basicsize;
    if (size != expected_size) {
        const char* text =
            "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C "
            "header, got %zd from PyObject";
        if (size < expected_size) {
            PyErr_Format(PyExc_ValueError, text, module_name, type_name, expected_size, size);
            return Ref();
        }
        if (PyErr_WarnFormat(PyExc_RuntimeWarning, 0, text, module_name, type_name, expected_size,
                             size) < 0)
            return Ref();
    }
    return type;
}

void* imported_vtable(PyObject* type)
{
    PyObject* dict = reinterpret_cast<PyTypeObject*>(type)->tp_dict;
    Ref capsule;
    int found = dict_get(dict, "__pyx_vtable__", &capsule);
    if (found < 0)
        return nullptr;
    if (!found) {
        PyErr_SetString(PyExc_KeyError, "__pyx_vtable__");
        return nullptr;
    }
    void* table = PyCapsule_GetPointer(capsule.get(), nullptr);
    if (!table && !PyErr_Occurred())
        PyErr_SetString(PyExc_RuntimeError, "invalid vtable found for imported type");
    return table;
}

int publish_vtable(PyTypeObject* type, void* table)
{
    Ref capsule = Ref::steal(PyCapsule_New(table, nullptr, nullptr));
    if (!capsule || PyDict_SetItemString(type->tp_dict, "__pyx_vtable__", capsule.get()) < 0)
        return -1;
    PyType_Modified(type);
    return 0;
}

Ref import_from(PyObject* module, PyObject* name)
{
    Ref value = Ref::steal(PyObject_GetAttr(module, name));
    if (value || !PyErr_ExceptionMatches(PyExc_AttributeError))
        return value;
    PyErr_Clear();
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name)
        return Ref();
    Ref full = Ref::steal(PyUnicode_FromFormat("%U.%U", module_name.get(), name));
    if (!full)
        return Ref();
    Ref sub;
    if (dict_get(PyImport_GetModuleDict(), full.get(), &sub) == 0)
        PyErr_Format(PyExc_ImportError, "cannot import name %S", name);
    return sub;
}

}  // namespace vora
