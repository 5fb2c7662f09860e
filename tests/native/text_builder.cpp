// vora_testing.text_builder: drives common/'s TextBuilder and number writer
// from Python, for differential tests of every operation, with the ways the
// modules reach rarely (growth and widening past the inline buffer, text cut
// back after it widened).
#include <Python.h>

#include "common/numbers.hpp"
#include "common/text.hpp"

namespace {

using vora::TextBuilder;

// build(pieces, measured) -> (finished text, [cut texts]): pieces is a list
// of (op, value) pairs, op one of "str" (append), "escaped"
// (append_escaped), "text" (append_escaped_text), "ascii" (append_ascii of
// an ASCII str; one character by the char overload), "number"
// (append_number), and, grown only, "mark" (takes length()), "truncate" and
// "cut" (back to the last mark taken and not yet used, or to 0). measured
// opens the builder at the measured size first (then only the text pieces
// are allowed).
int append_piece(TextBuilder& out, PyObject* op, PyObject* value)
{
    if (PyUnicode_EqualToUTF8(op, "str"))
        return out.append(value);
    if (PyUnicode_EqualToUTF8(op, "escaped"))
        return out.append_escaped(value);
    if (PyUnicode_EqualToUTF8(op, "text"))
        return out.append_escaped_text(value);
    if (PyUnicode_EqualToUTF8(op, "ascii")) {
        Py_ssize_t n;
        const char* text = PyUnicode_AsUTF8AndSize(value, &n);
        if (!text)
            return -1;
        return n == 1 ? out.append_ascii(text[0]) : out.append_ascii(text, n);
    }
    return vora::append_number(out, value) < 0 ? -1 : 0;
}

// The marks taken and not yet used, latest last.
struct Marks {
    Py_ssize_t at[32];
    int count = 0;
};

// The operations that take text back out: 1 when op was one, 0 when not,
// -1 on error.
int cut_piece(TextBuilder& out, PyObject* op, Marks& marks, PyObject* cuts)
{
    if (PyUnicode_EqualToUTF8(op, "mark")) {
        if (marks.count == 32) {
            PyErr_SetString(PyExc_ValueError, "more than 32 marks");
            return -1;
        }
        marks.at[marks.count++] = out.length();
        return 1;
    }
    bool truncate = PyUnicode_EqualToUTF8(op, "truncate");
    if (!truncate && !PyUnicode_EqualToUTF8(op, "cut"))
        return 0;
    Py_ssize_t start = marks.count > 0 ? marks.at[--marks.count] : 0;
    if (truncate) {
        out.truncate(start);
        return 1;
    }
    vora::Ref text = out.cut(start);
    return text && PyList_Append(cuts, text.get()) == 0 ? 1 : -1;
}

void measure_piece(vora::TextSize& size, PyObject* op, PyObject* value)
{
    if (PyUnicode_EqualToUTF8(op, "escaped"))
        size.add(value, vora::escape_extra(value));
    else if (PyUnicode_EqualToUTF8(op, "text"))
        size.add(value, vora::escape_text_extra(value));
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
    vora::Ref cuts = vora::Ref::steal(PyList_New(0));
    if (!cuts)
        return nullptr;
    Marks marks;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* piece = PyList_GET_ITEM(pieces, i);
        PyObject* op = PyTuple_GET_ITEM(piece, 0);
        int status = measured ? 0 : cut_piece(out, op, marks, cuts.get());
        if (status == 0)
            status = append_piece(out, op, PyTuple_GET_ITEM(piece, 1));
        if (status < 0)
            return nullptr;
    }
    vora::Ref text = out.finish();
    return text ? PyTuple_Pack(2, text.get(), cuts.get()) : nullptr;
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
