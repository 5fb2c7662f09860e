// _ColorAttribute: an RGB or RGBA colour rendered as a CSS colour function or
// as components normalised to 0-1.
#include "common/args.hpp"
#include "common/numbers.hpp"
#include "vora/core/attribute_type.hpp"
#include "vora/core/docstring.hpp"
#include "vora/core/keywords.hpp"
#include "vora/core/lookups.hpp"
#include "vora/core/messages.hpp"
#include "vora/core/options.hpp"

namespace vora::attributes {

namespace {

struct ColorAttribute {
    core::PropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;
    PyObject* format;
    PyObject* options;

    static PyTypeObject type;
    static inline ColorAttributeTable table{};
    static constexpr Base base_kind = Base::property;
    static constexpr auto object_fields =
        std::tuple{&ColorAttribute::format, &ColorAttribute::options};
    // format is an exact str or None: nothing for the collector.
    static constexpr auto gc_fields = std::tuple{&ColorAttribute::options};
    static int set_defaults(ColorAttribute* self);
    static int init(PyObject* self, PyObject* args, PyObject* kwds);
    static PyObject* parse_str(PyObject* self, PyObject* obj, PyObject* value);
    static constexpr auto convert = convert_with_options<ColorAttribute>;
    static PyObject* convert_unlisted(PyObject* self, PyObject* obj, PyObject* value);
    static PyObject* render(PyObject* self, PyObject* obj);
};

PyObject* str_format;
PyObject* str_css;
PyObject* str_get_color;
const StringSpec strings[] = {
    {&str_format, "format"},
    {&str_css, "css"},
    {&str_get_color, "get_color_from_hex_255"},
    {nullptr, nullptr},
};

ColorAttribute* record(PyObject* self)
{
    return reinterpret_cast<ColorAttribute*>(self);
}

int ColorAttribute::set_defaults(ColorAttribute* self)
{
    set_field(self->format, Ref::borrow(str_empty));
    return 0;
}

// ---------------------------------------------------------------- __init__

const char* const init_params[] = {"defaultvalue"};
const Signature init_signature{"__init__", init_params, 1, 0, true};

int ColorAttribute::init(PyObject* o, PyObject* args, PyObject* kwds)
{
    ColorAttribute* self = record(o);
    Ref defaultvalue;
    Ref kwargs;
    if (parse_tuple_dict(init_signature, args, kwds, &defaultvalue, &kwargs) < 0)
        return -1;
    if (!defaultvalue)
        defaultvalue = Ref::borrow(Py_None);
    if (take_str_keyword(kwargs.get(), str_attrtype, self->attrtype) < 0 ||
        take_str_keyword(kwargs.get(), str_attrname, self->attrname) < 0 ||
        take_str_keyword(kwargs.get(), str_format, self->format) < 0 ||
        take_sync_keyword(kwargs.get(), self->sync) < 0 ||
        take_list_keyword(kwargs.get(), str_options, self->options) < 0 ||
        force_allownone(kwargs.get()) < 0)
        return -1;
    return call_base_init_with(&ColorAttribute::type, o, defaultvalue.get(), kwargs.get());
}

// ------------------------------------------------------- native table entries

PyObject* ColorAttribute::parse_str(PyObject*, PyObject*, PyObject* value)
{
    // Looked up at each call, so that replacing the module's name takes effect.
    Ref parse = module_global(str_get_color);
    if (!parse)
        return nullptr;
    Ref color = Ref::steal(PyObject_CallOneArg(parse.get(), value));
    if (!color)
        return nullptr;
    if (color.get() != Py_None && !PyList_CheckExact(color.get()))
        return raise_expected("list", color.get());
    return color.release();
}

PyObject* ColorAttribute::convert_unlisted(PyObject* self, PyObject* obj, PyObject* value)
{
    if (PyList_CheckExact(value) || PyTuple_CheckExact(value)) {
        Py_ssize_t n = Py_SIZE(value);
        if (n != 3 && n != 4)
            return raise_value_error(owner_message_repr(
                self, obj, " must have 3 or 4 components (got ", value, ")"));
        return PySequence_List(value);
    }
    if (PyUnicode_Check(value))
        return table_of<ColorAttributeTable>(self)->parse_str(self, obj, value);
    return raise_value_error(
        owner_message_repr(self, obj, " has an invalid format (got ", value, ")"));
}

// ---------------------------------------------------------------- rendering

// repr(k / 255) for the usual components k from 0 to 255, made once at load
// (in whatever floating-point environment the importer has: the quotients
// are the default one's, as at render).
struct Quotient {
    char text[number_chars];
    unsigned char size;
};
Quotient quotients[256];

int make_quotients()
{
    for (int k = 0; k < 256; ++k) {
        char* end = write_double(nearest_quotient(k, 255.0), quotients[k].text);
        if (!end)
            return -1;
        quotients[k].size = static_cast<unsigned char>(end - quotients[k].text);
    }
    return 0;
}

// Appends format(x, ""); ints and floats without a detour through objects.
// May run Python code (a component's __format__).
[[gnu::always_inline]] inline int append_formatted(TextBuilder& out, PyObject* x)
{
    int written = append_number(out, x);
    if (written != 0)
        return written < 0 ? -1 : 0;
    Ref text = Ref::steal(PyObject_Format(x, str_empty));
    return text ? out.append(text.get()) : -1;
}

int append_double(TextBuilder& out, double d)
{
    char text[number_chars];
    char* end = write_double(d, text);
    return end ? out.append_ascii(text, end - text) : -1;
}

// A component of the normalised form: value[i] / 255 as a native double when
// the division is exact in doubles (as the interpreter's own fast path is),
// rounded to nearest in any floating-point environment (the interpreter's
// division follows the caller's rounding mode; the markup does not), or as
// the quotient object; the alpha component is kept as it is.
struct Component {
    enum Kind { object, real, quotient } kind = object;
    Ref value;
    double d = 0;
    int k = 0;

    int write(TextBuilder& out) const
    {
        switch (kind) {
        case quotient:
            return out.append_ascii(quotients[k].text, quotients[k].size);
        case real:
            return append_double(out, d);
        case object:
            break;
        }
        return append_formatted(out, value.get());
    }
};

constexpr long exact_in_double = 1L << 53;

int divide_by_255(Ref item, Component& out)
{
    PyObject* x = item.get();
    if (PyLong_CheckExact(x)) {
        int overflow;
        long v = PyLong_AsLongAndOverflow(x, &overflow);
        if (!overflow && v >= 0 && v <= 255) [[likely]] {
            out.kind = Component::quotient;
            out.k = static_cast<int>(v);
            return 0;
        }
        if (!overflow && v <= exact_in_double && v >= -exact_in_double) {
            out.kind = Component::real;
            out.d = nearest_quotient(static_cast<double>(v), 255.0);
            return 0;
        }
    } else if (PyFloat_CheckExact(x)) {
        out.kind = Component::real;
        out.d = nearest_quotient(PyFloat_AS_DOUBLE(x), 255.0);
        return 0;
    }
    Ref divisor = Ref::steal(PyLong_FromLong(255));
    if (!divisor)
        return -1;
    out.value = Ref::steal(PyNumber_TrueDivide(x, divisor.get()));
    return out.value ? 0 : -1;
}

// value[i], as Python indexing does it.
Ref item_at(PyObject* value, Py_ssize_t i)
{
    if (PyList_CheckExact(value)) {
        if (i < PyList_GET_SIZE(value))
            return Ref::borrow(PyList_GET_ITEM(value, i));
        PyErr_SetString(PyExc_IndexError, "list index out of range");
        return Ref();
    }
    if (PyTuple_CheckExact(value)) {
        if (i < PyTuple_GET_SIZE(value))
            return Ref::borrow(PyTuple_GET_ITEM(value, i));
        PyErr_SetString(PyExc_IndexError, "tuple index out of range");
        return Ref();
    }
    Ref index = Ref::steal(PyLong_FromSsize_t(i));
    return index ? Ref::steal(PyObject_GetItem(value, index.get())) : Ref();
}

// "{}, {}, {}[, {}]" of value[0] / 255, value[1] / 255, value[2] / 255 and,
// with four components, value[3] undivided.
PyObject* render_normalised(PyObject* value, Py_ssize_t count)
{
    Component parts[4];
    for (Py_ssize_t i = 0; i < count; ++i) {
        Ref item = item_at(value, i);
        if (!item)
            return nullptr;
        if (i < 3) {
            if (divide_by_255(std::move(item), parts[i]) < 0)
                return nullptr;
        } else {
            parts[i].value = std::move(item);
        }
    }
    TextBuilder out;
    for (Py_ssize_t i = 0; i < count; ++i) {
        if ((i > 0 && out.append_ascii(", ") < 0) || parts[i].write(out) < 0)
            return nullptr;
    }
    return out.finish().release();
}

// "rgb({0}, {1}, {2})" or "rgba({0}, {1}, {2}, {3})" formatted with *value:
// the items are taken once (as the unpacking does), then formatted in turn.
PyObject* render_css(PyObject* value, Py_ssize_t count)
{
    Ref items = Ref::borrow(value);
    if (!PyList_CheckExact(value) && !PyTuple_CheckExact(value)) {
        items = Ref::steal(PySequence_Tuple(value));
        if (!items)
            return nullptr;
    }
    PyObject* const* source = PySequence_Fast_ITEMS(items.get());
    Py_ssize_t given = PySequence_Fast_GET_SIZE(items.get());
    Ref parts[4];
    for (Py_ssize_t i = 0; i < count && i < given; ++i)
        parts[i] = Ref::borrow(source[i]);

    TextBuilder out;
    if ((count == 3 ? out.append_ascii("rgb(") : out.append_ascii("rgba(")) < 0)
        return nullptr;
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (i >= given) {
            PyErr_Format(PyExc_IndexError,
                         "Replacement index %zd out of range for positional args tuple", i);
            return nullptr;
        }
        if ((i > 0 && out.append_ascii(", ") < 0) || append_formatted(out, parts[i].get()) < 0)
            return nullptr;
    }
    if (out.append_ascii(')') < 0)
        return nullptr;
    return out.finish().release();
}

bool is_css(PyObject* format)
{
    return format == str_css ||
           (PyUnicode_Check(format) && PyUnicode_EqualToUTF8(format, "css"));
}

PyObject* ColorAttribute::render(PyObject* self, PyObject* obj)
{
    Ref value;
    int own = value_unless_text(self, obj, value);
    if (own <= 0)
        return own < 0 ? nullptr : value.release();
    Py_ssize_t size = PyList_CheckExact(value.get()) ? PyList_GET_SIZE(value.get())
                                                     : PyObject_Size(value.get());
    if (size < 0)
        return nullptr;
    Py_ssize_t count = size == 3 ? 3 : 4;
    return is_css(record(self)->format) ? render_css(value.get(), count)
                                        : render_normalised(value.get(), count);
}

// ----------------------------------------------------------------- the type

auto members = attribute_members<ColorAttribute>();

constexpr auto doc = attribute_doc(
    "A ListAttribute with 3 or 4 elements with RGB or RGBA color values.\n", "list, defaults to None",
    "        `options`: list of strings, other possible values which are accepted by the attribute instance\n"
    "        For example some numeric attributes can accept also string values like `inherit`.\n"
    "        'format': 'css' or empty string (default). If format is 'css', the color value will be converted to the proper\n"
    "        css color attribute (with `rgb` or `rgba` prefix)\n");

}  // namespace

PyTypeObject ColorAttribute::type = make_attribute_type<ColorAttribute>(
    "vora.core._attributes._ColorAttribute", doc.data(), members.data());

extern const AttributeTypeInfo color_attribute_info =
    attribute_type_info<ColorAttribute>(strings, make_quotients);

}  // namespace vora::attributes
