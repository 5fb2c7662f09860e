// vora_testing.core_subclass: native subclasses of the framework's property
// types built as another module builds them, and calls of published table
// entries, which only native code can make.
#include "common/imports.hpp"
#include "contract/records_and_tables.hpp"
#include "framework/native_type.hpp"

namespace {

using vora::Ref;
using vora::core::Dispatch;
using vora::core::EventDispatcherTable;
using vora::core::EventObserversTable;
using vora::core::NumericPropertyTable;
using vora::core::PropertyRecord;
using vora::core::PropertyTable;

PyTypeObject* g_property = nullptr;
PyTypeObject* g_numeric = nullptr;
const PropertyTable* g_property_table = nullptr;

// -------------------------------------------------------- TracingProperty

// A Property whose init_storage, after the base's, remembers each record it
// set up and fails on demand.
struct TracingRecord {
    PropertyRecord base;
    PyObject* log;   // list of the records set up
    PyObject* fail;  // when not None: the message of a RuntimeError
};

PropertyTable g_tracing_table;

TracingRecord* tracing(PyObject* self)
{
    return reinterpret_cast<TracingRecord*>(self);
}

PyObject* Tracing_init_storage(PyObject* self, PyObject* obj, PyObject* storage)
{
    Ref base = Ref::steal(g_property_table->init_storage(self, obj, storage));
    if (!base || PyList_Append(tracing(self)->log, storage) < 0)
        return nullptr;
    if (tracing(self)->fail != Py_None) {
        PyErr_SetObject(PyExc_RuntimeError, tracing(self)->fail);
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject* Tracing_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    PyObject* self = g_property->tp_new(type, args, kwds);
    if (!self)
        return nullptr;
    tracing(self)->base.table = &g_tracing_table;
    tracing(self)->fail = Py_NewRef(Py_None);
    tracing(self)->log = PyList_New(0);
    if (!tracing(self)->log)
        Py_CLEAR(self);
    return self;
}

// The order a native subclass in another module follows: untrack, release
// its own fields, track again, hand over to the base.
void Tracing_dealloc(PyObject* self)
{
    PyObject_GC_UnTrack(self);
    Py_CLEAR(tracing(self)->log);
    Py_CLEAR(tracing(self)->fail);
    PyObject_GC_Track(self);
    g_property->tp_dealloc(self);
}

int Tracing_traverse(PyObject* self, visitproc visit, void* arg)
{
    if (int err = g_property->tp_traverse(self, visit, arg))
        return err;
    Py_VISIT(tracing(self)->log);
    Py_VISIT(tracing(self)->fail);
    return 0;
}

int Tracing_clear(PyObject* self)
{
    g_property->tp_clear(self);
    Py_CLEAR(tracing(self)->log);
    Py_CLEAR(tracing(self)->fail);
    return 0;
}

PyMemberDef Tracing_members[] = {
    {"log", Py_T_OBJECT_EX, offsetof(TracingRecord, log), Py_READONLY, nullptr},
    {"fail", Py_T_OBJECT_EX, offsetof(TracingRecord, fail), 0, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyTypeObject Tracing_Type = [] {
    PyTypeObject t = vora::framework::static_type(
        "vora_testing.core_subclass.TracingProperty", sizeof(TracingRecord),
        vora::framework::extensible_gc_flags, nullptr);
    t.tp_new = Tracing_new;
    t.tp_dealloc = Tracing_dealloc;
    t.tp_traverse = Tracing_traverse;
    t.tp_clear = Tracing_clear;
    t.tp_members = Tracing_members;
    return t;
}();

// ------------------------------------------------------ FixedParseNumeric

// A NumericProperty whose parse_string gives 42 for any text but "bad".
NumericPropertyTable g_fixed_table;

float Fixed_parse_string(PyObject*, PyObject*, PyObject* text)
{
    if (PyUnicode_Check(text) && PyUnicode_EqualToUTF8(text, "bad")) {
        PyErr_SetString(PyExc_ValueError, "bad text");
        return -1.0f;
    }
    return 42.0f;
}

PyObject* Fixed_new(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    PyObject* self = g_numeric->tp_new(type, args, kwds);
    if (self)
        reinterpret_cast<PropertyRecord*>(self)->table = &g_fixed_table;
    return self;
}

PyTypeObject Fixed_Type = [] {
    PyTypeObject t = vora::framework::static_type(
        "vora_testing.core_subclass.FixedParseNumeric", sizeof(vora::core::NumericPropertyRecord),
        vora::framework::extensible_flags, nullptr);
    t.tp_new = Fixed_new;
    return t;
}();

// -------------------------------------------------- calls of table entries

const PropertyTable* table_of(PyObject* p)
{
    return static_cast<const PropertyTable*>(reinterpret_cast<PropertyRecord*>(p)->table);
}

bool expect_args(const char* name, Py_ssize_t nargs, Py_ssize_t n, PyObject* const* args,
                 bool property_first = true)
{
    if (nargs != n) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd arguments", name, n);
        return false;
    }
    if (property_first && !PyObject_TypeCheck(args[0], g_property)) {
        PyErr_Format(PyExc_TypeError, "%s() needs a Property first", name);
        return false;
    }
    return true;
}

PyObject* call_init_storage(PyObject*, PyObject* const* a, Py_ssize_t n)
{
    if (!expect_args("init_storage", n, 3, a))
        return nullptr;
    return table_of(a[0])->init_storage(a[0], a[1], a[2]);
}

PyObject* call_compare_value(PyObject*, PyObject* const* a, Py_ssize_t n)
{
    if (!expect_args("compare_value", n, 3, a))
        return nullptr;
    return table_of(a[0])->compare_value(a[0], a[1], a[2]);
}

PyObject* call_set(PyObject*, PyObject* const* a, Py_ssize_t n)
{
    if (!expect_args("set", n, 3, a))
        return nullptr;
    return table_of(a[0])->set(a[0], a[1], a[2]);
}

PyObject* call_get(PyObject*, PyObject* const* a, Py_ssize_t n)
{
    if (!expect_args("get", n, 2, a))
        return nullptr;
    return table_of(a[0])->get(a[0], a[1], Dispatch::allowed);
}

PyObject* call_check(PyObject*, PyObject* const* a, Py_ssize_t n)
{
    if (!expect_args("check", n, 3, a))
        return nullptr;
    return table_of(a[0])->check(a[0], a[1], a[2]);
}

PyObject* call_convert(PyObject*, PyObject* const* a, Py_ssize_t n)
{
    if (!expect_args("convert", n, 3, a))
        return nullptr;
    return table_of(a[0])->convert(a[0], a[1], a[2]);
}

// The parsers signal failure only by a pending exception; the result is
// passed on as a float so that the tests see the single precision.
PyObject* parsed(float value)
{
    if (PyErr_Occurred())
        return nullptr;
    return PyFloat_FromDouble(static_cast<double>(value));
}

bool expect_numeric(PyObject* p)
{
    if (PyObject_TypeCheck(p, g_numeric))
        return true;
    PyErr_SetString(PyExc_TypeError, "needs a NumericProperty");
    return false;
}

PyObject* call_parse_string(PyObject*, PyObject* const* a, Py_ssize_t n)
{
    if (!expect_args("parse_string", n, 3, a) || !expect_numeric(a[0]))
        return nullptr;
    auto table = static_cast<const NumericPropertyTable*>(
        reinterpret_cast<PropertyRecord*>(a[0])->table);
    return parsed(table->parse_string(a[0], a[1], a[2]));
}

PyObject* call_parse_pair(PyObject*, PyObject* const* a, Py_ssize_t n)
{
    if (!expect_args("parse_pair", n, 4, a) || !expect_numeric(a[0]))
        return nullptr;
    auto table = static_cast<const NumericPropertyTable*>(
        reinterpret_cast<PropertyRecord*>(a[0])->table);
    return parsed(table->parse_pair(a[0], a[1], a[2], a[3]));
}

// The object's own table, read from its record.
template <class Table, class Record>
const Table* own_table(PyObject* o)
{
    return static_cast<const Table*>(reinterpret_cast<Record*>(o)->table);
}

PyObject* call_register_event(PyObject*, PyObject* const* a, Py_ssize_t n)
{
    if (!expect_args("register_event", n, 3, a, false))
        return nullptr;
    int client = PyObject_IsTrue(a[2]);
    if (client < 0)
        return nullptr;
    using vora::core::EventDispatcherRecord;
    return own_table<EventDispatcherTable, EventDispatcherRecord>(a[0])->register_event(
        a[0], a[1], client);
}

PyObject* call_property_storage(PyObject*, PyObject* const* a, Py_ssize_t n)
{
    if (!expect_args("property_storage", n, 2, a, false))
        return nullptr;
    using vora::core::EventDispatcherRecord;
    auto table = own_table<EventDispatcherTable, EventDispatcherRecord>(a[0]);
    // Borrowed from the owner's dict.
    PyObject* record = table->property_storage(a[0], a[1]);
    return Py_XNewRef(record);
}

// observers(o, "bind" | "unbind" | "dispatch", args...)
PyObject* call_observers(PyObject*, PyObject* const* a, Py_ssize_t n)
{
    if (n < 2 || !PyUnicode_Check(a[1])) {
        PyErr_SetString(PyExc_TypeError, "observers(o, entry, *args)");
        return nullptr;
    }
    using vora::core::EventObserversRecord;
    auto table = own_table<EventObserversTable, EventObserversRecord>(a[0]);
    if (PyUnicode_EqualToUTF8(a[1], "bind") && n == 3)
        return table->bind(a[0], a[2]);
    if (PyUnicode_EqualToUTF8(a[1], "unbind") && n == 3)
        return table->unbind(a[0], a[2]);
    if (PyUnicode_EqualToUTF8(a[1], "dispatch") && n == 4)
        return table->dispatch(a[0], a[2], a[3]);
    PyErr_SetString(PyExc_TypeError, "unknown entry or wrong arguments");
    return nullptr;
}

// The first `count` entries of the table a type publishes, as addresses.
PyObject* table_entries(PyObject*, PyObject* const* a, Py_ssize_t n)
{
    if (!expect_args("table_entries", n, 2, a, false))
        return nullptr;
    if (!PyType_Check(a[0])) {
        PyErr_SetString(PyExc_TypeError, "table_entries() needs a type");
        return nullptr;
    }
    Py_ssize_t count = PyLong_AsSsize_t(a[1]);
    if (count == -1 && PyErr_Occurred())
        return nullptr;
    void* table = vora::imported_vtable(a[0]);
    if (!table)
        return nullptr;
    auto entries = static_cast<void* const*>(table);
    Ref result = Ref::steal(PyTuple_New(count));
    if (!result)
        return nullptr;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* address = PyLong_FromVoidPtr(entries[i]);
        if (!address)
            return nullptr;
        PyTuple_SET_ITEM(result.get(), i, address);
    }
    return result.release();
}

// The record sizes of the shared header, by type name.
PyObject* record_sizes(PyObject*, PyObject*)
{
    namespace c = vora::core;
    return Py_BuildValue(
        "{sn sn sn sn sn sn sn sn sn sn sn sn sn sn sn sn sn sn sn}",
        "Property", sizeof(c::PropertyRecord), "NumericProperty", sizeof(c::NumericPropertyRecord),
        "BoundedNumericProperty", sizeof(c::BoundedNumericPropertyRecord), "BooleanProperty",
        sizeof(c::BooleanPropertyRecord), "ListProperty", sizeof(c::ListPropertyRecord),
        "VariableListProperty", sizeof(c::VariableListPropertyRecord), "StringProperty",
        sizeof(c::StringPropertyRecord), "DictProperty", sizeof(c::DictPropertyRecord),
        "ObjectProperty", sizeof(c::ObjectPropertyRecord), "OptionProperty",
        sizeof(c::OptionPropertyRecord), "ReferenceListProperty",
        sizeof(c::ReferenceListPropertyRecord), "AliasProperty", sizeof(c::AliasPropertyRecord),
        "ColorProperty", sizeof(c::ColorPropertyRecord), "PropertyStorage",
        sizeof(c::PropertyStorageRecord), "ObjectWithUid", sizeof(c::ObjectWithUidRecord),
        "Observable", sizeof(c::ObservableRecord), "EventDispatcher",
        sizeof(c::EventDispatcherRecord), "BoundCallback", sizeof(c::BoundCallbackRecord),
        "EventObservers", sizeof(c::EventObserversRecord));
}

using Fast = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t);

PyCFunction fast(Fast f)
{
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef g_functions[] = {
    {"init_storage", fast(call_init_storage), METH_FASTCALL, nullptr},
    {"compare_value", fast(call_compare_value), METH_FASTCALL, nullptr},
    {"set", fast(call_set), METH_FASTCALL, nullptr},
    {"get", fast(call_get), METH_FASTCALL, nullptr},
    {"check", fast(call_check), METH_FASTCALL, nullptr},
    {"convert", fast(call_convert), METH_FASTCALL, nullptr},
    {"parse_string", fast(call_parse_string), METH_FASTCALL, nullptr},
    {"parse_pair", fast(call_parse_pair), METH_FASTCALL, nullptr},
    {"register_event", fast(call_register_event), METH_FASTCALL, nullptr},
    {"property_storage", fast(call_property_storage), METH_FASTCALL, nullptr},
    {"observers", fast(call_observers), METH_FASTCALL, nullptr},
    {"table_entries", fast(table_entries), METH_FASTCALL, nullptr},
    {"record_sizes", record_sizes, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// ----------------------------------------------------------------- module

// Builds the two types on the imported bases, once: they are static.
int build_types()
{
    Ref properties = Ref::steal(PyImport_ImportModule("vora.core.properties"));
    if (!properties)
        return -1;
    Ref property = vora::import_type(properties.get(), "Property", sizeof(PropertyRecord));
    Ref numeric = vora::import_type(properties.get(), "NumericProperty",
                                    sizeof(vora::core::NumericPropertyRecord));
    if (!property || !numeric)
        return -1;
    auto property_table = static_cast<const PropertyTable*>(vora::imported_vtable(property.get()));
    auto numeric_table =
        static_cast<const NumericPropertyTable*>(vora::imported_vtable(numeric.get()));
    if (!property_table || !numeric_table)
        return -1;
    g_property_table = property_table;
    g_tracing_table = *property_table;
    g_tracing_table.init_storage = Tracing_init_storage;
    g_fixed_table = *numeric_table;
    g_fixed_table.parse_string = Fixed_parse_string;
    Tracing_Type.tp_base = reinterpret_cast<PyTypeObject*>(property.get());
    Fixed_Type.tp_base = reinterpret_cast<PyTypeObject*>(numeric.get());
    if (PyType_Ready(&Tracing_Type) < 0 || PyType_Ready(&Fixed_Type) < 0 ||
        vora::publish_vtable(&Tracing_Type, &g_tracing_table) < 0 ||
        vora::publish_vtable(&Fixed_Type, &g_fixed_table) < 0)
        return -1;
    g_property = reinterpret_cast<PyTypeObject*>(property.release());
    g_numeric = reinterpret_cast<PyTypeObject*>(numeric.release());
    return 0;
}

int core_subclass_exec(PyObject* module)
{
    if (!g_property && build_types() < 0)
        return -1;
    if (PyModule_AddObjectRef(module, "TracingProperty",
                              reinterpret_cast<PyObject*>(&Tracing_Type)) < 0)
        return -1;
    return PyModule_AddObjectRef(module, "FixedParseNumeric",
                                 reinterpret_cast<PyObject*>(&Fixed_Type));
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(core_subclass_exec)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef g_def = {
    PyModuleDef_HEAD_INIT,
    "core_subclass",
    nullptr,
    0,
    g_functions,
    g_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_core_subclass()
{
    return PyModuleDef_Init(&g_def);
}
