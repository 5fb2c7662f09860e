// _ColorAttribute: an RGB or RGBA colour rendered as a CSS colour function or
// as components normalised to 0-1.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "common/args.hpp"
#include "vora/core/attribute_type.hpp"
#include "vora/core/keywords.hpp"
#include "vora/core/lookups.hpp"
#include "vora/core/messages.hpp"

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
    static ColorAttributeTable table;
    static constexpr Base base_kind = Base::property;
    static constexpr auto object_fields =
        std::tuple{&ColorAttribute::attrtype, &ColorAttribute::attrname, &ColorAttribute::format,
                   &ColorAttribute::options};
    static constexpr auto gc_fields = std::tuple{&ColorAttribute::options};
    static int set_defaults(ColorAttribute* self);
    static int init(PyObject* self, PyObject* args, PyObject* kwds);
    static PyObject* parse_str(PyObject* self, PyObject* obj, PyObject* value);
    static PyObject* convert(PyObject* self, PyObject* obj, PyObject* value);
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
    Ref options = Ref::steal(PyList_New(0));
    if (!options)
        return -1;
    set_field(self->attrtype, Ref::borrow(str_empty));
    self->sync = 0;
    set_field(self->attrname, Ref::borrow(str_empty));
    set_field(self->format, Ref::borrow(str_empty));
    set_field(self->options, std::move(options));
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
    Ref base_args = Ref::steal(PyTuple_Pack(1, defaultvalue.get()));
    if (!base_args)
        return -1;
    return call_base_init(&ColorAttribute::type, o, base_args.get(), kwargs.get());
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

PyObject* ColorAttribute::convert(PyObject* self, PyObject* obj, PyObject* value)
{
    if (value == Py_None)
        Py_RETURN_NONE;
    // Held: the containment test runs __eq__, which could re-initialise self.
    Ref options = Ref::borrow(record(self)->options);
    int found = PySequence_Contains(options.get(), value);
    if (found < 0)
        return nullptr;
    if (found)
        return Py_NewRef(value);
    if (PyList_CheckExact(value) || PyTuple_CheckExact(value)) {
        Py_ssize_t n = Py_SIZE(value);
        if (n != 3 && n != 4)
            return raise_value_error(owner_message_repr(
                self, obj, " must have 3 or 4 components (got ", value, ")"));
        return PySequence_List(value);
    }
    if (PyUnicode_Check(value)) {
        auto* table = static_cast<const ColorAttributeTable*>(record(self)->base.table);
        return table->parse_str(self, obj, value);
    }
    return raise_value_error(
        owner_message_repr(self, obj, " has an invalid format (got ", value, ")"));
}

// ---------------------------------------------------------------- rendering

// The text of one rendering. Digits and separators are ASCII, so the pieces
// gather in a local buffer and the result is allocated once; a non-ASCII or
// long piece moves everything to a PyUnicodeWriter.
class Text {
public:
    Text() = default;
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text()
    {
        if (writer_)
            PyUnicodeWriter_Discard(writer_);
    }

    int ascii(const char* s, size_t n)
    {
        if (!writer_ && n <= sizeof buf_ - len_) [[likely]] {
            std::memcpy(buf_ + len_, s, n);
            len_ += n;
            return 0;
        }
        if (!writer_ && spill() < 0)
            return -1;
        return PyUnicodeWriter_WriteASCII(writer_, s, static_cast<Py_ssize_t>(n));
    }

    // s: an exact str.
    int str(PyObject* s)
    {
        if (!writer_ && PyUnicode_IS_ASCII(s))
            return ascii(static_cast<const char*>(PyUnicode_DATA(s)),
                         static_cast<size_t>(PyUnicode_GET_LENGTH(s)));
        if (!writer_ && spill() < 0)
            return -1;
        return PyUnicodeWriter_WriteStr(writer_, s);
    }

    PyObject* finish()
    {
        if (writer_) {
            PyUnicodeWriter* writer = writer_;
            writer_ = nullptr;
            return PyUnicodeWriter_Finish(writer);
        }
        PyObject* s = PyUnicode_New(static_cast<Py_ssize_t>(len_), 127);
        if (s)
            std::memcpy(PyUnicode_1BYTE_DATA(s), buf_, len_);
        return s;
    }

private:
    int spill()
    {
        writer_ = PyUnicodeWriter_Create(static_cast<Py_ssize_t>(len_) + 32);
        if (!writer_)
            return -1;
        return PyUnicodeWriter_WriteASCII(writer_, buf_, static_cast<Py_ssize_t>(len_));
    }

    char buf_[120];
    size_t len_ = 0;
    PyUnicodeWriter* writer_ = nullptr;
};

// repr() of a float, which is also its format(x, ""): the shortest digits
// that read back as d (what the interpreter's own repr finds too), laid out
// by repr's rules: fixed notation while the decimal point falls between -4
// and 16 digits from the first digit, else d.ddde+XX. out holds 32 chars.
size_t float_repr(double d, char* out)
{
    if (std::isnan(d)) {
        std::memcpy(out, "nan", 3);
        return 3;
    }
    if (std::isinf(d)) {
        std::memcpy(out, d < 0 ? "-inf" : "inf", d < 0 ? 4 : 3);
        return d < 0 ? 4 : 3;
    }
    char sci[32];
    const char* end = std::to_chars(sci, sci + sizeof sci, d, std::chars_format::scientific).ptr;
    const char* p = sci;
    char* o = out;
    if (*p == '-')
        *o++ = *p++;
    char digits[20];
    int count = 0;
    for (; *p != 'e'; ++p) {
        if (*p != '.')
            digits[count++] = *p;
    }
    bool negative_exponent = p[1] == '-';
    int exponent = 0;
    std::from_chars(p + 2, end, exponent);
    if (negative_exponent)
        exponent = -exponent;
    int point = exponent + 1;  // digits before the decimal point
    if (point > -4 && point <= 16) {
        if (point <= 0) {
            *o++ = '0';
            *o++ = '.';
            o = std::fill_n(o, -point, '0');
            o = std::copy_n(digits, count, o);
        } else if (point >= count) {
            o = std::copy_n(digits, count, o);
            o = std::fill_n(o, point - count, '0');
            *o++ = '.';
            *o++ = '0';
        } else {
            o = std::copy_n(digits, point, o);
            *o++ = '.';
            o = std::copy_n(digits + point, count - point, o);
        }
    } else {
        *o++ = digits[0];
        if (count > 1) {
            *o++ = '.';
            o = std::copy_n(digits + 1, count - 1, o);
        }
        *o++ = 'e';
        *o++ = exponent < 0 ? '-' : '+';
        int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10)
            *o++ = '0';
        o = std::to_chars(o, o + 4, magnitude).ptr;
    }
    return static_cast<size_t>(o - out);
}

int write_double(Text& text, double d)
{
    char repr[32];
    return text.ascii(repr, float_repr(d, repr));
}

// repr(k / 255) for the usual components k from 0 to 255, made once at load
// by the interpreter's own float formatting.
struct Quotient {
    char text[27];
    unsigned char size;
};
Quotient quotients[256];

int make_quotients()
{
    for (int k = 0; k < 256; ++k) {
        char* s = PyOS_double_to_string(k / 255.0, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
        if (!s)
            return -1;
        size_t n = std::strlen(s);
        if (n > sizeof quotients[k].text) {
            PyMem_Free(s);
            PyErr_SetString(PyExc_SystemError, "unexpected float repr length");
            return -1;
        }
        std::memcpy(quotients[k].text, s, n);
        quotients[k].size = static_cast<unsigned char>(n);
        PyMem_Free(s);
    }
    return 0;
}

// Writes format(x, ""); ints and floats without a detour through objects.
// May run Python code (a component's __format__).
int write_formatted(Text& text, PyObject* x)
{
    if (PyLong_CheckExact(x)) {
        int overflow;
        long v = PyLong_AsLongAndOverflow(x, &overflow);
        if (!overflow) {
            char digits[24];
            auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
            return text.ascii(digits, static_cast<size_t>(end - digits));
        }
    } else if (PyFloat_CheckExact(x)) {
        return write_double(text, PyFloat_AS_DOUBLE(x));
    }
    Ref s = Ref::steal(PyObject_Format(x, str_empty));
    return s ? text.str(s.get()) : -1;
}

// A component of the normalised form: value[i] / 255 as a native double when
// the division is exact in doubles (as the interpreter's own fast path is),
// or as the quotient object; the alpha component is kept as it is.
struct Component {
    enum Kind { object, real, quotient } kind = object;
    Ref value;
    double d = 0;
    int k = 0;

    int write(Text& text) const
    {
        switch (kind) {
        case quotient:
            return text.ascii(quotients[k].text, quotients[k].size);
        case real:
            return write_double(text, d);
        case object:
            break;
        }
        return write_formatted(text, value.get());
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
            out.d = static_cast<double>(v) / 255.0;
            return 0;
        }
    } else if (PyFloat_CheckExact(x)) {
        out.kind = Component::real;
        out.d = PyFloat_AS_DOUBLE(x) / 255.0;
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
    Text text;
    for (Py_ssize_t i = 0; i < count; ++i) {
        if ((i > 0 && text.ascii(", ", 2) < 0) || parts[i].write(text) < 0)
            return nullptr;
    }
    return text.finish();
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

    Text text;
    if (count == 3 ? text.ascii("rgb(", 4) < 0 : text.ascii("rgba(", 5) < 0)
        return nullptr;
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (i >= given) {
            PyErr_Format(PyExc_IndexError,
                         "Replacement index %zd out of range for positional args tuple", i);
            return nullptr;
        }
        if ((i > 0 && text.ascii(", ", 2) < 0) || write_formatted(text, parts[i].get()) < 0)
            return nullptr;
    }
    if (text.ascii(")", 1) < 0)
        return nullptr;
    return text.finish();
}

bool is_css(PyObject* format)
{
    return format == str_css ||
           (PyUnicode_Check(format) && PyUnicode_EqualToUTF8(format, "css"));
}

PyObject* ColorAttribute::render(PyObject* self, PyObject* obj)
{
    Ref value = Ref::steal(table_of(self)->get(self, obj, Dispatch::allowed));
    if (!value)
        return nullptr;
    if (value.get() == Py_None)
        return Py_NewRef(str_empty);
    if (PyUnicode_Check(value.get()))
        return value.release();
    Py_ssize_t size = PyList_CheckExact(value.get()) ? PyList_GET_SIZE(value.get())
                                                     : PyObject_Size(value.get());
    if (size < 0)
        return nullptr;
    Py_ssize_t count = size == 3 ? 3 : 4;
    return is_css(record(self)->format) ? render_css(value.get(), count)
                                        : render_normalised(value.get(), count);
}

// ----------------------------------------------------------------- the type

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

}  // namespace

ColorAttributeTable ColorAttribute::table;
PyTypeObject ColorAttribute::type = make_attribute_type<ColorAttribute>(
    "vora.core._attributes._ColorAttribute", ColorAttribute_doc, ColorAttribute_getset);

extern const AttributeTypeInfo color_attribute_info =
    attribute_type_info<ColorAttribute>("_ColorAttribute", strings, make_quotients);

}  // namespace vora::attributes
