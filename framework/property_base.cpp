// Property, the root property type: its record, descriptor slots, the native
// table that every property type copies, and its Python-level members.
#include "common/args.hpp"
#include "framework/native_type.hpp"
#include "framework/properties.hpp"

namespace vora::framework {

PropertyTable property_table;

namespace {

void set_none(PyObject*& field)
{
    set_field(field, Ref::borrow(Py_None));
}

// ------------------------------------------------------------------ slots

void Property_dealloc(PyObject* self)
{
    PyObject_GC_UnTrack(self);
    Py_TRASHCAN_BEGIN(self, Property_dealloc)
    PropertyRecord* r = prop(self);
    Py_CLEAR(r->key);
    Py_CLEAR(r->name);
    Py_CLEAR(r->defaultvalue);
    // Static type: a Python subclass's deallocator releases its heap type.
    Py_TYPE(self)->tp_free(self);
    Py_TRASHCAN_END
}

int Property_traverse(PyObject* self, visitproc visit, void* arg)
{
    PropertyRecord* r = prop(self);
    Py_VISIT(r->key);
    Py_VISIT(r->name);
    Py_VISIT(r->defaultvalue);
    return 0;
}

int Property_clear(PyObject* self)
{
    PropertyRecord* r = prop(self);
    set_none(r->key);
    set_none(r->name);
    set_none(r->defaultvalue);
    return 0;
}

int Property_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    Ref defaultvalue;
    Ref kwargs;
    if (property_init_common(self, args, kwds, &defaultvalue, &kwargs) < 0)
        return -1;
    set_field(prop(self)->defaultvalue,
              defaultvalue ? std::move(defaultvalue) : Ref::borrow(Py_None));
    return 0;
}

PyObject* Property_descr_get(PyObject* self, PyObject* obj, PyObject*)
{
    if (!obj || obj == Py_None)
        return Py_NewRef(self);
    return checked(table_of(self)->get(self, obj, Dispatch::allowed));
}

VORA_COLD int refuse_delete(PyObject* self, PyObject* obj)
{
    raise_for(PyExc_AttributeError, self, obj, " cannot be deleted");
    return -1;
}

int Property_descr_set(PyObject* self, PyObject* obj, PyObject* value)
{
    if (!value) [[unlikely]]
        return refuse_delete(self, obj);
    Ref changed = Ref::steal(table_of(self)->set(self, obj, value));
    return checked(changed ? 0 : -1);
}

// ---------------------------------------------------------- table entries

PyObject* Property_compare_value(PyObject*, PyObject* a, PyObject* b)
{
    if (a == b)
        Py_RETURN_TRUE;
    return checked(PyObject_RichCompare(a, b, Py_EQ));
}

// Convert, check, compare with the stored value, store: each step through
// the instance's own table. Returns True when the stored value changed.
PyObject* Property_set(PyObject* self, PyObject* obj, PyObject* value)
{
    Ref storage = storage_of(self, obj);
    if (!storage)
        return nullptr;
    PropertyStorageRecord* rec = storage_record(storage.get());
    const PropertyTable* table = table_of(self);

    // Parsing a value with a unit records the unit in the record; a plain
    // value has none, and a refused value leaves the old one in place.
    Ref old_units = Ref::borrow(rec->units);
    set_field(rec->units, Ref::borrow(Py_None));
    auto fail = [&] {
        set_field(rec->units, std::move(old_units));
        return nullptr;
    };

    Ref converted = Ref::steal(table->convert(self, obj, value));
    if (!converted)
        return fail();
    Ref accepted = Ref::steal(table->check(self, obj, converted.get()));
    if (!accepted)
        return fail();
    Ref old = Ref::borrow(rec->value ? rec->value : Py_None);
    Ref same = Ref::steal(table->compare_value(self, old.get(), converted.get()));
    if (!same)
        return fail();
    int equal = PyObject_IsTrue(same.get());
    if (equal < 0)
        return fail();
    if (equal)
        Py_RETURN_FALSE;
    set_field(rec->value, std::move(converted));
    Ref dispatched = Ref::steal(table->dispatch(self, obj));
    if (!dispatched)
        return nullptr;
    Py_RETURN_TRUE;
}

// No Python-level override of reading exists, so the flag changes nothing.
PyObject* Property_get(PyObject* self, PyObject* obj, Dispatch)
{
    Ref storage = storage_of(self, obj);
    if (!storage)
        return nullptr;
    PyObject* value = storage_record(storage.get())->value;
    return Py_NewRef(value ? value : Py_None);
}

// Observers are not kept by this core; the entry is where a type that
// keeps them tells them.
PyObject* Property_dispatch(PyObject*, PyObject*)
{
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------- methods

constexpr const char* owner_params[] = {"obj"};
constexpr Signature get_sig{"get", owner_params, 1, 1};

PyObject* Property_py_get(PyObject* self, PyObject* obj)
{
    return table_of(self)->get(self, obj, Dispatch::allowed);
}

constexpr const char* set_params[] = {"obj", "value"};
constexpr Signature set_sig{"set", set_params, 2, 2};

PyObject* Property_py_set(PyObject* self, PyObject* obj, PyObject* value)
{
    return table_of(self)->set(self, obj, value);
}

constexpr const char* set_name_params[] = {"owner", "name"};
constexpr Signature set_name_sig{"__set_name__", set_name_params, 2, 2};

// The first name a property is bound under becomes its storage key; the
// key never changes afterwards, so records made under it stay reachable.
PyObject* Property_set_name(PyObject* self, PyObject*, PyObject* name)
{
    PropertyRecord* r = prop(self);
    if (r->key == Py_None)
        set_field(r->key, Ref::borrow(name));
    set_field(r->name, Ref::borrow(name));
    Py_RETURN_NONE;
}

PyMethodDef Property_methods[] = {
    {"get", as_method(fastcall_method<get_sig, Property_py_get>), METH_FASTCALL | METH_KEYWORDS,
     "get(obj)\n--\n\nThe value stored for obj."},
    {"set", as_method(fastcall_method<set_sig, Property_py_set>), METH_FASTCALL | METH_KEYWORDS,
     "set(obj, value)\n--\n\nConverts, checks and stores value for obj; True when it changed."},
    {"__set_name__", as_method(fastcall_method<set_name_sig, Property_set_name>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------- members

PyObject* Property_get_name(PyObject* self, void*)
{
    return Py_NewRef(prop(self)->name);
}

int Property_set_name_attr(PyObject* self, PyObject* value, void*)
{
    if (!value) {
        PyErr_SetString(PyExc_TypeError, "can't delete name attribute");
        return -1;
    }
    set_field(prop(self)->name, Ref::borrow(value));
    return 0;
}

PyObject* Property_get_key(PyObject* self, void*)
{
    return Py_NewRef(prop(self)->key);
}

PyObject* Property_get_defaultvalue(PyObject* self, void*)
{
    return Py_NewRef(prop(self)->defaultvalue);
}

PyObject* Property_get_allownone(PyObject* self, void*)
{
    return PyBool_FromLong(prop(self)->allownone);
}

PyGetSetDef Property_getset[] = {
    {"name", Property_get_name, Property_set_name_attr,
     "Attribute name of the property on its owner class ('' until bound).", nullptr},
    {"key", Property_get_key, nullptr, "Key of the owners' storage records.", nullptr},
    {"defaultvalue", Property_get_defaultvalue, nullptr, nullptr, nullptr},
    {"allownone", Property_get_allownone, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

// ----------------------------------------------- shared with other types

PyObject* Property_new(PyTypeObject* type, PyObject*, PyObject*)
{
    PyObject* self = type->tp_alloc(type, 0);
    if (!self)
        return nullptr;
    PropertyRecord* r = prop(self);
    r->table = &property_table;
    r->key = Py_NewRef(Py_None);
    r->name = Py_NewRef(g_state.str_empty);  // until bound to a class
    r->defaultvalue = Py_NewRef(Py_None);
    r->allownone = 0;
    return self;
}

PyObject* Property_init_storage(PyObject* self, PyObject* obj, PyObject* storage)
{
    if (!expect_storage(storage))
        return nullptr;
    PropertyStorageRecord* rec = storage_record(storage);
    Ref value = Ref::borrow(rec->value ? rec->value : Py_None);
    Ref converted = Ref::steal(table_of(self)->convert(self, obj, value.get()));
    if (!converted)
        return nullptr;
    set_field(rec->value, std::move(converted));
    Py_RETURN_NONE;
}

// Accepts None when allowed; never refuses: refusing is the types' business.
PyObject* Property_check(PyObject* self, PyObject*, PyObject* value)
{
    return PyBool_FromLong(value == Py_None && prop(self)->allownone);
}

PyObject* Property_convert(PyObject*, PyObject*, PyObject* value)
{
    return Py_NewRef(value);
}

namespace {
const char* const init_params[] = {"defaultvalue"};
const Signature init_sig{"__init__", init_params, 1, 0, true};
}  // namespace

int property_init_common(PyObject* self, PyObject* args, PyObject* kwds, Ref* defaultvalue,
                         Ref* kwargs)
{
    Ref values[1];
    if (parse_tuple_dict(init_sig, args, kwds, values, kwargs) < 0)
        return -1;
    *defaultvalue = std::move(values[0]);
    Ref allownone = dict_get_or(kwargs->get(), "allownone", Py_False);
    if (!allownone)
        return -1;
    int truth = PyObject_IsTrue(allownone.get());
    if (truth < 0)
        return -1;
    prop(self)->allownone = truth;
    return 0;
}

void fill_property_table()
{
    PropertyTable& t = property_table;
    t.init_storage = Property_init_storage;
    t.compare_value = Property_compare_value;
    t.set = Property_set;
    t.get = Property_get;
    t.check = Property_check;
    t.convert = Property_convert;
    t.dispatch = Property_dispatch;
}

PyTypeObject Property_Type = native_type(
    "vora.core.properties.Property", sizeof(PropertyRecord), extensible_gc_flags,
    "Property(defaultvalue=None, *, allownone=False, **kwargs)\n--\n\n"
    "A typed setting declared on an EventDispatcher class. Every owner keeps its\n"
    "value in a PropertyStorage record; other keywords are accepted and ignored.",
    {.new_ = Property_new, .init = Property_init, .dealloc = Property_dealloc,
     .traverse = Property_traverse, .clear = Property_clear, .descr_get = Property_descr_get,
     .descr_set = Property_descr_set, .methods = Property_methods, .getset = Property_getset});

}  // namespace vora::framework
