// _NumericAttribute and _BoundedNumericAttribute: numbers with an optional CSS
// unit, the second bounded by a minimum and a maximum.
#include <cmath>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "common/args.hpp"
#include "common/numbers.hpp"
#include "vora/core/attribute_type.hpp"
#include "vora/core/docstring.hpp"
#include "vora/core/keywords.hpp"
#include "vora/core/messages.hpp"
#include "vora/core/options.hpp"

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
    static inline NumericAttributeTable table{};
    static constexpr Base base_kind = std::is_same_v<BaseRecord, core::NumericPropertyRecord>
                                          ? Base::numeric
                                          : Base::bounded_numeric;
    static constexpr auto object_fields = std::tuple{&NumericShape::options};
    static int init(PyObject* self, PyObject* args, PyObject* kwds);
    static PyObject* check(PyObject* self, PyObject* obj, PyObject* value);
    static constexpr auto convert = convert_with_options<NumericShape>;
    static PyObject* convert_unlisted(PyObject* self, PyObject* obj, PyObject* x);
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

// Where both checks end: a listed option is accepted, with the result the
// type's check gives it; anything else is an invalid option.
template <class T>
PyObject* accept_option(PyObject* o, PyObject* obj, PyObject* value, PyObject* accepted)
{
    int found = in_options<T>(o, value);
    if (found < 0)
        return nullptr;
    if (found)
        return Py_NewRef(accepted);
    return raise_invalid_option(o, obj, " accept only int/float/str and is set to an invalid option ",
                                value, &record<T>(o)->options);
}

// The parsers return single precision and signal failure only by a pending
// exception; the result is widened as it is.
PyObject* parsed_number(float value)
{
    if (PyErr_Occurred())
        return nullptr;
    return PyFloat_FromDouble(static_cast<double>(value));
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
    return accept_option<NumericAttribute>(self, obj, value, Py_None);
}

template <>
PyObject* NumericAttribute::convert_unlisted(PyObject* self, PyObject* obj, PyObject* x)
{
    if (PyLong_CheckExact(x) || PyFloat_CheckExact(x))
        return Py_NewRef(x);
    const auto* table = table_of<core::NumericPropertyTable>(self);
    if (PyTuple_CheckExact(x) || PyList_CheckExact(x)) {
        if (PySequence_Fast_GET_SIZE(x) != 2)
            return raise_value_error(
                owner_message_repr(self, obj, " must have 2 components (got ", x, ")"));
        // Held: the parser may run Python code that empties a list.
        Ref number = Ref::borrow(PySequence_Fast_GET_ITEM(x, 0));
        Ref unit = Ref::borrow(PySequence_Fast_GET_ITEM(x, 1));
        return parsed_number(table->parse_pair(self, obj, number.get(), unit.get()));
    }
    if (PyUnicode_Check(x))
        return parsed_number(table->parse_string(self, obj, x));
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
    return accept_option<BoundedNumericAttribute>(self, obj, value, Py_True);
}

template <>
PyObject* BoundedNumericAttribute::convert_unlisted(PyObject* self, PyObject* obj, PyObject* x)
{
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

// The stored value followed by the owner's unit, if any: "{0}{1}" or "{0}".
template <class BaseRecord>
PyObject* NumericShape<BaseRecord>::render(PyObject* self, PyObject* obj)
{
    Ref value;
    int own = value_unless_text(self, obj, value);
    if (own <= 0)
        return own < 0 ? nullptr : value.release();
    // Looked up on the instance every time: a Python subclass may override it.
    Ref units = Ref::steal(PyObject_CallMethodOneArg(self, str_get_units, obj));
    if (!units)
        return nullptr;
    bool exact = PyUnicode_CheckExact(units.get());
    int has_units = exact ? PyUnicode_GET_LENGTH(units.get()) != 0 : PyObject_IsTrue(units.get());
    if (has_units < 0)
        return nullptr;
    char digits[number_chars];
    Py_ssize_t n = !has_units || exact ? write_number(value.get(), digits) : 0;
    if (n < 0)
        return nullptr;
    if (n > 0) {
        // The numbers almost every element holds, exact ints and floats,
        // written straight from the value.
        TextSize size;
        size.add(n);
        if (has_units)
            size.add(units.get());
        TextBuilder out;
        if (out.open(size) < 0)
            return nullptr;
        // Opened at its measured size: the appends cannot fail.
        out.append_ascii(digits, n);
        if (has_units)
            out.append(units.get());
        return out.finish().release();
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
auto members = attribute_members<T>(object_member<T, &T::options>("options"));

constexpr char options_doc[] =
    "        `options`: list of strings, other possible values which are accepted by the attribute instance.\n"
    "        For example some numeric attributes can accept also string values like `inherit`\n";

constexpr auto NumericAttribute_doc = attribute_doc(
    "Html attribute class with a numeric value.\n", "numeric, defaults to 0.0", options_doc,
    "        `units`: valid CSS metric default units: 'px', 'mm', '%', etc. or empty\n");

constexpr auto BoundedNumericAttribute_doc = attribute_doc(
    "Html attribute class with a bounded numeric value.\n", "numeric, defaults to 0.0", options_doc,
    "        `min`: accepted minimum value\n"
    "        `max`: accepted maximum value\n"
    "\n");

template <>
PyTypeObject NumericAttribute::type = make_attribute_type<NumericAttribute>(
    "vora.core._attributes._NumericAttribute", NumericAttribute_doc.data(),
    members<NumericAttribute>.data());

template <>
PyTypeObject BoundedNumericAttribute::type = make_attribute_type<BoundedNumericAttribute>(
    "vora.core._attributes._BoundedNumericAttribute", BoundedNumericAttribute_doc.data(),
    members<BoundedNumericAttribute>.data());

}  // namespace

extern const AttributeTypeInfo numeric_attribute_info =
    attribute_type_info<NumericAttribute>(strings);

extern const AttributeTypeInfo bounded_numeric_attribute_info =
    attribute_type_info<BoundedNumericAttribute>(strings);

}  // namespace vora::attributes
