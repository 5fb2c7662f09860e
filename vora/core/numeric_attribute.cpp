// _NumericAttribute and _BoundedNumericAttribute: numbers with an optional CSS
// unit, the second bounded by a minimum and a maximum.
// (Shell: base, table and docstring; behaviour to come.)
#include "vora/core/attribute_shape.hpp"

namespace vora::attributes {

namespace {

struct NumericAttributeTable {
    core::NumericPropertyTable base;  // 0-17
    AttrvalueFn attrvalue;            // 18
};

struct NumericAttribute {
    core::NumericPropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;

    static PyTypeObject type;
    static NumericAttributeTable table;
    static constexpr auto object_fields = std::tuple{&NumericAttribute::attrtype, &NumericAttribute::attrname};
    static constexpr auto gc_fields = std::tuple{};
    static int set_defaults(NumericAttribute* self)
    {
        set_field(self->attrtype, Ref::borrow(str::empty));
        set_field(self->attrname, Ref::borrow(str::empty));
        return 0;
    }
    static PyObject* render(PyObject*, PyObject*)
    {
        PyErr_SetString(PyExc_NotImplementedError, "_NumericAttribute.attrvalue");
        return nullptr;
    }
};

PyGetSetDef NumericAttribute_getset[] = {
    sync_member<NumericAttribute>(),
    attrname_member<NumericAttribute>(),
    object_member<NumericAttribute, &NumericAttribute::attrtype>("attrtype"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char NumericAttribute_doc[] =
    "Html attribute class with a numeric value.\n"
    "\n"
    "    :Parameters:\n"
    "        `defaultvalue`: numeric, defaults to 0.0\n"
    "        Specifies the default value of the attribute.\n"
    "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
    "        `sync`: boolean, relevant for element attributes only, class and style attributes\n"
    "        are always synced. If true the update event is sent to the client when the attribute value is updated.\n"
    "        `options`: list of strings, other possible values which are accepted by the attribute instance.\n"
    "        For example some numeric attributes can accept also string values like `inherit`\n"
    "        `units`: valid CSS metric default units: 'px', 'mm', '%', etc. or empty\n"
    "    ";

void NumericAttribute_fill_table()
{
    NumericAttribute::table.base = *g.numeric_property_table;
    NumericAttribute::table.attrvalue = attrvalue_entry<NumericAttribute>;
}


struct BoundedNumericAttribute {
    core::BoundedNumericPropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;

    static PyTypeObject type;
    static NumericAttributeTable table;
    static constexpr auto object_fields = std::tuple{&BoundedNumericAttribute::attrtype, &BoundedNumericAttribute::attrname};
    static constexpr auto gc_fields = std::tuple{};
    static int set_defaults(BoundedNumericAttribute* self)
    {
        set_field(self->attrtype, Ref::borrow(str::empty));
        set_field(self->attrname, Ref::borrow(str::empty));
        return 0;
    }
    static PyObject* render(PyObject*, PyObject*)
    {
        PyErr_SetString(PyExc_NotImplementedError, "_BoundedNumericAttribute.attrvalue");
        return nullptr;
    }
};

PyGetSetDef BoundedNumericAttribute_getset[] = {
    sync_member<BoundedNumericAttribute>(),
    attrname_member<BoundedNumericAttribute>(),
    object_member<BoundedNumericAttribute, &BoundedNumericAttribute::attrtype>("attrtype"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char BoundedNumericAttribute_doc[] =
    "Html attribute class with a bounded numeric value.\n"
    "\n"
    "    :Parameters:\n"
    "        `defaultvalue`: numeric, defaults to 0.0\n"
    "        Specifies the default value of the attribute.\n"
    "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
    "        `sync`: boolean, relevant for element attributes only, class and style attributes\n"
    "        are always synced. If true the update event is sent to the client when the attribute value is updated.\n"
    "        `options`: list of strings, other possible values which are accepted by the attribute instance.\n"
    "        For example some numeric attributes can accept also string values like `inherit`\n"
    "        `min`: accepted minimum value\n"
    "        `max`: accepted maximum value\n"
    "\n"
    "    ";

void BoundedNumericAttribute_fill_table()
{
    BoundedNumericAttribute::table.base = *g.bounded_numeric_property_table;
    BoundedNumericAttribute::table.attrvalue = attrvalue_entry<BoundedNumericAttribute>;
}


}  // namespace

NumericAttributeTable NumericAttribute::table;
PyTypeObject NumericAttribute::type = make_attribute_type<NumericAttribute>(
    "vora.core._attributes._NumericAttribute", NumericAttribute_doc, NumericAttribute_getset, nullptr);

extern const AttributeTypeInfo numeric_attribute_info = {
    &NumericAttribute::type, "_NumericAttribute", Base::numeric, NumericAttribute_fill_table, &NumericAttribute::table, NumericAttribute::render, nullptr,
};

NumericAttributeTable BoundedNumericAttribute::table;
PyTypeObject BoundedNumericAttribute::type = make_attribute_type<BoundedNumericAttribute>(
    "vora.core._attributes._BoundedNumericAttribute", BoundedNumericAttribute_doc, BoundedNumericAttribute_getset, nullptr);

extern const AttributeTypeInfo bounded_numeric_attribute_info = {
    &BoundedNumericAttribute::type, "_BoundedNumericAttribute", Base::bounded_numeric, BoundedNumericAttribute_fill_table, &BoundedNumericAttribute::table, BoundedNumericAttribute::render, nullptr,
};

}  // namespace vora::attributes
