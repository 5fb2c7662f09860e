// Argument parsing with the interpreter's standard messages, for functions
// called with METH_FASTCALL | METH_KEYWORDS and for __init__-style calls.
#pragma once

#include <Python.h>

#include <utility>

#include "errors.hpp"
#include "ref.hpp"

namespace vora {

// One static description per function, like an Argument Clinic signature:
// parameters are positional-or-keyword, the first `required` of them have no
// default, and `var_keywords` collects unknown keywords into a dict.
struct Signature {
    const char* name;             // function name used in messages
    const char* const* params;    // parameter names
    Py_ssize_t count;             // number of parameters
    Py_ssize_t required;          // leading parameters without a default
    bool var_keywords = false;    // has **kwargs
};

// Parses a vectorcall-style call into values[0..count): borrowed references
// into the caller's argument array, nullptr for a parameter not given. With
// var_keywords, *extra receives a new dict of the remaining keywords.
// Returns 0, or -1 with TypeError set.
int parse_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, PyObject** values, Ref* extra = nullptr);

// The METH_FASTCALL | METH_KEYWORDS function of a method whose parameters
// sig (a constexpr Signature without var_keywords) describes: parses the call
// and returns body(self, arg...), one borrowed argument per parameter
// (nullptr for one not given).
template <const Signature& sig, auto body>
PyObject* fastcall_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames)
{
    static_assert(!sig.var_keywords);
    PyObject* values[sig.count];
    if (parse_fastcall(sig, args, nargs, kwnames, values) < 0)
        return nullptr;
    return [&]<size_t... i>(std::index_sequence<i...>) {
        return checked(body(self, values[i]...));
    }(std::make_index_sequence<sig.count>{});
}

// Parses an (args tuple, kwargs dict or NULL) call into owned values; with
// var_keywords, *extra receives a new dict of the remaining keywords.
int parse_tuple_dict(const Signature& sig, PyObject* args, PyObject* kwargs, Ref* values,
                     Ref* extra = nullptr);

// A new dict holding the keywords of an __init__(self, *args, **kwargs)
// call; keyword names must be strings.
Ref copy_keywords(PyObject* kwargs);

// TypeError "<name>() takes exactly/at most N positional argument(s) (M given)".
VORA_COLD void raise_positional_count(const Signature& sig, Py_ssize_t given);

}  // namespace vora
