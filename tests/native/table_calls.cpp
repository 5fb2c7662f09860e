// vora_testing.table_calls: calls the entries of a property's native method
// table as the framework's native code would, for tests of behaviour that
// only native callers reach (the override dispatch of attrvalue, check,
// convert and the appended entries).
#include <Python.h>

#include <cstddef>

#include "contract/records_and_tables.hpp"

namespace {

using namespace vora::core;
using namespace vora::attributes;

const PropertyTable* table_of(PyObject* prop)
{
    return static_cast<const PropertyTable*>(reinterpret_cast<PropertyRecord*>(prop)->table);
}

// The entry at slot of prop's own table, as a pointer of type Fn.
template <class Fn>
Fn entry(PyObject* prop, Py_ssize_t slot)
{
    return reinterpret_cast<Fn const*>(table_of(prop))[slot];
}

bool parse(PyObject* args, Py_ssize_t n, const char* name)
{
    if (PyTuple_GET_SIZE(args) == n)
        return true;
    PyErr_Format(PyExc_TypeError, "%s() takes %zd arguments", name, n);
    return false;
}

#define ARG(i) PyTuple_GET_ITEM(args, i)

// init_storage(prop, obj, storage)
PyObject* init_storage(PyObject*, PyObject* args)
{
    if (!parse(args, 3, "init_storage"))
        return nullptr;
    return table_of(ARG(0))->init_storage(ARG(0), ARG(1), ARG(2));
}

// compare_value(prop, a, b)
PyObject* compare_value(PyObject*, PyObject* args)
{
    if (!parse(args, 3, "compare_value"))
        return nullptr;
    return table_of(ARG(0))->compare_value(ARG(0), ARG(1), ARG(2));
}

// check(prop, obj, value)
PyObject* check(PyObject*, PyObject* args)
{
    if (!parse(args, 3, "check"))
        return nullptr;
    return table_of(ARG(0))->check(ARG(0), ARG(1), ARG(2));
}

// convert(prop, obj, value)
PyObject* convert(PyObject*, PyObject* args)
{
    if (!parse(args, 3, "convert"))
        return nullptr;
    return table_of(ARG(0))->convert(ARG(0), ARG(1), ARG(2));
}

// get(prop, obj), dispatch allowed
PyObject* get(PyObject*, PyObject* args)
{
    if (!parse(args, 2, "get"))
        return nullptr;
    return table_of(ARG(0))->get(ARG(0), ARG(1), Dispatch::allowed);
}

// attrvalue(prop, slot, obj): an appended attrvalue entry, dispatch allowed
PyObject* attrvalue(PyObject*, PyObject* args)
{
    if (!parse(args, 3, "attrvalue"))
        return nullptr;
    Py_ssize_t slot = PyLong_AsSsize_t(ARG(1));
    if (slot == -1 && PyErr_Occurred())
        return nullptr;
    return entry<AttrvalueFn>(ARG(0), slot)(ARG(0), ARG(2), Dispatch::allowed);
}

// appended(prop, slot, obj, value): an appended (self, obj, value) entry
PyObject* appended(PyObject*, PyObject* args)
{
    if (!parse(args, 4, "appended"))
        return nullptr;
    Py_ssize_t slot = PyLong_AsSsize_t(ARG(1));
    if (slot == -1 && PyErr_Occurred())
        return nullptr;
    return entry<ConvertFn>(ARG(0), slot)(ARG(0), ARG(2), ARG(3));
}

PyMethodDef methods[] = {
    {"init_storage", init_storage, METH_VARARGS, nullptr},
    {"compare_value", compare_value, METH_VARARGS, nullptr},
    {"check", check, METH_VARARGS, nullptr},
    {"convert", convert, METH_VARARGS, nullptr},
    {"get", get, METH_VARARGS, nullptr},
    {"attrvalue", attrvalue, METH_VARARGS, nullptr},
    {"appended", appended, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// The slots of the appended entries, as the contract fixes them: the tests
// name the slots they call by these.
struct Slot {
    const char* name;
    std::size_t offset;
};
const Slot slots[] = {
    {"ATTRIBUTE_ATTRVALUE", offsetof(AttributeTable, attrvalue)},
    {"NUMERIC_ATTRVALUE", offsetof(NumericAttributeTable, attrvalue)},
    {"VARIABLE_LIST_CONVERT_NUMERIC", offsetof(VariableListAttributeTable, convert_numeric)},
    {"VARIABLE_LIST_ATTRVALUE", offsetof(VariableListAttributeTable, attrvalue)},
    {"COLOR_ATTRVALUE", offsetof(ColorAttributeTable, attrvalue)},
    {"COLOR_PARSE_STR", offsetof(ColorAttributeTable, parse_str)},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "table_calls", nullptr, 0, methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_table_calls()
{
    PyObject* module = PyModule_Create(&module_def);
    if (!module)
        return nullptr;
    for (const Slot& slot : slots) {
        if (PyModule_AddIntConstant(module, slot.name, long(slot.offset / sizeof(void*))) < 0) {
            Py_DECREF(module);
            return nullptr;
        }
    }
    return module;
}
