// Static type objects filled by code rather than by position.
#pragma once

#include <Python.h>

namespace vora {

// A zeroed static type object with its header, name and instance size; the
// caller sets the slots it needs, then readies it.
inline PyTypeObject static_type(const char* name, Py_ssize_t basicsize)
{
    PyVarObject head = {PyObject_HEAD_INIT(nullptr) 0};
    PyTypeObject t{};
    t.ob_base = head;
    t.tp_name = name;
    t.tp_basicsize = basicsize;
    return t;
}

}  // namespace vora
