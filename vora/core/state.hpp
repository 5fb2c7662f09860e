// Process-wide state of vora.core._attributes, written only while the module
// loads: the outside types the attribute types use, their saved native
// tables, the built-ins the types call, and the interned strings they share.
#pragma once

#include <Python.h>

#include "contract/records_and_tables.hpp"

namespace vora::attributes {

using core::Dispatch;

// An interned string made once at load, and where it is kept.
struct StringSpec {
    PyObject** slot;
    const char* text;
};

struct State {
    PyObject* module_dict = nullptr;  // borrowed from the module record

    // The six base types and their tables, fetched the first time a type
    // needs them; one saved table serves every type with that base.
    PyTypeObject* property_type = nullptr;
    PyTypeObject* numeric_property_type = nullptr;
    PyTypeObject* bounded_numeric_property_type = nullptr;
    PyTypeObject* boolean_property_type = nullptr;
    PyTypeObject* variable_list_property_type = nullptr;
    PyTypeObject* list_property_type = nullptr;
    const core::PropertyTable* property_table = nullptr;
    const core::NumericPropertyTable* numeric_property_table = nullptr;
    const core::NumericPropertyTable* bounded_numeric_property_table = nullptr;
    const core::PropertyTable* boolean_property_table = nullptr;
    const core::PropertyTable* variable_list_property_table = nullptr;
    const core::PropertyTable* list_property_table = nullptr;

    // The two other outside types the attribute types use: the owner type
    // (the argument of attrvalue) and the owner's storage record. The load
    // checks the other outside types without keeping them.
    PyTypeObject* event_dispatcher_type = nullptr;
    PyTypeObject* property_storage_type = nullptr;

    PyObject* builtin_zip = nullptr;
    PyObject* builtin_super = nullptr;
};

extern State g_state;

// Strings shared by several types; each type keeps its own in its file.
extern PyObject* str_empty;         // ""
extern PyObject* str_attrtype;
extern PyObject* str_attrname;
extern PyObject* str_sync;
extern PyObject* str_options;
extern PyObject* str_allownone;
extern PyObject* str_name;
extern PyObject* str_attrvalue;
extern PyObject* str_dunder_init;   // "__init__"
extern PyObject* str_dunder_class;  // "__class__"
extern PyObject* str_dunder_name;   // "__name__"
extern PyObject* str_underscore;    // "_"
extern PyObject* str_dash;          // "-"

// Creates and interns every string of specs (a null-terminated array) that
// an earlier load attempt has not made.
int make_strings(const StringSpec* specs);

// The shared strings above.
extern const StringSpec shared_strings[];

}  // namespace vora::attributes
