// The Python-level attrvalue method of the attribute types: a function
// object with the type's qualified name and the module's name, which binds
// to instances like a Python function.
#pragma once

#include <Python.h>

#include "vora/core/render_fn.hpp"

namespace vora::attributes {

extern PyTypeObject AttrvalueMethod_Type;

// A new attrvalue function for type, running render directly.
PyObject* attrvalue_method_new(PyTypeObject* type, RenderFn render);

// True when callable is the attrvalue function that runs render.
bool is_attrvalue_method(PyObject* callable, RenderFn render);

}  // namespace vora::attributes
