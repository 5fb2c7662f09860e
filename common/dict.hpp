// Dict lookups that hand back an owning reference: one key, a key with a
// fallback, and a name through a module's globals and then the builtins.
#pragma once

#include <Python.h>

#include "errors.hpp"
#include "ref.hpp"

namespace vora {

// dict[key] into *out as a new reference: 1 when found, 0 when absent (*out
// empty, no exception), -1 on error (*out empty, exception set). May run
// Python code (the key's __hash__ and __eq__).
inline int dict_get(PyObject* dict, PyObject* key, Ref* out) noexcept
{
    PyObject* value;
    int found = PyDict_GetItemRef(dict, key, &value);
    *out = Ref::steal(value);
    return found;
}
inline int dict_get(PyObject* dict, const char* key, Ref* out) noexcept
{
    PyObject* value;
    int found = PyDict_GetItemStringRef(dict, key, &value);
    *out = Ref::steal(value);
    return found;
}

// dict.get(key, fallback) as a new reference; empty with an error set.
template <class Key>
Ref dict_get_or(PyObject* dict, Key key, PyObject* fallback) noexcept
{
    Ref value;
    int found = dict_get(dict, key, &value);
    return found == 0 ? Ref::borrow(fallback) : std::move(value);
}

VORA_COLD inline void raise_name_error(PyObject* name) noexcept
{
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
}

// What `name` means in code whose globals are `globals`: their binding, else
// the one in `builtins` (a dict, or nullptr to search the globals only).
// Read at each use, so that rebinding the name takes effect at once. Empty
// with NameError "name '<name>' is not defined" when neither binds it.
inline Ref lookup_global(PyObject* globals, PyObject* name, PyObject* builtins = nullptr) noexcept
{
    Ref value;
    int found = dict_get(globals, name, &value);
    if (found == 0 && builtins)
        found = dict_get(builtins, name, &value);
    if (found == 0)
        raise_name_error(name);
    return value;
}

}  // namespace vora
