// Properties of containers: ObservableList, ListProperty,
// VariableListProperty and DictProperty. Each owner gets its own container,
// never one shared through the default value.
#include "framework/native_type.hpp"
#include "framework/properties.hpp"

namespace vora::framework {

using core::VariableListPropertyRecord;

PropertyTable list_property_table;
PropertyTable variable_list_property_table;
PropertyTable dict_property_table;

namespace {

// The default value given, or a new object made by `make` when none was.
int init_with_made_default(PyObject* self, PyObject* args, PyObject* kwds, PyObject* (*make)(),
                           Ref* kwargs)
{
    Ref defaultvalue;
    if (property_init_common(self, args, kwds, &defaultvalue, kwargs) < 0)
        return -1;
    if (!defaultvalue) {
        defaultvalue = Ref::steal(make());
        if (!defaultvalue)
            return -1;
    }
    set_field(prop(self)->defaultvalue, std::move(defaultvalue));
    return 0;
}

PyObject* new_list()
{
    return PyList_New(0);
}

PyObject* new_dict()
{
    return PyDict_New();
}

// ------------------------------------------------------------------- List

PyObject* ListProperty_convert(PyObject*, PyObject*, PyObject* value)
{
    if (PyList_Check(value) || PyTuple_Check(value))
        return checked(PyObject_CallOneArg(reinterpret_cast<PyObject*>(&ObservableList_Type),
                                           value));
    return Py_NewRef(value);
}

PyObject* ListProperty_check(PyObject* self, PyObject* obj, PyObject* value)
{
    Ref base = Ref::steal(Property_check(self, obj, value));
    if (!base || base.get() == Py_True || Py_IS_TYPE(value, &ObservableList_Type))
        return base.release();
    raise_for(PyExc_ValueError, self, obj, " accept only list (got ", value);
    return nullptr;
}

int ListProperty_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    Ref kwargs;
    return init_with_made_default(self, args, kwds, new_list, &kwargs);
}

// ---------------------------------------------------------- VariableList

VariableListPropertyRecord* variable(PyObject* self)
{
    return reinterpret_cast<VariableListPropertyRecord*>(self);
}

// A new list of `length` items taken in turn from items[0..n).
PyObject* repeated(PyObject* const* items, Py_ssize_t n, int length)
{
    PyObject* list = PyList_New(length);
    if (!list)
        return nullptr;
    for (Py_ssize_t i = 0; i < length; ++i)
        PyList_SET_ITEM(list, i, Py_NewRef(items[i % n]));
    return list;
}

// One value for every side, one per axis (expanded to four) or, with
// length 4, one per side.
PyObject* VariableListProperty_convert(PyObject* self, PyObject* obj, PyObject* value)
{
    if (value == Py_None)
        Py_RETURN_NONE;
    int length = variable(self)->length;
    if (!PyList_Check(value) && !PyTuple_Check(value))
        return checked(repeated(&value, 1, length));
    // A tuple copy: the items stay alive while the result is built.
    Ref items = Ref::steal(PySequence_Tuple(value));
    if (!items)
        return nullptr;
    Py_ssize_t n = PyTuple_GET_SIZE(items.get());
    if (n == 1 || n == 2 || (n == 4 && length == 4))
        return checked(repeated(&PyTuple_GET_ITEM(items.get(), 0), n, length));
    raise_for(PyExc_ValueError, self, obj,
              length == 4 ? " must have 1, 2 or 4 components (got "
                          : " must have 1 or 2 components (got ",
              value);
    return nullptr;
}

PyObject* VariableListProperty_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    PyObject* self = plain_new<&variable_list_property_table>(type, args, kwds);
    if (self)
        variable(self)->length = 4;
    return self;
}

int VariableListProperty_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    Ref defaultvalue;
    Ref kwargs;
    if (property_init_common(self, args, kwds, &defaultvalue, &kwargs) < 0)
        return -1;
    Ref given = dict_get_or(kwargs.get(), "length", Py_None);
    if (!given)
        return -1;
    int length = 4;
    if (given.get() != Py_None) {
        Ref index = Ref::steal(PyNumber_Index(given.get()));
        if (!index)
            return -1;
        int overflow;
        long n = PyLong_AsLongAndOverflow(index.get(), &overflow);
        if (overflow || (n != 2 && n != 4)) {
            PyErr_Format(PyExc_ValueError, "length must be 2 or 4 (got %R)", index.get());
            return -1;
        }
        length = static_cast<int>(n);
    }
    if (!defaultvalue) {
        Ref zero = Ref::steal(PyLong_FromLong(0));
        if (!zero)
            return -1;
        PyObject* z = zero.get();
        defaultvalue = Ref::steal(repeated(&z, 1, length));
        if (!defaultvalue)
            return -1;
    }
    variable(self)->length = length;
    set_field(prop(self)->defaultvalue, std::move(defaultvalue));
    return 0;
}

PyObject* VariableListProperty_get_length(PyObject* self, void*)
{
    return PyLong_FromLong(variable(self)->length);
}

PyGetSetDef VariableListProperty_getset[] = {
    {"length", VariableListProperty_get_length, nullptr, "Number of items stored: 2 or 4.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ------------------------------------------------------------------- Dict

PyObject* DictProperty_convert(PyObject*, PyObject*, PyObject* value)
{
    if (PyDict_Check(value))
        return checked(PyDict_Copy(value));
    return Py_NewRef(value);
}

PyObject* DictProperty_check(PyObject* self, PyObject* obj, PyObject* value)
{
    Ref base = Ref::steal(Property_check(self, obj, value));
    if (!base || base.get() == Py_True || PyDict_Check(value))
        return base.release();
    raise_for(PyExc_ValueError, self, obj, " accept only dict (got ", value);
    return nullptr;
}

int DictProperty_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    Ref kwargs;
    return init_with_made_default(self, args, kwds, new_dict, &kwargs);
}

}  // namespace

void fill_container_tables()
{
    list_property_table = property_table;
    list_property_table.check = ListProperty_check;
    list_property_table.convert = ListProperty_convert;

    // Its check stays Property's: what the items may be is left to the
    // types built on it.
    variable_list_property_table = property_table;
    variable_list_property_table.convert = VariableListProperty_convert;

    dict_property_table = property_table;
    dict_property_table.check = DictProperty_check;
    dict_property_table.convert = DictProperty_convert;
}

// Everything is the list's; the type marks values a ListProperty made.
PyTypeObject ObservableList_Type = Chained<PyListObject, &PyList_Type>::type(
    "vora.core.properties.ObservableList",
    "A list stored by a ListProperty.", {});

PyTypeObject ListProperty_Type = Chained<core::ListPropertyRecord, &Property_Type>::type(
    "vora.core.properties.ListProperty",
    "ListProperty(defaultvalue=[], **kwargs)\n--\n\n"
    "A list; assigned lists and tuples are stored as a new ObservableList.",
    {.new_ = plain_new<&list_property_table>, .init = ListProperty_init});

PyTypeObject VariableListProperty_Type = Chained<VariableListPropertyRecord, &Property_Type>::type(
    "vora.core.properties.VariableListProperty",
    "VariableListProperty(defaultvalue=[0] * length, *, length=4, **kwargs)\n--\n\n"
    "A list of length 2 or 4 expanded from one value, or one or two (or, with\n"
    "length 4, four) components.",
    {.new_ = VariableListProperty_new, .init = VariableListProperty_init,
     .getset = VariableListProperty_getset});

PyTypeObject DictProperty_Type = Chained<core::DictPropertyRecord, &Property_Type>::type(
    "vora.core.properties.DictProperty",
    "DictProperty(defaultvalue={}, **kwargs)\n--\n\n"
    "A dict; assigned dicts are stored as a copy.",
    {.new_ = plain_new<&dict_property_table>, .init = DictProperty_init});

}  // namespace vora::framework
