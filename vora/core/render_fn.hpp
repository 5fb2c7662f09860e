// The type of an attribute type's own rendering: what the attribute type
// template and the Python-level attrvalue method both need of each other.
#pragma once

#include <Python.h>

namespace vora::attributes {

// obj's setting as markup text, without consulting overrides: a new
// reference, or NULL with an exception set.
using RenderFn = PyObject* (*)(PyObject* self, PyObject* obj);

}  // namespace vora::attributes
