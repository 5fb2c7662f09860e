// _ListAttribute: a list setting rendered as its comma-separated items.
// (Shell: base, table and docstring; behaviour to come.)
#include "vora/core/attribute_shape.hpp"

namespace vora::attributes {

namespace {

struct ListAttribute {
    core::ListPropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;

    static PyTypeObject type;
    static AttributeTable table;
    static constexpr auto object_fields = std::tuple{&ListAttribute::attrtype, &ListAttribute::attrname};
    static constexpr auto gc_fields = std::tuple{};
    static int set_defaults(ListAttribute* self)
    {
        set_field(self->attrtype, Ref::borrow(str::empty));
        set_field(self->attrname, Ref::borrow(str::empty));
        return 0;
    }
    static PyObject* render(PyObject*, PyObject*)
    {
        PyErr_SetString(PyExc_NotImplementedError, "_ListAttribute.attrvalue");
        return nullptr;
    }
};

PyGetSetDef ListAttribute_getset[] = {
    sync_member<ListAttribute>(),
    attrname_member<ListAttribute>(),
    object_member<ListAttribute, &ListAttribute::attrtype>("attrtype"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char ListAttribute_doc[] =
    "List html attribute class which returns comma separated list of values as strings.\n"
    "\n"
    "    :Parameters:\n"
    "        `defaultvalue`: list, defaults to []\n"
    "        Specifies the default value of the attribute.\n"
    "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
    "        `sync`: boolean, relevant for element attributes only, class and style attributes\n"
    "        are always synced. If true the update event is sent to the client when the attribute value is updated.\n"
    "    ";

void ListAttribute_fill_table()
{
    ListAttribute::table.base = *g.list_property_table;
    ListAttribute::table.attrvalue = attrvalue_entry<ListAttribute>;
}


}  // namespace

AttributeTable ListAttribute::table;
PyTypeObject ListAttribute::type = make_attribute_type<ListAttribute>(
    "vora.core._attributes._ListAttribute", ListAttribute_doc, ListAttribute_getset, nullptr);

extern const AttributeTypeInfo list_attribute_info = {
    &ListAttribute::type, "_ListAttribute", Base::list, ListAttribute_fill_table, &ListAttribute::table, ListAttribute::render, nullptr,
};

}  // namespace vora::attributes
