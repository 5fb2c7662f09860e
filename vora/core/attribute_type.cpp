// The attribute type template's non-template parts: the attrname member,
// Property's own check and the search for a Python attrvalue override.
#include "vora/core/attribute_type.hpp"

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
    return Ref::steal(PyUnicode_Replace(name, str_underscore, str_dash, -1));
}

Ref attrname_of(PyObject* self, PyObject* const* field)
{
    Ref name = Ref::steal(PyObject_GetAttr(self, str_name));
    if (!name || !expect_exact_str_or_none(name.get()))
        return Ref();
    // Read only now: looking up name may have run Python code.
    Ref attrname = Ref::borrow(*field);
    return resolved_attrname(attrname.get(), name.get());
}

// ---------------------------------------------------------- entries

int property_check_accepts(PyObject* self, PyObject* obj, PyObject* value)
{
    Ref accepted = Ref::steal(g_state.property_table->check(self, obj, value));
    return accepted ? PyObject_IsTrue(accepted.get()) : -1;
}

// ---------------------------------------------------------- attrvalue entry

int call_attrvalue_override(PyObject* self, PyObject* obj, RenderFn own, Ref* result)
{
    Ref method = Ref::steal(PyObject_GetAttr(self, str_attrvalue));
    if (!method)
        return -1;
    PyObject* function = PyMethod_Check(method.get()) ? PyMethod_GET_FUNCTION(method.get())
                                                      : method.get();
    if (is_attrvalue_method(function, own))
        return 0;
    *result = Ref::steal(PyObject_CallOneArg(method.get(), obj));
    return *result ? 1 : -1;
}

}  // namespace vora::attributes
