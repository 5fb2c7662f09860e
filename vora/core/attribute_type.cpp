// The attribute type template's non-template parts: the attrname member,
// Property's own check and the search for a Python attrvalue override.
#include "vora/core/attribute_type.hpp"

#include "vora/core/attrvalue_method.hpp"

#include <cstdint>
#include <iterator>

namespace vora::attributes {

namespace {

// Names with "_" in them and what they resolve to, by the name's address: a
// property keeps one name str, and a boolean renders its name for every
// element that has it on, so each replacement is made once. An entry holds
// both strs, so a name that is freed cannot come back at its address while
// it is there.
struct ResolvedName {
    PyObject* name = nullptr;
    PyObject* resolved = nullptr;
};
ResolvedName g_resolved[64];

}  // namespace

Ref resolved_attrname(PyObject* attrname, PyObject* name)
{
    if (attrname != Py_None && PyUnicode_GET_LENGTH(attrname) != 0)
        return Ref::borrow(attrname);
    if (name == Py_None) {
        PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", "replace");
        return Ref();
    }
    ResolvedName& kept = g_resolved[(reinterpret_cast<uintptr_t>(name) >> 4) % std::size(g_resolved)];
    if (kept.name == name)
        return Ref::borrow(kept.resolved);
    Py_ssize_t underscore = PyUnicode_FindChar(name, '_', 0, PyUnicode_GET_LENGTH(name), 1);
    if (underscore == -1)
        return Ref::borrow(name);
    if (underscore < -1)
        return Ref();
    Ref resolved = Ref::steal(PyUnicode_Replace(name, str_underscore, str_dash, -1));
    if (resolved && PyUnicode_CheckExact(name)) {
        // Releasing strs runs no Python code.
        Py_XSETREF(kept.name, Py_NewRef(name));
        Py_XSETREF(kept.resolved, resolved.new_ref());
    }
    return resolved;
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
