// vora.core.properties: the module frame. Readies the property types, fills
// and publishes their tables, and binds the constants.
#include <iterator>

#include "common/imports.hpp"
#include "common/module.hpp"
#include "framework/properties.hpp"

namespace vora::framework {
namespace {

ModuleOnce g_once{"vora.core.properties", "properties"};

struct TypeEntry {
    const char* name;
    PyTypeObject* type;
    void* table;  // published as __pyx_vtable__, or nullptr
};

const TypeEntry g_types[] = {
    {"Property", &Property_Type, &property_table},
    {"NumericProperty", &NumericProperty_Type, &numeric_property_table},
    {"BoundedNumericProperty", &BoundedNumericProperty_Type, &bounded_numeric_property_table},
    {"BooleanProperty", &BooleanProperty_Type, &boolean_property_table},
    {"ListProperty", &ListProperty_Type, &list_property_table},
    {"VariableListProperty", &VariableListProperty_Type, &variable_list_property_table},
    {"StringProperty", &StringProperty_Type, &string_property_table},
    {"DictProperty", &DictProperty_Type, &dict_property_table},
    {"ObjectProperty", &ObjectProperty_Type, &object_property_table},
    {"OptionProperty", &OptionProperty_Type, &option_property_table},
    {"ReferenceListProperty", &ReferenceListProperty_Type, &reference_list_property_table},
    {"AliasProperty", &AliasProperty_Type, &alias_property_table},
    {"ColorProperty", &ColorProperty_Type, &color_property_table},
    {"PropertyStorage", &PropertyStorage_Type, nullptr},
    {"ObservableList", &ObservableList_Type, nullptr},
};

int make_constants()
{
    if (g_state.css_length_units)  // made by an earlier, failed load
        return 0;
    Ref units = Ref::steal(PyTuple_New(std::size(css_units)));
    if (!units)
        return -1;
    for (size_t i = 0; i < std::size(css_units); ++i) {
        PyObject* unit = PyUnicode_InternFromString(css_units[i]);
        if (!unit)
            return -1;
        PyTuple_SET_ITEM(units.get(), i, unit);
    }
    // Kept from an earlier, failed load that got this far.
    if (!g_state.str_empty)
        g_state.str_empty = PyUnicode_FromStringAndSize("", 0);
    if (!g_state.str_percent)
        g_state.str_percent = PyUnicode_InternFromString("%");
    if (!g_state.str_empty || !g_state.str_percent)
        return -1;
    g_state.css_length_units = units.release();
    return 0;
}

// The owner type lives in _event, which needs nothing from here at load.
int import_dispatcher()
{
    Ref event = Ref::steal(PyImport_ImportModule("vora.core._event"));
    if (!event)
        return -1;
    Ref type = import_type(event.get(), "EventDispatcher", sizeof(core::EventDispatcherRecord));
    if (!type)
        return -1;
    void* table = imported_vtable(type.get());
    if (!table)
        return -1;
    g_state.dispatcher_table = static_cast<const core::EventDispatcherTable*>(table);
    g_state.dispatcher_type = reinterpret_cast<PyTypeObject*>(type.release());
    return 0;
}

int exec_body(PyObject* module)
{
    if (make_constants() < 0 || import_dispatcher() < 0)
        return -1;
    fill_property_table();
    fill_numeric_tables();
    fill_value_tables();
    fill_container_tables();
    fill_linked_tables();
    for (const TypeEntry& entry : g_types) {
        if (PyType_Ready(entry.type) < 0)
            return -1;
        if (entry.table && publish_vtable(entry.type, entry.table) < 0)
            return -1;
        if (PyModule_AddObjectRef(module, entry.name, reinterpret_cast<PyObject*>(entry.type)) < 0)
            return -1;
    }
    return PyModule_AddObjectRef(module, "CSS_LENGTH_UNITS", g_state.css_length_units);
}

PyObject* properties_create(PyObject* spec, PyModuleDef*)
{
    return checked(module_create(g_once, spec));
}

int properties_exec(PyObject* module)
{
    int status = module_exec_begin(g_once, module);
    if (status != 0)
        return status < 0 ? module_exec_failed(g_once) : 0;
    if (module_register(g_once) < 0 || exec_body(module) < 0)
        return module_exec_failed(g_once);
    return 0;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(properties_create)},
    {Py_mod_exec, reinterpret_cast<void*>(properties_exec)},
    {0, nullptr},
};

PyModuleDef g_def = {
    PyModuleDef_HEAD_INIT,
    "properties",
    "The property types of the framework: typed settings of EventDispatcher classes.",
    0,
    nullptr,
    g_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace vora::framework

PyMODINIT_FUNC PyInit_properties()
{
    return PyModuleDef_Init(&vora::framework::g_def);
}
