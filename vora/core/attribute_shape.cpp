// The shape all nine attribute types share: the non-template helpers.
#include "vora/core/attribute_shape.hpp"

#include <climits>

#include "common/dict.hpp"
#include "vora/core/attrvalue_method.hpp"

namespace vora::attributes {

Ref resolved_attrname(PyObject* attrname, PyObject* name)
{
    if (attrname != Py_None && PyUnicode_GET_LENGTH(attrname) != 0)
        return Ref::borrow(attrname);
    if (name == Py_None) {
        PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", "replace");
        return Ref();
    }
    Py_ssize_t underscore = PyUnicode_FindChar(name, '_', 0, PyUnicode_GET_LENGTH(name), 1);
    if (underscore == -1)
        return Ref::borrow(name);
    if (underscore < -1)
        return Ref();
    return Ref::steal(PyUnicode_Replace(name, str::underscore, str::dash, -1));
}

Ref attrname_of(PyObject* self, PyObject* const* field)
{
    Ref name = Ref::steal(PyObject_GetAttr(self, str::name));
    if (!name || !expect_exact_str_or_none(name.get()))
        return Ref();
    // Read only now: looking up name may have run Python code.
    Ref attrname = Ref::borrow(*field);
    return resolved_attrname(attrname.get(), name.get());
}

// ---------------------------------------------------------- __init__ steps

namespace {

// kwargs.get(key, fallback) as a new reference.
Ref keyword_or(PyObject* kwargs, PyObject* key, PyObject* fallback)
{
    PyObject* value;
    if (PyDict_GetItemRef(kwargs, key, &value) < 0)
        return Ref();
    return value ? Ref::steal(value) : Ref::borrow(fallback);
}

}  // namespace

int take_str_keyword(PyObject* kwargs, PyObject* key, PyObject*& field)
{
    Ref value = keyword_or(kwargs, key, str::empty);
    if (!value || !expect_exact_str_or_none(value.get()))
        return -1;
    set_field(field, std::move(value));
    return 0;
}

int take_sync_keyword(PyObject* kwargs, int& field)
{
    PyObject* value;
    if (PyDict_GetItemRef(kwargs, str::sync, &value) < 0)
        return -1;
    int sync = 0;
    int status = value ? int32_from_object(value, sync) : 0;
    Py_XDECREF(value);
    if (status < 0)
        return -1;
    field = sync;
    return 0;
}

Ref list_keyword(PyObject* kwargs, PyObject* key)
{
    PyObject* value;
    if (PyDict_GetItemRef(kwargs, key, &value) < 0)
        return Ref();
    Ref list = Ref::steal(value ? PySequence_List(value) : PyList_New(0));
    Py_XDECREF(value);
    return list;
}

int take_list_keyword(PyObject* kwargs, PyObject* key, PyObject*& field)
{
    Ref list = list_keyword(kwargs, key);
    if (!list)
        return -1;
    set_field(field, std::move(list));
    return 0;
}

int force_allownone(PyObject* kwargs)
{
    return PyDict_SetItem(kwargs, str::allownone, Py_True);
}

int call_base_init(PyTypeObject* type, PyObject* self, PyObject* args, PyObject* kwargs)
{
    PyObject* super_args[] = {reinterpret_cast<PyObject*>(type), self};
    Ref super = Ref::steal(PyObject_Vectorcall(g.builtin_super, super_args, 2, nullptr));
    if (!super)
        return -1;
    Ref init = Ref::steal(PyObject_GetAttr(super.get(), str::init));
    if (!init)
        return -1;
    Ref copy = Ref::steal(PyDict_Copy(kwargs));
    if (!copy)
        return -1;
    Ref result = Ref::steal(PyObject_Call(init.get(), args, copy.get()));
    return result ? 0 : -1;
}

int int32_from_object(PyObject* o, int& out)
{
    Ref number;
    if (!PyLong_Check(o)) {
        PyNumberMethods* nb = Py_TYPE(o)->tp_as_number;
        if (!nb || !nb->nb_int) {
            PyErr_SetString(PyExc_TypeError, "an integer is required");
            return -1;
        }
        number = Ref::steal(nb->nb_int(o));
        if (!number)
            return -1;
        if (!PyLong_Check(number.get())) {
            PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                         Py_TYPE(number.get())->tp_name);
            return -1;
        }
        o = number.get();
    }
    int overflow;
    long value = PyLong_AsLongAndOverflow(o, &overflow);
    if (value == -1 && PyErr_Occurred())
        return -1;
    if (overflow || value < INT_MIN || value > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        return -1;
    }
    out = static_cast<int>(value);
    return 0;
}

int property_check_accepts(PyObject* self, PyObject* obj, PyObject* value)
{
    Ref accepted = Ref::steal(g.property_table->check(self, obj, value));
    return accepted ? PyObject_IsTrue(accepted.get()) : -1;
}

// ---------------------------------------------------------- attrvalue entry

int call_attrvalue_override(PyObject* self, PyObject* obj, RenderFn own, Ref* result)
{
    Ref method = Ref::steal(PyObject_GetAttr(self, str::attrvalue));
    if (!method)
        return -1;
    PyObject* function = PyMethod_Check(method.get()) ? PyMethod_GET_FUNCTION(method.get())
                                                      : method.get();
    if (is_attrvalue_method(function, own))
        return 0;
    *result = Ref::steal(PyObject_CallOneArg(method.get(), obj));
    return *result ? 1 : -1;
}

// ----------------------------------------------------------- messages

Ref owner_message(PyObject* self, PyObject* obj, const char* text)
{
    Ref cls = Ref::steal(PyObject_GetAttr(obj, str::class_));
    if (!cls)
        return Ref();
    Ref cls_name = Ref::steal(PyObject_GetAttr(cls.get(), str::name_));
    if (!cls_name)
        return Ref();
    Ref cls_text = Ref::steal(PyObject_Format(cls_name.get(), str::empty));
    if (!cls_text)
        return Ref();
    Ref name = Ref::steal(PyObject_GetAttr(self, str::name));
    if (!name)
        return Ref();
    Ref name_text = Ref::steal(PyObject_Format(name.get(), str::empty));
    if (!name_text)
        return Ref();
    return Ref::steal(PyUnicode_FromFormat("%U.%U%s", cls_text.get(), name_text.get(), text));
}

Ref owner_message_repr(PyObject* self, PyObject* obj, const char* text, PyObject* value,
                       const char* after)
{
    Ref head = owner_message(self, obj, text);
    if (!head)
        return Ref();
    return Ref::steal(PyUnicode_FromFormat("%U%R%s", head.get(), value, after));
}

PyObject* raise_value_error(Ref message)
{
    if (message)
        PyErr_SetObject(PyExc_ValueError, message.get());
    return nullptr;
}

// ---------------------------------------------------- module namespace

Ref module_global(PyObject* name)
{
    return lookup_global(g.module_dict, name);
}

}  // namespace vora::attributes
