// The walk's calls into the element code's Python: its global names, its
// text escape, the class's methods, the unpacking of a containers() result,
// the join's message.
#include <utility>

#include "common/dict.hpp"
#include "html.hpp"
#include "tree.hpp"

namespace vora::tree {

using html::g_state;

namespace {

VORA_COLD int raise_unpack(Py_ssize_t got, bool too_many, bool counted) noexcept
{
    if (!too_many)
        PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 3, got %zd)", got);
    else if (counted)
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected 3, got %zd)", got);
    else
        PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 3)");
    return -1;
}

}  // namespace

Ref element_global(PyObject* name)
{
    return lookup_global(g_tree.element_globals, name, g_state.builtins);
}

Ref call_text_escape(PyObject* escape, PyObject* text)
{
    PyObject* args[] = {nullptr, text, Py_False};
    return Ref::steal(PyObject_Vectorcall(escape, args + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                          g_state.kwnames_quote));
}

Ref class_method(PyObject* el, PyObject* found, PyObject* name)
{
    PyTypeObject* type = Py_TYPE(el);
    if (found && PyFunction_Check(found) &&
        Py_IS_TYPE(reinterpret_cast<PyObject*>(type), &PyType_Type)) [[likely]]
        return Ref::borrow(found);
    return Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), name));
}

int unpack_three(PyObject* value, Ref (&out)[3])
{
    if (PyTuple_CheckExact(value) || PyList_CheckExact(value)) {
        Py_ssize_t n = PySequence_Fast_GET_SIZE(value);
        if (n != 3)
            return raise_unpack(n, n > 3, true);
        for (Py_ssize_t i = 0; i < 3; ++i)
            out[i] = Ref::borrow(PySequence_Fast_GET_ITEM(value, i));
        return 0;
    }
    Ref iter = Ref::steal(PyObject_GetIter(value));
    if (!iter) {
        if (PyErr_ExceptionMatches(PyExc_TypeError) && !Py_TYPE(value)->tp_iter &&
            !PySequence_Check(value)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object",
                         Py_TYPE(value)->tp_name);
        }
        return -1;
    }
    for (Py_ssize_t i = 0; i < 3; ++i) {
        PyObject* next;
        int status = PyIter_NextItem(iter.get(), &next);
        if (status < 0)
            return -1;
        if (status == 0)
            return raise_unpack(i, false, true);
        out[i] = Ref::steal(next);
    }
    PyObject* surplus;
    int status = PyIter_NextItem(iter.get(), &surplus);
    if (status <= 0)
        return status;
    Py_DECREF(surplus);
    if (PyDict_CheckExact(value) && PyDict_GET_SIZE(value) > 3)
        return raise_unpack(PyDict_GET_SIZE(value), true, true);
    return raise_unpack(0, true, false);
}

namespace {

// A global of a module dict, kept while a watcher has seen the dict unchanged.
struct KeptGlobal {
    PyObject* dict = nullptr;       // borrowed: module dicts, which outlive the walk
    PyObject* value = nullptr;      // owned; what the lookup gave while `kept`
    unsigned long changes = 0;      // counts the dict's changes
    bool watched = false;           // the watcher watches dict: the value may be kept
    bool kept = false;
};

KeptGlobal g_escape;       // vora.uix.element's escape
KeptGlobal g_html_escape;  // vora.uix._html's html_escape
int g_watcher = -1;
bool g_no_watcher = false;      // every watcher was taken when one was asked for
unsigned long g_unwatched = 0;  // counts the reads of an unwatched element module

int forget_on_change(PyDict_WatchEvent, PyObject* dict, PyObject*, PyObject*) noexcept
{
    for (KeptGlobal* g : {&g_escape, &g_html_escape}) {
        if (g->dict == dict) {
            g->kept = false;
            ++g->changes;
        }
    }
    return 0;
}

bool only_str_keys(PyObject* dict) noexcept
{
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict, &pos, &key, &value)) {
        if (!PyUnicode_CheckExact(key))
            return false;
    }
    return true;
}

Ref kept_global(KeptGlobal& g, PyObject* name) noexcept
{
    if (g.kept) [[likely]]
        return Ref::borrow(g.value);
    unsigned long changes = g.changes;
    Ref value;
    int found = dict_get(g.dict, name, &value);
    if (found == 0) {
        // Not kept: the builtins are not watched.
        if (dict_get(g_state.builtins, name, &value) == 0)
            raise_name_error(name);
        return value;
    }
    if (found > 0 && g.watched && g.changes == changes && only_str_keys(g.dict)) {
        // Kept before the old value goes: its finalizer may change the
        // dict, and the watcher must then forget the new one.
        PyObject* old = g.value;
        g.value = value.new_ref();
        g.kept = true;
        Py_XDECREF(old);
    }
    return value;
}

}  // namespace

Ref element_escape()
{
    return kept_global(g_escape, g_tree.str_escape);
}

Ref html_escape()
{
    return kept_global(g_html_escape, g_state.str_html_escape);
}

int watch_globals(PyObject* html_dict, PyObject* element_dict)
{
    // Dict watchers are few and shared by the whole process: when others
    // hold them all, the globals are looked up each time. Asked for once,
    // so that a dict read unwatched is never taken for a watched one.
    if (g_watcher < 0 && !g_no_watcher) {
        g_watcher = PyDict_AddWatcher(forget_on_change);
        if (g_watcher < 0) {
            PyErr_Clear();
            g_no_watcher = true;
        }
    }
    for (auto [g, dict] : {std::pair{&g_html_escape, html_dict}, {&g_escape, element_dict}}) {
        if (!dict || g->dict == dict)
            continue;
        if (g->watched && PyDict_Unwatch(g_watcher, g->dict) < 0)
            return -1;
        g->watched = false;
        g->kept = false;
        if (g_watcher >= 0 && PyDict_Watch(g_watcher, dict) < 0)
            return -1;
        g->dict = dict;
        g->watched = g_watcher >= 0;
    }
    return 0;
}

unsigned long element_module_changes() noexcept
{
    return g_escape.watched ? g_escape.changes : ++g_unwatched;
}

}  // namespace vora::tree
