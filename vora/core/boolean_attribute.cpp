// _BooleanAttribute and _LogicalAttribute: truth values rendered as a bare
// attribute name, or as the words true and false.
#include "common/args.hpp"
#include "vora/core/attribute_type.hpp"
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
    static AttributeTable table;
    static constexpr Base base_kind = Base::boolean;
    static constexpr auto object_fields =
        std::tuple{&TruthAttribute::attrtype, &TruthAttribute::attrname};
    static constexpr auto gc_fields = std::tuple{};
    static int set_defaults(TruthAttribute* self)
    {
        self->sync = 0;
        set_field(self->attrname, Ref::borrow(str_empty));
        set_field(self->attrtype, Ref::borrow(str_empty));
        return 0;
    }
    static int init(PyObject* self, PyObject* args, PyObject* kwds);
    static PyObject* render(PyObject* self, PyObject* obj);
};

using BooleanAttribute = TruthAttribute<Truth::flag>;
using LogicalAttribute = TruthAttribute<Truth::word>;

template <>
PyTypeObject BooleanAttribute::type;
template <>
PyTypeObject LogicalAttribute::type;
template <>
AttributeTable BooleanAttribute::table;
template <>
AttributeTable LogicalAttribute::table;

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
    Ref value = Ref::steal(table_of(o)->get(o, obj, Dispatch::allowed));
    if (!value)
        return nullptr;
    int truth = PyObject_IsTrue(value.get());
    if (truth < 0)
        return nullptr;
    if (!truth)
        return Py_NewRef(str_empty);
    // An exact instance has no way to reach anything but the type's own
    // attrname property: call it without the lookup.
    if (Py_IS_TYPE(o, &BooleanAttribute::type))
        return get_attrname<BooleanAttribute>(o, nullptr);
    return PyObject_GetAttr(o, str_attrname);
}

template <>
PyObject* LogicalAttribute::render(PyObject* o, PyObject* obj)
{
    Ref value = Ref::steal(table_of(o)->get(o, obj, Dispatch::allowed));
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
PyGetSetDef getset[] = {
    sync_member<TruthAttribute<kind>>(),
    attrname_member<TruthAttribute<kind>>(),
    object_member<TruthAttribute<kind>, &TruthAttribute<kind>::attrtype>("attrtype"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char BooleanAttribute_doc[] =
    "Boolean Html attribute class which returns `attrname` as the\n"
    "         return value when its true and empty string when its false.\n"
    "\n"
    "    :Parameters:\n"
    "        `defaultvalue`: boolean, defaults to false\n"
    "        Specifies the default value of the attribute.\n"
    "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
    "        `sync`: boolean, relevant for element attributes only, class and style attributes\n"
    "        are always synced. If true the update event is sent to the client when the attribute value is updated.\n"
    "    ";

const char LogicalAttribute_doc[] =
    "Logical html attribute class which returns 'true' or 'false' as string type and empty string when it is None.\n"
    "\n"
    "    :Parameters:\n"
    "        `defaultvalue`: boolean, defaults to False\n"
    "        Specifies the default value of the attribute.\n"
    "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
    "        `sync`: boolean, relevant for element attributes only, class and style attributes\n"
    "        are always synced. If true the update event is sent to the client when the attribute value is updated.\n"
    "    ";

}  // namespace

template <>
AttributeTable BooleanAttribute::table{};
template <>
PyTypeObject BooleanAttribute::type = make_attribute_type<BooleanAttribute>(
    "vora.core._attributes._BooleanAttribute", BooleanAttribute_doc, getset<Truth::flag>);

template <>
AttributeTable LogicalAttribute::table{};
template <>
PyTypeObject LogicalAttribute::type = make_attribute_type<LogicalAttribute>(
    "vora.core._attributes._LogicalAttribute", LogicalAttribute_doc, getset<Truth::word>);

extern const AttributeTypeInfo boolean_attribute_info =
    attribute_type_info<BooleanAttribute>("_BooleanAttribute", strings);

extern const AttributeTypeInfo logical_attribute_info =
    attribute_type_info<LogicalAttribute>("_LogicalAttribute", nullptr);

}  // namespace vora::attributes
