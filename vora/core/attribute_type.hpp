// The attribute type template: the shape all nine attribute types share,
// written once: allocation, deallocation and collector chaining, the
// read-only members, the overridable attrvalue table entry, and the filling
// of the slots and the table, where every entry is wrapped in checked_entry.
//
// A type's file declares its record (the base record first, then its own
// fields), and a traits block inside it:
//   static PyTypeObject type;              the static type object
//   static <Table> table;                  its native method table, of a
//                                          layout the contract header declares
//   static constexpr Base base_kind        the property type it extends
//   static constexpr auto object_fields    its own object fields (member
//                                          pointers), released at
//                                          deallocation in that order
//   static constexpr auto gc_fields        (if not all of object_fields) the
//                                          fields visited and cleared, in
//                                          that order
//   static int set_defaults(T*)            (if any) defaults of its own
//                                          fields, after the template's
//   static int init(self, args, kwds)      its __init__
//   static PyObject* render(self, obj)     the type's own rendering
// and, for the table entries it replaces or appends, static functions (or
// constant pointers to functions, such as convert_with_options<T>) named as
// the entries: init_storage, compare_value, check, convert (replacing the
// base's when present), convert_numeric and parse_str (required by the
// tables that append them). Every record has the common fields attrtype,
// sync and attrname, which the template sets to "", 0 and "" and releases
// first; a record with an options field (options.hpp) starts with an empty
// list there. The type object comes from make_attribute_type and the
// module's record of the type from attribute_type_info.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <tuple>

#include "common/errors.hpp"
#include "common/ref.hpp"
#include "common/static_type.hpp"
#include "contract/records_and_tables.hpp"
#include "vora/core/render_fn.hpp"
#include "vora/core/state.hpp"

namespace vora::attributes {

// The instance's native table, as a table of the layout its type
// publishes; a native subclass may have replaced its entries.
template <class Table = core::PropertyTable>
const Table* table_of(PyObject* self)
{
    return static_cast<const Table*>(reinterpret_cast<core::PropertyRecord*>(self)->table);
}

// ------------------------------------------------------------ allocation

// Every object field of T's record: the common ones, then its own.
template <class T>
constexpr auto all_object_fields =
    std::tuple_cat(std::tuple{&T::attrtype, &T::attrname}, T::object_fields);

// The fields of T's record that the collector visits and clears: by default
// all of its own object fields.
template <class T>
constexpr auto collected_fields()
{
    if constexpr (requires { T::gc_fields; })
        return T::gc_fields;
    else
        return T::object_fields;
}

template <class T>
PyObject* attribute_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    PyObject* o = T::type.tp_base->tp_new(type, args, kwds);
    if (!o)
        return nullptr;
    reinterpret_cast<core::PropertyRecord*>(o)->table = &T::table;
    T* self = reinterpret_cast<T*>(o);
    std::apply([&](auto... field) { ((self->*field = Py_NewRef(Py_None)), ...); },
               all_object_fields<T>);
    set_field(self->attrtype, Ref::borrow(str_empty));
    self->sync = 0;
    set_field(self->attrname, Ref::borrow(str_empty));
    if constexpr (requires { &T::options; }) {
        Ref options = Ref::steal(PyList_New(0));
        if (!options) {
            Py_DECREF(o);
            return nullptr;
        }
        set_field(self->options, std::move(options));
    }
    if constexpr (requires { T::set_defaults; }) {
        if (T::set_defaults(self) < 0) {
            Py_DECREF(o);
            return nullptr;
        }
    }
    return o;
}

template <class T>
void attribute_dealloc(PyObject* o)
{
    PyTypeObject* tp = Py_TYPE(o);
    if (tp->tp_finalize && tp->tp_dealloc == attribute_dealloc<T> && !PyObject_GC_IsFinalized(o)) {
        if (PyObject_CallFinalizerFromDealloc(o) < 0)
            return;  // resurrected
    }
    PyObject_GC_UnTrack(o);
    Py_TRASHCAN_BEGIN(o, attribute_dealloc<T>)
    T* self = reinterpret_cast<T*>(o);
    std::apply([&](auto... field) { ([&] { Py_CLEAR(self->*field); }(), ...); },
               all_object_fields<T>);
    PyObject_GC_Track(o);
    T::type.tp_base->tp_dealloc(o);
    Py_TRASHCAN_END
}

template <class T>
int attribute_traverse(PyObject* o, visitproc visit, void* arg)
{
    if (traverseproc base = T::type.tp_base->tp_traverse) {
        if (int e = base(o, visit, arg))
            return e;
    }
    T* self = reinterpret_cast<T*>(o);
    int e = 0;
    std::apply([&](auto... field) { ((e = e ? e : (self->*field ? visit(self->*field, arg) : 0)), ...); },
               collected_fields<T>());
    return e;
}

template <class T>
int attribute_clear(PyObject* o)
{
    if (inquiry base = T::type.tp_base->tp_clear)
        base(o);
    T* self = reinterpret_cast<T*>(o);
    std::apply([&](auto... field) { (set_field(self->*field, Ref::borrow(Py_None)), ...); },
               collected_fields<T>());
    return 0;
}

// ------------------------------------------------------ read-only members

// `_resolved_attrname`: attrname unless empty or None, else name with every
// "_" replaced by "-".
Ref resolved_attrname(PyObject* attrname, PyObject* name);

// The attrname property: the descriptor's Python-level name is read first
// (it may run Python code), then resolved against the stored field.
Ref attrname_of(PyObject* self, PyObject* const* field);

template <class T>
PyObject* get_attrname(PyObject* self, void*)
{
    return attrname_of(self, &reinterpret_cast<T*>(self)->attrname).release();
}

template <class T>
PyObject* get_sync(PyObject* self, void*)
{
    return PyLong_FromLong(reinterpret_cast<T*>(self)->sync);
}

template <class T, PyObject* T::*field>
PyObject* get_field(PyObject* self, void*)
{
    return Py_NewRef(reinterpret_cast<T*>(self)->*field);
}

// The getset entries of the read-only members.
template <class T>
constexpr PyGetSetDef attrname_member()
{
    return {"attrname", checked_entry<get_attrname<T>>, nullptr, nullptr, nullptr};
}
template <class T>
constexpr PyGetSetDef sync_member()
{
    return {"sync", checked_entry<get_sync<T>>, nullptr, nullptr, nullptr};
}
template <class T, PyObject* T::*field>
constexpr PyGetSetDef object_member(const char* name)
{
    return {name, checked_entry<get_field<T, field>>, nullptr, nullptr, nullptr};
}

// The getset table of the members most types show, in their order: sync,
// attrname, attrtype, then the type's own (object_member entries).
template <class T, class... Own>
constexpr auto attribute_members(Own... own)
{
    return std::array<PyGetSetDef, 4 + sizeof...(Own)>{
        sync_member<T>(), attrname_member<T>(), object_member<T, &T::attrtype>("attrtype"), own...,
        PyGetSetDef{}};
}

// ---------------------------------------------------------- entries

// Property's own check, through its saved table: 1 when it accepts value
// at once (a true result), 0 when the type's own test must decide, -1 on error.
int property_check_accepts(PyObject* self, PyObject* obj, PyObject* value);

// For an instance of a Python subclass that overrides attrvalue: calls the
// override with obj. Returns 1 with *result set, 0 when there is no
// override, -1 on error.
int call_attrvalue_override(PyObject* self, PyObject* obj, RenderFn own, Ref* result);

inline bool is_python_subclass(PyObject* self)
{
    PyTypeObject* tp = Py_TYPE(self);
    return tp->tp_dictoffset != 0 ||
           PyType_HasFeature(tp, Py_TPFLAGS_HEAPTYPE | Py_TPFLAGS_IS_ABSTRACT);
}

// The owner's value, as rendering reads it: through the instance's table,
// as a native subclass may replace get.
inline Ref stored_value(PyObject* self, PyObject* obj)
{
    return Ref::steal(table_of(self)->get(self, obj, Dispatch::allowed));
}

// Where the types that render a false value as nothing start: 1 with value
// set to the owner's value when it is true, 0 when it is false, -1 on error.
inline int value_if_true(PyObject* self, PyObject* obj, Ref& value)
{
    value = stored_value(self, obj);
    if (!value)
        return -1;
    return value.get() == Py_True ? 1 : PyObject_IsTrue(value.get());
}

// Where the types whose value may be given as text start: 1 with value set
// to the owner's value when the type renders it, 0 with value set to the
// text when it is text already ("" for None, a str as it is), -1 on error.
inline int value_unless_text(PyObject* self, PyObject* obj, Ref& value)
{
    value = stored_value(self, obj);
    if (!value)
        return -1;
    if (value.get() == Py_None) {
        value = Ref::borrow(str_empty);
        return 0;
    }
    return PyUnicode_Check(value.get()) ? 0 : 1;
}

// The native attrvalue table entry: a Python override when allowed and
// present, else the type's own rendering.
template <class T>
PyObject* attrvalue_entry(PyObject* self, PyObject* obj, Dispatch dispatch)
{
    if (dispatch == Dispatch::allowed && is_python_subclass(self)) [[unlikely]] {
        Ref result;
        int found = call_attrvalue_override(self, obj, T::render, &result);
        if (found != 0)
            return result.release();
    }
    return T::render(self, obj);
}

// ------------------------------------------------------------- the types

enum class Base { property, numeric, bounded_numeric, boolean, variable_list, list };

// The table of the property type B, saved by the load before it fills the
// tables of the types that extend B.
template <Base B>
const auto& saved_table()
{
    if constexpr (B == Base::property)
        return *g_state.property_table;
    else if constexpr (B == Base::numeric)
        return *g_state.numeric_property_table;
    else if constexpr (B == Base::bounded_numeric)
        return *g_state.bounded_numeric_property_table;
    else if constexpr (B == Base::boolean)
        return *g_state.boolean_property_table;
    else if constexpr (B == Base::variable_list)
        return *g_state.variable_list_property_table;
    else
        return *g_state.list_property_table;
}

// The PropertyTable at the start of every table.
inline core::PropertyTable& property_part(core::PropertyTable& t) { return t; }
inline core::PropertyTable& property_part(core::NumericPropertyTable& t) { return t.base; }

// T's table: a copy of its base's, with the entries T defines in their
// places and its own entries appended.
template <class T>
void fill_table()
{
    auto& t = T::table;
    t.base = saved_table<T::base_kind>();
    core::PropertyTable& p = property_part(t.base);
    if constexpr (requires { T::init_storage; })
        p.init_storage = checked_entry<T::init_storage>;
    if constexpr (requires { T::compare_value; })
        p.compare_value = checked_entry<T::compare_value>;
    if constexpr (requires { T::check; })
        p.check = checked_entry<T::check>;
    if constexpr (requires { T::convert; })
        p.convert = checked_entry<T::convert>;
    if constexpr (requires { t.convert_numeric; })
        t.convert_numeric = checked_entry<T::convert_numeric>;
    if constexpr (requires { t.parse_str; })
        t.parse_str = checked_entry<T::parse_str>;
    t.attrvalue = checked_entry<attrvalue_entry<T>>;
}

// What the module needs to build one type; the module builds them in the
// order of its type table.
struct AttributeTypeInfo {
    PyTypeObject* type;                // bound in the module under its short name
    Base base;
    void (*fill_table)();              // copy the saved base table, replace, append
    void* table;
    RenderFn render;                   // run by the Python-level attrvalue
    const StringSpec* strings;         // the type's own strings, or nullptr
    int (*make_constants)() = nullptr; // the type's own constants (tuples,
                                       // slices), made after its strings
};

// The module's record of T; its table is filled by fill_table<T>.
template <class T>
constexpr AttributeTypeInfo attribute_type_info(const StringSpec* strings,
                                                int (*make_constants)() = nullptr)
{
    return {&T::type, T::base_kind, fill_table<T>,
            &T::table, T::render, strings, make_constants};
}

// The docstring-carrying static type of an attribute type, with the common
// slots. getset lists the read-only members in the type's order.
template <class T>
PyTypeObject make_attribute_type(const char* name, const char* doc, PyGetSetDef* getset)
{
    PyTypeObject t = static_type(name, sizeof(T),
                                 Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, doc);
    t.tp_dealloc = attribute_dealloc<T>;
    t.tp_traverse = attribute_traverse<T>;
    t.tp_clear = attribute_clear<T>;
    t.tp_getset = getset;
    t.tp_init = checked_entry<T::init>;
    t.tp_new = checked_entry<attribute_new<T>>;
    return t;
}

}  // namespace vora::attributes
