// Creation and execution of a native module that exists once per process.
#include "module.hpp"

#include "dict.hpp"

namespace vora {

namespace {

int64_t g_interpreter_id = -1;

int check_single_interpreter()
{
    int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1)
        return -1;
    if (g_interpreter_id == -1) {
        g_interpreter_id = current;
        return 0;
    }
    if (g_interpreter_id != current) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return -1;
    }
    return 0;
}

// Copies spec.<from> into the module dict as <to>; a missing attribute is
// skipped, and so is a None value when none_too is set.
int copy_spec_attr(PyObject* spec, PyObject* dict, const char* from, const char* to, bool none_too)
{
    Ref value = Ref::steal(PyObject_GetAttrString(spec, from));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            return -1;
        PyErr_Clear();
        return 0;
    }
    if (none_too && value.get() == Py_None)
        return 0;
    return PyDict_SetItemString(dict, to, value.get());
}

}  // namespace

PyObject* module_create(ModuleOnce& once, PyObject* spec)
{
    if (check_single_interpreter() < 0)
        return nullptr;
    if (once.module)
        return Py_NewRef(once.module);
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name)
        return nullptr;
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    if (!module)
        return nullptr;
    PyObject* dict = PyModule_GetDict(module.get());
    if (copy_spec_attr(spec, dict, "loader", "__loader__", false) < 0 ||
        copy_spec_attr(spec, dict, "origin", "__file__", false) < 0 ||
        copy_spec_attr(spec, dict, "parent", "__package__", false) < 0 ||
        copy_spec_attr(spec, dict, "submodule_search_locations", "__path__", true) < 0)
        return nullptr;
    return module.release();
}

namespace {

// The first steps of the execution: 1 when this module object was already
// executed (nothing to do), 0 to go on, -1 on error.
int exec_begin(ModuleOnce& once, PyObject* module)
{
    if (once.module) {
        if (once.module == module)
            return 1;
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.",
                     once.short_name);
        once.refusing = true;
        return -1;
    }
    once.module = Py_NewRef(module);
    Ref builtins = Ref::steal(PyImport_ImportModule("builtins"));
    if (!builtins || PyModule_AddObjectRef(module, "__builtins__", builtins.get()) < 0)
        return -1;
    int major = (Py_Version >> 24) & 0xff;
    int minor = (Py_Version >> 16) & 0xff;
    if (major != PY_MAJOR_VERSION || minor != PY_MINOR_VERSION) {
        if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                             "compile time Python version %d.%d of module '%.100s' %s runtime "
                             "version %d.%d",
                             PY_MAJOR_VERSION, PY_MINOR_VERSION, once.qualified_name,
                             "does not match", major, minor) < 0)
            return -1;
    }
    return 0;
}

// Enters the module into sys.modules under its full name when that key is
// absent.
int register_module(ModuleOnce& once)
{
    PyObject* modules = PyImport_GetModuleDict();
    Ref present;
    int found = dict_get(modules, once.qualified_name, &present);
    if (found < 0)
        return -1;
    if (found)
        return 0;
    return PyDict_SetItemString(modules, once.qualified_name, once.module);
}

// Ends a failed execution; returns -1.
int exec_failed(ModuleOnce& once)
{
    if (PyErr_Occurred()) {
        char funcname[200];
        PyOS_snprintf(funcname, sizeof funcname, "init %s", once.qualified_name);
        add_traceback(funcname, once.qualified_name);
    } else {
        PyErr_Format(PyExc_ImportError, "init %s", once.qualified_name);
    }
    if (once.refusing)
        once.refusing = false;
    else
        Py_CLEAR(once.module);
    return -1;
}

}  // namespace

int module_exec(ModuleOnce& once, PyObject* module)
{
    int status = exec_begin(once, module);
    if (status > 0)
        return 0;
    if (status < 0 || (once.prepare && once.prepare(module) < 0) || register_module(once) < 0 ||
        once.body(module) < 0)
        return exec_failed(once);
    return 0;
}

}  // namespace vora
