// Pair unpacking and the errors of reading the joiners' containers.
#include "containers.hpp"

namespace vora::html {

namespace {

VORA_COLD int raise_too_many_values() noexcept
{
    PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", Py_ssize_t{2});
    return -1;
}

VORA_COLD int raise_need_more_values(Py_ssize_t found) noexcept
{
    PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", found,
                 found == 1 ? "" : "s");
    return -1;
}

}  // namespace

void raise_dict_changed() noexcept
{
    PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
}

void raise_dict_keys_changed() noexcept
{
    PyErr_SetString(PyExc_RuntimeError, "dictionary keys changed during iteration");
}

int unpack_pair(PyObject* item, Ref& key, Ref& value) noexcept
{
    if (PyTuple_CheckExact(item) || PyList_CheckExact(item)) [[likely]] {
        Py_ssize_t n = PySequence_Fast_GET_SIZE(item);
        if (n != 2) [[unlikely]]
            return n > 2 ? raise_too_many_values() : raise_need_more_values(n);
        key = Ref::borrow(PySequence_Fast_GET_ITEM(item, 0));
        value = Ref::borrow(PySequence_Fast_GET_ITEM(item, 1));
        return 0;
    }
    Ref iter = Ref::steal(PyObject_GetIter(item));
    if (!iter)
        return -1;
    Ref* slots[] = {&key, &value};
    for (Py_ssize_t i = 0; i < 2; ++i) {
        PyObject* next;
        int status = PyIter_NextItem(iter.get(), &next);
        if (status < 0)
            return -1;
        if (status == 0)
            return raise_need_more_values(i);
        *slots[i] = Ref::steal(next);
    }
    PyObject* surplus;
    int status = PyIter_NextItem(iter.get(), &surplus);
    if (status <= 0)
        return status;
    Py_DECREF(surplus);
    return raise_too_many_values();
}

}  // namespace vora::html
