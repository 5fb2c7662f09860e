// vora.core._event: the module frame, and the lazy import of the property
// types that the dispatcher needs.
#include "common/imports.hpp"
#include "common/module.hpp"
#include "framework/events.hpp"

namespace vora::framework {

namespace {
PropertyTypes g_property_types;
}  // namespace

const PropertyTypes* property_types()
{
    if (g_property_types.property) [[likely]]
        return &g_property_types;
    Ref module = Ref::steal(PyImport_ImportModule("vora.core.properties"));
    if (!module)
        return nullptr;
    Ref property = import_type(module.get(), "Property", sizeof(core::PropertyRecord));
    if (!property)
        return nullptr;
    Ref storage =
        import_type(module.get(), "PropertyStorage", sizeof(core::PropertyStorageRecord));
    if (!storage)
        return nullptr;
    // Another caller may have finished the import while this one ran.
    if (!g_property_types.property) {
        g_property_types.storage = reinterpret_cast<PyTypeObject*>(storage.release());
        g_property_types.property = reinterpret_cast<PyTypeObject*>(property.release());
    }
    return &g_property_types;
}

namespace {

ModuleOnce g_once{"vora.core._event", "_event"};

struct TypeEntry {
    const char* name;
    PyTypeObject* type;
    void* table;  // published as __pyx_vtable__, or nullptr
};

const TypeEntry g_types[] = {
    {"ObjectWithUid", &ObjectWithUid_Type, nullptr},
    {"Observable", &Observable_Type, nullptr},
    {"EventDispatcher", &EventDispatcher_Type, &event_dispatcher_table},
    {"BoundCallback", &BoundCallback_Type, nullptr},
    {"EventObservers", &EventObservers_Type, &event_observers_table},
};

int exec_body(PyObject* module)
{
    if (make_dispatcher_constants() < 0)
        return -1;
    fill_dispatcher_table();
    fill_observers_table();
    for (const TypeEntry& entry : g_types) {
        if (PyType_Ready(entry.type) < 0)
            return -1;
        if (entry.table && publish_vtable(entry.type, entry.table) < 0)
            return -1;
        if (PyModule_AddObjectRef(module, entry.name, reinterpret_cast<PyObject*>(entry.type)) < 0)
            return -1;
    }
    return 0;
}

PyObject* event_create(PyObject* spec, PyModuleDef*)
{
    return checked(module_create(g_once, spec));
}

int event_exec(PyObject* module)
{
    int status = module_exec_begin(g_once, module);
    if (status != 0)
        return status < 0 ? module_exec_failed(g_once) : 0;
    if (module_register(g_once) < 0 || exec_body(module) < 0)
        return module_exec_failed(g_once);
    return 0;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(event_create)},
    {Py_mod_exec, reinterpret_cast<void*>(event_exec)},
    {0, nullptr},
};

PyModuleDef g_def = {
    PyModuleDef_HEAD_INIT,
    "_event",
    "The event types of the framework: EventDispatcher, the owner of properties.",
    0,
    nullptr,
    g_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace vora::framework

PyMODINIT_FUNC PyInit__event()
{
    return PyModuleDef_Init(&vora::framework::g_def);
}
