// Process-wide state of vora.core._attributes and its shared strings.
#include "vora/core/state.hpp"

namespace vora::attributes {

State g_state;

PyObject* str_empty;
PyObject* str_attrtype;
PyObject* str_attrname;
PyObject* str_sync;
PyObject* str_options;
PyObject* str_allownone;
PyObject* str_name;
PyObject* str_attrvalue;
PyObject* str_dunder_init;
PyObject* str_dunder_class;
PyObject* str_dunder_name;
PyObject* str_underscore;
PyObject* str_dash;

const StringSpec shared_strings[] = {
    {&str_empty, ""},
    {&str_attrtype, "attrtype"},
    {&str_attrname, "attrname"},
    {&str_sync, "sync"},
    {&str_options, "options"},
    {&str_allownone, "allownone"},
    {&str_name, "name"},
    {&str_attrvalue, "attrvalue"},
    {&str_dunder_init, "__init__"},
    {&str_dunder_class, "__class__"},
    {&str_dunder_name, "__name__"},
    {&str_underscore, "_"},
    {&str_dash, "-"},
    {nullptr, nullptr},
};

int make_strings(const StringSpec* specs)
{
    for (; specs->slot; ++specs) {
        if (*specs->slot)
            continue;  // made by an earlier load attempt
        *specs->slot = PyUnicode_InternFromString(specs->text);
        if (!*specs->slot)
            return -1;
    }
    return 0;
}

}  // namespace vora::attributes
