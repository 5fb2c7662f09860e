// vora_testing.text_builder: drives common/'s TextBuilder and number writer
// from Python, for differential tests of the ways no module reaches yet
// (escaping into a grown text, growth and widening past the inline buffer).
#include <Python.h>

#include "common/numbers.hpp"
#include "common/text.hpp"

namespace {

using vora::TextBuilder;

// build(pieces, measured): pieces is a list of (op, value) pairs, op one of
// "str" (append), "escaped" (append_escaped), "ascii" (append_ascii of an
// ASCII str; one character by the char overload) and "number"
// (append_number). measured opens the builder at the measured size first
// ("number" pieces are then not allowed).
int append_piece(TextBuilder& out, PyObject* op, PyObject* value)
{
    if (PyUnicode_EqualToUTF8(op, "str"))
        return out.append(value);
    if (PyUnicode_EqualToUTF8(op, "escaped"))
        return out.append_escaped(value);
    if (PyUnicode_EqualToUTF8(op, "ascii")) {
        Py_ssize_t n;
        const char* text = PyUnicode_AsUTF8AndSize(value, &n);
        if (!text)
            return -1;
        return n == 1 ? out.append_ascii(text[0]) : out.append_ascii(text, n);
    }
    return vora::append_number(out, value) < 0 ? -1 : 0;
}

void measure_piece(vora::TextSize& size, PyObject* op, PyObject* value)
{
    if (PyUnicode_EqualToUTF8(op, "escaped"))
        size.add(value, vora::escape_extra(value));
    else if (PyUnicode_EqualToUTF8(op, "ascii"))
        size.add(PyUnicode_GET_LENGTH(value));
    else
        size.add(value);
}

PyObject* build(PyObject*, PyObject* args)
{
    PyObject* pieces;
    int measured;
    if (!PyArg_ParseTuple(args, "O!p", &PyList_Type, &pieces, &measured))
        return nullptr;
    TextBuilder out;
    Py_ssize_t n = PyList_GET_SIZE(pieces);
    if (measured) {
        vora::TextSize size;
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* piece = PyList_GET_ITEM(pieces, i);
            measure_piece(size, PyTuple_GET_ITEM(piece, 0), PyTuple_GET_ITEM(piece, 1));
        }
        if (out.open(size) < 0)
            return nullptr;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* piece = PyList_GET_ITEM(pieces, i);
        if (append_piece(out, PyTuple_GET_ITEM(piece, 0), PyTuple_GET_ITEM(piece, 1)) < 0)
            return nullptr;
    }
    return out.finish().release();
}

PyMethodDef methods[] = {
    {"build", build, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "text_builder", nullptr, 0, methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_text_builder()
{
    return PyModule_Create(&module_def);
}
