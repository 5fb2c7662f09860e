// Creation and execution of a native module that exists once per process:
// one interpreter only, one module object, no re-initialisation.
#pragma once

#include <Python.h>

#include <cstdint>

#include "errors.hpp"
#include "ref.hpp"

namespace vora {

// The process-wide record of one module and what the module itself adds to
// the frame: its names, its docstring and the steps of its execution, each
// returning 0, or -1 with an exception set. Its state lives in statics, so a
// second interpreter or a second module object must never see it.
struct ModuleOnce {
    const char* qualified_name;  // "vora.uix._html"
    const char* short_name;      // "_html"
    const char* doc;             // the module's docstring
    // Makes the process-wide state before the module enters sys.modules;
    // may be nullptr.
    int (*prepare)(PyObject* module);
    // Fills the namespace of the module, once it is in sys.modules.
    int (*body)(PyObject* module);
    PyObject* module = nullptr;  // the executed module object (owned)
    // Set while a refused execution of another module object fails: the
    // record then stays with the module already executed.
    bool refusing = false;
};

// Py_mod_create: refuses a second interpreter, hands back the module object
// already executed in this process, or makes a new one from the import spec.
PyObject* module_create(ModuleOnce& once, PyObject* spec);

// Py_mod_exec: does nothing for the module object already executed, refuses
// another one; otherwise binds __builtins__, warns about a version mismatch,
// runs once.prepare, enters the module into sys.modules under its full name
// (when that key is absent) and runs once.body. A failure adds "init <name>"
// to the traceback (or raises ImportError with that text when nothing is
// pending) and drops the record, so a later import may run the execution
// again; a refused execution of a second module object keeps the record of
// the first.
int module_exec(ModuleOnce& once, PyObject* module);

// The module definition for PyInit_<name>: PyModuleDef_Init of a definition
// whose create and exec slots are the two functions above, bound to once.
template <ModuleOnce& once>
PyObject* module_init()
{
    static PyModuleDef_Slot slots[] = {
        {Py_mod_create, reinterpret_cast<void*>(+[](PyObject* spec, PyModuleDef*) {
             return checked(module_create(once, spec));
         })},
        {Py_mod_exec,
         reinterpret_cast<void*>(+[](PyObject* module) { return checked(module_exec(once, module)); })},
        {0, nullptr},
    };
    static PyModuleDef def = {
        PyModuleDef_HEAD_INIT, once.short_name, once.doc, 0, nullptr, slots, nullptr, nullptr, nullptr,
    };
    return PyModuleDef_Init(&def);
}

}  // namespace vora
