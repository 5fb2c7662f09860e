// The items of a list-valued setting joined as markup text.
#include "vora/core/item_text.hpp"

namespace vora::attributes {

PyObject* join_items(PyObject* seq, const char* separator, Py_ssize_t separator_length)
{
    // Sized for a few short items, the usual value; the writer grows.
    PyUnicodeWriter* writer = PyUnicodeWriter_Create(32);
    if (!writer)
        return nullptr;
    bool first = true;
    int status = for_each_item(seq, [&](PyObject* item) {
        if (!first && PyUnicodeWriter_WriteASCII(writer, separator, separator_length) < 0)
            return -1;
        first = false;
        // str(item): the writer formats an exact int in place and takes an
        // exact str as it is.
        return PyUnicodeWriter_WriteStr(writer, item);
    });
    if (status < 0) {
        PyUnicodeWriter_Discard(writer);
        return nullptr;
    }
    return PyUnicodeWriter_Finish(writer);
}

}  // namespace vora::attributes
