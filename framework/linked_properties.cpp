// Properties that keep no value of their own: ReferenceListProperty (the
// values of other properties as one list) and AliasProperty (a getter and
// an optional setter).
#include "common/args.hpp"
#include "framework/native_type.hpp"
#include "framework/properties.hpp"

namespace vora::framework {

using core::AliasPropertyRecord;
using core::ReferenceListPropertyRecord;

PropertyTable reference_list_property_table;
PropertyTable alias_property_table;

namespace {

// Reads keyword `allownone` for the types whose positional arguments are
// not a default value.
int read_allownone(PyObject* self, PyObject* kwds)
{
    if (!kwds)
        return 0;
    Ref value;
    int found = dict_get(kwds, "allownone", &value);
    if (found <= 0)
        return found;
    int truth = PyObject_IsTrue(value.get());
    if (truth < 0)
        return -1;
    prop(self)->allownone = truth;
    return 0;
}

// --------------------------------------------------------- ReferenceList

ReferenceListPropertyRecord* reference(PyObject* self)
{
    return reinterpret_cast<ReferenceListPropertyRecord*>(self);
}

PyObject* ReferenceListProperty_get(PyObject* self, PyObject* obj, Dispatch dispatch)
{
    // Held: a referenced property's get may run Python code.
    Ref properties = Ref::borrow(reference(self)->properties);
    Py_ssize_t n = PyTuple_GET_SIZE(properties.get());
    Ref values = Ref::steal(PyList_New(n));
    if (!values)
        return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* p = PyTuple_GET_ITEM(properties.get(), i);
        PyObject* value = table_of(p)->get(p, obj, dispatch);
        if (!value)
            return nullptr;
        PyList_SET_ITEM(values.get(), i, value);
    }
    return values.release();
}

PyObject* ReferenceListProperty_set(PyObject* self, PyObject* obj, PyObject* value)
{
    Ref properties = Ref::borrow(reference(self)->properties);
    Py_ssize_t n = PyTuple_GET_SIZE(properties.get());
    Ref items;
    if (PyList_Check(value) || PyTuple_Check(value))
        items = Ref::steal(PySequence_Tuple(value));
    if (!items || PyTuple_GET_SIZE(items.get()) != n) {
        if (!PyErr_Occurred())
            raise_for(PyExc_ValueError, self, obj,
                      " must have one component per referenced property (got ", value);
        return nullptr;
    }
    bool changed = false;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* p = PyTuple_GET_ITEM(properties.get(), i);
        Ref result = Ref::steal(table_of(p)->set(p, obj, PyTuple_GET_ITEM(items.get(), i)));
        if (!result)
            return nullptr;
        changed = changed || result.get() == Py_True;
    }
    return PyBool_FromLong(changed);
}

PyObject* ReferenceListProperty_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    PyObject* self = plain_new<&reference_list_property_table>(type, args, kwds);
    if (self)
        reference(self)->properties = PyTuple_New(0);
    if (self && !reference(self)->properties)
        Py_CLEAR(self);
    return self;
}

int ReferenceListProperty_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) {
        PyObject* p = PyTuple_GET_ITEM(args, i);
        if (!PyObject_TypeCheck(p, &Property_Type)) {
            raise_expected("Property", p);
            return -1;
        }
    }
    if (read_allownone(self, kwds) < 0)
        return -1;
    set_field(reference(self)->properties, Ref::borrow(args));
    return 0;
}

PyObject* ReferenceListProperty_get_properties(PyObject* self, void*)
{
    return Py_NewRef(reference(self)->properties);
}

PyGetSetDef ReferenceListProperty_getset[] = {
    {"properties", ReferenceListProperty_get_properties, nullptr,
     "The referenced properties, in order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ------------------------------------------------------------------ Alias

AliasPropertyRecord* alias(PyObject* self)
{
    return reinterpret_cast<AliasPropertyRecord*>(self);
}

PyObject* AliasProperty_get(PyObject* self, PyObject* obj, Dispatch)
{
    Ref getter = Ref::borrow(alias(self)->getter);
    if (getter.get() == Py_None) {
        raise_for(PyExc_AttributeError, self, obj, " has no getter");
        return nullptr;
    }
    return checked(PyObject_CallOneArg(getter.get(), obj));
}

PyObject* AliasProperty_set(PyObject* self, PyObject* obj, PyObject* value)
{
    Ref setter = Ref::borrow(alias(self)->setter);
    if (setter.get() == Py_None) {
        raise_for(PyExc_AttributeError, self, obj, " is read-only");
        return nullptr;
    }
    PyObject* args[] = {obj, value};
    Ref result = Ref::steal(PyObject_Vectorcall(setter.get(), args, 2, nullptr));
    if (!result)
        return nullptr;
    Py_RETURN_TRUE;
}

PyObject* AliasProperty_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    PyObject* self = plain_new<&alias_property_table>(type, args, kwds);
    if (self) {
        alias(self)->getter = Py_NewRef(Py_None);
        alias(self)->setter = Py_NewRef(Py_None);
    }
    return self;
}

const char* const alias_params[] = {"getter", "setter"};
const vora::Signature alias_sig{"__init__", alias_params, 2, 1, true};

int AliasProperty_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    Ref values[2];
    Ref kwargs;
    if (vora::parse_tuple_dict(alias_sig, args, kwds, values, &kwargs) < 0)
        return -1;
    if (!PyCallable_Check(values[0].get())) {
        PyErr_SetString(PyExc_TypeError, "getter must be callable");
        return -1;
    }
    if (values[1] && values[1].get() != Py_None && !PyCallable_Check(values[1].get())) {
        PyErr_SetString(PyExc_TypeError, "setter must be callable or None");
        return -1;
    }
    if (read_allownone(self, kwargs.get()) < 0)
        return -1;
    set_field(alias(self)->getter, std::move(values[0]));
    set_field(alias(self)->setter, values[1] ? std::move(values[1]) : Ref::borrow(Py_None));
    return 0;
}

using ReferenceChain = Chained<ReferenceListPropertyRecord, &Property_Type,
                               &ReferenceListPropertyRecord::properties>;
using AliasChain = Chained<AliasPropertyRecord, &Property_Type, &AliasPropertyRecord::getter,
                           &AliasPropertyRecord::setter>;

}  // namespace

void fill_linked_tables()
{
    reference_list_property_table = property_table;
    reference_list_property_table.get = ReferenceListProperty_get;
    reference_list_property_table.set = ReferenceListProperty_set;

    alias_property_table = property_table;
    alias_property_table.get = AliasProperty_get;
    alias_property_table.set = AliasProperty_set;
}

PyTypeObject ReferenceListProperty_Type = ReferenceChain::type(
    "vora.core.properties.ReferenceListProperty",
    "ReferenceListProperty(*properties, **kwargs)\n--\n\n"
    "The values of other properties of the same owner, read and written as one list.",
    {.new_ = ReferenceListProperty_new, .init = ReferenceListProperty_init,
     .getset = ReferenceListProperty_getset});

PyTypeObject AliasProperty_Type = AliasChain::type(
    "vora.core.properties.AliasProperty",
    "AliasProperty(getter, setter=None, **kwargs)\n--\n\n"
    "A value computed by getter(obj) and, when a setter is given, written by\n"
    "setter(obj, value).",
    {.new_ = AliasProperty_new, .init = AliasProperty_init});

}  // namespace vora::framework
