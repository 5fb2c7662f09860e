// _BooleanAttribute and _LogicalAttribute: truth values rendered as a bare
// attribute name, or as the words true and false.
// (Shell: base, table and docstring; behaviour to come.)
#include "vora/core/attribute_shape.hpp"

namespace vora::attributes {

namespace {

struct BooleanAttribute {
    core::BooleanPropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;

    static PyTypeObject type;
    static AttributeTable table;
    static constexpr auto object_fields = std::tuple{&BooleanAttribute::attrtype, &BooleanAttribute::attrname};
    static constexpr auto gc_fields = std::tuple{};
    static int set_defaults(BooleanAttribute* self)
    {
        set_field(self->attrtype, Ref::borrow(str::empty));
        set_field(self->attrname, Ref::borrow(str::empty));
        return 0;
    }
    static PyObject* render(PyObject*, PyObject*)
    {
        PyErr_SetString(PyExc_NotImplementedError, "_BooleanAttribute.attrvalue");
        return nullptr;
    }
};

PyGetSetDef BooleanAttribute_getset[] = {
    sync_member<BooleanAttribute>(),
    attrname_member<BooleanAttribute>(),
    object_member<BooleanAttribute, &BooleanAttribute::attrtype>("attrtype"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char BooleanAttribute_doc[] =
    "Boolean Html attribute class which returns `attrname` as the\n"
    "         return value when its true and empty string when its false.\n"
    "\n"
    "    :Parameters:\n"
    "        `defaultvalue`: boolean, defaults to false\n"
    "        Specifies the default value of the attribute.\n"
    "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
    "        `sync`: boolean, relevant for element attributes only, class and style attributes\n"
    "        are always synced. If true the update event is sent to the client when the attribute value is updated.\n"
    "    ";

void BooleanAttribute_fill_table()
{
    BooleanAttribute::table.base = *g.boolean_property_table;
    BooleanAttribute::table.attrvalue = attrvalue_entry<BooleanAttribute>;
}


struct LogicalAttribute {
    core::BooleanPropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;

    static PyTypeObject type;
    static AttributeTable table;
    static constexpr auto object_fields = std::tuple{&LogicalAttribute::attrtype, &LogicalAttribute::attrname};
    static constexpr auto gc_fields = std::tuple{};
    static int set_defaults(LogicalAttribute* self)
    {
        set_field(self->attrtype, Ref::borrow(str::empty));
        set_field(self->attrname, Ref::borrow(str::empty));
        return 0;
    }
    static PyObject* render(PyObject*, PyObject*)
    {
        PyErr_SetString(PyExc_NotImplementedError, "_LogicalAttribute.attrvalue");
        return nullptr;
    }
};

PyGetSetDef LogicalAttribute_getset[] = {
    sync_member<LogicalAttribute>(),
    attrname_member<LogicalAttribute>(),
    object_member<LogicalAttribute, &LogicalAttribute::attrtype>("attrtype"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char LogicalAttribute_doc[] =
    "Logical html attribute class which returns 'true' or 'false' as string type and empty string when it is None.\n"
    "\n"
    "    :Parameters:\n"
    "        `defaultvalue`: boolean, defaults to False\n"
    "        Specifies the default value of the attribute.\n"
    "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
    "        `sync`: boolean, relevant for element attributes only, class and style attributes\n"
    "        are always synced. If true the update event is sent to the client when the attribute value is updated.\n"
    "    ";

void LogicalAttribute_fill_table()
{
    LogicalAttribute::table.base = *g.boolean_property_table;
    LogicalAttribute::table.attrvalue = attrvalue_entry<LogicalAttribute>;
}


}  // namespace

AttributeTable BooleanAttribute::table;
PyTypeObject BooleanAttribute::type = make_attribute_type<BooleanAttribute>(
    "vora.core._attributes._BooleanAttribute", BooleanAttribute_doc, BooleanAttribute_getset, nullptr);

extern const AttributeTypeInfo boolean_attribute_info = {
    &BooleanAttribute::type, "_BooleanAttribute", Base::boolean, BooleanAttribute_fill_table, &BooleanAttribute::table, BooleanAttribute::render, nullptr,
};

AttributeTable LogicalAttribute::table;
PyTypeObject LogicalAttribute::type = make_attribute_type<LogicalAttribute>(
    "vora.core._attributes._LogicalAttribute", LogicalAttribute_doc, LogicalAttribute_getset, nullptr);

extern const AttributeTypeInfo logical_attribute_info = {
    &LogicalAttribute::type, "_LogicalAttribute", Base::boolean, LogicalAttribute_fill_table, &LogicalAttribute::table, LogicalAttribute::render, nullptr,
};

}  // namespace vora::attributes
