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

// Where every convert of these types starts: None and a listed option are
// kept as they are (1); anything else is the type's own to convert (0).
template <class T>
int kept_as_is(PyObject* self, PyObject* value)
{
    return value == Py_None ? 1 : in_options<T>(self, value);
}

}  // namespace vora::attributes
