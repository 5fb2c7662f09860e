// vora.core._event: the module's load, and the lazy import of the property
// types that the dispatcher needs.
#include "common/imports.hpp"
#include "common/module.hpp"
#include "framework/events.hpp"
#include "framework/native_type.hpp"

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

const ModuleType g_types[] = {
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
    return add_types(module, g_types);
}

ModuleOnce g_once{"vora.core._event", "_event",
                  "The event types of the framework: EventDispatcher, the owner of properties.",
                  nullptr, exec_body};

}  // namespace
}  // namespace vora::framework

PyMODINIT_FUNC PyInit__event()
{
    return vora::module_init<vora::framework::g_once>();
}
