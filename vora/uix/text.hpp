// Building a str in one allocation (measure, allocate, copy), with the HTML
// escaping of html.escape(s, quote=True) applied while copying.
#pragma once

#include <Python.h>

#include <cassert>
#include <cstddef>
#include <cstring>
#include <utility>

#include "common/ref.hpp"

namespace vora::html {

// The characters escaping adds to s (any str, subclasses included); 0 means
// that s is copied unchanged.
Py_ssize_t escape_extra(PyObject* s) noexcept;

// The length and widest character of a result under construction. The widest
// character is kept as the OR of PyUnicode_MAX_CHAR_VALUE of the pieces
// (0x7f, 0xff, 0xffff, 0x10ffff), which is their maximum. Lengths saturate,
// so an impossible total ends as MemoryError from the allocation.
struct TextSize {
    Py_ssize_t length = 0;
    Py_UCS4 maxchar = 0;

    void add(Py_ssize_t n) noexcept
    {
        if (__builtin_add_overflow(length, n, &length)) [[unlikely]]
            length = PY_SSIZE_T_MAX;
    }
    void add(PyObject* s, Py_ssize_t extra = 0) noexcept
    {
        add(PyUnicode_GET_LENGTH(s));
        add(extra);
        maxchar |= PyUnicode_MAX_CHAR_VALUE(s);
    }
};

// Fills a str allocated at its final size; the pieces written must add up to
// exactly the measured length and be no wider than the measured width.
class TextWriter {
public:
    // Allocates the result; false with MemoryError set.
    bool open(const TextSize& size) noexcept
    {
        out_ = Ref::steal(PyUnicode_New(size.length, size.maxchar));
        if (!out_)
            return false;
        kind_ = PyUnicode_KIND(out_.get());
        data_ = static_cast<char*>(PyUnicode_DATA(out_.get()));
        return true;
    }

    // Copies s unchanged.
    void raw(PyObject* s) noexcept
    {
        Py_ssize_t n = PyUnicode_GET_LENGTH(s);
        int kind = PyUnicode_KIND(s);
        if (kind == kind_) [[likely]]
            std::memcpy(data_ + pos_ * kind_, PyUnicode_DATA(s), static_cast<size_t>(n) * kind_);
        else
            widen(PyUnicode_DATA(s), kind, n);
        pos_ += n;
    }

    // Copies s escaped; extra is escape_extra(s).
    void escaped(PyObject* s, Py_ssize_t extra) noexcept
    {
        if (extra == 0) [[likely]]
            raw(s);
        else
            escape_into(s, extra);
    }

    // Copies an ASCII literal.
    template <std::size_t N>
    void ascii(const char (&text)[N]) noexcept
    {
        constexpr Py_ssize_t n = N - 1;
        if (kind_ == PyUnicode_1BYTE_KIND) [[likely]]
            std::memcpy(data_ + pos_, text, n);
        else
            widen(text, PyUnicode_1BYTE_KIND, n);
        pos_ += n;
    }

    void ascii(char c) noexcept
    {
        PyUnicode_WRITE(kind_, data_, pos_, static_cast<Py_UCS4>(c));
        ++pos_;
    }

    // The finished str.
    Ref finish() noexcept
    {
        assert(out_ && pos_ == PyUnicode_GET_LENGTH(out_.get()));
        return std::move(out_);
    }

private:
    void widen(const void* src, int kind, Py_ssize_t n) noexcept;
    void escape_into(PyObject* s, Py_ssize_t extra) noexcept;

    Ref out_;
    int kind_ = 0;
    char* data_ = nullptr;
    Py_ssize_t pos_ = 0;
};

// A new reference to the empty str.
inline PyObject* new_empty_str() noexcept
{
    return Py_GetConstant(Py_CONSTANT_EMPTY_STR);
}

}  // namespace vora::html
