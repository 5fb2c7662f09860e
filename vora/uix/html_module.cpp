// vora.uix._html: the module's process-wide state and the module body that
// binds html_escape, the template text and the functions (common/module.hpp
// carries its creation and execution).
#include "common/imports.hpp"
#include "common/module.hpp"
#include "html.hpp"

namespace vora::html {

namespace {

constexpr const char kDoc[] =
    "Fast HTML attribute joiners and the default element template renderer.\n"
    "\n"
    "The default ``html_tpl`` on :class:`~vora.uix.element.Element` is a small\n"
    "Tornado template whose *run* cost dominates tree serialization. This module\n"
    "reproduces that template's output (including its whitespace) without Tornado.\n"
    "Custom ``html_tpl`` values still go through Tornado.\n";

// The template that render_default_html reproduces, for the element code.
constexpr const char kDefaultHtmlTpl[] =
    "<{{obj.tagname}} id=\"{{obj.tagid}}\" {% if obj.cls %} class=\"{{obj.cls}}\" {% end %}"
    "{% if obj.style %} style=\"{{obj.style}}\" {% end %} {% raw obj.attributes %} >"
    "{%raw obj.content%}</{{obj.tagname}}>";
static_assert(sizeof kDefaultHtmlTpl - 1 == 196);

// The html rules' state, in the form the module frame calls.
int make_module_state(PyObject*)
{
    return make_state();
}

int run_body(PyObject* module);

vora::ModuleOnce g_once{"vora.uix._html", "_html", kDoc, make_module_state, run_body};

// from html import escape as html_escape
int bind_html_escape(PyObject* module)
{
    Ref name = Ref::steal(PyUnicode_InternFromString("escape"));
    if (!name)
        return -1;
    Ref fromlist = Ref::steal(PyTuple_Pack(1, name.get()));
    if (!fromlist)
        return -1;
    Ref html = Ref::steal(
        PyImport_ImportModuleLevel("html", PyModule_GetDict(module), nullptr, fromlist.get(), 0));
    if (!html)
        return -1;
    Ref escape = import_from(html.get(), name.get());
    if (!escape)
        return -1;
    int standard = is_standard_escape(escape.get());
    if (standard < 0 || PyModule_AddObjectRef(module, "html_escape", escape.get()) < 0)
        return -1;
    Py_XSETREF(g_state.std_escape, standard ? escape.release() : nullptr);
    return 0;
}

int add_function(PyObject* module, PyObject* module_name, PyMethodDef* def)
{
    Ref function = Ref::steal(PyCFunction_NewEx(def, module, module_name));
    if (!function)
        return -1;
    return PyModule_AddObjectRef(module, def->ml_name, function.get());
}

// The module body, in the order its globals are bound.
int run_body(PyObject* module)
{
    if (bind_html_escape(module) < 0)
        return -1;
    Ref all = Ref::steal(Py_BuildValue("(sssss)", "DEFAULT_HTML_TPL", "join_style", "join_cls",
                                       "join_attributes", "render_default_html"));
    if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0)
        return -1;
    Ref tpl = Ref::steal(PyUnicode_FromStringAndSize(kDefaultHtmlTpl, sizeof kDefaultHtmlTpl - 1));
    if (!tpl || PyModule_AddObjectRef(module, "DEFAULT_HTML_TPL", tpl.get()) < 0)
        return -1;
    Ref module_name = Ref::steal(PyUnicode_FromString(g_once.qualified_name));
    if (!module_name)
        return -1;
    for (PyMethodDef* def :
         {&join_style_def, &join_cls_def, &join_attributes_def, &render_default_html_def}) {
        if (add_function(module, module_name.get(), def) < 0)
            return -1;
    }
    Ref test = Ref::steal(PyDict_New());
    if (!test || PyModule_AddObjectRef(module, "__test__", test.get()) < 0)
        return -1;
    return 0;
}

}  // namespace

}  // namespace vora::html

PyMODINIT_FUNC PyInit__html()
{
    return vora::module_init<vora::html::g_once>();
}
