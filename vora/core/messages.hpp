// The texts of the attribute types' errors that name the owner class and the
// attribute, as "<Owner>.<name> ...".
#pragma once

#include <Python.h>

#include "common/errors.hpp"
#include "common/ref.hpp"

namespace vora::attributes {

// "<obj.__class__.__name__>.<self.name><text>" with both names formatted as
// by format(x, "").
Ref owner_message(PyObject* self, PyObject* obj, const char* text);
// owner_message(...) + repr(value) + after.
Ref owner_message_repr(PyObject* self, PyObject* obj, const char* text, PyObject* value,
                       const char* after);
// Raises ValueError "<Owner>.<name><text><repr(value)>. Must be one of:
// <options>", with the list read from *options only once the rest is
// written (which runs Python code), and held while it is formatted.
VORA_COLD PyObject* raise_invalid_option(PyObject* self, PyObject* obj, const char* text,
                                         PyObject* value, PyObject* const* options);
// Raises ValueError with message, which is consumed; returns nullptr.
PyObject* raise_value_error(Ref message);

}  // namespace vora::attributes
