// Internal declarations of vora.core.properties: its type objects, tables,
// load-time state and the helpers its property types share.
#pragma once

#include <Python.h>

#include "common/dict.hpp"
#include "common/errors.hpp"
#include "common/ref.hpp"
#include "contract/records_and_tables.hpp"

namespace vora::framework {

using core::Dispatch;
using core::NumericPropertyTable;
using core::PropertyRecord;
using core::PropertyStorageRecord;
using core::PropertyTable;

// ------------------------------------------------------------ types, tables

extern PyTypeObject Property_Type;
extern PyTypeObject NumericProperty_Type;
extern PyTypeObject BoundedNumericProperty_Type;
extern PyTypeObject BooleanProperty_Type;
extern PyTypeObject ListProperty_Type;
extern PyTypeObject VariableListProperty_Type;
extern PyTypeObject StringProperty_Type;
extern PyTypeObject DictProperty_Type;
extern PyTypeObject ObjectProperty_Type;
extern PyTypeObject OptionProperty_Type;
extern PyTypeObject ReferenceListProperty_Type;
extern PyTypeObject AliasProperty_Type;
extern PyTypeObject ColorProperty_Type;
extern PyTypeObject PropertyStorage_Type;
extern PyTypeObject ObservableList_Type;

extern PropertyTable property_table;
extern NumericPropertyTable numeric_property_table;
extern NumericPropertyTable bounded_numeric_property_table;
extern PropertyTable boolean_property_table;
extern PropertyTable list_property_table;
extern PropertyTable variable_list_property_table;
extern PropertyTable string_property_table;
extern PropertyTable dict_property_table;
extern PropertyTable object_property_table;
extern PropertyTable option_property_table;
extern PropertyTable reference_list_property_table;
extern PropertyTable alias_property_table;
extern PropertyTable color_property_table;

// Fill the tables at load, Property's first: the others copy theirs from
// their base's.
void fill_property_table();
void fill_numeric_tables();
void fill_value_tables();
void fill_container_tables();
void fill_linked_tables();

// -------------------------------------------------------------- load state

// Written once while the module loads, kept until the process ends.
struct State {
    PyTypeObject* dispatcher_type = nullptr;              // _event.EventDispatcher
    const core::EventDispatcherTable* dispatcher_table = nullptr;
    PyObject* css_length_units = nullptr;                 // tuple of str
    PyObject* str_percent = nullptr;                      // "%"
    PyObject* str_empty = nullptr;                        // ""
};
extern State g_state;

// The two-character CSS length units, in the order of CSS_LENGTH_UNITS.
inline constexpr const char* css_units[] = {"px", "pt", "pc", "mm", "cm", "in",
                                            "em", "ex", "ch", "lh", "vw", "vh"};

// ---------------------------------------------------------------- helpers

inline PropertyRecord* prop(PyObject* self)
{
    return reinterpret_cast<PropertyRecord*>(self);
}

// The table the instance carries: a native subclass's own, so its
// replacements take effect.
inline const PropertyTable* table_of(PyObject* self)
{
    return static_cast<const PropertyTable*>(prop(self)->table);
}
inline const NumericPropertyTable* numeric_table_of(PyObject* self)
{
    return static_cast<const NumericPropertyTable*>(prop(self)->table);
}

inline PropertyStorageRecord* storage_record(PyObject* storage)
{
    return reinterpret_cast<PropertyStorageRecord*>(storage);
}

// The owner's PropertyStorage for self's key. TypeError when obj is not an
// EventDispatcher or the entry is no PropertyStorage; KeyError when absent.
Ref storage_of(PyObject* self, PyObject* obj);

// The same, or an empty Ref without an error when obj has no record for
// self (used where recording is a side effect, not the point).
Ref storage_if_any(PyObject* self, PyObject* obj);

// Raises exc with "<Class>.<name>" + text, where Class is the owner's class
// name and name the property's; with `shown`, its repr and ")" follow.
VORA_COLD void raise_for(PyObject* exc, PyObject* self, PyObject* obj, const char* text,
                         PyObject* shown = nullptr);

// Checks that storage is a PropertyStorage record (TypeError otherwise).
bool expect_storage(PyObject* storage);

// Entries of Property's table that other types reuse or call explicitly.
PyObject* Property_init_storage(PyObject* self, PyObject* obj, PyObject* storage);
PyObject* Property_check(PyObject* self, PyObject* obj, PyObject* value);
PyObject* Property_convert(PyObject* self, PyObject* obj, PyObject* value);

// Shared steps of the __init__ of every property type: parses the one
// positional `defaultvalue` (nullptr when not given) and the keywords, and
// stores `allownone`. *kwargs receives all keywords but `defaultvalue`.
int property_init_common(PyObject* self, PyObject* args, PyObject* kwds, Ref* defaultvalue,
                         Ref* kwargs);

// Slot tp_new of Property; other types chain to it.
PyObject* Property_new(PyTypeObject* type, PyObject* args, PyObject* kwds);

// tp_new of a type whose record adds nothing to Property's: only its table
// differs.
template <PropertyTable* table>
PyObject* plain_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    PyObject* self = Property_new(type, args, kwds);
    if (self)
        prop(self)->table = table;
    return self;
}

}  // namespace vora::framework
