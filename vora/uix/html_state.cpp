// The process-wide state of the html rules, one copy in each module that
// links them (vora.uix._html, vora.uix._tree), made when that module loads.
#include "common/ref.hpp"
#include "html.hpp"

namespace vora::html {

State g_state;

namespace {

int intern(PyObject*& slot, const char* text)
{
    if (!slot)
        slot = PyUnicode_InternFromString(text);
    return slot ? 0 : -1;
}

}  // namespace

int make_state()
{
    if (intern(g_state.str_items, "items") < 0 || intern(g_state.str_values, "values") < 0 ||
        intern(g_state.str_html_escape, "html_escape") < 0)
        return -1;
    if (!g_state.kwnames_quote) {
        g_state.kwnames_quote = Py_BuildValue("(s)", "quote");
        if (!g_state.kwnames_quote)
            return -1;
    }
    if (!g_state.builtins) {
        Ref builtins = Ref::steal(PyImport_ImportModule("builtins"));
        if (!builtins)
            return -1;
        g_state.builtins = Py_NewRef(PyModule_GetDict(builtins.get()));
    }
    return 0;
}

int is_standard_escape(PyObject* escape)
{
    if (!PyFunction_Check(escape))
        return 0;
    PyObject* module = PyFunction_GetModule(escape);  // borrowed
    if (!module || !PyUnicode_Check(module) || !PyUnicode_EqualToUTF8(module, "html"))
        return 0;
    Ref qualname = Ref::steal(PyObject_GetAttrString(escape, "__qualname__"));
    if (!qualname)
        return -1;
    return PyUnicode_Check(qualname.get()) && PyUnicode_EqualToUTF8(qualname.get(), "escape");
}

}  // namespace vora::html
