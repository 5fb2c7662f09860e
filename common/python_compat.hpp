// What CPython 3.14 added to the C API, given to 3.13: each shim behaves as
// the interpreter's own function and carries its name, so the rest of the
// code calls the newest API and holds no version test of its own.
#pragma once

#include <Python.h>

#include <cstring>

#if PY_VERSION_HEX < 0x030E0000

// 1 with *item a new reference, 0 at the end (StopIteration cleared), -1 with
// an exception set. May run Python code (the iterator's __next__).
static inline int PyIter_NextItem(PyObject* iter, PyObject** item)
{
    iternextfunc next = Py_TYPE(iter)->tp_iternext;
    if (next == nullptr) {
        *item = nullptr;
        PyErr_Format(PyExc_TypeError, "expected an iterator, got '%T'", iter);
        return -1;
    }
    if ((*item = next(iter)) != nullptr)
        return 1;
    if (!PyErr_Occurred())
        return 0;
    if (PyErr_ExceptionMatches(PyExc_StopIteration)) {
        PyErr_Clear();
        return 0;
    }
    return -1;
}

// 1 when two str (subclasses included) hold the same characters, 0 when not,
// -1 with TypeError for anything else. A str is stored in the narrowest kind
// its characters fit, so equal strings have equal kinds and equal bytes.
static inline int PyUnicode_Equal(PyObject* a, PyObject* b)
{
    if (!PyUnicode_Check(a)) {
        PyErr_Format(PyExc_TypeError, "first argument must be str, not %s", Py_TYPE(a)->tp_name);
        return -1;
    }
    if (!PyUnicode_Check(b)) {
        PyErr_Format(PyExc_TypeError, "second argument must be str, not %s", Py_TYPE(b)->tp_name);
        return -1;
    }
    if (a == b)
        return 1;
    Py_ssize_t length = PyUnicode_GET_LENGTH(a);
    if (length != PyUnicode_GET_LENGTH(b))
        return 0;
    int kind = PyUnicode_KIND(a);
    if (kind != PyUnicode_KIND(b))
        return 0;
    return std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), static_cast<size_t>(length) * kind) == 0;
}

#endif
