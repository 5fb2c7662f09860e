// The steps of the attribute types' __init__.
#include "vora/core/keywords.hpp"

#include <climits>

#include "common/errors.hpp"

namespace vora::attributes {

namespace {

// kwargs.get(key, fallback) as a new reference.
Ref keyword_or(PyObject* kwargs, PyObject* key, PyObject* fallback)
{
    PyObject* value;
    if (PyDict_GetItemRef(kwargs, key, &value) < 0)
        return Ref();
    return value ? Ref::steal(value) : Ref::borrow(fallback);
}

}  // namespace

int take_str_keyword(PyObject* kwargs, PyObject* key, PyObject*& field)
{
    Ref value = keyword_or(kwargs, key, str_empty);
    if (!value || !expect_exact_str_or_none(value.get()))
        return -1;
    set_field(field, std::move(value));
    return 0;
}

int take_sync_keyword(PyObject* kwargs, int& field)
{
    PyObject* value;
    if (PyDict_GetItemRef(kwargs, str_sync, &value) < 0)
        return -1;
    int sync = 0;
    int status = value ? int32_from_object(value, sync) : 0;
    Py_XDECREF(value);
    if (status < 0)
        return -1;
    field = sync;
    return 0;
}

Ref list_keyword(PyObject* kwargs, PyObject* key)
{
    PyObject* value;
    if (PyDict_GetItemRef(kwargs, key, &value) < 0)
        return Ref();
    Ref list = Ref::steal(value ? PySequence_List(value) : PyList_New(0));
    Py_XDECREF(value);
    return list;
}

int take_list_keyword(PyObject* kwargs, PyObject* key, PyObject*& field)
{
    Ref list = list_keyword(kwargs, key);
    if (!list)
        return -1;
    set_field(field, std::move(list));
    return 0;
}

int force_allownone(PyObject* kwargs)
{
    return PyDict_SetItem(kwargs, str_allownone, Py_True);
}

int call_base_init(PyTypeObject* type, PyObject* self, PyObject* args, PyObject* kwargs)
{
    PyObject* super_args[] = {reinterpret_cast<PyObject*>(type), self};
    Ref super = Ref::steal(PyObject_Vectorcall(g_state.builtin_super, super_args, 2, nullptr));
    if (!super)
        return -1;
    Ref init = Ref::steal(PyObject_GetAttr(super.get(), str_dunder_init));
    if (!init)
        return -1;
    Ref copy = Ref::steal(PyDict_Copy(kwargs));
    if (!copy)
        return -1;
    Ref result = Ref::steal(PyObject_Call(init.get(), args, copy.get()));
    return result ? 0 : -1;
}

int call_base_init_with(PyTypeObject* type, PyObject* self, PyObject* defaultvalue,
                        PyObject* kwargs)
{
    Ref args = Ref::steal(PyTuple_Pack(1, defaultvalue));
    return args ? call_base_init(type, self, args.get(), kwargs) : -1;
}

int int32_from_object(PyObject* o, int& out)
{
    Ref number;
    if (!PyLong_Check(o)) {
        PyNumberMethods* nb = Py_TYPE(o)->tp_as_number;
        if (!nb || !nb->nb_int) {
            PyErr_SetString(PyExc_TypeError, "an integer is required");
            return -1;
        }
        number = Ref::steal(nb->nb_int(o));
        if (!number)
            return -1;
        if (!PyLong_Check(number.get())) {
            PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                         Py_TYPE(number.get())->tp_name);
            return -1;
        }
        o = number.get();
    }
    int overflow;
    long value = PyLong_AsLongAndOverflow(o, &overflow);
    if (value == -1 && PyErr_Occurred())
        return -1;
    if (overflow || value < INT_MIN || value > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        return -1;
    }
    out = static_cast<int>(value);
    return 0;
}

}  // namespace vora::attributes
