// The items of a list-valued setting joined as markup text: every item's
// text is taken first, then the result is allocated once and filled.
#include "vora/core/item_text.hpp"

#include <charconv>
#include <cstring>
#include <algorithm>
#include <new>
#include <vector>

namespace vora::attributes {

namespace {

// One item's text: a str, or the decimal digits of an exact int (str() of
// an exact int cannot be overridden, so it is written without making one).
struct Piece {
    Ref text;
    char digits[24];
    int ndigits = 0;
};

// The pieces of one join: a few inline, the rest on the heap.
class Pieces {
public:
    Piece* add()
    {
        if (count_ < inline_count)
            return &local_[count_++];
        try {
            heap_.emplace_back();
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            return nullptr;
        }
        ++count_;
        return &heap_.back();
    }
    Py_ssize_t size() const { return count_; }
    Piece& operator[](Py_ssize_t i) { return i < inline_count ? local_[i] : heap_[i - inline_count]; }

private:
    static constexpr Py_ssize_t inline_count = 8;
    Piece local_[inline_count];
    std::vector<Piece> heap_;
    Py_ssize_t count_ = 0;
};

// Sets piece to str(item); may run Python code.
int take_text(Piece& piece, PyObject* item)
{
    if (PyUnicode_CheckExact(item)) {
        piece.text = Ref::borrow(item);
        return 0;
    }
    if (PyLong_CheckExact(item)) {
        int overflow;
        long n = PyLong_AsLongAndOverflow(item, &overflow);
        if (!overflow) {
            char* end = std::to_chars(piece.digits, piece.digits + sizeof piece.digits, n).ptr;
            piece.ndigits = static_cast<int>(end - piece.digits);
            return 0;
        }
    }
    piece.text = Ref::steal(PyObject_Str(item));
    return piece.text ? 0 : -1;
}

// The length and widest character of the texts to join.
struct Size {
    Py_ssize_t length = 0;
    Py_UCS4 maxchar = 0;

    bool add(Py_ssize_t more)
    {
        if (more > PY_SSIZE_T_MAX - length) [[unlikely]] {
            PyErr_SetString(PyExc_OverflowError, "join() result is too long for a Python string");
            return false;
        }
        length += more;
        return true;
    }
    bool add(PyObject* text)
    {
        maxchar = std::max(maxchar, PyUnicode_MAX_CHAR_VALUE(text));
        return add(PyUnicode_GET_LENGTH(text));
    }
    // The separators between n texts (a list holds fewer items than would
    // overflow this product).
    bool add_separators(PyObject* separator, Py_ssize_t n)
    {
        maxchar = std::max(maxchar, PyUnicode_MAX_CHAR_VALUE(separator));
        return add(PyUnicode_GET_LENGTH(separator) * (n - 1));
    }
};

// Fills a string allocated at its final size. Strings are stored in their
// narrowest kind, so with a one-byte result every text is one-byte too and
// is copied as bytes.
class Filler {
public:
    explicit Filler(PyObject* result)
        : result_(result), kind_(PyUnicode_KIND(result)), data_(PyUnicode_DATA(result))
    {
    }
    void put(PyObject* text)
    {
        Py_ssize_t length = PyUnicode_GET_LENGTH(text);
        if (kind_ == PyUnicode_1BYTE_KIND)
            std::memcpy(static_cast<Py_UCS1*>(data_) + pos_, PyUnicode_DATA(text), length);
        else
            PyUnicode_CopyCharacters(result_, pos_, text, 0, length);
        pos_ += length;
    }
    void put_ascii(const char* text, int length)
    {
        for (int i = 0; i < length; ++i)
            PyUnicode_WRITE(kind_, data_, pos_++, text[i]);
    }

private:
    PyObject* result_;
    int kind_;
    void* data_;
    Py_ssize_t pos_ = 0;
};

// Items that are all exact str, joined straight from the list or tuple:
// nothing here runs Python code, so the borrowed items stay valid.
PyObject* join_strs(PyObject* const* items, Py_ssize_t n, PyObject* separator)
{
    Size size;
    if (!size.add_separators(separator, n))
        return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!size.add(items[i]))
            return nullptr;
    }
    PyObject* result = PyUnicode_New(size.length, size.maxchar);
    if (!result)
        return nullptr;
    Filler out(result);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (i > 0)
            out.put(separator);
        out.put(items[i]);
    }
    return result;
}

PyObject* const* exact_str_items(PyObject* seq, Py_ssize_t n)
{
    PyObject* const* items = PyList_Check(seq) ? reinterpret_cast<PyListObject*>(seq)->ob_item
                                               : reinterpret_cast<PyTupleObject*>(seq)->ob_item;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!PyUnicode_CheckExact(items[i]))
            return nullptr;
    }
    return items;
}

}  // namespace

PyObject* join_items(PyObject* seq, PyObject* separator)
{
    if (walks_by_index(seq) && Py_SIZE(seq) > 0) {
        if (PyObject* const* items = exact_str_items(seq, Py_SIZE(seq)))
            return join_strs(items, Py_SIZE(seq), separator);
    }
    Pieces pieces;
    int status = for_each_in(seq, [&](PyObject* item) {
        Piece* piece = pieces.add();
        return piece ? take_text(*piece, item) : -1;
    });
    if (status < 0)
        return nullptr;
    Py_ssize_t n = pieces.size();
    if (n == 0)
        return PyUnicode_New(0, 0);

    // Every text is held now: sizing and filling run no Python code.
    Size size;
    if (!size.add_separators(separator, n))
        return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Piece& piece = pieces[i];
        if (!(piece.text ? size.add(piece.text.get()) : size.add(piece.ndigits)))
            return nullptr;
    }
    PyObject* result = PyUnicode_New(size.length, size.maxchar);
    if (!result)
        return nullptr;
    Filler out(result);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (i > 0)
            out.put(separator);
        Piece& piece = pieces[i];
        if (piece.text)
            out.put(piece.text.get());
        else
            out.put_ascii(piece.digits, piece.ndigits);
    }
    return result;
}

}  // namespace vora::attributes
