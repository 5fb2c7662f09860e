// What the sources of vora.uix._html share: the process-wide state made at
// load and the definitions of the module's functions.
#pragma once

#include <Python.h>

namespace vora::html {

// One copy per process, written only while the module executes. The strings
// outlive any module object (the interpreter that loaded the module is the
// only one it ever serves), so they are made once and kept.
struct State {
    PyObject* str_items = nullptr;        // "items", interned
    PyObject* str_values = nullptr;       // "values", interned
    PyObject* str_html_escape = nullptr;  // "html_escape", interned
    PyObject* kwnames_quote = nullptr;    // ("quote",), for html_escape(text, quote=True)
    PyObject* builtins = nullptr;         // the builtins module's dict
    // The standard html.escape as bound by the module body, compared by
    // identity with the current global to take the native escaping path;
    // nullptr when the object bound at load is not the standard function.
    PyObject* std_escape = nullptr;
};
extern State g_state;

// The module's functions; their objects are made by the module body.
extern PyMethodDef join_style_def;
extern PyMethodDef join_cls_def;
extern PyMethodDef join_attributes_def;
extern PyMethodDef render_default_html_def;

}  // namespace vora::html
