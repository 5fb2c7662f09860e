// The items of a list-valued setting as markup text, shared by the two list
// attributes.
#pragma once

#include <Python.h>

namespace vora::attributes {

// str() of every item of seq (an exact str as it is), joined with separator
// (a str). May run Python code.
PyObject* join_items(PyObject* seq, PyObject* separator);

}  // namespace vora::attributes
