// Names looked up in the module namespace at each use.
#include "vora/core/lookups.hpp"

#include "common/dict.hpp"
#include "vora/core/state.hpp"

namespace vora::attributes {

Ref module_global(PyObject* name)
{
    return lookup_global(g_state.module_dict, name);
}

}  // namespace vora::attributes
