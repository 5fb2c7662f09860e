// _NumericAttribute and _BoundedNumericAttribute: numbers with an optional CSS
// unit, the second bounded by a minimum and a maximum.
#include <cmath>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "common/args.hpp"
#include "vora/core/attribute_type.hpp"
#include "vora/core/keywords.hpp"
#include "vora/core/messages.hpp"

namespace vora::attributes {

namespace {

// The two types differ only in their base record and in their check and
// convert entries; fields, __init__ and rendering are shared.
template <class BaseRecord>
struct NumericShape {
    BaseRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;
    PyObject* options;

    static PyTypeObject type;
    static NumericAttributeTable table;
    static constexpr Base base_kind = std::is_same_v<BaseRecord, core::NumericPropertyRecord>
                                          ? Base::numeric
                                          : Base::bounded_numeric;
    static constexpr auto object_fields =
        std::tuple{&NumericShape::attrtype, &NumericShape::attrname, &NumericShape::options};
    static constexpr auto gc_fields = std::tuple{&NumericShape::options};
    static int set_defaults(NumericShape* self);
    static int init(PyObject* self, PyObject* args, PyObject* kwds);
    static PyObject* check(PyObject* self, PyObject* obj, PyObject* value);
    static PyObject* convert(PyObject* self, PyObject* obj, PyObject* x);
    static PyObject* render(PyObject* self, PyObject* obj);
};

using NumericAttribute = NumericShape<core::NumericPropertyRecord>;
using BoundedNumericAttribute = NumericShape<core::BoundedNumericPropertyRecord>;
template <>
PyTypeObject NumericAttribute::type;
template <>
PyTypeObject BoundedNumericAttribute::type;

PyObject* str_get_units;
const StringSpec strings[] = {
    {&str_get_units, "get_units"},
    {nullptr, nullptr},
};

template <class BaseRecord>
int NumericShape<BaseRecord>::set_defaults(NumericShape* self)
{
    Ref options = Ref::steal(PyList_New(0));
    if (!options)
        return -1;
    set_field(self->options, std::move(options));
    self->sync = 0;
    set_field(self->attrname, Ref::borrow(str_empty));
    set_field(self->attrtype, Ref::borrow(str_empty));
    return 0;
}

template <class T>
T* record(PyObject* o)
{
    return reinterpret_cast<T*>(o);
}

// ---------------------------------------------------------------- __init__

template <class BaseRecord>
int NumericShape<BaseRecord>::init(PyObject* o, PyObject* args, PyObject* kwds)
{
    NumericShape* self = record<NumericShape>(o);
    Ref kwargs = copy_keywords(kwds);
    if (!kwargs)
        return -1;
    if (take_common_keywords(self, kwargs.get()) < 0 ||
        take_list_keyword(kwargs.get(), str_options, self->options) < 0 ||
        force_allownone(kwargs.get()) < 0)
        return -1;
    return call_base_init(&NumericShape::type, o, args, kwargs.get());
}

// ----------------------------------------------------------- shared helpers

// value in self.options; the list is held, as the test runs __eq__.
template <class T>
int in_options(PyObject* o, PyObject* value)
{
    Ref options = Ref::borrow(record<T>(o)->options);
    return PySequence_Contains(options.get(), value);
}

// ValueError "<Owner>.<name> accept only int/float/str and is set to an
// invalid option <repr>. Must be one of: <options>".
template <class T>
VORA_COLD PyObject* raise_invalid_option(PyObject* o, PyObject* obj, PyObject* value)
{
    Ref head = owner_message_repr(o, obj, " accept only int/float/str and is set to an invalid option ",
                                  value, ". Must be one of: ");
    if (!head)
        return nullptr;
    Ref options = Ref::borrow(record<T>(o)->options);
    Ref listed = Ref::steal(PyObject_Format(options.get(), str_empty));
    if (!listed)
        return nullptr;
    return raise_value_error(Ref::steal(PyUnicode_Concat(head.get(), listed.get())));
}

// The parsers return single precision and signal failure only by a pending
// exception; the result is widened as it is.
PyObject* parsed_number(float value)
{
    if (PyErr_Occurred())
        return nullptr;
    return PyFloat_FromDouble(static_cast<double>(value));
}

const core::NumericPropertyTable* numeric_table_of(PyObject* self)
{
    return static_cast<const core::NumericPropertyTable*>(
        reinterpret_cast<core::PropertyRecord*>(self)->table);
}

// ------------------------------------------------- _NumericAttribute entries

template <>
PyObject* NumericAttribute::check(PyObject* self, PyObject* obj, PyObject* value)
{
    int accepted = property_check_accepts(self, obj, value);
    if (accepted < 0)
        return nullptr;
    if (accepted)
        Py_RETURN_TRUE;
    if (PyLong_CheckExact(value) || PyFloat_CheckExact(value) || PyUnicode_CheckExact(value))
        Py_RETURN_NONE;
    int found = in_options<NumericAttribute>(self, value);
    if (found < 0)
        return nullptr;
    if (found)
        Py_RETURN_NONE;
    return raise_invalid_option<NumericAttribute>(self, obj, value);
}

template <>
PyObject* NumericAttribute::convert(PyObject* self, PyObject* obj, PyObject* x)
{
    if (x == Py_None)
        Py_RETURN_NONE;
    // Options come first, so an option is never parsed.
    int found = in_options<NumericAttribute>(self, x);
    if (found < 0)
        return nullptr;
    if (found || PyLong_CheckExact(x) || PyFloat_CheckExact(x))
        return Py_NewRef(x);
    if (PyTuple_CheckExact(x) || PyList_CheckExact(x)) {
        if (PySequence_Fast_GET_SIZE(x) != 2)
            return raise_value_error(
                owner_message_repr(self, obj, " must have 2 components (got ", x, ")"));
        // Held: the parser may run Python code that empties a list.
        Ref number = Ref::borrow(PySequence_Fast_GET_ITEM(x, 0));
        Ref unit = Ref::borrow(PySequence_Fast_GET_ITEM(x, 1));
        return parsed_number(numeric_table_of(self)->parse_pair(self, obj, number.get(), unit.get()));
    }
    if (PyUnicode_Check(x))
        return parsed_number(numeric_table_of(self)->parse_string(self, obj, x));
    return raise_value_error(owner_message_repr(self, obj, " has an invalid format (got ", x, ")"));
}

// ------------------------------------------ _BoundedNumericAttribute entries

// Numbers go to the bounded base's own entries, whatever the instance's
// table holds: the bounds are its business.
template <>
PyObject* BoundedNumericAttribute::check(PyObject* self, PyObject* obj, PyObject* value)
{
    if (PyLong_CheckExact(value) || PyFloat_CheckExact(value))
        return g_state.bounded_numeric_property_table->base.check(self, obj, value);
    int found = in_options<BoundedNumericAttribute>(self, value);
    if (found < 0)
        return nullptr;
    if (found)
        Py_RETURN_TRUE;
    return raise_invalid_option<BoundedNumericAttribute>(self, obj, value);
}

template <>
PyObject* BoundedNumericAttribute::convert(PyObject* self, PyObject* obj, PyObject* x)
{
    if (x == Py_None)
        Py_RETURN_NONE;
    int found = in_options<BoundedNumericAttribute>(self, x);
    if (found < 0)
        return nullptr;
    if (found)
        return Py_NewRef(x);
    return g_state.bounded_numeric_property_table->base.convert(self, obj, x);
}

// ---------------------------------------------------------------- rendering

// format(x, "") as an exact str: what one field of str.format contributes.
Ref format_as_exact_str(PyObject* x)
{
    Ref text = Ref::steal(PyObject_Format(x, str_empty));
    if (!text || PyUnicode_CheckExact(text.get()))
        return text;
    return Ref::steal(PyUnicode_FromObject(text.get()));
}

// ASCII text followed by units (an exact str, or nullptr for none), as one
// new str allocated at its final size and width.
PyObject* join_ascii(const char* text, Py_ssize_t length, PyObject* units)
{
    Py_ssize_t unit_length = units ? PyUnicode_GET_LENGTH(units) : 0;
    Py_UCS4 maxchar = units ? PyUnicode_MAX_CHAR_VALUE(units) : 0x7f;
    PyObject* out = PyUnicode_New(length + unit_length, maxchar < 0x7f ? 0x7f : maxchar);
    if (!out)
        return nullptr;
    int kind = PyUnicode_KIND(out);
    void* data = PyUnicode_DATA(out);
    if (kind == PyUnicode_1BYTE_KIND) {
        std::memcpy(data, text, static_cast<size_t>(length));
        if (unit_length)
            std::memcpy(static_cast<char*>(data) + length, PyUnicode_DATA(units),
                        static_cast<size_t>(unit_length));
        return out;
    }
    for (Py_ssize_t i = 0; i < length; ++i)
        PyUnicode_WRITE(kind, data, i, static_cast<Py_UCS4>(text[i]));
    if (PyUnicode_CopyCharacters(out, length, units, 0, unit_length) < 0) {
        Py_DECREF(out);
        return nullptr;
    }
    return out;
}

// The decimal digits of v into the end of buffer; returns where they start.
char* decimal(Py_ssize_t v, char* end)
{
    size_t u = v < 0 ? 0 - static_cast<size_t>(v) : static_cast<size_t>(v);
    do {
        *--end = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    if (v < 0)
        *--end = '-';
    return end;
}

// repr(x) for the floats that settings hold in practice (12.5, 0.75, 1920.0):
// values from 1e-4 to 2**50 that are m / 10**k for some integer m. The first
// k that reads back as x gives the shortest digits, as float.__repr__ has
// them; below 2**50 the fraction closest to x is the only one that reads
// back, so rounding x * 10**k finds it. Writes into out (32 bytes) and
// returns the length, or 0 for other values, which take the interpreter's
// own (much slower) conversion.
Py_ssize_t short_float_repr(double x, char* out)
{
    static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                                        1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
    constexpr double limit = 0x1p50;
    char* o = out;
    if (std::signbit(x))
        *o++ = '-';
    double a = std::fabs(x);
    if (a == 0.0) {
        std::memcpy(o, "0.0", 3);
        return o + 3 - out;
    }
    if (!(a >= 1e-4 && a < limit))
        return 0;
    for (int k = 0; k < static_cast<int>(std::size(powers)); ++k) {
        double scaled = a * powers[k];
        if (scaled >= limit)
            return 0;
        double m = std::nearbyint(scaled);
        if (m / powers[k] != a)
            continue;
        char buffer[24];
        char* end = buffer + sizeof buffer;
        char* digits = decimal(static_cast<Py_ssize_t>(m), end);
        int n = static_cast<int>(end - digits);
        int point = n - k;  // digits before the decimal point; -3 at least
        auto put = [&](const char* from, int count) {
            std::memcpy(o, from, static_cast<size_t>(count));
            o += count;
        };
        if (k == 0) {
            put(digits, n);
            put(".0", 2);
        } else if (point > 0) {
            put(digits, point);
            *o++ = '.';
            put(digits + point, k);
        } else {
            put("0.000", 2 - point);
            put(digits, n);
        }
        return o - out;
    }
    return 0;
}

// "{0}{1}" or "{0}" for the numbers almost every element holds, exact ints
// below 2**30 and exact floats, with units an exact str or nullptr:
// format(x, "") is str(x) for both, written straight into *text.
// Returns 1 with *text set, 0 for a value of another kind, -1 on error.
int render_plain_number(PyObject* value, PyObject* units, Ref* text)
{
    if (PyLong_CheckExact(value) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(value))) {
        char buffer[24];
        char* end = buffer + sizeof buffer;
        char* start = decimal(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(value)), end);
        *text = Ref::steal(join_ascii(start, end - start, units));
        return *text ? 1 : -1;
    }
    if (PyFloat_CheckExact(value)) {
        char buffer[32];
        if (Py_ssize_t length = short_float_repr(PyFloat_AS_DOUBLE(value), buffer)) {
            *text = Ref::steal(join_ascii(buffer, length, units));
            return *text ? 1 : -1;
        }
        // float.__repr__'s own conversion.
        char* repr = PyOS_double_to_string(PyFloat_AS_DOUBLE(value), 'r', 0, Py_DTSF_ADD_DOT_0,
                                           nullptr);
        if (!repr) {
            PyErr_NoMemory();
            return -1;
        }
        *text = Ref::steal(join_ascii(repr, static_cast<Py_ssize_t>(std::strlen(repr)), units));
        PyMem_Free(repr);
        return *text ? 1 : -1;
    }
    return 0;
}

// The stored value followed by the owner's unit, if any: "{0}{1}" or "{0}".
template <class BaseRecord>
PyObject* NumericShape<BaseRecord>::render(PyObject* self, PyObject* obj)
{
    Ref value = Ref::steal(table_of(self)->get(self, obj, Dispatch::allowed));
    if (!value)
        return nullptr;
    if (value.get() == Py_None)
        return Py_NewRef(str_empty);
    if (PyUnicode_Check(value.get()))
        return value.release();
    // Looked up on the instance every time: a Python subclass may override it.
    Ref units = Ref::steal(PyObject_CallMethodOneArg(self, str_get_units, obj));
    if (!units)
        return nullptr;
    bool exact = PyUnicode_CheckExact(units.get());
    int has_units = exact ? PyUnicode_GET_LENGTH(units.get()) != 0 : PyObject_IsTrue(units.get());
    if (has_units < 0)
        return nullptr;
    if (!has_units || exact) {
        Ref text;
        int plain = render_plain_number(value.get(), has_units ? units.get() : nullptr, &text);
        if (plain != 0)
            return text.release();
    }
    Ref number = format_as_exact_str(value.get());
    if (!number || !has_units)
        return number.release();
    Ref unit = format_as_exact_str(units.get());
    if (!unit)
        return nullptr;
    return PyUnicode_Concat(number.get(), unit.get());
}

// ----------------------------------------------------------------- the types

template <class T>
PyGetSetDef getset[] = {
    sync_member<T>(),
    attrname_member<T>(),
    object_member<T, &T::attrtype>("attrtype"),
    object_member<T, &T::options>("options"),
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

template <class BaseRecord>
NumericAttributeTable NumericShape<BaseRecord>::table;

template <>
PyTypeObject NumericAttribute::type = make_attribute_type<NumericAttribute>(
    "vora.core._attributes._NumericAttribute", NumericAttribute_doc, getset<NumericAttribute>);

template <>
PyTypeObject BoundedNumericAttribute::type = make_attribute_type<BoundedNumericAttribute>(
    "vora.core._attributes._BoundedNumericAttribute", BoundedNumericAttribute_doc,
    getset<BoundedNumericAttribute>);

}  // namespace

extern const AttributeTypeInfo numeric_attribute_info =
    attribute_type_info<NumericAttribute>("_NumericAttribute", strings);

extern const AttributeTypeInfo bounded_numeric_attribute_info =
    attribute_type_info<BoundedNumericAttribute>("_BoundedNumericAttribute", strings);

}  // namespace vora::attributes
