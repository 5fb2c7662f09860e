// Argument parsing with the interpreter's standard messages.
//
// The order of the checks is part of the behaviour, and the interpreter's
// own: too many positional arguments first, then each keyword in the order
// given, and only then a missing required parameter (counted by its
// position).
#include "args.hpp"

namespace vora {

namespace {

Py_ssize_t find_param(const Signature& sig, PyObject* key)
{
    for (Py_ssize_t i = 0; i < sig.count; ++i) {
        if (PyUnicode_EqualToUTF8(key, sig.params[i]))
            return i;
    }
    return -1;
}

VORA_COLD void raise_multiple_values(const Signature& sig, PyObject* key)
{
    PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", sig.name,
                 key);
}

VORA_COLD void raise_unexpected(const Signature& sig, PyObject* key)
{
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.name, key);
}

VORA_COLD void raise_keywords_not_strings(const Signature& sig)
{
    // With **kwargs the names land in a dict, and the interpreter's own text
    // is the one users know from Python functions.
    if (sig.var_keywords)
        PyErr_SetString(PyExc_TypeError, "keywords must be strings");
    else
        PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", sig.name);
}

// Sorts one keyword: into its parameter slot (which must be past the
// positional ones), into *extra, or into an error. `assign` stores the value.
template <class Assign>
int take_keyword(const Signature& sig, Py_ssize_t nargs, PyObject* key, PyObject* value,
                 Ref* extra, Assign assign)
{
    if (!PyUnicode_Check(key)) [[unlikely]] {
        raise_keywords_not_strings(sig);
        return -1;
    }
    Py_ssize_t i = find_param(sig, key);
    if (i >= nargs) {
        assign(i, value);
        return 0;
    }
    if (i >= 0) {
        raise_multiple_values(sig, key);
        return -1;
    }
    if (extra)
        return PyDict_SetItem(extra->get(), key, value);
    raise_unexpected(sig, key);
    return -1;
}

// After the keywords: the first required parameter still missing is
// reported by its position, as the positional count it would have needed.
template <class Given>
int check_required(const Signature& sig, Given given)
{
    for (Py_ssize_t i = 0; i < sig.required; ++i) {
        if (!given(i)) [[unlikely]] {
            raise_positional_count(sig, i);
            return -1;
        }
    }
    return 0;
}

}  // namespace

void raise_positional_count(const Signature& sig, Py_ssize_t given)
{
    Py_ssize_t expected;
    const char* how;
    if (given < sig.required) {
        expected = sig.required;
        how = "at least";
    } else {
        expected = sig.count;
        how = "at most";
    }
    if (sig.required == sig.count)
        how = "exactly";
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 sig.name, how, expected, expected == 1 ? "" : "s", given);
}

int parse_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, PyObject** values, Ref* extra)
{
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nargs > sig.count || (nkw == 0 && nargs < sig.required)) [[unlikely]] {
        raise_positional_count(sig, nargs);
        return -1;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i)
        values[i] = args[i];
    for (Py_ssize_t i = nargs; i < sig.count; ++i)
        values[i] = nullptr;
    if (extra) {
        *extra = Ref::steal(PyDict_New());
        if (!*extra)
            return -1;
    }
    if (nkw == 0) [[likely]]
        return 0;

    PyObject* const* kwvalues = args + nargs;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        if (take_keyword(sig, nargs, PyTuple_GET_ITEM(kwnames, k), kwvalues[k], extra,
                         [&](Py_ssize_t i, PyObject* v) { values[i] = v; }) < 0)
            return -1;
    }
    return check_required(sig, [&](Py_ssize_t i) { return values[i] != nullptr; });
}

int parse_tuple_dict(const Signature& sig, PyObject* args, PyObject* kwargs, Ref* values,
                     Ref* extra)
{
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    Py_ssize_t nkw = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
    if (nargs > sig.count || (nkw == 0 && nargs < sig.required)) [[unlikely]] {
        raise_positional_count(sig, nargs);
        return -1;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i)
        values[i] = Ref::borrow(PyTuple_GET_ITEM(args, i));
    if (extra) {
        *extra = Ref::steal(PyDict_New());
        if (!*extra)
            return -1;
    }
    if (nkw == 0)
        return 0;

    // Keys and values are held across the dict insertions below, which may
    // run a key's __hash__ or __eq__.
    Ref items = Ref::steal(PyDict_Items(kwargs));
    if (!items)
        return -1;
    for (Py_ssize_t k = 0; k < PyList_GET_SIZE(items.get()); ++k) {
        PyObject* pair = PyList_GET_ITEM(items.get(), k);
        if (take_keyword(sig, nargs, PyTuple_GET_ITEM(pair, 0), PyTuple_GET_ITEM(pair, 1), extra,
                         [&](Py_ssize_t i, PyObject* v) { values[i] = Ref::borrow(v); }) < 0)
            return -1;
    }
    return check_required(sig, [&](Py_ssize_t i) { return bool(values[i]); });
}

Ref copy_keywords(PyObject* kwargs)
{
    if (!kwargs)
        return Ref::steal(PyDict_New());
    PyObject* key;
    PyObject* value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
        if (!PyUnicode_Check(key)) [[unlikely]] {
            PyErr_SetString(PyExc_TypeError, "keywords must be strings");
            return Ref();
        }
    }
    return Ref::steal(PyDict_Copy(kwargs));
}

}  // namespace vora
