// Properties of single values: BooleanProperty, StringProperty,
// ObjectProperty, OptionProperty and ColorProperty.
#include "framework/native_type.hpp"
#include "framework/properties.hpp"

namespace vora::framework {

using core::ObjectPropertyRecord;
using core::OptionPropertyRecord;

PropertyTable boolean_property_table;
PropertyTable string_property_table;
PropertyTable object_property_table;
PropertyTable option_property_table;
PropertyTable color_property_table;

namespace {

// The check of every type here: Property's first (None when allowed), then
// the type's own test `accepts` (1 yes, 0 no, -1 error), refusing with
// "<Class>.<name>" + text.
template <int (*accepts)(PyObject* self, PyObject* value)>
PyObject* checked_by(PyObject* self, PyObject* obj, PyObject* value, const char* text)
{
    Ref base = Ref::steal(Property_check(self, obj, value));
    if (!base || base.get() == Py_True)
        return base.release();
    int ok = accepts(self, value);
    if (ok < 0)
        return nullptr;
    if (!ok) {
        raise_for(PyExc_ValueError, self, obj, text, value);
        return nullptr;
    }
    Py_RETURN_TRUE;
}

// Sets the default value, or `fallback` when the caller gave none.
int init_with_default(PyObject* self, PyObject* args, PyObject* kwds, PyObject* fallback,
                      Ref* kwargs)
{
    Ref defaultvalue;
    if (property_init_common(self, args, kwds, &defaultvalue, kwargs) < 0)
        return -1;
    set_field(prop(self)->defaultvalue,
              defaultvalue ? std::move(defaultvalue) : Ref::borrow(fallback));
    return 0;
}

// ---------------------------------------------------------------- Boolean

int is_bool(PyObject*, PyObject* value)
{
    return PyBool_Check(value);
}

PyObject* BooleanProperty_check(PyObject* self, PyObject* obj, PyObject* value)
{
    return checked_by<is_bool>(self, obj, value, " accept only bool (got ");
}

// 0 and 1 are the switch values written as ints.
PyObject* BooleanProperty_convert(PyObject*, PyObject*, PyObject* value)
{
    if (PyLong_CheckExact(value)) {
        int overflow;
        long n = PyLong_AsLongAndOverflow(value, &overflow);
        if (!overflow && (n == 0 || n == 1))
            return PyBool_FromLong(n);
    }
    return Py_NewRef(value);
}

int BooleanProperty_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    Ref kwargs;
    return init_with_default(self, args, kwds, Py_False, &kwargs);
}

// ----------------------------------------------------------------- String

int is_str(PyObject*, PyObject* value)
{
    return PyUnicode_Check(value);
}

PyObject* StringProperty_check(PyObject* self, PyObject* obj, PyObject* value)
{
    return checked_by<is_str>(self, obj, value, " accept only str (got ");
}

int StringProperty_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    Ref kwargs;
    return init_with_default(self, args, kwds, g_state.str_empty, &kwargs);
}

// ----------------------------------------------------------------- Object

ObjectPropertyRecord* object(PyObject* self)
{
    return reinterpret_cast<ObjectPropertyRecord*>(self);
}

int is_instance(PyObject* self, PyObject* value)
{
    // Held: isinstance may run a metaclass's __instancecheck__.
    Ref baseclass = Ref::borrow(object(self)->baseclass);
    if (baseclass.get() == Py_None)
        return 1;
    return PyObject_IsInstance(value, baseclass.get());
}

PyObject* ObjectProperty_check(PyObject* self, PyObject* obj, PyObject* value)
{
    return checked_by<is_instance>(self, obj, value, " is not an instance of its baseclass (got ");
}

PyObject* ObjectProperty_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    PyObject* self = plain_new<&object_property_table>(type, args, kwds);
    if (self)
        object(self)->baseclass = Py_NewRef(Py_None);
    return self;
}

int ObjectProperty_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    Ref kwargs;
    if (init_with_default(self, args, kwds, Py_None, &kwargs) < 0)
        return -1;
    Ref baseclass = dict_get_or(kwargs.get(), "baseclass", Py_None);
    if (!baseclass)
        return -1;
    set_field(object(self)->baseclass, std::move(baseclass));
    return 0;
}

PyObject* ObjectProperty_get_baseclass(PyObject* self, void*)
{
    return Py_NewRef(object(self)->baseclass);
}

PyGetSetDef ObjectProperty_getset[] = {
    {"baseclass", ObjectProperty_get_baseclass, nullptr, "Required class of values, or None.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ----------------------------------------------------------------- Option

OptionPropertyRecord* option(PyObject* self)
{
    return reinterpret_cast<OptionPropertyRecord*>(self);
}

int is_option(PyObject* self, PyObject* value)
{
    Ref options = Ref::borrow(option(self)->options);
    return PySequence_Contains(options.get(), value);
}

PyObject* OptionProperty_check(PyObject* self, PyObject* obj, PyObject* value)
{
    return checked_by<is_option>(self, obj, value, " is set to an invalid option (got ");
}

PyObject* OptionProperty_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    PyObject* self = plain_new<&option_property_table>(type, args, kwds);
    if (!self)
        return nullptr;
    option(self)->options = PyList_New(0);
    if (!option(self)->options)
        Py_CLEAR(self);
    return self;
}

int OptionProperty_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    Ref kwargs;
    if (init_with_default(self, args, kwds, Py_None, &kwargs) < 0)
        return -1;
    Ref given = dict_get_or(kwargs.get(), "options", Py_None);
    if (!given)
        return -1;
    Ref options = Ref::steal(given.get() == Py_None ? PyList_New(0)
                                                    : PySequence_List(given.get()));
    if (!options)
        return -1;
    set_field(option(self)->options, std::move(options));
    return 0;
}

PyObject* OptionProperty_get_options(PyObject* self, void*)
{
    return Py_NewRef(option(self)->options);
}

PyGetSetDef OptionProperty_getset[] = {
    {"options", OptionProperty_get_options, nullptr, "The accepted values.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ------------------------------------------------------------------ Color

// vora.core.utils.get_color_from_hex_255, imported on first use: the
// utilities are Python and import nothing from here.
PyObject* hex_parser()
{
    static PyObject* parser = nullptr;
    if (!parser) {
        Ref utils = Ref::steal(PyImport_ImportModule("vora.core.utils"));
        if (!utils)
            return nullptr;
        parser = PyObject_GetAttrString(utils.get(), "get_color_from_hex_255");
    }
    return parser;
}

// [r, g, b, a] on 0-1 from components on `scale` (alpha is always 0-1).
Ref color_list(PyObject* components, double scale)
{
    Py_ssize_t n = PySequence_Fast_GET_SIZE(components);
    Ref result = Ref::steal(PyList_New(4));
    if (!result)
        return Ref();
    for (Py_ssize_t i = 0; i < 4; ++i) {
        double c = 1.0;
        if (i < n) {
            PyObject* item = PySequence_Fast_GET_ITEM(components, i);
            if (PyBool_Check(item) || !(PyLong_Check(item) || PyFloat_Check(item)))
                return Ref();
            c = PyFloat_AsDouble(item);
            if (c == -1.0 && PyErr_Occurred())
                return Ref();
            if (i < 3)
                c /= scale;
        }
        PyObject* f = PyFloat_FromDouble(c);
        if (!f)
            return Ref();
        PyList_SET_ITEM(result.get(), i, f);
    }
    return result;
}

PyObject* ColorProperty_convert(PyObject* self, PyObject* obj, PyObject* value)
{
    if (value == Py_None)
        Py_RETURN_NONE;
    Ref components;
    double scale = 1.0;
    if (PyUnicode_Check(value)) {
        PyObject* parser = hex_parser();
        if (!parser)
            return nullptr;
        components = Ref::steal(PyObject_CallOneArg(parser, value));
        if (!components)
            return nullptr;
        scale = 255.0;
    } else if (PyList_CheckExact(value) || PyTuple_CheckExact(value)) {
        components = Ref::steal(PySequence_Tuple(value));
        if (!components)
            return nullptr;
    }
    if (components && PySequence_Check(components.get())) {
        Ref fast = Ref::steal(PySequence_Fast(components.get(), "components"));
        if (!fast)
            return nullptr;
        Py_ssize_t n = PySequence_Fast_GET_SIZE(fast.get());
        if (n == 3 || n == 4) {
            Ref color = color_list(fast.get(), scale);
            if (color || PyErr_Occurred())
                return color.release();
        }
    }
    raise_for(PyExc_ValueError, self, obj, " has an invalid format (got ", value);
    return nullptr;
}

int ColorProperty_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    Ref kwargs;
    Ref white = Ref::steal(Py_BuildValue("[dddd]", 1.0, 1.0, 1.0, 1.0));
    if (!white)
        return -1;
    return init_with_default(self, args, kwds, white.get(), &kwargs);
}

using ObjectChain = Chained<ObjectPropertyRecord, &Property_Type, &ObjectPropertyRecord::baseclass>;
using OptionChain = Chained<OptionPropertyRecord, &Property_Type, &OptionPropertyRecord::options>;

}  // namespace

void fill_value_tables()
{
    boolean_property_table = property_table;
    boolean_property_table.check = BooleanProperty_check;
    boolean_property_table.convert = BooleanProperty_convert;

    string_property_table = property_table;
    string_property_table.check = StringProperty_check;

    object_property_table = property_table;
    object_property_table.check = ObjectProperty_check;

    option_property_table = property_table;
    option_property_table.check = OptionProperty_check;

    color_property_table = property_table;
    color_property_table.convert = ColorProperty_convert;
}

PyTypeObject BooleanProperty_Type = Chained<core::BooleanPropertyRecord, &Property_Type>::type(
    "vora.core.properties.BooleanProperty",
    "BooleanProperty(defaultvalue=False, **kwargs)\n--\n\n"
    "True or False; the ints 0 and 1 are taken as False and True.",
    {.new_ = plain_new<&boolean_property_table>, .init = BooleanProperty_init});

PyTypeObject StringProperty_Type = Chained<core::StringPropertyRecord, &Property_Type>::type(
    "vora.core.properties.StringProperty",
    "StringProperty(defaultvalue='', **kwargs)\n--\n\nA str.",
    {.new_ = plain_new<&string_property_table>, .init = StringProperty_init});

PyTypeObject ObjectProperty_Type = ObjectChain::type(
    "vora.core.properties.ObjectProperty",
    "ObjectProperty(defaultvalue=None, *, baseclass=None, **kwargs)\n"
    "--\n\nAny object, or an instance of baseclass when given.",
    {.new_ = ObjectProperty_new, .init = ObjectProperty_init, .getset = ObjectProperty_getset});

PyTypeObject OptionProperty_Type = OptionChain::type(
    "vora.core.properties.OptionProperty",
    "OptionProperty(defaultvalue=None, *, options=(), **kwargs)\n"
    "--\n\nOne of the values in options.",
    {.new_ = OptionProperty_new, .init = OptionProperty_init, .getset = OptionProperty_getset});

PyTypeObject ColorProperty_Type = Chained<core::ColorPropertyRecord, &Property_Type>::type(
    "vora.core.properties.ColorProperty",
    "ColorProperty(defaultvalue=[1.0, 1.0, 1.0, 1.0], **kwargs)\n--\n\n"
    "A colour as [r, g, b, a] on 0-1, from 3 or 4 components or hex text.",
    {.new_ = plain_new<&color_property_table>, .init = ColorProperty_init});

}  // namespace vora::framework
