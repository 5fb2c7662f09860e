// Names looked up in the module namespace at each use.
#pragma once

#include <Python.h>

#include "common/ref.hpp"

namespace vora::attributes {

// The module namespace's binding of name, read at each use so that code
// that rebinds it there is followed; NameError when it is missing.
Ref module_global(PyObject* name);

}  // namespace vora::attributes
