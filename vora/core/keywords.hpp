// The steps of the attribute types' __init__: taking the common keywords
// out of the keyword dict, and handing the rest to the base's __init__.
#pragma once

#include <Python.h>

#include "common/ref.hpp"
#include "vora/core/state.hpp"

namespace vora::attributes {

// field := kwargs.get(key, "") which must be an exact str or None.
int take_str_keyword(PyObject* kwargs, PyObject* key, PyObject*& field);
// field := int(kwargs.get("sync", 0)) as a native 32-bit int.
int take_sync_keyword(PyObject* kwargs, int& field);
// list(kwargs.get(key, [])), always a new list.
Ref list_keyword(PyObject* kwargs, PyObject* key);
// field := list_keyword(kwargs, key).
int take_list_keyword(PyObject* kwargs, PyObject* key, PyObject*& field);
// The three steps every type starts with, in the common order: attrtype,
// attrname, sync.
template <class T>
int take_common_keywords(T* self, PyObject* kwargs)
{
    if (take_str_keyword(kwargs, str_attrtype, self->attrtype) < 0 ||
        take_str_keyword(kwargs, str_attrname, self->attrname) < 0)
        return -1;
    return take_sync_keyword(kwargs, self->sync);
}
// kwargs["allownone"] = True.
int force_allownone(PyObject* kwargs);
// super(type, self).__init__(*args, **kwargs), with a copy of kwargs; the
// result is discarded.
int call_base_init(PyTypeObject* type, PyObject* self, PyObject* args, PyObject* kwargs);
// super(type, self).__init__(defaultvalue, **kwargs), likewise: for the
// types whose own __init__ takes the default value.
int call_base_init_with(PyTypeObject* type, PyObject* self, PyObject* defaultvalue,
                        PyObject* kwargs);

// Converts an object to a native int as the interpreter's int conversion
// does (int and bool by value, others through __int__).
int int32_from_object(PyObject* o, int& out);

}  // namespace vora::attributes
