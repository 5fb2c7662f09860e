// _Attribute: the string attribute, an element setting whose value is a
// string, optionally restricted to options that may render as other texts.
#include "common/args.hpp"
#include "vora/core/attribute_type.hpp"
#include "vora/core/docstring.hpp"
#include "vora/core/keywords.hpp"
#include "vora/core/messages.hpp"

namespace vora::attributes {

namespace {

struct StringAttribute {
    core::PropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* options;
    PyObject* values;
    PyObject* attrname;

    static PyTypeObject type;
    static inline AttributeTable table{};
    static constexpr Base base_kind = Base::property;
    static constexpr auto object_fields =
        std::tuple{&StringAttribute::options, &StringAttribute::values};
    static int set_defaults(StringAttribute* self);
    static int init(PyObject* self, PyObject* args, PyObject* kwds);
    static PyObject* init_storage(PyObject* self, PyObject* obj, PyObject* storage);
    static PyObject* compare_value(PyObject* self, PyObject* a, PyObject* b);
    static PyObject* check(PyObject* self, PyObject* obj, PyObject* value);
    static PyObject* render(PyObject* self, PyObject* obj);
};

PyObject* str_values;
const StringSpec strings[] = {
    {&str_values, "values"},
    {nullptr, nullptr},
};

int StringAttribute::set_defaults(StringAttribute* self)
{
    Ref values = Ref::steal(PyDict_New());
    if (!values)
        return -1;
    set_field(self->values, std::move(values));
    return 0;
}

// ---------------------------------------------------------------- __init__

// dict(zip(options, values)): a later duplicate option wins.
Ref option_values(PyObject* options, PyObject* values)
{
    PyObject* args[] = {options, values};
    Ref pairs = Ref::steal(PyObject_Vectorcall(g_state.builtin_zip, args, 2, nullptr));
    Ref dict = Ref::steal(PyDict_New());
    if (!pairs || !dict || PyDict_MergeFromSeq2(dict.get(), pairs.get(), 1) < 0)
        return Ref();
    return dict;
}

const char* const init_params[] = {"defaultvalue"};
const Signature init_signature{"__init__", init_params, 1, 0, true};

int StringAttribute::init(PyObject* o, PyObject* args, PyObject* kwds)
{
    auto* self = reinterpret_cast<StringAttribute*>(o);
    Ref defaultvalue;
    Ref kwargs;
    if (parse_tuple_dict(init_signature, args, kwds, &defaultvalue, &kwargs) < 0)
        return -1;
    if (!defaultvalue)
        defaultvalue = Ref::borrow(str_empty);
    if (take_common_keywords(self, kwargs.get()) < 0 ||
        take_list_keyword(kwargs.get(), str_options, self->options) < 0)
        return -1;
    Ref options = Ref::borrow(self->options);
    if (PyList_GET_SIZE(options.get()) > 0) {
        Ref values = list_keyword(kwargs.get(), str_values);
        if (!values)
            return -1;
        if (PyList_GET_SIZE(values.get()) == 0) {
            values = Ref::steal(PyList_GetSlice(options.get(), 0, PY_SSIZE_T_MAX));
            if (!values)
                return -1;
        }
        if (PyList_GET_SIZE(options.get()) != PyList_GET_SIZE(values.get())) {
            PyErr_SetString(PyExc_AttributeError, "length mismatch between options and values lists");
            return -1;
        }
        Ref dict = option_values(options.get(), values.get());
        if (!dict)
            return -1;
        set_field(self->values, std::move(dict));
    }
    if (force_allownone(kwargs.get()) < 0)
        return -1;
    return call_base_init_with(&StringAttribute::type, o, defaultvalue.get(), kwargs.get());
}

// ------------------------------------------------------- native table entries

// Each owner gets its own copy of the option list, so code that changes one
// element's options changes what that element alone accepts.
PyObject* StringAttribute::init_storage(PyObject* o, PyObject* obj, PyObject* storage)
{
    auto* self = reinterpret_cast<StringAttribute*>(o);
    Ref base = Ref::steal(g_state.property_table->init_storage(o, obj, storage));
    if (!base)
        return nullptr;
    if (!PyObject_TypeCheck(storage, g_state.property_storage_type))
        return raise_expected("PropertyStorage", storage);
    if (self->options == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'NoneType' object is not subscriptable");
        return nullptr;
    }
    Ref copy = Ref::steal(PySequence_GetSlice(self->options, 0, PY_SSIZE_T_MAX));
    if (!copy)
        return nullptr;
    set_field(reinterpret_cast<core::PropertyStorageRecord*>(storage)->options, std::move(copy));
    Py_RETURN_NONE;
}

PyObject* StringAttribute::compare_value(PyObject*, PyObject* a, PyObject* b)
{
    return PyObject_RichCompare(a, b, Py_EQ);
}

// The owner's storage record for this property, as a new reference.
Ref storage_record(PyObject* self, PyObject* obj)
{
    if (!PyObject_TypeCheck(obj, g_state.event_dispatcher_type)) {
        raise_expected(g_state.event_dispatcher_type->tp_name, obj);
        return Ref();
    }
    Ref storage = Ref::borrow(reinterpret_cast<core::EventDispatcherRecord*>(obj)->storage);
    if (storage.get() == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'NoneType' object is not subscriptable");
        return Ref();
    }
    Ref record = Ref::steal(
        PyObject_GetItem(storage.get(), reinterpret_cast<core::PropertyRecord*>(self)->key));
    if (record && !PyObject_TypeCheck(record.get(), g_state.property_storage_type)) {
        PyErr_Format(PyExc_TypeError, "%.1sCannot convert %.200s to %.200s", "",
                     Py_TYPE(record.get())->tp_name, g_state.property_storage_type->tp_name);
        return Ref();
    }
    return record;
}

PyObject* StringAttribute::check(PyObject* self, PyObject* obj, PyObject* value)
{
    int accepted = property_check_accepts(self, obj, value);
    if (accepted < 0)
        return nullptr;
    if (accepted)
        Py_RETURN_TRUE;
    if (!PyUnicode_Check(value))
        return raise_value_error(owner_message(self, obj, " accept only str"));
    Ref record = storage_record(self, obj);
    if (!record)
        return nullptr;
    Ref options = Ref::borrow(reinterpret_cast<core::PropertyStorageRecord*>(record.get())->options);
    if (options.get() == Py_None || (PyList_Check(options.get()) && PyList_GET_SIZE(options.get()) == 0))
        Py_RETURN_NONE;
    int found = PySequence_Contains(options.get(), value);
    if (found < 0)
        return nullptr;
    if (found)
        Py_RETURN_NONE;
    PyObject* held = options.get();
    return raise_invalid_option(self, obj, " is set to an invalid option ", value, &held);
}

PyObject* StringAttribute::render(PyObject* o, PyObject* obj)
{
    Ref value = stored_value(o, obj);
    if (!value)
        return nullptr;
    if (value.get() == Py_None)
        return Py_NewRef(str_empty);
    // values is a dict made by __init__ (or None after a collector clear).
    PyObject* values = reinterpret_cast<StringAttribute*>(o)->values;
    if (PyDict_Check(values) && PyDict_GET_SIZE(values) > 0)
        return PyObject_GetItem(Ref::borrow(values).get(), value.get());
    return value.release();
}

// ----------------------------------------------------------------- the type

// In an order of its own, which the type's __dict__ shows.
PyGetSetDef members[] = {
    attrname_member<StringAttribute>(),
    object_member<StringAttribute, &StringAttribute::attrtype>("attrtype"),
    sync_member<StringAttribute>(),
    object_member<StringAttribute, &StringAttribute::options>("options"),
    object_member<StringAttribute, &StringAttribute::values>("values"),
    {},
};

constexpr auto doc = attribute_doc(
    "General Html attribute class with a string value.\n", "string, defaults to ''",
    "        `options`: list of strings, other possible values which are accepted by the attribute instance.\n"
    "        For example some numeric attributes can accept also string values like `inherit`\n"
    "        'values': list of values relevant for options. This list contain actual values which are sent to frontend when\n"
    "        the property value is set to one of optional values. If `values` list is not set, it is equal to `options`\n");

}  // namespace

PyTypeObject StringAttribute::type =
    make_attribute_type<StringAttribute>("vora.core._attributes._Attribute", doc.data(), members);

extern const AttributeTypeInfo string_attribute_info =
    attribute_type_info<StringAttribute>(strings);

}  // namespace vora::attributes
