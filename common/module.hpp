// Creation and execution of a native module that exists once per process:
// one interpreter only, one module object, no re-initialisation.
#pragma once

#include <Python.h>

#include <cstdint>

#include "errors.hpp"
#include "ref.hpp"

namespace vora {

// The process-wide record of one module. Its state lives in statics, so a
// second interpreter or a second module object must never see it.
struct ModuleOnce {
    const char* qualified_name;  // "vora.uix._html"
    const char* short_name;      // "_html"
    PyObject* module = nullptr;  // the executed module object (owned)
    // Set while a refused execution of another module object fails: the
    // record then stays with the module already executed.
    bool refusing = false;
};

// Py_mod_create: refuses a second interpreter, hands back the module object
// already executed in this process, or makes a new one from the import spec.
PyObject* module_create(ModuleOnce& once, PyObject* spec);

// The first steps of Py_mod_exec: returns 1 when this module object was
// already executed (nothing to do), 0 to go on, -1 on error. When it goes on
// it has bound __builtins__ and warned about a version mismatch.
int module_exec_begin(ModuleOnce& once, PyObject* module);

// Enters the module into sys.modules under its full name when that key is
// absent.
int module_register(ModuleOnce& once);

// Ends a failed Py_mod_exec: adds "init <name>" to the traceback (or raises
// ImportError with that text when nothing is pending) and drops the record,
// so a later import may run the execution again; a refused execution of a
// second module object keeps the record of the first. Returns -1.
int module_exec_failed(ModuleOnce& once);

}  // namespace vora
