// Error helpers shared by the native modules: the exact-type check with its
// standard message, and the debug-build check that every error return has an
// exception set.
#pragma once

#include <Python.h>

#include <cassert>

#define VORA_COLD [[gnu::cold, gnu::noinline]]

namespace vora {

// Raises TypeError "Expected <expected>, got <type of got>"; returns nullptr.
VORA_COLD PyObject* raise_expected(const char* expected, PyObject* got);

// True when o is exactly a str; otherwise raises the "Expected str" error.
inline bool expect_exact_str(PyObject* o)
{
    if (PyUnicode_CheckExact(o)) [[likely]]
        return true;
    raise_expected("str", o);
    return false;
}

// True when o is exactly a str or None; otherwise raises "Expected str".
inline bool expect_exact_str_or_none(PyObject* o)
{
    return o == Py_None || expect_exact_str(o);
}

// Wraps what a slot, method or table entry returns to the interpreter: in a
// debug build it asserts that an error result comes with an exception set,
// and any other result without one.
inline PyObject* checked(PyObject* result)
{
    assert((result == nullptr) == (PyErr_Occurred() != nullptr));
    return result;
}
inline int checked(int status)
{
    assert((status < 0) == (PyErr_Occurred() != nullptr));
    return status;
}

// checked_entry<F>: F as a slot or table entry holds it, every result
// passed through checked(); in a release build, F itself.
template <auto F>
struct CheckedEntry;
template <class R, class... A, R (*F)(A...)>
struct CheckedEntry<F> {
    static R call(A... args) { return checked(F(args...)); }
};
template <class R, class... A, R (*F)(A...) noexcept>
struct CheckedEntry<F> {
    static R call(A... args) noexcept { return checked(F(args...)); }
};
template <auto F>
inline constexpr auto checked_entry = &CheckedEntry<F>::call;

// Makes cause (a caught exception, taken over) the __cause__ and __context__
// of the pending exception, as `raise ... from cause` would.
VORA_COLD void chain_cause(PyObject* cause);

// Adds a frame named funcname to the traceback of the pending exception,
// as the interpreter does for a Python function.
void add_traceback(const char* funcname, const char* filename);

}  // namespace vora
