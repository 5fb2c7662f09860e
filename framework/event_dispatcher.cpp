// EventDispatcher, the owner of properties: one PropertyStorage record per
// property of its class, set up at creation through each property's own
// table, and the events registered on it.
#include "common/args.hpp"
#include "common/dict.hpp"
#include "framework/events.hpp"
#include "framework/native_type.hpp"

namespace vora::framework {

using core::EventDispatcherRecord;
using core::PropertyRecord;
using core::PropertyStorageRecord;
using core::PropertyTable;

core::EventDispatcherTable event_dispatcher_table;

namespace {

EventDispatcherRecord* dispatcher(PyObject* self)
{
    return reinterpret_cast<EventDispatcherRecord*>(self);
}

PyObject* g_str_properties = nullptr;  // the class attribute caching them

VORA_COLD void raise_key_error(PyObject* key)
{
    // Built explicitly: PyErr_SetObject would unpack a tuple key.
    Ref exc = Ref::steal(PyObject_CallOneArg(PyExc_KeyError, key));
    if (exc)
        PyErr_SetObject(PyExc_KeyError, exc.get());
}

// ---------------------------------------------------- properties per class

// Names the properties that no __set_name__ reached (set on the class
// after its creation) after the attribute they are found under.
void name_if_unnamed(PyObject* p, PyObject* name)
{
    PropertyRecord* r = reinterpret_cast<PropertyRecord*>(p);
    if (r->key == Py_None) {
        set_field(r->key, Ref::borrow(name));
        set_field(r->name, Ref::borrow(name));
    }
}

// The properties the class's attributes hold, walking the MRO from the
// root so that a subclass's attribute replaces (or, when it is no
// property, hides) an inherited one.
Ref collect_properties(PyTypeObject* type, PyTypeObject* property_type)
{
    Ref mro = Ref::borrow(type->tp_mro);
    Ref found = Ref::steal(PyDict_New());
    if (!mro || !found)
        return Ref();
    for (Py_ssize_t i = PyTuple_GET_SIZE(mro.get()) - 1; i >= 0; --i) {
        PyTypeObject* cls = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro.get(), i));
        Ref dict = Ref::steal(PyType_GetDict(cls));
        // A snapshot: the dict operations below may run a key's __eq__.
        Ref items = Ref::steal(dict ? PyDict_Items(dict.get()) : nullptr);
        if (!items)
            return Ref();
        for (Py_ssize_t k = 0; k < PyList_GET_SIZE(items.get()); ++k) {
            PyObject* pair = PyList_GET_ITEM(items.get(), k);
            PyObject* name = PyTuple_GET_ITEM(pair, 0);
            PyObject* value = PyTuple_GET_ITEM(pair, 1);
            if (PyObject_TypeCheck(value, property_type)) {
                name_if_unnamed(value, name);
                if (PyDict_SetItem(found.get(), name, value) < 0)
                    return Ref();
            } else if (PyDict_Pop(found.get(), name, nullptr) < 0) {
                return Ref();
            }
        }
    }
    Ref values = Ref::steal(PyDict_Values(found.get()));
    return values ? Ref::steal(PyList_AsTuple(values.get())) : Ref();
}

// The properties of instances of type, as a tuple. Cached in the class's
// own dict; a native (immutable) class is searched every time.
Ref properties_of(PyTypeObject* type)
{
    bool cacheable = (type->tp_flags & Py_TPFLAGS_HEAPTYPE) &&
                     !(type->tp_flags & Py_TPFLAGS_IMMUTABLETYPE);
    if (cacheable) {
        Ref dict = Ref::steal(PyType_GetDict(type));
        Ref cached;
        if (dict_get(dict.get(), g_str_properties, &cached) < 0)
            return Ref();
        if (cached && PyTuple_CheckExact(cached.get()))
            return cached;
    }
    const PropertyTypes* types = property_types();
    if (!types)
        return Ref();
    Ref props = collect_properties(type, types->property);
    if (props && cacheable &&
        PyType_Type.tp_setattro(reinterpret_cast<PyObject*>(type), g_str_properties,
                                props.get()) < 0)
        return Ref();
    return props;
}

// One record per property key, holding the default value, then each
// property's own init_storage: a native subclass's replacement runs.
int create_storage(PyObject* self, PyTypeObject* type)
{
    Ref props = properties_of(type);
    if (!props)
        return -1;
    PyTypeObject* storage_type = property_types()->storage;
    Ref storage = Ref::borrow(dispatcher(self)->storage);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(props.get()); ++i) {
        PyObject* p = PyTuple_GET_ITEM(props.get(), i);
        PropertyRecord* r = reinterpret_cast<PropertyRecord*>(p);
        Ref key = Ref::borrow(r->key);
        int present = PyDict_Contains(storage.get(), key.get());
        if (present < 0)
            return -1;
        if (present)  // one property bound under two names
            continue;
        Ref record = Ref::steal(storage_type->tp_alloc(storage_type, 0));
        if (!record)
            return -1;
        PropertyStorageRecord* rec = reinterpret_cast<PropertyStorageRecord*>(record.get());
        rec->value = Py_NewRef(r->defaultvalue ? r->defaultvalue : Py_None);
        rec->options = Py_NewRef(Py_None);
        rec->units = Py_NewRef(Py_None);
        if (PyDict_SetItem(storage.get(), key.get(), record.get()) < 0)
            return -1;
        const PropertyTable* table = static_cast<const PropertyTable*>(r->table);
        Ref done = Ref::steal(table->init_storage(p, self, record.get()));
        if (!done)
            return -1;
    }
    return 0;
}

// ---------------------------------------------------------- table entries

PyObject* EventDispatcher_register_event(PyObject* obj, PyObject* name, int client)
{
    Ref events = Ref::borrow(dispatcher(obj)->events);
    if (!PyDict_Check(events.get())) {
        PyErr_SetString(PyExc_RuntimeError, "the dispatcher's events were cleared");
        return nullptr;
    }
    // Once a client event, always one.
    if (client) {
        if (PyDict_SetItem(events.get(), name, Py_True) < 0)
            return nullptr;
    } else {
        PyObject* previous;
        if (PyDict_SetDefaultRef(events.get(), name, Py_False, &previous) < 0)
            return nullptr;
        Py_DECREF(previous);
    }
    Py_RETURN_NONE;
}

PyObject* EventDispatcher_property_storage(PyObject* obj, PyObject* key)
{
    const PropertyTypes* types = property_types();
    if (!types)
        return nullptr;
    PyObject* storage = dispatcher(obj)->storage;
    if (!storage || !PyDict_Check(storage)) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object is not subscriptable",
                     storage ? Py_TYPE(storage)->tp_name : "NoneType");
        return nullptr;
    }
    PyObject* record = PyDict_GetItemWithError(storage, key);
    if (!record) {
        if (!PyErr_Occurred())
            raise_key_error(key);
        return nullptr;
    }
    if (!Py_IS_TYPE(record, types->storage))
        return raise_expected("PropertyStorage", record);
    return record;
}

// ------------------------------------------------------------------ slots

PyObject* EventDispatcher_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    Ref self = Ref::steal(ObjectWithUid_new(type, args, kwds));
    if (!self)
        return nullptr;
    EventDispatcherRecord* r = dispatcher(self.get());
    r->table = &event_dispatcher_table;
    r->storage = PyDict_New();
    r->events = PyDict_New();
    if (!r->storage || !r->events || create_storage(self.get(), type) < 0)
        return nullptr;
    return self.release();
}

const Signature init_sig{"__init__", nullptr, 0, 0, true};

VORA_COLD int raise_unexpected(PyObject* name)
{
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", init_sig.name,
                 name);
    return -1;
}

// Keywords name properties and give their first values.
int EventDispatcher_init(PyObject* self, PyObject* args, PyObject* kwds)
{
    if (PyTuple_GET_SIZE(args) != 0) {
        raise_positional_count(init_sig, PyTuple_GET_SIZE(args));
        return -1;
    }
    if (!kwds || PyDict_GET_SIZE(kwds) == 0)
        return 0;
    const PropertyTypes* types = property_types();
    if (!types)
        return -1;
    Ref items = Ref::steal(PyDict_Items(kwds));
    if (!items)
        return -1;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* pair = PyList_GET_ITEM(items.get(), i);
        PyObject* name = PyTuple_GET_ITEM(pair, 0);
        Ref attr = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(self)), name));
        if (!attr) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError))
                return -1;
            PyErr_Clear();
            return raise_unexpected(name);
        }
        if (!PyObject_TypeCheck(attr.get(), types->property))
            return raise_unexpected(name);
        const PropertyTable* table =
            static_cast<const PropertyTable*>(reinterpret_cast<PropertyRecord*>(attr.get())->table);
        Ref done = Ref::steal(table->set(attr.get(), self, PyTuple_GET_ITEM(pair, 1)));
        if (!done)
            return -1;
    }
    return 0;
}

using DispatcherChain = Chained<EventDispatcherRecord, &ObjectWithUid_Type,
                                &EventDispatcherRecord::storage, &EventDispatcherRecord::events>;

// ---------------------------------------------------------------- methods

const core::EventDispatcherTable* table_of(PyObject* self)
{
    return static_cast<const core::EventDispatcherTable*>(dispatcher(self)->table);
}

constexpr const char* register_params[] = {"name", "client"};
constexpr Signature register_sig{"register_event", register_params, 2, 1};

PyObject* EventDispatcher_py_register_event(PyObject* self, PyObject* name, PyObject* given)
{
    if (!PyUnicode_Check(name))
        return raise_expected("str", name);
    int client = given ? PyObject_IsTrue(given) : 0;
    if (client < 0)
        return nullptr;
    return table_of(self)->register_event(self, name, client);
}

PyMethodDef EventDispatcher_methods[] = {
    {"register_event", as_method(fastcall_method<register_sig, EventDispatcher_py_register_event>),
     METH_FASTCALL | METH_KEYWORDS,
     "register_event(name, client=False)\n--\n\n"
     "Registers the event name; client marks an event the browser client dispatches."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* EventDispatcher_get_storage(PyObject* self, void*)
{
    PyObject* storage = dispatcher(self)->storage;
    return Py_NewRef(storage ? storage : Py_None);
}

PyObject* EventDispatcher_get_events(PyObject* self, void*)
{
    PyObject* events = dispatcher(self)->events;
    if (!events || !PyDict_Check(events))
        Py_RETURN_NONE;
    return PyDictProxy_New(events);
}

PyGetSetDef EventDispatcher_getset[] = {
    {"storage", EventDispatcher_get_storage, nullptr,
     "The PropertyStorage records of this object, by property key.", nullptr},
    {"events", EventDispatcher_get_events, nullptr,
     "Registered events (read-only view): name -> True for client events.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

void fill_dispatcher_table()
{
    event_dispatcher_table.register_event = EventDispatcher_register_event;
    event_dispatcher_table.property_storage = EventDispatcher_property_storage;
}

int make_dispatcher_constants()
{
    if (!g_str_properties)
        g_str_properties = PyUnicode_InternFromString("__vora_properties__");
    return g_str_properties ? 0 : -1;
}

PyTypeObject EventDispatcher_Type = DispatcherChain::type(
    "vora.core._event.EventDispatcher",
    "EventDispatcher(**values)\n--\n\n"
    "The owner of properties: keeps one PropertyStorage per property of its class\n"
    "and the events registered on it. Keywords give properties their first values.",
    {.new_ = EventDispatcher_new, .init = EventDispatcher_init, .methods = EventDispatcher_methods,
     .getset = EventDispatcher_getset});

}  // namespace vora::framework
