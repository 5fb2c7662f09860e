// TEMPORARY (see tree_text.hpp): the growing TextBuilder's storage, widening
// and the two HTML escapes.
#include "tree_text.hpp"

#include <algorithm>
#include <type_traits>

namespace vora::tree {

namespace {

// What escaping adds for each code unit below 128, with and without quotes:
// & < > " ' become &amp; &lt; &gt; &quot; &#x27;.
struct EscapeTable {
    unsigned char extra[128] = {};
    constexpr explicit EscapeTable(bool quote)
    {
        extra['&'] = 4;
        extra['<'] = 3;
        extra['>'] = 3;
        if (quote) {
            extra['"'] = 5;
            extra['\''] = 5;
        }
    }
};
constexpr EscapeTable kQuoted{true};
constexpr EscapeTable kText{false};

template <class In>
Py_ssize_t count_extra(const In* s, Py_ssize_t n, const EscapeTable& table) noexcept
{
    Py_ssize_t extra = 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (s[i] < 128)
            extra += table.extra[s[i]];
    }
    return extra;
}

template <class Out, std::size_t N>
Out* put(Out* out, const char (&text)[N]) noexcept
{
    for (std::size_t i = 0; i + 1 < N; ++i)
        *out++ = static_cast<Out>(text[i]);
    return out;
}

template <class In, class Out>
void escape_copy(const In* s, Py_ssize_t n, Out* out, bool quote) noexcept
{
    for (Py_ssize_t i = 0; i < n; ++i) {
        In c = s[i];
        switch (c) {
        case '&': out = put(out, "&amp;"); break;
        case '<': out = put(out, "&lt;"); break;
        case '>': out = put(out, "&gt;"); break;
        case '"':
            if (quote)
                out = put(out, "&quot;");
            else
                *out++ = static_cast<Out>(c);
            break;
        case '\'':
            if (quote)
                out = put(out, "&#x27;");
            else
                *out++ = static_cast<Out>(c);
            break;
        default: *out++ = static_cast<Out>(c);
        }
    }
}

template <class In, class Out>
void widen_copy(const In* s, Py_ssize_t n, Out* out) noexcept
{
    for (Py_ssize_t i = 0; i < n; ++i)
        out[i] = static_cast<Out>(s[i]);
}

// Calls f(typed pointer) for the width of a str's code units.
template <class P, class F>
decltype(auto) with_kind(int kind, P* data, F&& f) noexcept
{
    using C1 = std::conditional_t<std::is_const_v<P>, const Py_UCS1, Py_UCS1>;
    using C2 = std::conditional_t<std::is_const_v<P>, const Py_UCS2, Py_UCS2>;
    using C4 = std::conditional_t<std::is_const_v<P>, const Py_UCS4, Py_UCS4>;
    switch (kind) {
    case PyUnicode_1BYTE_KIND: return f(static_cast<C1*>(data));
    case PyUnicode_2BYTE_KIND: return f(static_cast<C2*>(data));
    default: return f(static_cast<C4*>(data));
    }
}

}  // namespace

int TextBuilder::grow(Py_ssize_t n, Py_UCS4 maxchar) noexcept
{
    Py_ssize_t needed;
    if (__builtin_add_overflow(pos_, n, &needed)) {
        PyErr_NoMemory();
        return -1;
    }
    Py_UCS4 widest = std::max(maxchar_, maxchar);
    Py_ssize_t capacity = capacity_;
    if (needed > capacity)
        capacity = std::max({needed, capacity + capacity / 2, Py_ssize_t{256}});
    if (str_ && widest == maxchar_) {
        // Same layout: reallocated in place where the allocator can (a
        // large block is remapped, not copied).
        if (PyUnicode_Resize(&str_, capacity) < 0)
            return -1;
        data_ = static_cast<char*>(PyUnicode_DATA(str_));
        capacity_ = capacity;
        return 0;
    }
    PyObject* str = PyUnicode_New(capacity, widest);
    if (!str)
        return -1;
    int kind = PyUnicode_KIND(str);
    char* data = static_cast<char*>(PyUnicode_DATA(str));
    if (pos_ > 0) {
        if (kind == kind_)
            std::memcpy(data, data_, static_cast<size_t>(pos_) * kind);
        else
            with_kind(kind_, static_cast<const void*>(data_), [&](auto* in) {
                with_kind(kind, static_cast<void*>(data),
                          [&](auto* out) { widen_copy(in, pos_, out); });
            });
    }
    Py_XDECREF(str_);
    str_ = str;
    data_ = data;
    kind_ = kind;
    maxchar_ = widest;
    capacity_ = capacity;
    return 0;
}

void TextBuilder::widen(const void* src, int kind, Py_ssize_t n) noexcept
{
    with_kind(kind, src, [&](auto* in) {
        with_kind(kind_, static_cast<void*>(data_ + pos_ * kind_),
                  [&](auto* out) { widen_copy(in, n, out); });
    });
}

int TextBuilder::append_escaping(PyObject* s, Py_ssize_t extra, bool quote) noexcept
{
    Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    const void* src = PyUnicode_DATA(s);
    int kind = PyUnicode_KIND(s);
    if (extra < 0) {
        const EscapeTable& table = quote ? kQuoted : kText;
        extra = with_kind(kind, src, [&](auto* in) { return count_extra(in, n, table); });
        if (extra == 0)
            return append(s);
    }
    Py_UCS4 maxchar = PyUnicode_MAX_CHAR_VALUE(s);
    if (!fits(n + extra, maxchar) && grow(n + extra, maxchar) < 0)
        return -1;
    with_kind(kind, src, [&](auto* in) {
        with_kind(kind_, static_cast<void*>(data_ + pos_ * kind_),
                  [&](auto* out) { escape_copy(in, n, out, quote); });
    });
    pos_ += n + extra;
    return 0;
}

void TextBuilder::reset() noexcept
{
    Py_CLEAR(str_);
    data_ = nullptr;
    kind_ = PyUnicode_1BYTE_KIND;
    maxchar_ = 0x7f;
    pos_ = 0;
    capacity_ = 0;
    narrowable_ = false;
}

Ref TextBuilder::cut(Py_ssize_t start) noexcept
{
    if (start == 0)
        return finish();
    Ref text = Ref::steal(PyUnicode_FromKindAndData(kind_, data_ + start * kind_, pos_ - start));
    if (text)
        truncate(start);
    return text;
}

Ref TextBuilder::finish() noexcept
{
    if (!str_ || pos_ == 0) {
        reset();
        return Ref::steal(PyUnicode_New(0, 0));
    }
    if (narrowable_) {
        Ref text = Ref::steal(PyUnicode_FromKindAndData(kind_, data_, pos_));
        reset();
        return text;
    }
    PyObject* str = str_;
    str_ = nullptr;
    Py_ssize_t length = pos_;
    reset();
    if (PyUnicode_Resize(&str, length) < 0) {
        Py_DECREF(str);
        return Ref();
    }
    return Ref::steal(str);
}

}  // namespace vora::tree
