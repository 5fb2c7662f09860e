// The options list of the types that take one: values accepted as they are,
// such as 'inherit', whatever the type's own rules say.
#pragma once

#include <Python.h>

#include "common/ref.hpp"

namespace vora::attributes {

// value in self.options; 1, 0 or -1 on error. The list is held: the test
// runs __eq__, which could re-initialise self and replace it.
template <class T>
int in_options(PyObject* self, PyObject* value)
{
    Ref options = Ref::borrow(reinterpret_cast<T*>(self)->options);
    return PySequence_Contains(options.get(), value);
}

// The convert entry of these types: None and a listed option are kept as
// they are (options come first, so an option is never parsed); any other
// value is T::convert_unlisted's to convert.
template <class T>
PyObject* convert_with_options(PyObject* self, PyObject* obj, PyObject* value)
{
    int kept = value == Py_None ? 1 : in_options<T>(self, value);
    if (kept != 0)
        return kept < 0 ? nullptr : Py_NewRef(value);
    return T::convert_unlisted(self, obj, value);
}

}  // namespace vora::attributes
