// TEMPORARY: a minimal stand-in for the shared TextBuilder that is moving into
// common/ (the same API, kept in namespace vora::tree until then), so that the page walk can be written
// against it now; it goes when the shared one lands. What the walk needs
// beyond the shared API is marked "walk:" below (append_escaped_text, cut,
// truncate): those move into the shared builder.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/errors.hpp"
#include "common/ref.hpp"
#include "common/text.hpp"

namespace vora::tree {

// Builds one str, growing as text arrives: the text is written straight into
// a str that widens from ASCII to 1-, 2- and 4-byte characters as wider text
// arrives and grows by half again when full; finish() shrinks it in place.
// Appends return 0, or -1 with MemoryError set.
class TextBuilder {
public:
    TextBuilder() noexcept = default;
    TextBuilder(const TextBuilder&) = delete;
    TextBuilder& operator=(const TextBuilder&) = delete;
    ~TextBuilder() { Py_XDECREF(str_); }

    // Appends s, a str (subclasses included: their characters).
    int append(PyObject* s) noexcept
    {
        Py_ssize_t n = PyUnicode_GET_LENGTH(s);
        if (!fits(n, PyUnicode_MAX_CHAR_VALUE(s)) && grow(n, PyUnicode_MAX_CHAR_VALUE(s)) < 0)
            [[unlikely]]
            return -1;
        copy(PyUnicode_DATA(s), PyUnicode_KIND(s), n);
        return 0;
    }

    // Appends the text of html.escape(s, quote=True): & < > " ' become
    // &amp; &lt; &gt; &quot; &#x27;.
    int append_escaped(PyObject* s) noexcept
    {
        if (plain(s, kQuotedSpecials)) [[likely]]
            return append(s);
        return append_escaping(s, -1, true);
    }

    // walk: appends the text of html.escape(s, quote=False), the escape of
    // element text: only & < > are replaced.
    int append_escaped_text(PyObject* s) noexcept
    {
        if (plain(s, kTextSpecials)) [[likely]]
            return append(s);
        return append_escaping(s, -1, false);
    }

    // Appends n ASCII characters.
    int append_ascii(const char* text, Py_ssize_t n) noexcept
    {
        if (!fits(n, 0x7f) && grow(n, 0x7f) < 0) [[unlikely]]
            return -1;
        copy(text, PyUnicode_1BYTE_KIND, n);
        return 0;
    }
    template <std::size_t N>
    int append_ascii(const char (&text)[N]) noexcept
    {
        return append_ascii(text, static_cast<Py_ssize_t>(N - 1));
    }
    int append_ascii(char c) noexcept
    {
        if (!fits(1, 0x7f) && grow(1, 0x7f) < 0) [[unlikely]]
            return -1;
        PyUnicode_WRITE(kind_, data_, pos_, static_cast<Py_UCS4>(c));
        ++pos_;
        return 0;
    }

    // The characters appended so far.
    Py_ssize_t length() const noexcept { return pos_; }

    // walk: the text from start (a length() taken earlier) to the end, as a
    // new str; the builder keeps the text before start. cut(0) hands over
    // the whole text as finish() does.
    Ref cut(Py_ssize_t start) noexcept;

    // walk: drops the text from length on.
    void truncate(Py_ssize_t length) noexcept
    {
        pos_ = length;
        narrowable_ = maxchar_ > 0x7f;
    }

    // The built str (the empty str when nothing was appended); the builder
    // is empty afterwards.
    Ref finish() noexcept;

private:
    // The characters below 64 that escaping replaces, as bits: & < > " '
    // (quoted) or & < > (text).
    static constexpr uint64_t kTextSpecials = 1ull << '&' | 1ull << '<' | 1ull << '>';
    static constexpr uint64_t kQuotedSpecials = kTextSpecials | 1ull << '"' | 1ull << '\'';

    // True when escaping leaves s as it is. Short 1-byte text (most of a
    // page: names, ids, values) is looked at here; the rest is counted.
    static bool plain(PyObject* s, uint64_t special) noexcept
    {
        Py_ssize_t n = PyUnicode_GET_LENGTH(s);
        if (PyUnicode_KIND(s) == PyUnicode_1BYTE_KIND && n <= 32) [[likely]] {
            const Py_UCS1* p = PyUnicode_1BYTE_DATA(s);
            uint64_t found = 0;
            for (Py_ssize_t i = 0; i < n; ++i)
                found |= p[i] < 64 ? special >> p[i] & 1 : 0;
            return found == 0;
        }
        return vora::escape_extra(s) == 0;
    }

    bool fits(Py_ssize_t n, Py_UCS4 maxchar) const noexcept
    {
        return maxchar <= maxchar_ && n <= capacity_ - pos_;
    }
    // Copies n characters of the given kind, no wider than the text's.
    void copy(const void* src, int kind, Py_ssize_t n) noexcept
    {
        if (kind == kind_) [[likely]] {
            std::memcpy(data_ + pos_ * kind_, src, static_cast<size_t>(n) * kind_);
        } else if (kind == PyUnicode_1BYTE_KIND && kind_ == PyUnicode_2BYTE_KIND) {
            const Py_UCS1* in = static_cast<const Py_UCS1*>(src);
            Py_UCS2* out = reinterpret_cast<Py_UCS2*>(data_) + pos_;
            for (Py_ssize_t i = 0; i < n; ++i)
                out[i] = in[i];
        } else {
            widen(src, kind, n);
        }
        pos_ += n;
    }
    VORA_COLD int grow(Py_ssize_t n, Py_UCS4 maxchar) noexcept;
    // extra: what escaping adds, or -1 when not yet counted.
    int append_escaping(PyObject* s, Py_ssize_t extra, bool quote) noexcept;
    void widen(const void* src, int kind, Py_ssize_t n) noexcept;
    void reset() noexcept;

    // The str being filled, of capacity_ characters, laid out for maxchar_
    // (0x7f, 0xff, 0xffff or 0x10ffff: the widest character appended, so
    // that the finished str is in its canonical form).
    PyObject* str_ = nullptr;
    char* data_ = nullptr;
    int kind_ = PyUnicode_1BYTE_KIND;
    Py_UCS4 maxchar_ = 0x7f;
    Py_ssize_t pos_ = 0;
    Py_ssize_t capacity_ = 0;
    // Text was dropped since it widened: the rest may be narrower than the
    // layout, and is copied into its canonical form at the end.
    bool narrowable_ = false;
};

}  // namespace vora::tree
