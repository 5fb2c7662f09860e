// PropertyStorage, the per-owner record of one property, and the lookup of
// an owner's record and the owner-naming messages that all types share.
#include "framework/native_type.hpp"
#include "framework/properties.hpp"

namespace vora::framework {

State g_state;

namespace {

PropertyStorageRecord* rec(PyObject* self)
{
    return storage_record(self);
}

PyObject* PropertyStorage_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    if (PyTuple_GET_SIZE(args) != 0 || (kwds && PyDict_GET_SIZE(kwds) != 0)) {
        PyErr_SetString(PyExc_TypeError, "PropertyStorage() takes no arguments");
        return nullptr;
    }
    PyObject* self = type->tp_alloc(type, 0);
    if (!self)
        return nullptr;
    rec(self)->value = Py_NewRef(Py_None);
    rec(self)->options = Py_NewRef(Py_None);
    rec(self)->units = Py_NewRef(Py_None);
    return self;
}

void PropertyStorage_dealloc(PyObject* self)
{
    PyObject_GC_UnTrack(self);
    Py_TRASHCAN_BEGIN(self, PropertyStorage_dealloc)
    Py_CLEAR(rec(self)->value);
    Py_CLEAR(rec(self)->options);
    Py_CLEAR(rec(self)->units);
    Py_TYPE(self)->tp_free(self);
    Py_TRASHCAN_END
}

int PropertyStorage_traverse(PyObject* self, visitproc visit, void* arg)
{
    Py_VISIT(rec(self)->value);
    Py_VISIT(rec(self)->options);
    Py_VISIT(rec(self)->units);
    return 0;
}

int PropertyStorage_clear(PyObject* self)
{
    set_field(rec(self)->value, Ref::borrow(Py_None));
    set_field(rec(self)->options, Ref::borrow(Py_None));
    set_field(rec(self)->units, Ref::borrow(Py_None));
    return 0;
}

// The record's fields by offset, so one getter and setter serve all three.
PyObject*& field(PyObject* self, void* closure)
{
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) +
                                         reinterpret_cast<Py_ssize_t>(closure));
}

PyObject* PropertyStorage_get(PyObject* self, void* closure)
{
    PyObject* value = field(self, closure);
    return Py_NewRef(value ? value : Py_None);
}

VORA_COLD int refuse_delete()
{
    PyErr_SetString(PyExc_TypeError, "can't delete PropertyStorage attributes");
    return -1;
}

int PropertyStorage_set_value(PyObject* self, PyObject* value, void* closure)
{
    if (!value)
        return refuse_delete();
    set_field(field(self, closure), Ref::borrow(value));
    return 0;
}

// Native readers index the option list as a list and compare units as text.
int PropertyStorage_set_options(PyObject* self, PyObject* value, void* closure)
{
    if (!value)
        return refuse_delete();
    if (value != Py_None && !PyList_Check(value)) {
        raise_expected("list", value);
        return -1;
    }
    set_field(field(self, closure), Ref::borrow(value));
    return 0;
}

int PropertyStorage_set_units(PyObject* self, PyObject* value, void* closure)
{
    if (!value)
        return refuse_delete();
    if (value != Py_None && !PyUnicode_Check(value)) {
        raise_expected("str", value);
        return -1;
    }
    set_field(field(self, closure), Ref::borrow(value));
    return 0;
}

void* offset_of(Py_ssize_t offset)
{
    return reinterpret_cast<void*>(offset);
}

PyGetSetDef PropertyStorage_getset[] = {
    {"value", PropertyStorage_get, PropertyStorage_set_value, "The stored value.",
     offset_of(offsetof(PropertyStorageRecord, value))},
    {"options", PropertyStorage_get, PropertyStorage_set_options,
     "This owner's option list, or None.", offset_of(offsetof(PropertyStorageRecord, options))},
    {"units", PropertyStorage_get, PropertyStorage_set_units,
     "Unit of a value parsed with one, or None.",
     offset_of(offsetof(PropertyStorageRecord, units))},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject PropertyStorage_Type = native_type(
    "vora.core.properties.PropertyStorage", sizeof(PropertyStorageRecord),
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    "PropertyStorage()\n--\n\n"
    "The value of one property for one owner, and what goes with it.",
    {.new_ = PropertyStorage_new, .dealloc = PropertyStorage_dealloc,
     .traverse = PropertyStorage_traverse, .clear = PropertyStorage_clear,
     .getset = PropertyStorage_getset});

bool expect_storage(PyObject* storage)
{
    if (Py_IS_TYPE(storage, &PropertyStorage_Type)) [[likely]]
        return true;
    raise_expected("PropertyStorage", storage);
    return false;
}

Ref storage_of(PyObject* self, PyObject* obj)
{
    if (!PyObject_TypeCheck(obj, g_state.dispatcher_type)) [[unlikely]] {
        raise_expected("EventDispatcher", obj);
        return Ref();
    }
    // Borrowed from the owner's dict, and taken at once.
    return Ref::borrow(g_state.dispatcher_table->property_storage(obj, prop(self)->key));
}

Ref storage_if_any(PyObject* self, PyObject* obj)
{
    if (!PyObject_TypeCheck(obj, g_state.dispatcher_type))
        return Ref();
    PyObject* storage = reinterpret_cast<core::EventDispatcherRecord*>(obj)->storage;
    if (!storage || !PyDict_Check(storage))
        return Ref();
    Ref record;
    if (dict_get(storage, prop(self)->key, &record) < 0)
        return Ref();
    if (record && !Py_IS_TYPE(record.get(), &PropertyStorage_Type))
        return Ref();
    return record;
}

void raise_for(PyObject* exc, PyObject* self, PyObject* obj, const char* text, PyObject* shown)
{
    Ref cls = Ref::steal(PyType_GetName(Py_TYPE(obj)));
    if (!cls)
        return;
    Ref name = Ref::steal(PyObject_Format(prop(self)->name, g_state.str_empty));
    if (!name)
        return;
    if (!shown) {
        PyErr_Format(exc, "%U.%U%s", cls.get(), name.get(), text);
        return;
    }
    Ref repr = Ref::steal(PyObject_Repr(shown));
    if (repr)
        PyErr_Format(exc, "%U.%U%s%U)", cls.get(), name.get(), text, repr.get());
}

}  // namespace vora::framework
