// Import of outside native types, checked against the record sizes this
// module was built with, and of the native method tables they publish.
#pragma once

#include <Python.h>

#include "ref.hpp"

namespace vora {

// module.type_name, which must be a type whose instances are at least
// expected_size bytes (larger only warns: a newer outside module may have
// appended fields). Returns the type, or an empty Ref with an error set.
Ref import_type(PyObject* module, const char* type_name, Py_ssize_t expected_size);

// The native method table that type publishes under __pyx_vtable__, or
// nullptr with an error set.
void* imported_vtable(PyObject* type);

// Publishes table as the type's __pyx_vtable__ (an unnamed capsule).
int publish_vtable(PyTypeObject* type, void* table);

// `from module_name import name`: the module's attribute, or the submodule
// module_name.name when it is already imported; else ImportError
// "cannot import name ...". module is the already imported module.
Ref import_from(PyObject* module, PyObject* name);

}  // namespace vora
