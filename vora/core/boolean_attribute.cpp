// _BooleanAttribute and _LogicalAttribute: truth values rendered as a bare
// attribute name, or as the words true and false.
#include "common/args.hpp"
#include "vora/core/attribute_type.hpp"
#include "vora/core/docstring.hpp"
#include "vora/core/keywords.hpp"

namespace vora::attributes {

namespace {

// The two types differ only in their rendering and in whether None may be
// stored without the caller asking (a logical attribute renders None as the
// absent attribute, so it always allows it).
enum class Truth { flag, word };

template <Truth kind>
struct TruthAttribute {
    core::BooleanPropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;

    static PyTypeObject type;
    static inline AttributeTable table{};
    static constexpr Base base_kind = Base::boolean;
    static constexpr auto object_fields = std::tuple{};
    static int init(PyObject* self, PyObject* args, PyObject* kwds);
    static PyObject* render(PyObject* self, PyObject* obj);
};

using BooleanAttribute = TruthAttribute<Truth::flag>;
using LogicalAttribute = TruthAttribute<Truth::word>;

template <>
PyTypeObject BooleanAttribute::type;
template <>
PyTypeObject LogicalAttribute::type;

PyObject* str_true;
PyObject* str_false;
const StringSpec strings[] = {
    {&str_true, "true"},
    {&str_false, "false"},
    {nullptr, nullptr},
};

template <Truth kind>
int TruthAttribute<kind>::init(PyObject* o, PyObject* args, PyObject* kwds)
{
    Ref kwargs = copy_keywords(kwds);
    if (!kwargs || take_common_keywords(reinterpret_cast<TruthAttribute*>(o), kwargs.get()) < 0)
        return -1;
    if constexpr (kind == Truth::word) {
        if (force_allownone(kwargs.get()) < 0)
            return -1;
    }
    return call_base_init(&TruthAttribute::type, o, args, kwargs.get());
}

// On: the attribute's name, read as Python code would read self.attrname, so
// that a subclass's attrname property is honoured. Off: left out.
template <>
PyObject* BooleanAttribute::render(PyObject* o, PyObject* obj)
{
    Ref value;
    int on = value_if_true(o, obj, value);
    if (on <= 0)
        return on < 0 ? nullptr : Py_NewRef(str_empty);
    // An exact instance has no way to reach anything but the type's own
    // attrname property: call it without the lookup.
    if (Py_IS_TYPE(o, &BooleanAttribute::type))
        return get_attrname<BooleanAttribute>(o, nullptr);
    return PyObject_GetAttr(o, str_attrname);
}

template <>
PyObject* LogicalAttribute::render(PyObject* o, PyObject* obj)
{
    Ref value = stored_value(o, obj);
    if (!value)
        return nullptr;
    if (value.get() == Py_None)
        return Py_NewRef(str_empty);
    int truth = PyObject_IsTrue(value.get());
    if (truth < 0)
        return nullptr;
    return Py_NewRef(truth ? str_true : str_false);
}

template <Truth kind>
auto members = attribute_members<TruthAttribute<kind>>();

constexpr auto BooleanAttribute_doc = attribute_doc(
    "Boolean Html attribute class which returns `attrname` as the\n"
    "         return value when its true and empty string when its false.\n",
    "boolean, defaults to false");

constexpr auto LogicalAttribute_doc = attribute_doc(
    "Logical html attribute class which returns 'true' or 'false' as string type and empty string when it is None.\n",
    "boolean, defaults to False");

}  // namespace

template <>
PyTypeObject BooleanAttribute::type = make_attribute_type<BooleanAttribute>(
    "vora.core._attributes._BooleanAttribute", BooleanAttribute_doc.data(),
    members<Truth::flag>.data());

template <>
PyTypeObject LogicalAttribute::type = make_attribute_type<LogicalAttribute>(
    "vora.core._attributes._LogicalAttribute", LogicalAttribute_doc.data(),
    members<Truth::word>.data());

extern const AttributeTypeInfo boolean_attribute_info =
    attribute_type_info<BooleanAttribute>(strings);

extern const AttributeTypeInfo logical_attribute_info =
    attribute_type_info<LogicalAttribute>(nullptr);

}  // namespace vora::attributes
