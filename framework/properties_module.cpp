// vora.core.properties: the module's load. Readies the property types, fills
// and publishes their tables, and binds the constants.
#include <iterator>

#include "common/imports.hpp"
#include "common/module.hpp"
#include "framework/native_type.hpp"
#include "framework/properties.hpp"

namespace vora::framework {
namespace {

const ModuleType g_types[] = {
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
    if (add_types(module, g_types) < 0)
        return -1;
    return PyModule_AddObjectRef(module, "CSS_LENGTH_UNITS", g_state.css_length_units);
}

ModuleOnce g_once{"vora.core.properties", "properties",
                  "The property types of the framework: typed settings of EventDispatcher classes.",
                  nullptr, exec_body};

}  // namespace
}  // namespace vora::framework

PyMODINIT_FUNC PyInit_properties()
{
    return vora::module_init<vora::framework::g_once>();
}
