// The html rules that vora.uix._html publishes and vora.uix._tree applies
// while it walks a page: the process-wide state made at load, the joiners'
// and the default template's bodies, and the definitions of the functions.
#pragma once

#include <Python.h>

#include "common/errors.hpp"
#include "common/ref.hpp"

namespace vora::html {

// One copy per process in each module that links these rules, written only
// while that module executes. The strings outlive any module object (the
// interpreter that loaded the module is the only one it ever serves), so
// they are made once and kept.
struct State {
    PyObject* str_items = nullptr;        // "items", interned
    PyObject* str_values = nullptr;       // "values", interned
    PyObject* str_html_escape = nullptr;  // "html_escape", interned
    PyObject* kwnames_quote = nullptr;    // ("quote",), for html_escape(text, quote=True)
    PyObject* builtins = nullptr;         // the builtins module's dict
    // The standard html.escape as vora.uix._html's body bound it (read from
    // that namespace by a module that loads after it), compared by identity
    // with the current global to take the native escaping path; nullptr when
    // the object bound at load is not the standard function.
    PyObject* std_escape = nullptr;
};
extern State g_state;

// Makes the constants of g_state (std_escape is the loading module's to
// set); they are kept from a failed execution for the next one.
int make_state();

// True for the function the html module itself defines as escape: only that
// one may be replaced by the native escaping. An object put in its place
// before a module loaded is called like any later replacement.
int is_standard_escape(PyObject* escape);

// The bodies of the joiners and of render_default_html, for parsed
// arguments: new references, or NULL with an exception set. They may run
// Python code (truth tests, formatting, items(), a replaced html_escape).
// join_attributes looks html_escape up in module's namespace.
PyObject* join_style_impl(PyObject* container) noexcept;
PyObject* join_cls_impl(PyObject* default_cls, PyObject* container) noexcept;
PyObject* join_attributes_impl(PyObject* module, PyObject* container) noexcept;
PyObject* render_default_html_impl(PyObject* tagname, PyObject* tagid, PyObject* cls,
                                   PyObject* style, PyObject* attributes, PyObject* content);

// The current `html_escape` of a module namespace: its globals first, then
// builtins, looked up afresh so that a replacement takes effect at once;
// empty with NameError when neither has it.
Ref lookup_html_escape(PyObject* globals) noexcept;

// A replaced html_escape called as escape(text, quote=True): its result, an
// exact str or None (TypeError "Expected str" otherwise). Runs Python code.
Ref call_html_escape(PyObject* escape, PyObject* text) noexcept;

// TypeError as str.join raises it for a piece (or, in a page walk, a
// child's markup) at index that is no str: the text the joins would
// otherwise give.
VORA_COLD void raise_not_str_piece(Py_ssize_t index, PyObject* piece) noexcept;

// The module's functions; their objects are made by the module body.
extern PyMethodDef join_style_def;
extern PyMethodDef join_cls_def;
extern PyMethodDef join_attributes_def;
extern PyMethodDef render_default_html_def;

}  // namespace vora::html
