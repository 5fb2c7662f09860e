// _GenericEventAttribute: an event attribute such as onclick, switched on and
// off by its value and rendered by its handler.
// (Shell: base, table and docstring; behaviour to come.)
#include "vora/core/attribute_shape.hpp"

namespace vora::attributes {

namespace {

struct GenericEventAttribute {
    core::BooleanPropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;

    static PyTypeObject type;
    static AttributeTable table;
    static constexpr auto object_fields = std::tuple{&GenericEventAttribute::attrtype, &GenericEventAttribute::attrname};
    static constexpr auto gc_fields = std::tuple{};
    static int set_defaults(GenericEventAttribute* self)
    {
        set_field(self->attrtype, Ref::borrow(str::empty));
        set_field(self->attrname, Ref::borrow(str::empty));
        return 0;
    }
    static PyObject* render(PyObject*, PyObject*)
    {
        PyErr_SetString(PyExc_NotImplementedError, "_GenericEventAttribute.attrvalue");
        return nullptr;
    }
};

PyGetSetDef GenericEventAttribute_getset[] = {
    sync_member<GenericEventAttribute>(),
    attrname_member<GenericEventAttribute>(),
    object_member<GenericEventAttribute, &GenericEventAttribute::attrtype>("attrtype"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char GenericEventAttribute_doc[] =
    "An event attribute class like `onclick` for the button input element.\n"
    "    Event attributes can be activated/deactivated  by setting them to True/False.\n"
    "\n"
    "    :Parameters:\n"
    "        `defaultvalue`: string, defaults to ''\n"
    "        Specifies the default value of the attribute.\n"
    "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
    "        `sync`: boolean, relevant for element attributes only, class and style attributes\n"
    "        are always synced. If true the update event is sent to the client when the attribute value is updated.\n"
    "        `remdispatch`: boolean, if True, prevents dispatching of the client event\n"
    "        `event_handler`: callable, which returns handler javascript code.\n"
    "        `event_args`: dictionary with event arguments\n"
    "        'event_js': string with javascript code to be called when event is activated\n"
    "    ";

void GenericEventAttribute_fill_table()
{
    GenericEventAttribute::table.base = *g.boolean_property_table;
    GenericEventAttribute::table.attrvalue = attrvalue_entry<GenericEventAttribute>;
}


}  // namespace

AttributeTable GenericEventAttribute::table;
PyTypeObject GenericEventAttribute::type = make_attribute_type<GenericEventAttribute>(
    "vora.core._attributes._GenericEventAttribute", GenericEventAttribute_doc, GenericEventAttribute_getset, nullptr);

extern const AttributeTypeInfo event_attribute_info = {
    &GenericEventAttribute::type, "_GenericEventAttribute", Base::boolean, GenericEventAttribute_fill_table, &GenericEventAttribute::table, GenericEventAttribute::render, nullptr,
};

}  // namespace vora::attributes
