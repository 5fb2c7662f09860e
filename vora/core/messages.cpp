// The texts of the attribute types' errors that name the owner and the attribute.
#include "vora/core/messages.hpp"

#include "vora/core/state.hpp"

namespace vora::attributes {

Ref owner_message(PyObject* self, PyObject* obj, const char* text)
{
    Ref cls = Ref::steal(PyObject_GetAttr(obj, str_dunder_class));
    if (!cls)
        return Ref();
    Ref cls_name = Ref::steal(PyObject_GetAttr(cls.get(), str_dunder_name));
    if (!cls_name)
        return Ref();
    Ref cls_text = Ref::steal(PyObject_Format(cls_name.get(), str_empty));
    if (!cls_text)
        return Ref();
    Ref name = Ref::steal(PyObject_GetAttr(self, str_name));
    if (!name)
        return Ref();
    Ref name_text = Ref::steal(PyObject_Format(name.get(), str_empty));
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

PyObject* raise_invalid_option(PyObject* self, PyObject* obj, const char* text, PyObject* value,
                               PyObject* const* options)
{
    Ref head = owner_message_repr(self, obj, text, value, ". Must be one of: ");
    if (!head)
        return nullptr;
    Ref held = Ref::borrow(*options);
    Ref listed = Ref::steal(PyObject_Format(held.get(), str_empty));
    if (!listed)
        return nullptr;
    return raise_value_error(Ref::steal(PyUnicode_Concat(head.get(), listed.get())));
}

PyObject* raise_value_error(Ref message)
{
    if (message)
        PyErr_SetObject(PyExc_ValueError, message.get());
    return nullptr;
}

}  // namespace vora::attributes
