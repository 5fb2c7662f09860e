// The small event types: ObjectWithUid (a process-unique id), Observable,
// BoundCallback (a callable with arguments bound in advance) and
// EventObservers (an ordered list of callbacks with its native table).
#include "common/args.hpp"
#include "framework/events.hpp"
#include "framework/native_type.hpp"

namespace vora::framework {

using core::BoundCallbackRecord;
using core::EventObserversRecord;
using core::ObjectWithUidRecord;
using core::ObservableRecord;

core::EventObserversTable event_observers_table;

namespace {

// ---------------------------------------------------------- ObjectWithUid

long g_last_uid = 0;

void ObjectWithUid_dealloc(PyObject* self)
{
    Py_TYPE(self)->tp_free(self);
}

PyObject* ObjectWithUid_get_uid(PyObject* self, void*)
{
    return PyLong_FromLong(reinterpret_cast<ObjectWithUidRecord*>(self)->uid);
}

PyGetSetDef ObjectWithUid_getset[] = {
    {"uid", ObjectWithUid_get_uid, nullptr, "Id of the object, unique in the process.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ------------------------------------------------------------- Observable

PyObject* Observable_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    PyObject* self = ObjectWithUid_new(type, args, kwds);
    if (!self)
        return nullptr;
    reinterpret_cast<ObservableRecord*>(self)->bound = PyDict_New();
    if (!reinterpret_cast<ObservableRecord*>(self)->bound)
        Py_CLEAR(self);
    return self;
}

using ObservableChain = Chained<ObservableRecord, &ObjectWithUid_Type, &ObservableRecord::bound>;

// ---------------------------------------------------------- BoundCallback

BoundCallbackRecord* bound(PyObject* self)
{
    return reinterpret_cast<BoundCallbackRecord*>(self);
}

PyObject* BoundCallback_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    if (PyTuple_GET_SIZE(args) < 1) {
        PyErr_SetString(PyExc_TypeError, "BoundCallback() needs the function to call");
        return nullptr;
    }
    PyObject* func = PyTuple_GET_ITEM(args, 0);
    if (!PyCallable_Check(func)) {
        PyErr_Format(PyExc_TypeError, "BoundCallback() needs a callable, not %.200s",
                     Py_TYPE(func)->tp_name);
        return nullptr;
    }
    Ref bound_args = Ref::steal(PyTuple_GetSlice(args, 1, PyTuple_GET_SIZE(args)));
    Ref bound_kwargs = Ref::steal(kwds ? PyDict_Copy(kwds) : PyDict_New());
    if (!bound_args || !bound_kwargs)
        return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self)
        return nullptr;
    bound(self)->func = Py_NewRef(func);
    bound(self)->args = bound_args.release();
    bound(self)->kwargs = bound_kwargs.release();
    return self;
}

void BoundCallback_dealloc(PyObject* self)
{
    PyObject_GC_UnTrack(self);
    Py_TRASHCAN_BEGIN(self, BoundCallback_dealloc)
    Py_CLEAR(bound(self)->func);
    Py_CLEAR(bound(self)->args);
    Py_CLEAR(bound(self)->kwargs);
    Py_TYPE(self)->tp_free(self);
    Py_TRASHCAN_END
}

int BoundCallback_traverse(PyObject* self, visitproc visit, void* arg)
{
    Py_VISIT(bound(self)->func);
    Py_VISIT(bound(self)->args);
    Py_VISIT(bound(self)->kwargs);
    return 0;
}

int BoundCallback_clear(PyObject* self)
{
    Py_CLEAR(bound(self)->func);
    Py_CLEAR(bound(self)->args);
    Py_CLEAR(bound(self)->kwargs);
    return 0;
}

// func(*bound args, *args, **bound kwargs | kwargs)
PyObject* BoundCallback_call(PyObject* self, PyObject* args, PyObject* kwds)
{
    BoundCallbackRecord* r = bound(self);
    if (!r->func) {
        PyErr_SetString(PyExc_ReferenceError, "the callback was cleared");
        return nullptr;
    }
    Ref func = Ref::borrow(r->func);
    Ref all_args = Ref::steal(PySequence_Concat(r->args, args));
    Ref all_kwargs = Ref::steal(PyDict_Copy(r->kwargs));
    if (!all_args || !all_kwargs || (kwds && PyDict_Update(all_kwargs.get(), kwds) < 0))
        return nullptr;
    return checked(PyObject_Call(func.get(), all_args.get(), all_kwargs.get()));
}

PyMemberDef BoundCallback_members[] = {
    {"func", Py_T_OBJECT_EX, offsetof(BoundCallbackRecord, func), Py_READONLY, nullptr},
    {"args", Py_T_OBJECT_EX, offsetof(BoundCallbackRecord, args), Py_READONLY, nullptr},
    {"kwargs", Py_T_OBJECT_EX, offsetof(BoundCallbackRecord, kwargs), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

// --------------------------------------------------------- EventObservers

EventObserversRecord* observers(PyObject* self)
{
    return reinterpret_cast<EventObserversRecord*>(self);
}

PyObject* EventObservers_bind(PyObject* self, PyObject* callback)
{
    if (PyList_Append(observers(self)->callbacks, callback) < 0)
        return nullptr;
    Py_RETURN_NONE;
}

// Removes the first callback equal to `callback`; True when one was found.
PyObject* EventObservers_unbind(PyObject* self, PyObject* callback)
{
    Ref callbacks = Ref::borrow(observers(self)->callbacks);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(callbacks.get()); ++i) {
        Ref item = Ref::borrow(PyList_GET_ITEM(callbacks.get(), i));
        int equal = PyObject_RichCompareBool(item.get(), callback, Py_EQ);
        if (equal < 0)
            return nullptr;
        // The comparison may have changed the list: remove by identity.
        if (equal && i < PyList_GET_SIZE(callbacks.get()) &&
            PyList_GET_ITEM(callbacks.get(), i) == item.get()) {
            if (PyList_SetSlice(callbacks.get(), i, i + 1, nullptr) < 0)
                return nullptr;
            Py_RETURN_TRUE;
        }
    }
    Py_RETURN_FALSE;
}

// Calls every callback with (obj, value), in binding order, until one
// returns a true value; True when one did. Callbacks bound or unbound
// meanwhile take effect at the next dispatch.
PyObject* EventObservers_dispatch(PyObject* self, PyObject* obj, PyObject* value)
{
    Ref snapshot = Ref::steal(PyList_AsTuple(observers(self)->callbacks));
    if (!snapshot)
        return nullptr;
    PyObject* args[] = {obj, value};
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(snapshot.get()); ++i) {
        Ref result = Ref::steal(
            PyObject_Vectorcall(PyTuple_GET_ITEM(snapshot.get(), i), args, 2, nullptr));
        if (!result)
            return nullptr;
        int stop = PyObject_IsTrue(result.get());
        if (stop < 0)
            return nullptr;
        if (stop)
            Py_RETURN_TRUE;
    }
    Py_RETURN_FALSE;
}

const core::EventObserversTable* observers_table(PyObject* self)
{
    return static_cast<const core::EventObserversTable*>(observers(self)->table);
}

PyObject* EventObservers_py_bind(PyObject* self, PyObject* callback)
{
    return checked(observers_table(self)->bind(self, callback));
}

PyObject* EventObservers_py_unbind(PyObject* self, PyObject* callback)
{
    return checked(observers_table(self)->unbind(self, callback));
}

constexpr const char* dispatch_params[] = {"obj", "value"};
constexpr Signature dispatch_sig{"dispatch", dispatch_params, 2, 2};

PyObject* EventObservers_py_dispatch(PyObject* self, PyObject* obj, PyObject* value)
{
    return observers_table(self)->dispatch(self, obj, value);
}

PyMethodDef EventObservers_methods[] = {
    {"bind", EventObservers_py_bind, METH_O, "bind(callback)\n--\n\nAdds callback at the end."},
    {"unbind", EventObservers_py_unbind, METH_O,
     "unbind(callback)\n--\n\nRemoves the first callback equal to callback."},
    {"dispatch", as_method(fastcall_method<dispatch_sig, EventObservers_py_dispatch>),
     METH_FASTCALL | METH_KEYWORDS,
     "dispatch(obj, value)\n--\n\nCalls the callbacks until one returns a true value."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* EventObservers_new(PyTypeObject* type, PyObject*, PyObject*)
{
    PyObject* self = type->tp_alloc(type, 0);
    if (!self)
        return nullptr;
    observers(self)->table = &event_observers_table;
    observers(self)->callbacks = PyList_New(0);
    if (!observers(self)->callbacks)
        Py_CLEAR(self);
    return self;
}

void EventObservers_dealloc(PyObject* self)
{
    PyObject_GC_UnTrack(self);
    Py_CLEAR(observers(self)->callbacks);
    Py_TYPE(self)->tp_free(self);
}

int EventObservers_traverse(PyObject* self, visitproc visit, void* arg)
{
    Py_VISIT(observers(self)->callbacks);
    return 0;
}

// Emptied in place rather than dropped: the entries use it unchecked.
int EventObservers_clear(PyObject* self)
{
    return PyList_SetSlice(observers(self)->callbacks, 0, PY_SSIZE_T_MAX, nullptr);
}

Py_ssize_t EventObservers_length(PyObject* self)
{
    return PyList_GET_SIZE(observers(self)->callbacks);
}

PySequenceMethods EventObservers_as_sequence = [] {
    PySequenceMethods m{};
    m.sq_length = EventObservers_length;
    return m;
}();

}  // namespace

PyObject* ObjectWithUid_new(PyTypeObject* type, PyObject*, PyObject*)
{
    PyObject* self = type->tp_alloc(type, 0);
    if (self)
        reinterpret_cast<ObjectWithUidRecord*>(self)->uid = ++g_last_uid;
    return self;
}

void fill_observers_table()
{
    event_observers_table.bind = EventObservers_bind;
    event_observers_table.unbind = EventObservers_unbind;
    event_observers_table.dispatch = EventObservers_dispatch;
}

PyTypeObject ObjectWithUid_Type = native_type(
    "vora.core._event.ObjectWithUid", sizeof(ObjectWithUidRecord),
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    "An object with an id unique in the process (uid).",
    {.new_ = ObjectWithUid_new, .dealloc = ObjectWithUid_dealloc, .getset = ObjectWithUid_getset});

PyTypeObject Observable_Type = ObservableChain::type(
    "vora.core._event.Observable",
    "An object that callbacks can be bound to.",
    {.new_ = Observable_new});

PyTypeObject BoundCallback_Type = native_type(
    "vora.core._event.BoundCallback", sizeof(BoundCallbackRecord),
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    "BoundCallback(func, *args, **kwargs)\n--\n\n"
    "Calls func with the bound arguments before the call's own.",
    {.new_ = BoundCallback_new, .dealloc = BoundCallback_dealloc,
     .traverse = BoundCallback_traverse, .clear = BoundCallback_clear, .call = BoundCallback_call,
     .members = BoundCallback_members});

PyTypeObject EventObservers_Type = native_type(
    "vora.core._event.EventObservers", sizeof(EventObserversRecord),
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    "EventObservers()\n--\n\nThe callbacks bound to one event.",
    {.new_ = EventObservers_new, .dealloc = EventObservers_dealloc,
     .traverse = EventObservers_traverse, .clear = EventObservers_clear,
     .methods = EventObservers_methods, .as_sequence = &EventObservers_as_sequence});

}  // namespace vora::framework
