// NumericProperty and BoundedNumericProperty: numbers, and CSS lengths parsed
// from text or (number, unit) pairs into single precision, with the unit
// kept per owner.
#include <cmath>
#include <cstring>

#include <iterator>

#include "common/args.hpp"
#include "framework/native_type.hpp"
#include "framework/properties.hpp"

namespace vora::framework {

using core::BoundedNumericPropertyRecord;
using core::NumericPropertyRecord;

NumericPropertyTable numeric_property_table;
NumericPropertyTable bounded_numeric_property_table;

namespace {

NumericPropertyRecord* numeric(PyObject* self)
{
    return reinterpret_cast<NumericPropertyRecord*>(self);
}

BoundedNumericPropertyRecord* bounded(PyObject* self)
{
    return reinterpret_cast<BoundedNumericPropertyRecord*>(self);
}

// bool is an int, but a switch is no quantity.
bool is_number(PyObject* value)
{
    return PyFloat_Check(value) || (PyLong_Check(value) && !PyBool_Check(value));
}

// The interned unit for the text unit[0..len), or nullptr when it is none.
PyObject* known_unit(const char* unit, size_t len)
{
    if (len == 1 && unit[0] == '%')
        return g_state.str_percent;
    if (len != 2)
        return nullptr;
    for (size_t i = 0; i < std::size(css_units); ++i) {
        if (std::memcmp(css_units[i], unit, 2) == 0)
            return PyTuple_GET_ITEM(g_state.css_length_units, i);
    }
    return nullptr;
}

// Keeps the unit of the value being parsed in the owner's record, if the
// owner has one for this property. Returns -1 only on a lookup error.
int record_unit(PyObject* self, PyObject* obj, PyObject* unit)
{
    Ref storage = storage_if_any(self, obj);
    if (!storage)
        return PyErr_Occurred() ? -1 : 0;
    set_field(storage_record(storage.get())->units, Ref::borrow(unit ? unit : Py_None));
    return 0;
}

// A finite single-precision number from text[0..len), or false.
bool parse_number(const char* text, size_t len, float* out)
{
    if (len == 0 || len > 64 || text[0] == ' ' || text[0] == '\t')
        return false;
    char buffer[65];
    std::memcpy(buffer, text, len);
    buffer[len] = '\0';
    char* end;
    double d = PyOS_string_to_double(buffer, &end, nullptr);
    if (d == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    float f = static_cast<float>(d);
    if (end != buffer + len || !std::isfinite(f))
        return false;
    *out = f;
    return true;
}

// ---------------------------------------------------------- table entries

float NumericProperty_parse_string(PyObject* self, PyObject* obj, PyObject* text)
{
    if (!PyUnicode_Check(text)) {
        raise_expected("str", text);
        return -1.0f;
    }
    Py_ssize_t size;
    const char* s = PyUnicode_AsUTF8AndSize(text, &size);
    if (!s)
        return -1.0f;
    size_t len = static_cast<size_t>(size);
    PyObject* unit = nullptr;
    if (len >= 1 && (unit = known_unit(s + len - 1, 1)))
        len -= 1;
    else if (len >= 2 && (unit = known_unit(s + len - 2, 2)))
        len -= 2;
    float value;
    if (!parse_number(s, len, &value)) {
        raise_for(PyExc_ValueError, self, obj, " has an invalid format (got ", text);
        return -1.0f;
    }
    if (record_unit(self, obj, unit) < 0)
        return -1.0f;
    return value;
}

float NumericProperty_parse_pair(PyObject* self, PyObject* obj, PyObject* number, PyObject* unit)
{
    if (!is_number(number)) {
        raise_for(PyExc_ValueError, self, obj, " has an invalid number (got ", number);
        return -1.0f;
    }
    PyObject* known = nullptr;
    if (PyUnicode_Check(unit)) {
        Py_ssize_t size;
        const char* s = PyUnicode_AsUTF8AndSize(unit, &size);
        if (!s)
            return -1.0f;
        known = known_unit(s, static_cast<size_t>(size));
    }
    if (!known) {
        raise_for(PyExc_ValueError, self, obj, " has an invalid unit (got ", unit);
        return -1.0f;
    }
    double d = PyFloat_AsDouble(number);
    if (d == -1.0 && PyErr_Occurred())
        return -1.0f;
    float value = static_cast<float>(d);
    if (!std::isfinite(value)) {
        raise_for(PyExc_ValueError, self, obj, " has an invalid number (got ", number);
        return -1.0f;
    }
    if (record_unit(self, obj, known) < 0)
        return -1.0f;
    return value;
}

// The parsers report failure by a pending exception alone.
PyObject* parsed(float value)
{
    if (PyErr_Occurred())
        return nullptr;
    return PyFloat_FromDouble(static_cast<double>(value));
}

PyObject* NumericProperty_convert(PyObject* self, PyObject* obj, PyObject* value)
{
    if (value == Py_None || PyLong_Check(value) || PyFloat_Check(value))
        return Py_NewRef(value);
    const NumericPropertyTable* table = numeric_table_of(self);
    if (PyUnicode_Check(value))
        return checked(parsed(table->parse_string(self, obj, value)));
    if (PyTuple_CheckExact(value) || PyList_CheckExact(value)) {
        if (PySequence_Fast_GET_SIZE(value) != 2) {
            raise_for(PyExc_ValueError, self, obj, " must have 2 components (got ", value);
            return nullptr;
        }
        // Held: parsing may run Python code that changes a list.
        Ref number = Ref::borrow(PySequence_Fast_GET_ITEM(value, 0));
        Ref unit = Ref::borrow(PySequence_Fast_GET_ITEM(value, 1));
        return checked(parsed(table->parse_pair(self, obj, number.get(), unit.get())));
    }
    // Refused by the check with the type's own message.
    return Py_NewRef(value);
}

PyObject* NumericProperty_check(PyObject* self, PyObject* obj, PyObject* value)
{
    Ref base = Ref::steal(Property_check(self, obj, value));
    if (!base || base.get() == Py_True)
        return base.release();
    if (!is_number(value)) {
        raise_for(PyExc_ValueError, self, obj, " accept only int/float");
        return nullptr;
    }
    Py_RETURN_TRUE;
}

// bound op value, where op is Py_LT for a minimum and Py_GT for a maximum.
int violates(PyObject* value, PyObject* bound, int op)
{
    if (bound == Py_None)
        return 0;
    return PyObject_RichCompareBool(value, bound, op);
}

PyObject* BoundedNumericProperty_check(PyObject* self, PyObject* obj, PyObject* value)
{
    Ref base = Ref::steal(NumericProperty_check(self, obj, value));
    if (!base || value == Py_None)
        return base.release();
    // Held: a comparison may run Python code (a float subclass's __lt__).
    Ref min = Ref::borrow(bounded(self)->min);
    Ref max = Ref::borrow(bounded(self)->max);
    int below = violates(value, min.get(), Py_LT);
    if (below < 0)
        return nullptr;
    if (below) {
        raise_for(PyExc_ValueError, self, obj, " is below the minimum bound (got ", value);
        return nullptr;
    }
    int above = violates(value, max.get(), Py_GT);
    if (above < 0)
        return nullptr;
    if (above) {
        raise_for(PyExc_ValueError, self, obj, " is above the maximum bound (got ", value);
        return nullptr;
    }
    Py_RETURN_TRUE;
}

// ------------------------------------------------------------------ slots

using NumericChain = Chained<NumericPropertyRecord, &Property_Type, &NumericPropertyRecord::units>;
using BoundedRecord = BoundedNumericPropertyRecord;
using BoundedChain =
    Chained<BoundedRecord, &NumericProperty_Type, &BoundedRecord::min, &BoundedRecord::max>;

PyObject* NumericProperty_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    PyObject* self = Property_new(type, args, kwds);
    if (!self)
        return nullptr;
    prop(self)->table = &numeric_property_table;
    numeric(self)->units = Py_NewRef(Py_None);
    return self;
}

PyObject* BoundedNumericProperty_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    PyObject* self = NumericProperty_new(type, args, kwds);
    if (!self)
        return nullptr;
    prop(self)->table = &bounded_numeric_property_table;
    bounded(self)->min = Py_NewRef(Py_None);
    bounded(self)->max = Py_NewRef(Py_None);
    return self;
}

// Shared part of both initialisers: the default value and `units`.
int numeric_init(PyObject* self, PyObject* args, PyObject* kwds, Ref* kwargs)
{
    Ref defaultvalue;
    if (property_init_common(self, args, kwds, &defaultvalue, kwargs) < 0)
        return -1;
    Ref units = dict_get_or(kwargs->get(), "units", Py_None);
    if (!units)
        return -1;
    if (units.get() != Py_None && !PyUnicode_Check(units.get())) {
        raise_expected("str", units.get());
        return -1;
    }
    Ref zero = Ref::steal(PyLong_FromLong(0));
    if (!zero)
        return -1;
    set_field(prop(self)->defaultvalue, defaultvalue ? std::move(defaultvalue) : std::move(zero));
    set_field(numeric(self)->units, std::move(units));
    return 0;
}

int NumericProperty_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    Ref kwargs;
    return numeric_init(self, args, kwds, &kwargs);
}

// A bound is a number or None (unbounded).
Ref bound_keyword(PyObject* kwargs, const char* name)
{
    Ref bound = dict_get_or(kwargs, name, Py_None);
    if (bound && bound.get() != Py_None && !is_number(bound.get())) {
        PyErr_Format(PyExc_TypeError, "%s must be an int or a float, not %.200s", name,
                     Py_TYPE(bound.get())->tp_name);
        return Ref();
    }
    return bound;
}

int BoundedNumericProperty_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    Ref kwargs;
    if (numeric_init(self, args, kwds, &kwargs) < 0)
        return -1;
    Ref min = bound_keyword(kwargs.get(), "min");
    if (!min)
        return -1;
    Ref max = bound_keyword(kwargs.get(), "max");
    if (!max)
        return -1;
    set_field(bounded(self)->min, std::move(min));
    set_field(bounded(self)->max, std::move(max));
    return 0;
}

// ---------------------------------------------------------------- members

constexpr const char* get_units_params[] = {"obj"};
constexpr vora::Signature get_units_sig{"get_units", get_units_params, 1, 1};

PyObject* NumericProperty_get_units(PyObject* self, PyObject* obj)
{
    Ref storage = storage_of(self, obj);
    if (!storage)
        return nullptr;
    PyObject* units = storage_record(storage.get())->units;
    if (units && units != Py_None)
        return Py_NewRef(units);
    return Py_NewRef(numeric(self)->units);
}

PyMethodDef NumericProperty_methods[] = {
    {"get_units", as_method(vora::fastcall_method<get_units_sig, NumericProperty_get_units>),
     METH_FASTCALL | METH_KEYWORDS,
     "get_units(obj)\n--\n\n"
     "Unit of obj's value: the one it was parsed with, else the property's units."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* NumericProperty_get_units_attr(PyObject* self, void*)
{
    return Py_NewRef(numeric(self)->units);
}

PyGetSetDef NumericProperty_getset[] = {
    {"units", NumericProperty_get_units_attr, nullptr, "Unit of plain numbers, or None.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* Bounded_get_min(PyObject* self, void*)
{
    return Py_NewRef(bounded(self)->min);
}

PyObject* Bounded_get_max(PyObject* self, void*)
{
    return Py_NewRef(bounded(self)->max);
}

PyGetSetDef BoundedNumericProperty_getset[] = {
    {"min", Bounded_get_min, nullptr, "Smallest accepted value, or None.", nullptr},
    {"max", Bounded_get_max, nullptr, "Largest accepted value, or None.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

void fill_numeric_tables()
{
    NumericPropertyTable& n = numeric_property_table;
    n.base = property_table;
    n.base.check = NumericProperty_check;
    n.base.convert = NumericProperty_convert;
    n.parse_string = NumericProperty_parse_string;
    n.parse_pair = NumericProperty_parse_pair;

    bounded_numeric_property_table = numeric_property_table;
    bounded_numeric_property_table.base.check = BoundedNumericProperty_check;
}

PyTypeObject NumericProperty_Type = NumericChain::type(
    "vora.core.properties.NumericProperty",
    "NumericProperty(defaultvalue=0, *, units=None, **kwargs)\n--\n\n"
    "An int or float. Text such as '12px', '1.5em' or '50%' and (number, unit)\n"
    "pairs are parsed into a float; the unit is kept per owner (get_units).",
    {.new_ = NumericProperty_new, .init = NumericProperty_init, .methods = NumericProperty_methods,
     .getset = NumericProperty_getset});

PyTypeObject BoundedNumericProperty_Type = BoundedChain::type(
    "vora.core.properties.BoundedNumericProperty",
    "BoundedNumericProperty(defaultvalue=0, *, min=None, max=None, **kwargs)\n--\n\n"
    "A NumericProperty whose values must lie within min and max.",
    {.new_ = BoundedNumericProperty_new, .init = BoundedNumericProperty_init,
     .getset = BoundedNumericProperty_getset});

}  // namespace vora::framework
