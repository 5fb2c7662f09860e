// HTML escaping identical to html.escape(s, quote=True), and the copy loops
// of TextWriter for every pair of source and result widths.
#include "text.hpp"

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vora::html {

namespace {

// How many characters escaping adds for each code unit below 128: & < > " '
// become &amp; &lt; &gt; &quot; &#x27;.
struct EscapeTable {
    unsigned char extra[128] = {};
    constexpr EscapeTable()
    {
        extra['&'] = 4;
        extra['<'] = 3;
        extra['>'] = 3;
        extra['"'] = 5;
        extra['\''] = 5;
    }
};
constexpr EscapeTable kEscape{};

template <class In>
inline Py_ssize_t unit_extra(In c) noexcept
{
    return c < 128 ? kEscape.extra[c] : 0;
}

// True when any byte of the word is one of & < > " ' (the classic test for
// a zero byte, applied to the word xor each character).
inline bool has_special(uint64_t word) noexcept
{
    constexpr uint64_t ones = 0x0101010101010101;
    constexpr uint64_t highs = 0x8080808080808080;
    auto has = [&](unsigned char c) {
        uint64_t x = word ^ (ones * c);
        return (x - ones) & ~x & highs;
    };
    return (has('&') | has('<') | has('>') | has('"') | has('\'')) != 0;
}

template <class In>
Py_ssize_t count_extra(const In* s, Py_ssize_t n) noexcept
{
    if constexpr (sizeof(In) == 1) {
        // Most text has nothing to escape: skip it sixteen or eight bytes at
        // a time, and count only in the blocks that hold something.
        Py_ssize_t i = 0;
        Py_ssize_t extra = 0;
#if defined(__SSE2__)
        const __m128i amp = _mm_set1_epi8('&'), lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>'),
                      quot = _mm_set1_epi8('"'), apos = _mm_set1_epi8('\'');
        for (; i + 16 <= n; i += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            __m128i hit = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, lt)),
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, gt), _mm_cmpeq_epi8(v, quot)),
                             _mm_cmpeq_epi8(v, apos)));
            if (_mm_movemask_epi8(hit) != 0) [[unlikely]] {
                for (Py_ssize_t j = i; j < i + 16; ++j)
                    extra += unit_extra(s[j]);
            }
        }
#endif
        for (; i + 8 <= n; i += 8) {
            uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (has_special(word)) [[unlikely]] {
                for (Py_ssize_t j = i; j < i + 8; ++j)
                    extra += unit_extra(s[j]);
            }
        }
        for (; i < n; ++i)
            extra += unit_extra(s[i]);
        return extra;
    } else {
        Py_ssize_t extra = 0;
        for (Py_ssize_t i = 0; i < n; ++i)
            extra += unit_extra(s[i]);
        return extra;
    }
}

template <class Out, std::size_t N>
Out* put(Out* out, const char (&text)[N]) noexcept
{
    for (std::size_t i = 0; i + 1 < N; ++i)
        *out++ = static_cast<Out>(text[i]);
    return out;
}

template <class In, class Out>
Out* escape_copy(const In* s, Py_ssize_t n, Out* out) noexcept
{
    for (Py_ssize_t i = 0; i < n; ++i) {
        In c = s[i];
        switch (c) {
        case '&': out = put(out, "&amp;"); break;
        case '<': out = put(out, "&lt;"); break;
        case '>': out = put(out, "&gt;"); break;
        case '"': out = put(out, "&quot;"); break;
        case '\'': out = put(out, "&#x27;"); break;
        default: *out++ = static_cast<Out>(c);
        }
    }
    return out;
}

template <class In, class Out>
void widen_copy(const In* s, Py_ssize_t n, Out* out) noexcept
{
    for (Py_ssize_t i = 0; i < n; ++i)
        out[i] = static_cast<Out>(s[i]);
}

// Calls f(typed source pointer) for the width of a str's code units.
template <class F>
decltype(auto) with_kind(int kind, const void* data, F&& f) noexcept
{
    switch (kind) {
    case PyUnicode_1BYTE_KIND: return f(static_cast<const Py_UCS1*>(data));
    case PyUnicode_2BYTE_KIND: return f(static_cast<const Py_UCS2*>(data));
    default: return f(static_cast<const Py_UCS4*>(data));
    }
}

template <class F>
decltype(auto) with_kind(int kind, void* data, F&& f) noexcept
{
    switch (kind) {
    case PyUnicode_1BYTE_KIND: return f(static_cast<Py_UCS1*>(data));
    case PyUnicode_2BYTE_KIND: return f(static_cast<Py_UCS2*>(data));
    default: return f(static_cast<Py_UCS4*>(data));
    }
}

}  // namespace

Py_ssize_t escape_extra(PyObject* s) noexcept
{
    return with_kind(PyUnicode_KIND(s), PyUnicode_DATA(s), [&](auto* p) {
        return count_extra(p, PyUnicode_GET_LENGTH(s));
    });
}

void TextWriter::widen(const void* src, int kind, Py_ssize_t n) noexcept
{
    assert(kind < kind_);
    with_kind(kind, src, [&](auto* in) {
        with_kind(kind_, data_ + pos_ * kind_, [&](auto* out) { widen_copy(in, n, out); });
    });
}

void TextWriter::escape_into(PyObject* s, Py_ssize_t extra) noexcept
{
    Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    with_kind(PyUnicode_KIND(s), PyUnicode_DATA(s), [&](auto* in) {
        with_kind(kind_, data_ + pos_ * kind_, [&](auto* out) {
            [[maybe_unused]] auto* end = escape_copy(in, n, out);
            assert(end - out == n + extra);
        });
    });
    pos_ += n + extra;
}

}  // namespace vora::html
