// vora.uix._html: the module frame (creation, execution, namespace).
#include "common/module.hpp"

namespace {

vora::ModuleOnce g_once{"vora.uix._html", "_html"};

PyObject* html_create(PyObject* spec, PyModuleDef*)
{
    return vora::checked(vora::module_create(g_once, spec));
}

int html_exec(PyObject* module)
{
    int status = vora::module_exec_begin(g_once, module);
    if (status != 0)
        return status < 0 ? vora::module_exec_failed(g_once) : 0;
    if (vora::module_register(g_once) < 0)
        return vora::module_exec_failed(g_once);
    return 0;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(html_create)},
    {Py_mod_exec, reinterpret_cast<void*>(html_exec)},
    {0, nullptr},
};

PyModuleDef g_def = {
    PyModuleDef_HEAD_INIT,
    "_html",
    nullptr,
    0,
    nullptr,
    g_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__html()
{
    return PyModuleDef_Init(&g_def);
}
