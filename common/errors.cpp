// Error helpers shared by the native modules.
#include "errors.hpp"

#include "ref.hpp"

#include <frameobject.h>

namespace vora {

PyObject* raise_expected(const char* expected, PyObject* got)
{
    PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", expected, Py_TYPE(got)->tp_name);
    return nullptr;
}

void chain_cause(PyObject* cause)
{
    assert(PyErr_Occurred());
    PyObject* exc = PyErr_GetRaisedException();
    if (cause && cause != exc) {
        PyException_SetCause(exc, Py_NewRef(cause));
        PyException_SetContext(exc, cause);
    } else {
        Py_XDECREF(cause);
    }
    PyErr_SetRaisedException(exc);
}

void add_traceback(const char* funcname, const char* filename)
{
    assert(PyErr_Occurred());
    PyObject* exc = PyErr_GetRaisedException();
    Ref code = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(filename, funcname, 0)));
    Ref globals = Ref::steal(PyDict_New());
    Ref frame;
    if (code && globals) {
        frame = Ref::steal(reinterpret_cast<PyObject*>(PyFrame_New(
            PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code.get()), globals.get(), nullptr)));
    }
    if (!frame) {
        // The original exception matters more than a missing frame.
        PyErr_Clear();
        PyErr_SetRaisedException(exc);
        return;
    }
    PyErr_SetRaisedException(exc);
    // On failure the interpreter chains its own error to the pending one.
    (void)PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
}

}  // namespace vora
