// _VariableListAttribute: one, two or four CSS lengths expanded to the
// property's length (margin, padding).
// (Shell: base, table and docstring; behaviour to come.)
#include "vora/core/attribute_shape.hpp"

namespace vora::attributes {

namespace {

struct VariableListAttributeTable {
    core::PropertyTable base;         // 0-15
    core::ConvertFn convert_numeric;        // 16
    AttrvalueFn attrvalue;            // 17
};

struct VariableListAttribute {
    core::VariableListPropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;

    static PyTypeObject type;
    static VariableListAttributeTable table;
    static constexpr auto object_fields = std::tuple{&VariableListAttribute::attrtype, &VariableListAttribute::attrname};
    static constexpr auto gc_fields = std::tuple{};
    static int set_defaults(VariableListAttribute* self)
    {
        set_field(self->attrtype, Ref::borrow(str::empty));
        set_field(self->attrname, Ref::borrow(str::empty));
        return 0;
    }
    static PyObject* render(PyObject*, PyObject*)
    {
        PyErr_SetString(PyExc_NotImplementedError, "_VariableListAttribute.attrvalue");
        return nullptr;
    }
};

PyGetSetDef VariableListAttribute_getset[] = {
    sync_member<VariableListAttribute>(),
    attrname_member<VariableListAttribute>(),
    object_member<VariableListAttribute, &VariableListAttribute::attrtype>("attrtype"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char VariableListAttribute_doc[] =
    "A ListAttribute that allows you to work with a variable number of\n"
    "    list items and to expand them to the desired list size.\n"
    "\n"
    "    For example, style attributes like `margin` or `padding` can accept one numeric value\n"
    "    which was applied equally to the left, top, right and bottom.\n"
    "    Now padding or margin can be given one, two or four values, which are\n"
    "    expanded into a length four list [left, top, right, bottom] and stored\n"
    "    in the attribute.\n"
    "\n"
    "    :Parameters:\n"
    "        `defaultvalue`: list, defaults to []\n"
    "        Specifies the default value of the attribute.\n"
    "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
    "        `sync`: boolean, relevant for element attributes only, class and style attributes\n"
    "        are always synced. If true the update event is sent to the client when the attribute value is updated.\n"
    "        `options`: list of strings, other possible values which are accepted by the attribute instance\n"
    "        For example some numeric attributes can accept also string values like `inherit`.\n"
    "    ";

void VariableListAttribute_fill_table()
{
    VariableListAttribute::table.base = *g.variable_list_property_table;
    VariableListAttribute::table.attrvalue = attrvalue_entry<VariableListAttribute>;
}


}  // namespace

VariableListAttributeTable VariableListAttribute::table;
PyTypeObject VariableListAttribute::type = make_attribute_type<VariableListAttribute>(
    "vora.core._attributes._VariableListAttribute", VariableListAttribute_doc, VariableListAttribute_getset, nullptr);

extern const AttributeTypeInfo variable_list_attribute_info = {
    &VariableListAttribute::type, "_VariableListAttribute", Base::variable_list, VariableListAttribute_fill_table, &VariableListAttribute::table, VariableListAttribute::render, nullptr,
};

}  // namespace vora::attributes
