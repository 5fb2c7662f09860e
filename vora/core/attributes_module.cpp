// vora.core._attributes: the module's load. The imports from the framework
// core, the building of the nine attribute types on their outside bases, and
// the module namespace (common/module.hpp carries creation and execution).
#include <iterator>

#include "common/dict.hpp"
#include "common/imports.hpp"
#include "common/module.hpp"
#include "vora/core/attribute_type.hpp"
#include "vora/core/attrvalue_method.hpp"

namespace vora::attributes {

extern const AttributeTypeInfo string_attribute_info;
extern const AttributeTypeInfo numeric_attribute_info;
extern const AttributeTypeInfo bounded_numeric_attribute_info;
extern const AttributeTypeInfo boolean_attribute_info;
extern const AttributeTypeInfo logical_attribute_info;
extern const AttributeTypeInfo variable_list_attribute_info;
extern const AttributeTypeInfo list_attribute_info;
extern const AttributeTypeInfo color_attribute_info;
extern const AttributeTypeInfo event_attribute_info;

namespace {

// The order in which the types are built.
const AttributeTypeInfo* const type_table[] = {
    &string_attribute_info,  &numeric_attribute_info,       &bounded_numeric_attribute_info,
    &boolean_attribute_info, &logical_attribute_info,       &variable_list_attribute_info,
    &list_attribute_info,    &color_attribute_info,         &event_attribute_info,
};

// ------------------------------------------------------------- base types

struct BaseSpec {
    const char* name;
    Py_ssize_t record_size;
    PyTypeObject** type;
    const void** table;
};

BaseSpec base_spec(Base base)
{
    using namespace core;
    auto table = [](auto& slot) { return reinterpret_cast<const void**>(&slot); };
    switch (base) {
    case Base::property:
        return {"Property", sizeof(PropertyRecord), &g_state.property_type,
                table(g_state.property_table)};
    case Base::numeric:
        return {"NumericProperty", sizeof(NumericPropertyRecord), &g_state.numeric_property_type,
                table(g_state.numeric_property_table)};
    case Base::bounded_numeric:
        return {"BoundedNumericProperty", sizeof(BoundedNumericPropertyRecord),
                &g_state.bounded_numeric_property_type,
                table(g_state.bounded_numeric_property_table)};
    case Base::boolean:
        return {"BooleanProperty", sizeof(BooleanPropertyRecord), &g_state.boolean_property_type,
                table(g_state.boolean_property_table)};
    case Base::variable_list:
        return {"VariableListProperty", sizeof(VariableListPropertyRecord),
                &g_state.variable_list_property_type, table(g_state.variable_list_property_table)};
    case Base::list:
        return {"ListProperty", sizeof(ListPropertyRecord), &g_state.list_property_type,
                table(g_state.list_property_table)};
    }
    return {};
}

// Imports a base type and saves its table the first time a type needs it.
PyTypeObject* fetch_base(PyObject* properties, Base base)
{
    BaseSpec spec = base_spec(base);
    if (*spec.type)
        return *spec.type;
    Ref type = import_type(properties, spec.name, spec.record_size);
    if (!type)
        return nullptr;
    void* table = imported_vtable(type.get());
    if (!table)
        return nullptr;
    *spec.table = table;
    *spec.type = reinterpret_cast<PyTypeObject*>(type.release());
    return *spec.type;
}

// ---------------------------------------------------------------- pickling

PyObject* refuse_pickling(PyObject*, PyObject*)
{
    PyErr_SetString(PyExc_TypeError, "no default __reduce__ due to non-trivial __cinit__");
    return nullptr;
}

PyMethodDef reduce_def = {"__reduce__", checked_entry<refuse_pickling>, METH_NOARGS, nullptr};
PyMethodDef setstate_def = {"__setstate__", checked_entry<refuse_pickling>, METH_O, nullptr};

// True when type's attribute name is the one object has.
int inherits_from_object(PyTypeObject* type, const char* name)
{
    Ref own = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), name));
    if (!own)
        return -1;
    Ref plain = Ref::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyBaseObject_Type), name));
    if (!plain)
        return -1;
    return own.get() == plain.get();
}

int add_method(PyTypeObject* type, PyMethodDef* def)
{
    Ref descr = Ref::steal(PyDescr_NewMethod(type, def));
    return descr ? PyDict_SetItemString(type->tp_dict, def->ml_name, descr.get()) : -1;
}

// Pickling and copying an attribute are refused: its state lives partly in
// native fields that no reduce value could carry.
int install_pickling_refusal(PyTypeObject* type)
{
    int plain_getstate, plain_reduce_ex, plain_reduce, has_setstate;
    if ((plain_getstate = inherits_from_object(type, "__getstate__")) < 0 ||
        (plain_reduce_ex = inherits_from_object(type, "__reduce_ex__")) < 0 ||
        (plain_reduce = inherits_from_object(type, "__reduce__")) < 0 ||
        (has_setstate = PyObject_HasAttrStringWithError(reinterpret_cast<PyObject*>(type),
                                                        "__setstate__")) < 0)
        goto fail;
    if (plain_getstate && plain_reduce_ex) {
        if (plain_reduce && add_method(type, &reduce_def) < 0)
            goto fail;
        if (!has_setstate && add_method(type, &setstate_def) < 0)
            goto fail;
        PyType_Modified(type);
    }
    return 0;
fail:
    if (!PyErr_Occurred())
        PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s", type->tp_name);
    return -1;
}

// --------------------------------------------------------------- the load

int build_type(PyObject* module, PyObject* properties, const AttributeTypeInfo& info)
{
    PyTypeObject* base = fetch_base(properties, info.base);
    if (!base)
        return -1;
    info.fill_table();
    info.type->tp_base = base;
    if (PyType_Ready(info.type) < 0 || publish_vtable(info.type, info.table) < 0)
        return -1;
    if (PyModule_AddType(module, info.type) < 0)
        return -1;
    if (install_pickling_refusal(info.type) < 0) {
        // The refusal's own error (a MemoryError, say) stays in the chain.
        PyObject* cause = PyErr_GetRaisedException();
        PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s",
                     info.type->tp_name);
        chain_cause(cause);
        return -1;
    }
    return 0;
}

struct OutsideType {
    const char* name;
    Py_ssize_t record_size;
    bool has_table;
    PyTypeObject** kept = nullptr;  // where the state keeps it, if the types use it
};

// Imports each type, checked against its record size and, when it has one,
// for its table.
int import_outside_types(PyObject* module, const OutsideType* types, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const OutsideType& outside = types[i];
        if (outside.kept && *outside.kept)
            continue;
        Ref type = import_type(module, outside.name, outside.record_size);
        if (!type)
            return -1;
        if (outside.has_table && !imported_vtable(type.get()))
            return -1;
        if (outside.kept)
            *outside.kept = reinterpret_cast<PyTypeObject*>(type.release());
    }
    return 0;
}

int import_remaining_types(PyObject* properties)
{
    using namespace core;
    Ref builtins = Ref::steal(PyImport_ImportModule("builtins"));
    if (!builtins)
        return -1;
    const OutsideType from_builtins[] = {
        {"type", sizeof(PyHeapTypeObject), false},
    };
    if (import_outside_types(builtins.get(), from_builtins, 1) < 0)
        return -1;
    Ref event = Ref::steal(PyImport_ImportModule("vora.core._event"));
    if (!event)
        return -1;
    const OutsideType from_event[] = {
        {"ObjectWithUid", sizeof(ObjectWithUidRecord), false},
        {"Observable", sizeof(ObservableRecord), false},
        {"EventDispatcher", sizeof(EventDispatcherRecord), true, &g_state.event_dispatcher_type},
        {"BoundCallback", sizeof(BoundCallbackRecord), false},
        {"EventObservers", sizeof(EventObserversRecord), true},
    };
    if (import_outside_types(event.get(), from_event, std::size(from_event)) < 0)
        return -1;
    const OutsideType from_properties[] = {
        {"PropertyStorage", sizeof(PropertyStorageRecord), false, &g_state.property_storage_type},
        {"StringProperty", sizeof(StringPropertyRecord), true},
        {"DictProperty", sizeof(DictPropertyRecord), true},
        {"ObjectProperty", sizeof(ObjectPropertyRecord), true},
        {"OptionProperty", sizeof(OptionPropertyRecord), true},
        {"ReferenceListProperty", sizeof(ReferenceListPropertyRecord), true},
        {"AliasProperty", sizeof(AliasPropertyRecord), true},
        {"ColorProperty", sizeof(ColorPropertyRecord), true},
    };
    return import_outside_types(properties, from_properties, std::size(from_properties));
}

// `from <module_name> import <names>` into the module namespace.
int bind_names(const char* module_name, std::initializer_list<const char*> names)
{
    Ref fromlist = Ref::steal(PyList_New(0));
    if (!fromlist)
        return -1;
    for (const char* name : names) {
        Ref text = Ref::steal(PyUnicode_InternFromString(name));
        if (!text || PyList_Append(fromlist.get(), text.get()) < 0)
            return -1;
    }
    Ref name = Ref::steal(PyUnicode_FromString(module_name));
    if (!name)
        return -1;
    // An imported module that already has every name is taken as it is.
    Ref source = Ref::steal(PyImport_GetModule(name.get()));
    if (!source && PyErr_Occurred())
        return -1;
    bool complete = bool(source);
    for (Py_ssize_t i = 0; complete && i < PyList_GET_SIZE(fromlist.get()); ++i) {
        int has = PyObject_HasAttrWithError(source.get(), PyList_GET_ITEM(fromlist.get(), i));
        if (has < 0)
            return -1;
        complete = has;
    }
    if (!complete) {
        source = Ref::steal(PyImport_ImportModuleLevelObject(name.get(), g_state.module_dict,
                                                             nullptr, fromlist.get(), 0));
        if (!source)
            return -1;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(fromlist.get()); ++i) {
        PyObject* name = PyList_GET_ITEM(fromlist.get(), i);
        Ref value = import_from(source.get(), name);
        if (!value || PyDict_SetItem(g_state.module_dict, name, value.get()) < 0)
            return -1;
    }
    return 0;
}

Ref builtin(PyObject* builtins, const char* name)
{
    Ref text = Ref::steal(PyUnicode_FromString(name));
    if (!text)
        return Ref();
    return lookup_global(PyModule_GetDict(builtins), text.get());
}

// The module's own pointers and interned strings, made before it enters
// sys.modules.
int make_state(PyObject* module)
{
    // The module record holds the module; its dict stays valid while it does.
    g_state.module_dict = PyModule_GetDict(module);

    if (make_strings(shared_strings) < 0)
        return -1;
    for (const AttributeTypeInfo* info : type_table) {
        if (info->strings && make_strings(info->strings) < 0)
            return -1;
    }
    return 0;
}

int exec_body(PyObject* module)
{
    Ref builtins = Ref::steal(PyImport_ImportModule("builtins"));
    if (!builtins)
        return -1;
    Ref zip = builtin(builtins.get(), "zip");
    if (!zip)
        return -1;
    Ref super = builtin(builtins.get(), "super");
    if (!super)
        return -1;
    set_field(g_state.builtin_zip, std::move(zip));
    set_field(g_state.builtin_super, std::move(super));
    for (const AttributeTypeInfo* info : type_table) {
        if (info->make_constants && info->make_constants() < 0)
            return -1;
    }

    Ref properties = Ref::steal(PyImport_ImportModule("vora.core.properties"));
    if (!properties)
        return -1;
    for (const AttributeTypeInfo* info : type_table) {
        if (build_type(module, properties.get(), *info) < 0)
            return -1;
    }
    if (import_remaining_types(properties.get()) < 0)
        return -1;

    Ref all = Ref::steal(Py_BuildValue("(sssssss)", "_Attribute", "_NumericAttribute",
                                       "_BoundedNumericAttribute", "_BooleanAttribute",
                                       "_VariableListAttribute", "_ColorAttribute",
                                       "_GenericEventAttribute"));
    if (!all || PyDict_SetItemString(g_state.module_dict, "__all__", all.get()) < 0)
        return -1;

    if (bind_names("vora.core.properties", {"ObservableList", "CSS_LENGTH_UNITS"}) < 0 ||
        bind_names("vora.core.utils", {"get_color_from_hex_255"}) < 0)
        return -1;

    for (const AttributeTypeInfo* info : type_table) {
        Ref method = Ref::steal(attrvalue_method_new(info->type, info->render));
        if (!method || PyDict_SetItem(info->type->tp_dict, str_attrvalue, method.get()) < 0)
            return -1;
        PyType_Modified(info->type);
    }

    Ref test = Ref::steal(PyDict_New());
    if (!test || PyDict_SetItemString(g_state.module_dict, "__test__", test.get()) < 0)
        return -1;
    return 0;
}

ModuleOnce g_once{"vora.core._attributes", "_attributes", nullptr, make_state, exec_body};

}  // namespace

}  // namespace vora::attributes

PyMODINIT_FUNC PyInit__attributes()
{
    return vora::module_init<vora::attributes::g_once>();
}
