// The contract between the framework core and the modules that extend its
// types: the records and native method tables of the property and event types,
// and the tables the attribute types of vora.core._attributes publish. Both
// sides are built against these declarations and neither includes the other;
// _attributes also checks the instance sizes at load.
#pragma once

#include <Python.h>

#include <cstddef>

namespace vora::core {

// Whether a table entry that has a Python-level twin may hand the call to a
// Python subclass's override (native callers) or must run its own code (the
// Python-level method itself).
enum class Dispatch : int { allowed = 0, suppressed = 1 };

// ---------------------------------------------------------------- tables
//
// A table is an array of entries in declaration order; a derived type's table
// begins with a full copy of its base's and appends its own entries. `self`
// is the property, `obj` the owner (an EventDispatcher). Entries returning
// PyObject* return a new reference, or NULL with an exception set.

using InitStorageFn = PyObject* (*)(PyObject* self, PyObject* obj, PyObject* storage);
using CompareValueFn = PyObject* (*)(PyObject* self, PyObject* a, PyObject* b);
using SetFn = PyObject* (*)(PyObject* self, PyObject* obj, PyObject* value);
using GetFn = PyObject* (*)(PyObject* self, PyObject* obj, Dispatch dispatch);
using CheckFn = PyObject* (*)(PyObject* self, PyObject* obj, PyObject* value);
using ConvertFn = PyObject* (*)(PyObject* self, PyObject* obj, PyObject* value);
using DispatchFn = PyObject* (*)(PyObject* self, PyObject* obj);
// Single-precision results; failure is a pending exception.
using ParseStringFn = float (*)(PyObject* self, PyObject* obj, PyObject* text);
using ParsePairFn = float (*)(PyObject* self, PyObject* obj, PyObject* number, PyObject* unit);
// Entries of operations this core does not provide; they keep their places.
using ReservedFn = void (*)();

struct PropertyTable {
    InitStorageFn init_storage;      // 0
    ReservedFn reserved_1_9[9];      // 1-9
    CompareValueFn compare_value;    // 10
    SetFn set;                       // 11: convert, check, compare, store
    GetFn get;                       // 12
    CheckFn check;                   // 13
    ConvertFn convert;               // 14
    DispatchFn dispatch;             // 15: tell observers of a change
};

struct NumericPropertyTable {
    PropertyTable base;              // 0-15
    ParseStringFn parse_string;      // 16
    ParsePairFn parse_pair;          // 17
};

static_assert(sizeof(PropertyTable) == 16 * sizeof(void*));
static_assert(offsetof(PropertyTable, compare_value) == 10 * sizeof(void*));
static_assert(offsetof(PropertyTable, get) == 12 * sizeof(void*));
static_assert(offsetof(PropertyTable, check) == 13 * sizeof(void*));
static_assert(offsetof(PropertyTable, convert) == 14 * sizeof(void*));
static_assert(sizeof(NumericPropertyTable) == 18 * sizeof(void*));
static_assert(offsetof(NumericPropertyTable, parse_string) == 16 * sizeof(void*));

// The tables of BooleanProperty, ListProperty, VariableListProperty and the
// other property types are PropertyTable; those of NumericProperty and
// BoundedNumericProperty are NumericPropertyTable.

// EventDispatcher's own table.
struct EventDispatcherTable {
    // Registers event name on obj; client marks a client (browser) event.
    PyObject* (*register_event)(PyObject* obj, PyObject* name, int client);
    // The PropertyStorage of obj for the property key, borrowed, or NULL
    // with KeyError set.
    PyObject* (*property_storage)(PyObject* obj, PyObject* key);
};

// EventObservers' own table.
struct EventObserversTable {
    PyObject* (*bind)(PyObject* self, PyObject* callback);
    PyObject* (*unbind)(PyObject* self, PyObject* callback);
    PyObject* (*dispatch)(PyObject* self, PyObject* obj, PyObject* value);
};

// --------------------------------------------------------------- records

struct PropertyRecord {
    PyObject_HEAD
    void* table;                // the type's table (a native subclass: its own)
    PyObject* key;              // key of the owner's storage record
    PyObject* name;             // attribute name on the owner class, or None
    PyObject* defaultvalue;
    int allownone;
};

struct NumericPropertyRecord {
    PropertyRecord base;
    PyObject* units;            // unit of a plain number, or None
};

struct BoundedNumericPropertyRecord {
    NumericPropertyRecord base;
    PyObject* min;              // None: unbounded
    PyObject* max;
};

struct BooleanPropertyRecord {
    PropertyRecord base;
};

struct ListPropertyRecord {
    PropertyRecord base;
};

struct VariableListPropertyRecord {
    PropertyRecord base;
    int length;                 // 2 or 4
};

struct StringPropertyRecord {
    PropertyRecord base;
};

struct DictPropertyRecord {
    PropertyRecord base;
};

struct ObjectPropertyRecord {
    PropertyRecord base;
    PyObject* baseclass;        // required type of the value, or None
};

struct OptionPropertyRecord {
    PropertyRecord base;
    PyObject* options;          // the accepted values
};

struct ReferenceListPropertyRecord {
    PropertyRecord base;
    PyObject* properties;       // the referenced properties
};

struct AliasPropertyRecord {
    PropertyRecord base;
    PyObject* getter;
    PyObject* setter;
};

struct ColorPropertyRecord {
    PropertyRecord base;
};

// Per owner and property: the stored value and what goes with it.
struct PropertyStorageRecord {
    PyObject_HEAD
    PyObject* value;
    PyObject* options;          // list or None: per-owner option list
    PyObject* units;            // NumericProperty: unit of the value, or None
};

struct ObjectWithUidRecord {
    PyObject_HEAD
    long uid;
};

struct ObservableRecord {
    ObjectWithUidRecord base;
    PyObject* bound;            // callbacks bound to attributes
};

struct EventDispatcherRecord {
    ObjectWithUidRecord base;
    void* table;                // EventDispatcherTable
    PyObject* storage;          // dict: property key -> PropertyStorage
    PyObject* events;           // dict: event name -> True for client events
};

struct BoundCallbackRecord {
    PyObject_HEAD
    PyObject* func;
    PyObject* args;
    PyObject* kwargs;
};

struct EventObserversRecord {
    PyObject_HEAD
    void* table;                // EventObserversTable
    PyObject* callbacks;        // list of BoundCallback
};

// Layout promises another module relies on.
static_assert(offsetof(PropertyRecord, table) == sizeof(PyObject));
static_assert(offsetof(PropertyRecord, key) == sizeof(PyObject) + sizeof(void*));

}  // namespace vora::core

// ------------------------------------------- tables of the attribute types
//
// Each attribute type's table is a copy of its base property type's (some
// entries replaced in place) with the type's own entries appended. Native
// callers reach the appended entries by slot, which the assertions fix.

namespace vora::attributes {

// The setting of obj as markup text; with dispatch allowed, the attrvalue of
// a Python subclass that overrides it runs instead.
using AttrvalueFn = PyObject* (*)(PyObject* self, PyObject* obj, core::Dispatch dispatch);

// _Attribute (base Property), _BooleanAttribute, _LogicalAttribute,
// _GenericEventAttribute (BooleanProperty) and _ListAttribute (ListProperty).
struct AttributeTable {
    core::PropertyTable base;          // 0-15
    AttrvalueFn attrvalue;             // 16
};

// _NumericAttribute (NumericProperty), _BoundedNumericAttribute
// (BoundedNumericProperty).
struct NumericAttributeTable {
    core::NumericPropertyTable base;   // 0-17
    AttrvalueFn attrvalue;             // 18
};

// _VariableListAttribute (VariableListProperty).
struct VariableListAttributeTable {
    core::PropertyTable base;          // 0-15
    core::ConvertFn convert_numeric;   // 16: one item as a number or CSS length, else None
    AttrvalueFn attrvalue;             // 17
};

// _ColorAttribute (Property).
struct ColorAttributeTable {
    core::PropertyTable base;          // 0-15
    AttrvalueFn attrvalue;             // 16
    core::ConvertFn parse_str;         // 17: colour text to a list of components
};

static_assert(sizeof(AttributeTable) == 17 * sizeof(void*));
static_assert(offsetof(AttributeTable, attrvalue) == 16 * sizeof(void*));
static_assert(sizeof(NumericAttributeTable) == 19 * sizeof(void*));
static_assert(offsetof(NumericAttributeTable, attrvalue) == 18 * sizeof(void*));
static_assert(sizeof(VariableListAttributeTable) == 18 * sizeof(void*));
static_assert(offsetof(VariableListAttributeTable, convert_numeric) == 16 * sizeof(void*));
static_assert(offsetof(VariableListAttributeTable, attrvalue) == 17 * sizeof(void*));
static_assert(sizeof(ColorAttributeTable) == 18 * sizeof(void*));
static_assert(offsetof(ColorAttributeTable, attrvalue) == 16 * sizeof(void*));
static_assert(offsetof(ColorAttributeTable, parse_str) == 17 * sizeof(void*));

}  // namespace vora::attributes
