// vora.uix._tree: the module frame (creation, execution, namespace), its
// state, render_tree and render_child.
#include "common/module.hpp"
#include "html.hpp"
#include "tree.hpp"

namespace vora::tree {

State g_tree;

namespace {

constexpr const char kDoc[] =
    "The page walk: an element and all its descendants serialized in one call.\n"
    "\n"
    "``render_tree(element)`` is what :meth:`~vora.uix.element.Element.render`\n"
    "does, for the whole tree at once: the settings' ``attrvalue``, the joiners\n"
    "and the default template of :mod:`vora.uix._html`, custom templates and\n"
    "Python overrides called where the element code calls them.\n"
    "``render_child(child)`` is a child's markup as ``Element.content`` is\n"
    "given it by ``render``; ``ClassDefault`` is the class's ``tagname``,\n"
    "``html_tpl`` or ``default_cls``, which an instance may override.\n";

int prepare(PyObject* module);
int run_body(PyObject* module);

vora::ModuleOnce g_once{"vora.uix._tree", "_tree", kDoc, prepare, run_body};

int intern(PyObject*& slot, const char* text)
{
    if (!slot)
        slot = PyUnicode_InternFromString(text);
    return slot ? 0 : -1;
}

int make_strings()
{
    const struct {
        PyObject** slot;
        const char* text;
    } strings[] = {
        {&g_tree.str_text, "text"},
        {&g_tree.str_children, "children"},
        {&g_tree.str_tagname, "tagname"},
        {&g_tree.str_tagid, "tagid"},
        {&g_tree.str_default_cls, "default_cls"},
        {&g_tree.str_html_tpl, "html_tpl"},
        {&g_tree.str_render, "render"},
        {&g_tree.str_content, "content"},
        {&g_tree.str_containers, "containers"},
        {&g_tree.str_attrvalue, "attrvalue"},
        {&g_tree.str_escape, "escape"},
        {&g_tree.str_render_template, "render_template"},
        {&g_tree.str_plan, "__vora_tree_plan__"},
        {&g_tree.str_written, "_written_containers"},
        {&g_tree.str_join, "join"},
        {&g_tree.str_element, "Element"},
        {&g_tree.str_render_default, "_RENDER"},
        {&g_tree.str_content_default, "_CONTENT"},
        {&g_tree.str_template_around, "_TEMPLATE_AROUND"},
    };
    for (const auto& s : strings) {
        if (intern(*s.slot, s.text) < 0)
            return -1;
    }
    return 0;
}

// The nine attribute types, and the table layout each one's attrvalue entry
// is found in.
int import_attribute_types()
{
    const struct {
        const char* name;
        Call call;
    } types[kAttributeTypes] = {
        {"_Attribute", Call::attribute},
        {"_NumericAttribute", Call::numeric},
        {"_BoundedNumericAttribute", Call::numeric},
        {"_BooleanAttribute", Call::attribute},
        {"_LogicalAttribute", Call::attribute},
        {"_VariableListAttribute", Call::variable_list},
        {"_ListAttribute", Call::attribute},
        {"_ColorAttribute", Call::color},
        {"_GenericEventAttribute", Call::attribute},
    };
    Ref module = Ref::steal(PyImport_ImportModule("vora.core._attributes"));
    if (!module)
        return -1;
    for (int i = 0; i < kAttributeTypes; ++i) {
        Ref type = Ref::steal(PyObject_GetAttrString(module.get(), types[i].name));
        if (!type)
            return -1;
        if (!PyType_Check(type.get()) ||
            reinterpret_cast<PyTypeObject*>(type.get())->tp_basicsize <
                static_cast<Py_ssize_t>(sizeof(core::PropertyRecord))) {
            PyErr_Format(PyExc_TypeError, "vora.core._attributes.%s is not an attribute type",
                         types[i].name);
            return -1;
        }
        PyTypeObject* old = g_tree.attribute_types[i];
        g_tree.attribute_types[i] = reinterpret_cast<PyTypeObject*>(type.release());
        Py_XDECREF(reinterpret_cast<PyObject*>(old));
        g_tree.attribute_calls[i] = types[i].call;
    }
    return 0;
}

// vora.uix._html, whose html_escape the walk follows as join_attributes does,
// and its template text.
int import_html()
{
    Ref module = Ref::steal(PyImport_ImportModule("vora.uix._html"));
    if (!module)
        return -1;
    PyObject* dict = PyModule_GetDict(module.get());
    PyObject* tpl;
    if (PyDict_GetItemStringRef(dict, "DEFAULT_HTML_TPL", &tpl) <= 0) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_ImportError, "vora.uix._html has no DEFAULT_HTML_TPL");
        return -1;
    }
    Py_XSETREF(g_tree.default_tpl, tpl);
    Ref escape = html::lookup_html_escape(dict);
    if (!escape)
        return -1;
    int standard = html::is_standard_escape(escape.get());
    if (standard < 0)
        return -1;
    Py_XSETREF(html::g_state.std_escape, standard ? escape.release() : nullptr);
    if (watch_globals(dict, nullptr) < 0)
        return -1;
    Py_XSETREF(g_tree.html_module, module.release());
    return 0;
}

PyObject* render_tree(PyObject*, PyObject* element)
{
    return checked(render_tree_impl(element));
}

PyObject* render_child(PyObject*, PyObject* child)
{
    return checked(render_child_impl(child));
}

PyMethodDef render_tree_def = {
    "render_tree",
    render_tree,
    METH_O,
    "render_tree(element, /)\n--\n\n"
    "The markup of ``element`` and its descendants, as ``Element.render`` makes it.",
};

PyMethodDef render_child_def = {
    "render_child",
    render_child,
    METH_O,
    "render_child(child, /)\n--\n\n"
    "The markup of ``child`` as its parent's content takes it: its class's own\n"
    "``render`` where that overrides ``Element.render``, else the page walk's.",
};

// The module body, in the order its globals are bound.
int run_body(PyObject* module)
{
    Ref all = Ref::steal(Py_BuildValue("(sss)", "ClassDefault", "render_child", "render_tree"));
    if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0)
        return -1;
    if (PyModule_AddObjectRef(module, "ClassDefault",
                              reinterpret_cast<PyObject*>(&ClassDefault_Type)) < 0)
        return -1;
    Ref module_name = Ref::steal(PyUnicode_FromString(g_once.qualified_name));
    if (!module_name)
        return -1;
    Ref child = Ref::steal(PyCFunction_NewEx(&render_child_def, module, module_name.get()));
    if (!child || PyModule_AddObjectRef(module, "render_child", child.get()) < 0)
        return -1;
    Ref tree = Ref::steal(PyCFunction_NewEx(&render_tree_def, module, module_name.get()));
    if (!tree || PyModule_AddObjectRef(module, "render_tree", tree.get()) < 0)
        return -1;
    Py_XSETREF(g_tree.render_child, child.release());
    return 0;
}

// What the body needs, made before the module enters sys.modules: the html
// rules' state, the plan and ClassDefault types, the attribute types and the
// html module.
int prepare(PyObject*)
{
    if (html::make_state() < 0 || make_strings() < 0 || ready_plan_type() < 0 ||
        ready_class_default_type() < 0 || import_attribute_types() < 0 || import_html() < 0)
        return -1;
    return 0;
}

// What the walk reads of the element module's namespace: Element, the
// render and content that the element code compares a class's with, and
// render_template with the render_template_around that stands for it. A
// name that the namespace no longer binds keeps what it was (a reload
// binds them all again); the first read must find them. Keys are compared
// as exact strs only, so that no code runs.
int read_element_module(PyObject* dict)
{
    PyObject* names[] = {g_tree.str_element, g_tree.str_render_default,
                         g_tree.str_content_default, g_tree.str_template_around};
    PyObject* found[4] = {};
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict, &pos, &key, &value)) {
        for (int i = 0; i < 4; ++i) {
            if (key == names[i] || (PyUnicode_CheckExact(key) && PyUnicode_Equal(key, names[i])))
                found[i] = value;
        }
    }
    // The walk reads an Element's record as an EventDispatcher's: another
    // class bound to the name is not taken for it.
    PyObject* element = found[0] && PyType_Check(found[0]) &&
                                PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(found[0]),
                                                 g_tree.dispatcher_type)
                            ? found[0]
                            : nullptr;
    if (!g_tree.element_type && (!element || !found[1] || !found[2])) {
        PyErr_SetString(PyExc_TypeError,
                        "vora.uix.element has no Element class of EventDispatcher, or no "
                        "_RENDER or _CONTENT");
        return -1;
    }
    PyObject* pair = found[3];
    bool paired = pair && PyTuple_CheckExact(pair) && PyTuple_GET_SIZE(pair) == 2;
    // Every new reference is taken before an old one goes: a finalizer may
    // change the namespace (then the next walk reads it again).
    PyObject* taken[] = {Py_XNewRef(element), Py_XNewRef(found[1]), Py_XNewRef(found[2]),
                         paired ? Py_NewRef(PyTuple_GET_ITEM(pair, 0)) : nullptr,
                         paired ? Py_NewRef(PyTuple_GET_ITEM(pair, 1)) : nullptr};
    PyObject** fields[] = {reinterpret_cast<PyObject**>(&g_tree.element_type),
                           &g_tree.element_render, &g_tree.element_content,
                           &g_tree.render_template, &g_tree.render_template_around};
    PyObject* released[5] = {};
    for (int i = 0; i < 5; ++i) {
        if (taken[i] || i >= 3) {
            released[i] = *fields[i];
            *fields[i] = taken[i];
        }
    }
    for (PyObject* old : released)
        Py_XDECREF(old);
    return 0;
}

// name equal to the current Element's on both heap types (a reload makes a
// class of the same module and qualified name).
int same_name(PyTypeObject* base, PyTypeObject* element)
{
    if (!(base->tp_flags & Py_TPFLAGS_HEAPTYPE) || !(element->tp_flags & Py_TPFLAGS_HEAPTYPE) ||
        !PyUnicode_Equal(reinterpret_cast<PyHeapTypeObject*>(base)->ht_qualname,
                         reinterpret_cast<PyHeapTypeObject*>(element)->ht_qualname))
        return 0;
    Ref module = Ref::steal(PyType_GetModuleName(base));
    Ref element_module = module ? Ref::steal(PyType_GetModuleName(element)) : Ref();
    if (!element_module)
        return -1;
    return PyUnicode_Check(module.get()) && PyUnicode_Check(element_module.get()) &&
           PyUnicode_Equal(module.get(), element_module.get());
}

}  // namespace

int load_element()
{
    if (!g_tree.element_globals) [[unlikely]] {
        Ref module = Ref::steal(PyImport_ImportModule("vora.uix.element"));
        Ref events = module ? Ref::steal(PyImport_ImportModule("vora.core._event")) : Ref();
        Ref dispatcher =
            events ? Ref::steal(PyObject_GetAttrString(events.get(), "EventDispatcher")) : Ref();
        if (!dispatcher)
            return -1;
        if (!PyType_Check(dispatcher.get())) {
            PyErr_SetString(PyExc_TypeError, "vora.core._event.EventDispatcher is not a class");
            return -1;
        }
        // The import may have let another thread do the same meanwhile.
        if (!g_tree.element_globals) {
            PyTypeObject* old = g_tree.dispatcher_type;
            g_tree.dispatcher_type = reinterpret_cast<PyTypeObject*>(dispatcher.release());
            Py_XDECREF(reinterpret_cast<PyObject*>(old));
            PyObject* dict = PyModule_GetDict(module.get());
            if (watch_globals(nullptr, dict) < 0)
                return -1;
            g_tree.element_globals = Py_NewRef(dict);
        }
    }
    unsigned long changes = element_module_changes();
    if (changes == g_tree.element_changes && g_tree.element_type) [[likely]]
        return 0;
    if (read_element_module(g_tree.element_globals) < 0)
        return -1;
    g_tree.element_changes = changes;
    return 0;
}

int is_element_class(PyTypeObject* tp)
{
    PyTypeObject* element = g_tree.element_type;
    if (PyType_IsSubtype(tp, element)) [[likely]]
        return 1;
    Ref mro = Ref::borrow(tp->tp_mro);
    if (!mro || !PyTuple_Check(mro.get()))
        return 0;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro.get()); ++i) {
        int same = same_name(reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro.get(), i)),
                             element);
        if (same != 0)
            return same;
    }
    return 0;
}

}  // namespace vora::tree

PyMODINIT_FUNC PyInit__tree()
{
    return vora::module_init<vora::tree::g_once>();
}
