// What the sources of vora.uix._tree share: the process-wide state, the
// ClassDefault record, the per-class plan of the page walk, and the walk
// itself.
#pragma once

#include <Python.h>

#include "common/errors.hpp"
#include "common/ref.hpp"
#include "contract/records_and_tables.hpp"

namespace vora::tree {

// How the walk calls a setting's attrvalue: through the native table of the
// attribute type it is an instance of (one value per table layout), or as a
// Python method.
enum class Call : unsigned char { python, attribute, numeric, variable_list, color };

inline constexpr int kAttributeTypes = 9;

// The attributes every element keeps in a slot of Element (see element.py).
enum Member : int { member_text, member_children, member_tagid, kMembers };

// One copy per process, written while the module executes, except the
// `element_*` fields and what follows them: vora.uix.element imports this
// module, so what the walk needs of it is fetched by the first walk, and
// fetched again after its namespace changed (load_element()).
struct State {
    PyObject* str_text = nullptr;             // the names the walk reads, interned
    PyObject* str_children = nullptr;
    PyObject* str_tagname = nullptr;
    PyObject* str_tagid = nullptr;
    PyObject* str_default_cls = nullptr;
    PyObject* str_html_tpl = nullptr;
    PyObject* str_render = nullptr;
    PyObject* str_content = nullptr;
    PyObject* str_containers = nullptr;
    PyObject* str_attrvalue = nullptr;
    PyObject* str_escape = nullptr;
    PyObject* str_render_template = nullptr;
    PyObject* str_plan = nullptr;             // "__vora_tree_plan__": the plan in its class's dict
    PyObject* str_join = nullptr;
    PyObject* str_written = nullptr;          // "_written_containers": (function, settings)
                                              // of the containers written for a class
    PyObject* str_element = nullptr;          // "Element", "_RENDER", "_CONTENT" and
    PyObject* str_render_default = nullptr;   // "_TEMPLATE_AROUND": what the walk reads
    PyObject* str_content_default = nullptr;  // of the element module's namespace
    PyObject* str_template_around = nullptr;

    PyObject* html_module = nullptr;          // vora.uix._html: its html_escape is looked up
    PyObject* default_tpl = nullptr;          // DEFAULT_HTML_TPL
    PyTypeObject* attribute_types[kAttributeTypes] = {};
    Call attribute_calls[kAttributeTypes] = {};
    PyObject* render_child = nullptr;         // this module's function, handed to content()

    PyObject* element_globals = nullptr;      // vora.uix.element's namespace (escape,
                                              // render_template)
    PyTypeObject* dispatcher_type = nullptr;  // EventDispatcher, whose records the walk
                                              // reads ahead (tree_prefetch.hpp): Element's base
    unsigned long element_changes = 0;        // its count of changes when read last
    // As the namespace binds them when read last (a reload binds new ones):
    PyTypeObject* element_type = nullptr;     // Element
    PyObject* element_render = nullptr;       // Element.render and Element.content, as the
    PyObject* element_content = nullptr;      // element code compares with them
    PyObject* render_template = nullptr;      // its render_template, and the
    PyObject* render_template_around = nullptr;  // render_template_around that goes with it
                                                 // (nullptr: none)
};
extern State g_tree;

inline PyObject* member_name(Member m) noexcept
{
    return m == member_text ? g_tree.str_text
         : m == member_children ? g_tree.str_children : g_tree.str_tagid;
}

// Fetches the element_* fields of g_tree, and the rest after them, unless
// the namespace they come from is unchanged since. May run Python code (an
// import).
int load_element();

// Whether tp is an element class: a subclass of Element, as the element
// module binds it now or bound it before a reload (a class of the same
// module and qualified name). -1 with an exception set on error. May run
// Python code only where a base of tp has Element's qualified name (the
// lookup of its __module__).
int is_element_class(PyTypeObject* tp);

// ClassDefault: a class's plain value of tagname, html_tpl or default_cls
// (see element.py). A non-data descriptor whose __get__ gives the value, so
// that it reads as the plain value would: an instance's own value, in its
// __dict__, comes first, and super() and the class see the class's.
struct ClassDefault {
    PyObject_HEAD
    PyObject* name;        // the attribute's name, an exact str
    PyObject* value;       // the class's value
};
extern PyTypeObject ClassDefault_Type;

inline PyObject** own_slot(PyObject* obj, Py_ssize_t offset) noexcept
{
    return reinterpret_cast<PyObject**>(reinterpret_cast<char*>(obj) + offset);
}

// The attributes an instance may set for itself over its class's value.
enum Default : int { default_html_tpl, default_tagname, default_default_cls, kDefaults };

// One setting of a class: its descriptor, how its attrvalue is called, and
// the slot (the position among the distinct names of its container) that
// its value goes to; a later setting of the same name replaces the value of
// an earlier one, as a dict display does.
struct PlanEntry {
    PyObject* descriptor;
    Call call;
    Py_ssize_t slot;
};

// What the walk needs to know of one element class, made once per class and
// kept in the class's own dict, so that it goes with the class. It stays
// valid while the class's version tag (which changes with any assignment to
// the class or a base) is the one it was checked at; after that it is
// checked again and replaced if what it was made from changed. Whatever the
// walk learns from a plan holds only until it next runs Python code: then it
// checks the plan against the element's class again.
struct Plan {
    PyObject_HEAD
    unsigned int version_tag;  // 0: not checked against a tag
    bool containers_native;    // its containers is the one written for its settings:
                               // the walk calls the settings' attrvalue itself
    bool members_direct;       // text, children and tagid resolve to object slots,
                               // through the generic lookup: read straight from them
    bool managed_dict;         // instances keep their attributes in a managed dict
    // What the plan was made from: the class's render, content and
    // containers as its MRO resolves them (nullptr: none), the settings that
    // containers was written for (nullptr: not one written out), per Default
    // what the MRO resolves it to when the generic lookup gives its class
    // value to an instance without attributes of its own (a ClassDefault,
    // or a plain value that cannot grow a __get__; nullptr: that lookup is
    // made), and per Member its slot when members_direct.
    PyObject* render;
    PyObject* content;
    PyObject* containers;
    PyObject* settings;
    PyObject* defaults[kDefaults];
    PyObject* class_values[kDefaults];  // the class values of defaults
    PyObject* members[kMembers];
    Py_ssize_t member_offsets[kMembers];
    Py_ssize_t entry_count;
    PlanEntry* entries;        // in declaration order: style, class, element settings
    Py_ssize_t group_end[3];   // slots [0, group_end[0]) are style, then class, then element
    PyObject** keys;           // per slot: the attrname, an exact str
    PyObject** written;        // per slot: the attrname as the markup shows it (a
                               // style name escaped, an attribute name as it is)
    // The length and widest character of the markup that the last render of
    // an element of this class as the root made: the next one starts with
    // room for as much.
    Py_ssize_t markup_length;
    Py_UCS4 markup_maxchar;
};
extern PyTypeObject Plan_Type;

// The plan of type, a subclass of Element: the one its dict holds if still
// valid, else a new one stored there. Empty with an exception set on error.
// May run Python code (attribute lookups on the class).
Ref plan_of(PyTypeObject* type);

// Makes the plan type ready; at load.
int ready_plan_type();

// ------------------------------------------- calls into the element code

// Makes the ClassDefault type ready; at load.
int ready_class_default_type();

// `name` of vora.uix.element's namespace, then of builtins, as the element
// code's global lookups find it; NameError when neither has it.
Ref element_global(PyObject* name);

// The two globals the walk reads for nearly every element: the element
// module's escape (the text's) and vora.uix._html's html_escape (each
// attribute value's). Read as the lookups above read them, but kept from
// one read to the next while nothing changes their module's dict (a dict
// watcher forgets them at the first change) and every key of it is an
// exact str (so that the lookup would run no code). May run Python code.
Ref element_escape();
Ref html_escape();

// Watches vora.uix._html's dict (at load) and vora.uix.element's (once it
// is loaded) for the two globals above. Dict watchers are shared by the
// whole process: when others hold them all, the globals are looked up every
// time.
int watch_globals(PyObject* html_dict, PyObject* element_dict);

// A count that moves whenever vora.uix.element's namespace changes, and at
// every call while no watcher watches it.
unsigned long element_module_changes() noexcept;

// escape(text, quote=False) through escape, an object that is not the
// standard function. Runs Python code.
Ref call_text_escape(PyObject* escape, PyObject* text);

// type(el).<name>, what the element code calls as the class's method:
// `found`, when the plan of el's class (checked just now) found a function
// there and the class is a plain `type` (whose lookup gives the function
// itself), else the class's own lookup. May run Python code.
Ref class_method(PyObject* el, PyObject* found, PyObject* name);

// `style, classes, attributes = value`, with the interpreter's messages.
// May run Python code (iteration).
int unpack_three(PyObject* value, Ref (&out)[3]);

// Element.render of element: its markup, or whatever its custom template
// returned. Runs Python code (overrides, templates, descriptors).
PyObject* render_tree_impl(PyObject* element);

// A child's markup as the element code makes it: its class's own render
// where that is not Element.render, else the walk's. Runs Python code.
PyObject* render_child_impl(PyObject* child);

}  // namespace vora::tree
