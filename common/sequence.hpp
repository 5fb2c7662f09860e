// for_each_in: the walk over the items of a list, a tuple or any other
// iterable, as a Python for loop makes it.
#pragma once

#include <Python.h>

#include "common/ref.hpp"

namespace vora {

// True when walking seq by index is what iterating it does: a list or tuple
// whose type keeps the built-in iterator.
inline bool walks_by_index(PyObject* seq) noexcept
{
    PyTypeObject* tp = Py_TYPE(seq);
    return (PyList_Check(seq) && tp->tp_iter == PyList_Type.tp_iter) ||
           (PyTuple_Check(seq) && tp->tp_iter == PyTuple_Type.tp_iter);
}

// Calls f(item) for every item of seq, holding a reference to the item while
// f runs. Lists and tuples are walked by index, re-reading the size at each
// step as their iterators do (f may run Python code that shrinks the list);
// anything else through the iterator protocol. f returns < 0 on error.
// Returns 0, or -1 with an exception set. May run Python code.
template <class F>
int for_each_in(PyObject* seq, F&& f)
{
    if (walks_by_index(seq)) [[likely]] {
        bool list = PyList_Check(seq);
        for (Py_ssize_t i = 0; i < Py_SIZE(seq); ++i) {
            Ref item = Ref::borrow(list ? PyList_GET_ITEM(seq, i) : PyTuple_GET_ITEM(seq, i));
            if (f(item.get()) < 0)
                return -1;
        }
        return 0;
    }
    Ref iter = Ref::steal(PyObject_GetIter(seq));
    if (!iter)
        return -1;
    for (;;) {
        PyObject* next;
        int status = PyIter_NextItem(iter.get(), &next);
        if (status <= 0)
            return status;
        Ref item = Ref::steal(next);
        if (f(item.get()) < 0)
            return -1;
    }
}

}  // namespace vora
