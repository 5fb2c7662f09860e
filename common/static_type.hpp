// Static type objects filled by code rather than by position.
#pragma once

#include <Python.h>

namespace vora {

// A zeroed static type object with the head of an immortal static object,
// its name, instance size, flags and docstring; the caller sets the slots it
// needs, then readies it. (Aggregate initialisation of PyTypeObject cannot
// skip members without a warning in C++.)
inline PyTypeObject static_type(const char* name, Py_ssize_t basicsize,
                                unsigned long flags = Py_TPFLAGS_DEFAULT, const char* doc = nullptr)
{
    static const PyVarObject head[] = {PyVarObject_HEAD_INIT(nullptr, 0)};
    PyTypeObject t{};
    t.ob_base = head[0];
    t.tp_name = name;
    t.tp_basicsize = basicsize;
    t.tp_flags = flags;
    t.tp_doc = doc;
    return t;
}

}  // namespace vora
