// Process-wide state of vora.core._attributes and its shared strings.
#include "vora/core/state.hpp"

namespace vora::attributes {

State g_state;

namespace str {
PyObject* empty;
PyObject* attrtype;
PyObject* attrname;
PyObject* sync;
PyObject* options;
PyObject* allownone;
PyObject* name;
PyObject* attrvalue;
PyObject* init;
PyObject* class_;
PyObject* name_;
PyObject* underscore;
PyObject* dash;
}  // namespace str

const StringSpec shared_strings[] = {
    {&str::empty, ""},
    {&str::attrtype, "attrtype"},
    {&str::attrname, "attrname"},
    {&str::sync, "sync"},
    {&str::options, "options"},
    {&str::allownone, "allownone"},
    {&str::name, "name"},
    {&str::attrvalue, "attrvalue"},
    {&str::init, "__init__"},
    {&str::class_, "__class__"},
    {&str::name_, "__name__"},
    {&str::underscore, "_"},
    {&str::dash, "-"},
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
