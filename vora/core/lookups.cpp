// Names looked up in the module namespace at each use.
#include "vora/core/lookups.hpp"

#include "vora/core/state.hpp"

namespace vora::attributes {

Ref module_global(PyObject* name)
{
    PyObject* value;
    int found = PyDict_GetItemRef(g_state.module_dict, name, &value);
    if (found == 0)
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return Ref::steal(value);
}

}  // namespace vora::attributes
