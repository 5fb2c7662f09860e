// _ColorAttribute: an RGB or RGBA colour rendered as a CSS colour function or
// as components normalised to 0-1.
// (Shell: base, table and docstring; behaviour to come.)
#include "vora/core/attribute_shape.hpp"

namespace vora::attributes {

namespace {

struct ColorAttributeTable {
    core::PropertyTable base;         // 0-15
    AttrvalueFn attrvalue;            // 16
    core::ConvertFn parse_str;              // 17
};

struct ColorAttribute {
    core::PropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;

    static PyTypeObject type;
    static ColorAttributeTable table;
    static constexpr auto object_fields = std::tuple{&ColorAttribute::attrtype, &ColorAttribute::attrname};
    static constexpr auto gc_fields = std::tuple{};
    static int set_defaults(ColorAttribute* self)
    {
        set_field(self->attrtype, Ref::borrow(str::empty));
        set_field(self->attrname, Ref::borrow(str::empty));
        return 0;
    }
    static PyObject* render(PyObject*, PyObject*)
    {
        PyErr_SetString(PyExc_NotImplementedError, "_ColorAttribute.attrvalue");
        return nullptr;
    }
};

PyGetSetDef ColorAttribute_getset[] = {
    sync_member<ColorAttribute>(),
    attrname_member<ColorAttribute>(),
    object_member<ColorAttribute, &ColorAttribute::attrtype>("attrtype"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char ColorAttribute_doc[] =
    "A ListAttribute with 3 or 4 elements with RGB or RGBA color values.\n"
    "\n"
    "    :Parameters:\n"
    "        `defaultvalue`: list, defaults to None\n"
    "        Specifies the default value of the attribute.\n"
    "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
    "        `sync`: boolean, relevant for element attributes only, class and style attributes\n"
    "        are always synced. If true the update event is sent to the client when the attribute value is updated.\n"
    "        `options`: list of strings, other possible values which are accepted by the attribute instance\n"
    "        For example some numeric attributes can accept also string values like `inherit`.\n"
    "        'format': 'css' or empty string (default). If format is 'css', the color value will be converted to the proper\n"
    "        css color attribute (with `rgb` or `rgba` prefix)\n"
    "    ";

void ColorAttribute_fill_table()
{
    ColorAttribute::table.base = *g.property_table;
    ColorAttribute::table.attrvalue = attrvalue_entry<ColorAttribute>;
}


}  // namespace

ColorAttributeTable ColorAttribute::table;
PyTypeObject ColorAttribute::type = make_attribute_type<ColorAttribute>(
    "vora.core._attributes._ColorAttribute", ColorAttribute_doc, ColorAttribute_getset, nullptr);

extern const AttributeTypeInfo color_attribute_info = {
    &ColorAttribute::type, "_ColorAttribute", Base::property, ColorAttribute_fill_table, &ColorAttribute::table, ColorAttribute::render, nullptr,
};

}  // namespace vora::attributes
