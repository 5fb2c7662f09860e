// _GenericEventAttribute: an event attribute such as onclick, switched on and
// off by its value and rendered by its handler.
#include <cstring>

#include "common/args.hpp"
#include "vora/core/attribute_type.hpp"
#include "vora/core/docstring.hpp"
#include "vora/core/keywords.hpp"

namespace vora::attributes {

namespace {

struct GenericEventAttribute {
    core::BooleanPropertyRecord base;
    PyObject* attrtype;
    int sync;
    PyObject* attrname;
    PyObject* eventhandler;
    PyObject* prevent_default;
    PyObject* dispatch;
    PyObject* eventargs;
    PyObject* eventjs;

    static PyTypeObject type;
    static inline AttributeTable table{};
    static constexpr Base base_kind = Base::boolean;
    // All visited by the collector, eventjs too: str() of an object may
    // return a str subclass instance, whose __dict__ can close a cycle
    // through this attribute.
    static constexpr auto object_fields = std::tuple{
        &GenericEventAttribute::eventhandler, &GenericEventAttribute::prevent_default,
        &GenericEventAttribute::dispatch, &GenericEventAttribute::eventargs,
        &GenericEventAttribute::eventjs};
    static int set_defaults(GenericEventAttribute* self);
    static int init(PyObject* self, PyObject* args, PyObject* kwds);
    static PyObject* init_storage(PyObject* self, PyObject* obj, PyObject* storage);
    static PyObject* render(PyObject* self, PyObject* obj);
};

PyObject* str_on;                 // "on_"
PyObject* str_register_event;
PyObject* str_client;
PyObject* str_prevent_default;
PyObject* str_event_args;
PyObject* str_event_js;
PyObject* str_dispatch;
const StringSpec strings[] = {
    {&str_on, "on_"},
    {&str_register_event, "register_event"},
    {&str_client, "client"},
    {&str_prevent_default, "prevent_default"},
    {&str_event_args, "event_args"},
    {&str_event_js, "event_js"},
    {&str_dispatch, "dispatch"},
    {nullptr, nullptr},
};

// Keyword names of the calls into Python, and the [2:] slice of attrnames
// that are not str.
PyObject* register_kwnames;      // ("client",)
PyObject* handler_kwnames;       // ("prevent_default", "event_args", "event_js", "dispatch")
PyObject* slice_from_2;

int make_constants()
{
    if (!register_kwnames) {
        register_kwnames = PyTuple_Pack(1, str_client);
        if (!register_kwnames)
            return -1;
    }
    if (!handler_kwnames) {
        handler_kwnames =
            PyTuple_Pack(4, str_prevent_default, str_event_args, str_event_js, str_dispatch);
        if (!handler_kwnames)
            return -1;
    }
    if (!slice_from_2) {
        Ref two = Ref::steal(PyLong_FromLong(2));
        if (!two)
            return -1;
        slice_from_2 = PySlice_New(two.get(), Py_None, Py_None);
        if (!slice_from_2)
            return -1;
    }
    return 0;
}

GenericEventAttribute* record(PyObject* self)
{
    return reinterpret_cast<GenericEventAttribute*>(self);
}

int GenericEventAttribute::set_defaults(GenericEventAttribute* self)
{
    set_field(self->dispatch, Ref::borrow(Py_True));
    set_field(self->eventhandler, Ref::borrow(Py_None));
    Ref eventargs = Ref::steal(PyDict_New());
    if (!eventargs)
        return -1;
    set_field(self->eventargs, std::move(eventargs));
    set_field(self->eventjs, Ref::borrow(str_empty));
    return 0;
}

// ---------------------------------------------------------------- __init__

const char* const init_params[] = {"defaultvalue", "eventhandler", "prevent_default",
                                   "eventargs",    "eventjs",      "dispatch"};
enum Param {
    p_defaultvalue, p_eventhandler, p_prevent_default, p_eventargs, p_eventjs, p_dispatch, p_count
};
const Signature init_signature{"__init__", init_params, p_count, 0, true};

// field := True or False by the truth of value.
int take_truth(PyObject* value, PyObject*& field)
{
    int truth = PyObject_IsTrue(value);
    if (truth < 0)
        return -1;
    set_field(field, Ref::borrow(truth ? Py_True : Py_False));
    return 0;
}

int GenericEventAttribute::init(PyObject* o, PyObject* args, PyObject* kwds)
{
    GenericEventAttribute* self = record(o);
    Ref values[p_count];
    Ref kwargs;
    if (parse_tuple_dict(init_signature, args, kwds, values, &kwargs) < 0)
        return -1;
    auto given = [&](Param p, PyObject* fallback) {
        return values[p] ? values[p].get() : fallback;
    };
    if (take_str_keyword(kwargs.get(), str_attrname, self->attrname) < 0 ||
        take_str_keyword(kwargs.get(), str_attrtype, self->attrtype) < 0 ||
        take_sync_keyword(kwargs.get(), self->sync) < 0 ||
        take_truth(given(p_prevent_default, Py_False), self->prevent_default) < 0 ||
        take_truth(given(p_dispatch, Py_True), self->dispatch) < 0)
        return -1;
    set_field(self->eventhandler, Ref::borrow(given(p_eventhandler, Py_None)));

    // A false eventargs, the default dict included, becomes a dict of this
    // attribute's own, so that no two attributes share one.
    Ref args_given = Ref::borrow(given(p_eventargs, Py_None));
    int truth = PyObject_IsTrue(args_given.get());
    if (truth < 0)
        return -1;
    Ref eventargs = truth ? std::move(args_given) : Ref::steal(PyDict_New());
    if (!eventargs)
        return -1;
    set_field(self->eventargs, std::move(eventargs));

    PyObject* js = given(p_eventjs, str_empty);
    Ref js_text = PyUnicode_CheckExact(js) ? Ref::borrow(js) : Ref::steal(PyObject_Str(js));
    if (!js_text)
        return -1;
    set_field(self->eventjs, std::move(js_text));

    if (force_allownone(kwargs.get()) < 0)
        return -1;
    return call_base_init_with(&GenericEventAttribute::type, o, given(p_defaultvalue, Py_False),
                               kwargs.get());
}

// ------------------------------------------------------- native table entries

// "on_" + text[2:] for an exact str, with every "_" of the copied part
// turned into "-" when dashes is set. ASCII names are built in one piece.
Ref on_event(PyObject* text, bool dashes)
{
    Py_ssize_t size = PyUnicode_GET_LENGTH(text);
    Py_ssize_t tail = size > 2 ? size - 2 : 0;
    if (PyUnicode_IS_ASCII(text)) [[likely]] {
        Ref event = Ref::steal(PyUnicode_New(3 + tail, 127));
        if (!event)
            return Ref();
        Py_UCS1* out = PyUnicode_1BYTE_DATA(event.get());
        const Py_UCS1* in = PyUnicode_1BYTE_DATA(text) + 2;
        std::memcpy(out, "on_", 3);
        for (Py_ssize_t i = 0; i < tail; ++i)
            out[3 + i] = dashes && in[i] == '_' ? '-' : in[i];
        return event;
    }
    Ref resolved = dashes ? Ref::steal(PyUnicode_Replace(text, str_underscore, str_dash, -1))
                          : Ref::borrow(text);
    if (!resolved)
        return Ref();
    Ref rest = Ref::steal(PyUnicode_Substring(resolved.get(), 2, size));
    return rest ? Ref::steal(PyUnicode_Concat(str_on, rest.get())) : Ref();
}

// "on_{}".format(name[2:]) for whatever the attrname lookup gave.
Ref on_event_of(Ref name)
{
    if (!name)
        return Ref();
    if (PyUnicode_CheckExact(name.get()))
        return on_event(name.get(), false);
    PyMappingMethods* mp = Py_TYPE(name.get())->tp_as_mapping;
    if (!mp || !mp->mp_subscript) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object is unsliceable",
                     Py_TYPE(name.get())->tp_name);
        return Ref();
    }
    Ref tail = Ref::steal(mp->mp_subscript(name.get(), slice_from_2));
    if (tail && !PyUnicode_CheckExact(tail.get()))
        tail = Ref::steal(PyObject_Format(tail.get(), str_empty));
    return tail ? Ref::steal(PyUnicode_Concat(str_on, tail.get())) : Ref();
}

// "on_{}".format(self.attrname[2:]): for onclick, on_click. attrname is
// read as a Python attribute, so that a subclass may override it; on this
// type itself that is the property, resolved here without its
// intermediate strings.
Ref event_name(PyObject* self)
{
    if (!Py_IS_TYPE(self, &GenericEventAttribute::type))
        return on_event_of(Ref::steal(PyObject_GetAttr(self, str_attrname)));
    Ref name = Ref::steal(PyObject_GetAttr(self, str_name));
    if (!name || !expect_exact_str_or_none(name.get()))
        return Ref();
    // Read only now: looking up name may have run Python code.
    Ref attrname = Ref::borrow(record(self)->attrname);
    if (name.get() != Py_None &&
        (attrname.get() == Py_None || PyUnicode_GET_LENGTH(attrname.get()) == 0))
        return on_event(name.get(), true);
    return on_event_of(resolved_attrname(attrname.get(), name.get()));
}

// Registers the owner's client event for this attribute.
PyObject* GenericEventAttribute::init_storage(PyObject* self, PyObject* obj, PyObject* storage)
{
    Ref base = Ref::steal(g_state.boolean_property_table->init_storage(self, obj, storage));
    if (!base)
        return nullptr;
    Ref event = event_name(self);
    if (!event)
        return nullptr;
    PyObject* args[] = {obj, event.get(), Py_True};
    Ref result =
        Ref::steal(PyObject_VectorcallMethod(str_register_event, args, 2, register_kwnames));
    if (!result)
        return nullptr;
    Py_RETURN_NONE;
}

VORA_COLD PyObject* raise_bad_renderer(PyObject* handler)
{
    Ref type_text = Ref::steal(PyObject_Format(reinterpret_cast<PyObject*>(Py_TYPE(handler)),
                                               str_empty));
    if (type_text)
        PyErr_Format(PyExc_AttributeError, "renderer must be of callable type or string, got %U",
                     type_text.get());
    return nullptr;
}

PyObject* GenericEventAttribute::render(PyObject* self, PyObject* obj)
{
    Ref value;
    int on = value_if_true(self, obj, value);
    if (on <= 0)
        return on < 0 ? nullptr : Py_NewRef(str_empty);
    // Held: computing the event name runs Python code.
    Ref handler = Ref::borrow(record(self)->eventhandler);
    if (handler.get() == Py_None)
        return Py_NewRef(str_empty);
    if (PyUnicode_Check(handler.get()))
        return handler.release();
    if (!PyCallable_Check(handler.get()))
        return raise_bad_renderer(handler.get());

    Ref event = event_name(self);
    if (!event)
        return nullptr;
    GenericEventAttribute* fields = record(self);
    Ref prevent_default = Ref::borrow(fields->prevent_default);
    Ref eventargs = Ref::borrow(fields->eventargs);
    Ref eventjs = Ref::borrow(fields->eventjs);
    Ref dispatch = Ref::borrow(fields->dispatch);
    PyObject* args[] = {nullptr, obj, event.get(), prevent_default.get(), eventargs.get(),
                        eventjs.get(), dispatch.get()};
    return PyObject_Vectorcall(handler.get(), args + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                               handler_kwnames);
}

// ----------------------------------------------------------------- the type

auto members = attribute_members<GenericEventAttribute>();

constexpr auto doc = attribute_doc(
    "An event attribute class like `onclick` for the button input element.\n"
    "    Event attributes can be activated/deactivated  by setting them to True/False.\n",
    "string, defaults to ''",
    "        `remdispatch`: boolean, if True, prevents dispatching of the client event\n"
    "        `event_handler`: callable, which returns handler javascript code.\n"
    "        `event_args`: dictionary with event arguments\n"
    "        'event_js': string with javascript code to be called when event is activated\n");

}  // namespace

PyTypeObject GenericEventAttribute::type = make_attribute_type<GenericEventAttribute>(
    "vora.core._attributes._GenericEventAttribute", doc.data(), members.data());

extern const AttributeTypeInfo event_attribute_info =
    attribute_type_info<GenericEventAttribute>(strings, make_constants);

}  // namespace vora::attributes
