// The items of a list-valued setting joined as markup text: exact strs at
// their measured size, anything else appended as each item's text is taken.
#include "vora/core/item_text.hpp"

#include "common/numbers.hpp"
#include "common/sequence.hpp"
#include "common/text.hpp"

namespace vora::attributes {

namespace {

// Appends str(item): an exact str as it is, an exact int or float written
// straight from its value (str() of those cannot be overridden), anything
// else through str(), which may run Python code.
int append_str_of(TextBuilder& out, PyObject* item)
{
    if (PyUnicode_CheckExact(item)) [[likely]]
        return out.append(item);
    int written = append_number(out, item);
    if (written != 0)
        return written < 0 ? -1 : 0;
    Ref text = Ref::steal(PyObject_Str(item));
    return text ? out.append(text.get()) : -1;
}

// Items that are all exact str, joined straight from the list or tuple at
// their measured size: nothing here runs Python code, so the borrowed items
// stay valid. Returns 0 with nothing done when an item is anything else.
int join_strs(PyObject* seq, PyObject* separator, Ref& joined)
{
    Py_ssize_t n = Py_SIZE(seq);
    PyObject* const* items = PySequence_Fast_ITEMS(seq);
    TextSize size;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!PyUnicode_CheckExact(items[i]))
            return 0;
        if (i > 0)
            size.add(separator);
        size.add(items[i]);
    }
    TextBuilder out;
    if (out.open(size) < 0)
        return -1;
    // Opened at its measured size: the appends cannot fail.
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (i > 0)
            out.append(separator);
        out.append(items[i]);
    }
    joined = out.finish();
    return 1;
}

}  // namespace

PyObject* join_items(PyObject* seq, PyObject* separator)
{
    if (walks_by_index(seq)) {
        Ref joined;
        if (int done = join_strs(seq, separator, joined))
            return done < 0 ? nullptr : joined.release();
    }
    TextBuilder out;
    bool first = true;
    int status = for_each_in(seq, [&](PyObject* item) {
        if (!first && out.append(separator) < 0)
            return -1;
        first = false;
        return append_str_of(out, item);
    });
    return status < 0 ? nullptr : out.finish().release();
}

}  // namespace vora::attributes
