// _VariableListAttribute: one, two or four CSS lengths expanded to the
// property's length (margin, padding) and rendered space-separated.
#include "common/args.hpp"
#include "common/sequence.hpp"
#include "vora/core/attribute_type.hpp"
#include "vora/core/docstring.hpp"
#include "vora/core/item_text.hpp"
#include "vora/core/keywords.hpp"
#include "vora/core/lookups.hpp"
#include "vora/core/messages.hpp"
#include "vora/core/options.hpp"

namespace vora::attributes {

namespace {

struct VariableListAttribute {
    core::VariableListPropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;
    PyObject* options;    // values accepted unchanged, such as 'inherit'

    static PyTypeObject type;
    static inline VariableListAttributeTable table{};
    static constexpr Base base_kind = Base::variable_list;
    static constexpr auto object_fields = std::tuple{&VariableListAttribute::options};
    static int init(PyObject* self, PyObject* args, PyObject* kwds);
    static PyObject* convert_numeric(PyObject* self, PyObject* obj, PyObject* x);
    static constexpr auto convert = convert_with_options<VariableListAttribute>;
    static PyObject* convert_unlisted(PyObject* self, PyObject* obj, PyObject* value);
    static PyObject* render(PyObject* self, PyObject* obj);
};

PyObject* str_css_length_units;
PyObject* str_split;
PyObject* str_percent;
PyObject* str_space;
const StringSpec strings[] = {
    {&str_space, " "},
    {&str_css_length_units, "CSS_LENGTH_UNITS"},
    {&str_split, "split"},
    {&str_percent, "%"},
    {nullptr, nullptr},
};

VariableListAttribute* record(PyObject* o)
{
    return reinterpret_cast<VariableListAttribute*>(o);
}

int VariableListAttribute::init(PyObject* o, PyObject* args, PyObject* kwds)
{
    Ref kwargs = copy_keywords(kwds);
    if (!kwargs || take_common_keywords(record(o), kwargs.get()) < 0 ||
        take_list_keyword(kwargs.get(), str_options, record(o)->options) < 0 ||
        force_allownone(kwargs.get()) < 0)
        return -1;
    return call_base_init(&VariableListAttribute::type, o, args, kwargs.get());
}

// ------------------------------------------------------- native table entries

// "<Class>.<name><text><repr(value)>)".
VORA_COLD PyObject* raise_about(PyObject* o, PyObject* obj, const char* text, PyObject* value)
{
    return raise_value_error(owner_message_repr(o, obj, text, value, ")"));
}

const char invalid_format[] = " has an invalid format (got ";
const char one_or_two[] = " must have 1 or 2 components (got ";
const char one_two_or_four[] = " must have 1, 2 or 4 components (got ";

// x[start:] of a str: sliced directly when exact, through __getitem__ for a
// subclass, which may define its own.
Ref str_tail(PyObject* x, Py_ssize_t start)
{
    if (PyUnicode_CheckExact(x)) {
        Py_ssize_t n = PyUnicode_GET_LENGTH(x);
        return Ref::steal(PyUnicode_Substring(x, n + start < 0 ? 0 : n + start, n));
    }
    Ref from = Ref::steal(PyLong_FromSsize_t(start));
    Ref slice = from ? Ref::steal(PySlice_New(from.get(), nullptr, nullptr)) : Ref();
    return slice ? Ref::steal(PyObject_GetItem(x, slice.get())) : Ref();
}

// One component: a number as it is, a string with a length unit or a
// percentage as it is, any other string None. No number is parsed out of a
// string: the client receives the text.
PyObject* VariableListAttribute::convert_numeric(PyObject* o, PyObject* obj, PyObject* x)
{
    if (PyLong_CheckExact(x) || PyFloat_CheckExact(x))
        return Py_NewRef(x);
    if (!PyUnicode_Check(x))
        return raise_about(o, obj, invalid_format, x);
    Ref unit = str_tail(x, -2);
    if (!unit)
        return nullptr;
    Ref units = module_global(str_css_length_units);
    if (!units)
        return nullptr;
    int found = PySequence_Contains(units.get(), unit.get());
    if (found < 0)
        return nullptr;
    if (found)
        return Py_NewRef(x);
    Ref last = str_tail(x, -1);
    if (!last)
        return nullptr;
    int percent = PyObject_RichCompareBool(last.get(), str_percent, Py_EQ);
    if (percent < 0)
        return nullptr;
    return Py_NewRef(percent ? x : Py_None);
}

// Through the instance's table: a native subclass may replace it.
Ref component(PyObject* o, PyObject* obj, PyObject* x)
{
    return Ref::steal(table_of<VariableListAttributeTable>(o)->convert_numeric(o, obj, x));
}

// [a, b] repeated to the target length: [a, b] or [a, b, a, b]; None for
// any other length.
PyObject* expand(PyObject* o, const Ref& a, const Ref& b)
{
    Py_ssize_t length = record(o)->base.length;
    if (length != 2 && length != 4)
        Py_RETURN_NONE;
    PyObject* list = PyList_New(length);
    if (!list)
        return nullptr;
    for (Py_ssize_t i = 0; i < length; ++i)
        PyList_SET_ITEM(list, i, Py_NewRef(i % 2 ? b.get() : a.get()));
    return list;
}

PyObject* convert_sequence(PyObject* o, PyObject* obj, PyObject* value)
{
    Py_ssize_t n = PyObject_Size(value);
    if (n < 0)
        return nullptr;
    if (n == 1 || n == 2) {
        // Both items are converted before the length is looked at, so a
        // conversion error comes first.
        Ref first = Ref::steal(PySequence_GetItem(value, 0));
        Ref a = first ? component(o, obj, first.get()) : Ref();
        if (!a)
            return nullptr;
        if (n == 1)
            return expand(o, a, a);
        Ref second = Ref::steal(PySequence_GetItem(value, 1));
        Ref b = second ? component(o, obj, second.get()) : Ref();
        if (!b)
            return nullptr;
        return expand(o, a, b);
    }
    int length = record(o)->base.length;
    if (n == 4 && length == 4) {
        Ref result = Ref::steal(PyList_New(0));
        if (!result)
            return nullptr;
        int status = for_each_in(value, [&](PyObject* item) {
            Ref converted = component(o, obj, item);
            return converted ? PyList_Append(result.get(), converted.get()) : -1;
        });
        return status < 0 ? nullptr : result.release();
    }
    return raise_about(o, obj, n != 4 && length == 4 ? one_two_or_four : one_or_two, value);
}

// value.split(): str's own for an exact str, the subclass's method otherwise.
Ref split(PyObject* value)
{
    if (PyUnicode_CheckExact(value))
        return Ref::steal(PyUnicode_Split(value, nullptr, -1));
    return Ref::steal(PyObject_CallMethodNoArgs(value, str_split));
}

PyObject* VariableListAttribute::convert_unlisted(PyObject* o, PyObject* obj, PyObject* value)
{
    if (PyList_Check(value) || PyTuple_Check(value))
        return convert_sequence(o, obj, value);
    bool text = PyUnicode_Check(value);
    if (!text && !PyLong_CheckExact(value) && !PyFloat_CheckExact(value))
        return raise_about(o, obj, invalid_format, value);
    if (text) {
        Ref parts = split(value);
        if (!parts)
            return nullptr;
        Py_ssize_t n = PyObject_Size(parts.get());
        if (n < 0)
            return nullptr;
        if (n > 1) {
            // The parts go through the whole convert, the options test
            // first. A str subclass's split() may hand back another such
            // string.
            if (Py_EnterRecursiveCall(" while converting a value"))
                return nullptr;
            PyObject* result = convert(o, obj, parts.get());
            Py_LeaveRecursiveCall();
            return result;
        }
    }
    // The value itself, not its stripped part: blanks around a single
    // component stay and make it no length.
    Ref v = component(o, obj, value);
    if (!v)
        return nullptr;
    return expand(o, v, v);
}

PyObject* VariableListAttribute::render(PyObject* o, PyObject* obj)
{
    Ref value;
    int own = value_unless_text(o, obj, value);
    if (own <= 0)
        return own < 0 ? nullptr : value.release();
    return join_items(value.get(), str_space);
}

// ----------------------------------------------------------------- the type

auto members = attribute_members<VariableListAttribute>(
    object_member<VariableListAttribute, &VariableListAttribute::options>("options"));

constexpr auto doc = attribute_doc(
    "A ListAttribute that allows you to work with a variable number of\n"
    "    list items and to expand them to the desired list size.\n"
    "\n"
    "    For example, style attributes like `margin` or `padding` can accept one numeric value\n"
    "    which was applied equally to the left, top, right and bottom.\n"
    "    Now padding or margin can be given one, two or four values, which are\n"
    "    expanded into a length four list [left, top, right, bottom] and stored\n"
    "    in the attribute.\n",
    "list, defaults to []",
    "        `options`: list of strings, other possible values which are accepted by the attribute instance\n"
    "        For example some numeric attributes can accept also string values like `inherit`.\n");

}  // namespace

PyTypeObject VariableListAttribute::type = make_attribute_type<VariableListAttribute>(
    "vora.core._attributes._VariableListAttribute", doc.data(), members.data());

extern const AttributeTypeInfo variable_list_attribute_info =
    attribute_type_info<VariableListAttribute>(strings);

}  // namespace vora::attributes
