// _ListAttribute: a list setting, optionally of a required length, rendered
// as its comma-separated items.
#include "common/args.hpp"
#include "vora/core/attribute_type.hpp"
#include "vora/core/docstring.hpp"
#include "vora/core/item_text.hpp"
#include "vora/core/keywords.hpp"
#include "vora/core/lookups.hpp"
#include "vora/core/messages.hpp"

namespace vora::attributes {

namespace {

struct ListAttribute {
    core::ListPropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* length;    // required number of items, or None
    PyObject* attrname;

    static PyTypeObject type;
    static inline AttributeTable table{};
    static constexpr Base base_kind = Base::list;
    static constexpr auto object_fields = std::tuple{&ListAttribute::length};
    static int init(PyObject* self, PyObject* args, PyObject* kwds);
    static PyObject* check(PyObject* self, PyObject* obj, PyObject* value);
    static PyObject* render(PyObject* self, PyObject* obj);
};

PyObject* str_length;
PyObject* str_observable_list;
PyObject* str_comma;
const StringSpec strings[] = {
    {&str_comma, ", "},
    {&str_length, "length"},
    {&str_observable_list, "ObservableList"},
    {nullptr, nullptr},
};

int ListAttribute::init(PyObject* o, PyObject* args, PyObject* kwds)
{
    auto* self = reinterpret_cast<ListAttribute*>(o);
    Ref kwargs = copy_keywords(kwds);
    if (!kwargs || take_common_keywords(self, kwargs.get()) < 0)
        return -1;
    PyObject* length;
    if (PyDict_GetItemRef(kwargs.get(), str_length, &length) < 0)
        return -1;
    set_field(self->length, length ? Ref::steal(length) : Ref::borrow(Py_None));
    return call_base_init(&ListAttribute::type, o, args, kwargs.get());
}

// ------------------------------------------------------- native table entries

VORA_COLD PyObject* raise_wrong_length(PyObject* length)
{
    Ref shown = Ref::steal(PyObject_Format(length, str_empty));
    if (!shown)
        return nullptr;
    return raise_value_error(
        Ref::steal(PyUnicode_FromFormat("Length of input array is wrong, must be %U", shown.get())));
}

// The length test comes before the type test, so a plain list of the wrong
// length is reported for its length.
PyObject* ListAttribute::check(PyObject* o, PyObject* obj, PyObject* value)
{
    int accepted = property_check_accepts(o, obj, value);
    if (accepted < 0)
        return nullptr;
    if (accepted)
        Py_RETURN_TRUE;
    Ref length = Ref::borrow(reinterpret_cast<ListAttribute*>(o)->length);
    if (length.get() != Py_None) {
        Py_ssize_t n = PyObject_Size(value);
        if (n < 0)
            return nullptr;
        Ref size = Ref::steal(PyLong_FromSsize_t(n));
        if (!size)
            return nullptr;
        Ref differs = Ref::steal(PyObject_RichCompare(size.get(), length.get(), Py_NE));
        if (!differs)
            return nullptr;
        int wrong = PyObject_IsTrue(differs.get());
        if (wrong < 0)
            return nullptr;
        if (wrong)
            return raise_wrong_length(length.get());
    }
    Ref observable_list = module_global(str_observable_list);
    if (!observable_list)
        return nullptr;
    if (reinterpret_cast<PyObject*>(Py_TYPE(value)) != observable_list.get())
        return raise_value_error(owner_message(o, obj, " accept only ObservableList"));
    Py_RETURN_NONE;
}

PyObject* ListAttribute::render(PyObject* o, PyObject* obj)
{
    Ref value;
    int on = value_if_true(o, obj, value);
    if (on <= 0)
        return on < 0 ? nullptr : Py_NewRef(str_empty);
    return join_items(value.get(), str_comma);
}

// ----------------------------------------------------------------- the type

auto members = attribute_members<ListAttribute>();

constexpr auto doc = attribute_doc(
    "List html attribute class which returns comma separated list of values as strings.\n",
    "list, defaults to []");

}  // namespace

PyTypeObject ListAttribute::type =
    make_attribute_type<ListAttribute>("vora.core._attributes._ListAttribute", doc.data(),
                                       members.data());

extern const AttributeTypeInfo list_attribute_info =
    attribute_type_info<ListAttribute>(strings);

}  // namespace vora::attributes
