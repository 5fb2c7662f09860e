// Process-wide state of vora.core._attributes, written only while the module
// loads: the outside types, their saved native tables, interned strings and
// the few built-ins and constants the types use.
#pragma once

#include <Python.h>

#include "contract/records_and_tables.hpp"

namespace vora::attributes {

using core::Dispatch;

// An interned (or plain) string made once at load.
struct StringSpec {
    PyObject** slot;
    const char* text;
};

struct State {
    PyObject* module = nullptr;       // borrowed from the module record
    PyObject* module_dict = nullptr;  // borrowed

    // The six base types and their tables, fetched the first time a type
    // needs them; one saved table serves every type with that base.
    PyObject* property_type = nullptr;
    PyObject* numeric_property_type = nullptr;
    PyObject* bounded_numeric_property_type = nullptr;
    PyObject* boolean_property_type = nullptr;
    PyObject* variable_list_property_type = nullptr;
    PyObject* list_property_type = nullptr;
    const core::PropertyTable* property_table = nullptr;
    const core::NumericPropertyTable* numeric_property_table = nullptr;
    const core::NumericPropertyTable* bounded_numeric_property_table = nullptr;
    const core::PropertyTable* boolean_property_table = nullptr;
    const core::PropertyTable* variable_list_property_table = nullptr;
    const core::PropertyTable* list_property_table = nullptr;

    // The other outside types; of them the types use EventDispatcher (the
    // argument type of attrvalue) and PropertyStorage.
    PyObject* type_type = nullptr;
    PyObject* object_with_uid_type = nullptr;
    PyObject* observable_type = nullptr;
    PyObject* event_dispatcher_type = nullptr;
    PyObject* bound_callback_type = nullptr;
    PyObject* event_observers_type = nullptr;
    PyObject* property_storage_type = nullptr;
    PyObject* string_property_type = nullptr;
    PyObject* dict_property_type = nullptr;
    PyObject* object_property_type = nullptr;
    PyObject* option_property_type = nullptr;
    PyObject* reference_list_property_type = nullptr;
    PyObject* alias_property_type = nullptr;
    PyObject* color_property_type = nullptr;
    void* event_dispatcher_table = nullptr;
    void* event_observers_table = nullptr;
    void* other_tables[7] = {};

    PyObject* builtin_zip = nullptr;
    PyObject* builtin_super = nullptr;
};

extern State g;

// Strings shared by several types; each type keeps its own in its file.
namespace str {
extern PyObject* empty;       // ""
extern PyObject* attrtype;
extern PyObject* attrname;
extern PyObject* sync;
extern PyObject* options;
extern PyObject* allownone;
extern PyObject* name;
extern PyObject* attrvalue;
extern PyObject* init;        // "__init__"
extern PyObject* class_;      // "__class__"
extern PyObject* name_;       // "__name__"
extern PyObject* underscore;  // "_"
extern PyObject* dash;        // "-"
}  // namespace str

// Creates every string of specs (a null-terminated array); interns those
// that are identifiers.
int make_strings(const StringSpec* specs);

// The shared strings above.
extern const StringSpec shared_strings[];

}  // namespace vora::attributes
