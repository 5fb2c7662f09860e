// Internal declarations of vora.core._event: its type objects and tables,
// and the property types it reaches lazily.
#pragma once

#include <Python.h>

#include "common/errors.hpp"
#include "common/ref.hpp"
#include "contract/records_and_tables.hpp"

namespace vora::framework {

extern PyTypeObject ObjectWithUid_Type;
extern PyTypeObject Observable_Type;
extern PyTypeObject EventDispatcher_Type;
extern PyTypeObject BoundCallback_Type;
extern PyTypeObject EventObservers_Type;

extern core::EventDispatcherTable event_dispatcher_table;
extern core::EventObserversTable event_observers_table;

// Fill the tables at load.
void fill_observers_table();
void fill_dispatcher_table();
int make_dispatcher_constants();

// Slot tp_new of ObjectWithUid; the types built on it chain to it.
PyObject* ObjectWithUid_new(PyTypeObject* type, PyObject* args, PyObject* kwds);

// Property and PropertyStorage of vora.core.properties. That module imports
// this one at load, so this one imports it on first need instead.
struct PropertyTypes {
    PyTypeObject* property = nullptr;
    PyTypeObject* storage = nullptr;
};
// The types, or nullptr with an error set.
const PropertyTypes* property_types();

}  // namespace vora::framework
