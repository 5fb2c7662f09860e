// The escapes of html.escape(s, quote=True) and html.escape(s, quote=False),
// counted and applied while copying, and TextBuilder's slower paths:
// allocation at a measured size, growth and widening, cutting back, and the
// finished str.
#include "common/text.hpp"

#include <cstdint>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vora {

namespace {

// How many characters escaping adds for each code unit below 128: & < > " '
// become &amp; &lt; &gt; &quot; &#x27; with quotes, only & < > without.
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
template <bool Quote>
constexpr EscapeTable kEscape{Quote};

// The table and the bits that TextBuilder looks at inline name the same
// characters.
template <bool Quote>
constexpr bool same_specials()
{
    for (unsigned c = 0; c < 128; ++c) {
        bool bit = c < 64 && (escape_specials<Quote> >> c & 1);
        if ((kEscape<Quote>.extra[c] != 0) != bit)
            return false;
    }
    return true;
}
static_assert(same_specials<true>() && same_specials<false>());

template <bool Quote, class In>
inline Py_ssize_t unit_extra(In c) noexcept
{
    return c < 128 ? kEscape<Quote>.extra[c] : 0;
}

// True when any byte of the word is one that escaping replaces (the classic
// test for a zero byte, applied to the word xor each character).
template <bool Quote>
inline bool has_special(uint64_t word) noexcept
{
    constexpr uint64_t ones = 0x0101010101010101;
    constexpr uint64_t highs = 0x8080808080808080;
    auto has = [&](unsigned char c) {
        uint64_t x = word ^ (ones * c);
        return (x - ones) & ~x & highs;
    };
    uint64_t found = has('&') | has('<') | has('>');
    if constexpr (Quote)
        found |= has('"') | has('\'');
    return found != 0;
}

template <bool Quote, class In>
Py_ssize_t count_extra(const In* s, Py_ssize_t n) noexcept
{
    if constexpr (sizeof(In) == 1) {
        // Most text has nothing to escape: skip it sixteen or eight bytes at
        // a time, and count only in the blocks that hold something.
        Py_ssize_t i = 0;
        Py_ssize_t extra = 0;
#if defined(__SSE2__)
        const __m128i amp = _mm_set1_epi8('&'), lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>');
        for (; i + 16 <= n; i += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, lt)),
                                       _mm_cmpeq_epi8(v, gt));
            if constexpr (Quote)
                hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                                     _mm_cmpeq_epi8(v, _mm_set1_epi8('\''))));
            if (_mm_movemask_epi8(hit) != 0) [[unlikely]] {
                for (Py_ssize_t j = i; j < i + 16; ++j)
                    extra += unit_extra<Quote>(s[j]);
            }
        }
#endif
        for (; i + 8 <= n; i += 8) {
            uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (has_special<Quote>(word)) [[unlikely]] {
                for (Py_ssize_t j = i; j < i + 8; ++j)
                    extra += unit_extra<Quote>(s[j]);
            }
        }
        for (; i < n; ++i)
            extra += unit_extra<Quote>(s[i]);
        return extra;
    } else {
        Py_ssize_t extra = 0;
        for (Py_ssize_t i = 0; i < n; ++i)
            extra += unit_extra<Quote>(s[i]);
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

template <bool Quote, class In, class Out>
Out* escape_copy(const In* s, Py_ssize_t n, Out* out) noexcept
{
    for (Py_ssize_t i = 0; i < n; ++i) {
        In c = s[i];
        switch (c) {
        case '&': out = put(out, "&amp;"); break;
        case '<': out = put(out, "&lt;"); break;
        case '>': out = put(out, "&gt;"); break;
        case '"':
            if constexpr (Quote)
                out = put(out, "&quot;");
            else
                *out++ = static_cast<Out>(c);
            break;
        case '\'':
            if constexpr (Quote)
                out = put(out, "&#x27;");
            else
                *out++ = static_cast<Out>(c);
            break;
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

// 1- into 2-byte code units, the widening of every piece of markup once a
// page holds one wider character: sixteen and eight at a time.
inline void widen_copy(const Py_UCS1* s, Py_ssize_t n, Py_UCS2* out) noexcept
{
    Py_ssize_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
    }
    if (i + 8 <= n) {
        __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
        i += 8;
    }
#endif
    for (; i < n; ++i)
        out[i] = s[i];
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

// Widens n code units into storage of a wider kind.
void widen_units(const void* src, int src_kind, char* dst, int dst_kind, Py_ssize_t n) noexcept
{
    assert(src_kind < dst_kind);
    with_kind(src_kind, src, [&](auto* in) {
        with_kind(dst_kind, dst, [&](auto* out) { widen_copy(in, n, out); });
    });
}

// Copies n code units of one width into storage of the same or a wider one,
// 1- into 2-byte storage first: in a page that holds one wider character,
// every later piece of markup is widened so.
[[gnu::always_inline]] inline void copy_units(const void* src, int src_kind, char* dst,
                                              int dst_kind, Py_ssize_t n) noexcept
{
    if (src_kind == dst_kind)
        std::memcpy(dst, src, static_cast<size_t>(n) * dst_kind);
    else if (src_kind == PyUnicode_1BYTE_KIND && dst_kind == PyUnicode_2BYTE_KIND)
        widen_copy(static_cast<const Py_UCS1*>(src), n, reinterpret_cast<Py_UCS2*>(dst));
    else
        widen_units(src, src_kind, dst, dst_kind, n);
}

}  // namespace

Py_ssize_t escape_extra(PyObject* s) noexcept
{
    return with_kind(PyUnicode_KIND(s), PyUnicode_DATA(s), [&](auto* p) {
        return count_extra<true>(p, PyUnicode_GET_LENGTH(s));
    });
}

Py_ssize_t escape_text_extra(PyObject* s) noexcept
{
    return with_kind(PyUnicode_KIND(s), PyUnicode_DATA(s), [&](auto* p) {
        return count_extra<false>(p, PyUnicode_GET_LENGTH(s));
    });
}

// Room for n more characters up to maxchar: the str grows in place while it
// is wide enough, else the text moves to a new, wider str. Capacity grows by
// half again, so a text built piece by piece is copied a bounded number of
// times.
int TextBuilder::make_room(Py_ssize_t n, Py_UCS4 maxchar) noexcept
{
    Py_ssize_t needed = add_length(pos_, n);
    Py_ssize_t capacity = needed <= capacity_ ? capacity_ : add_length(needed, needed / 2);
    Py_UCS4 wanted = maxchar_ | maxchar;
    if (str_ && (wanted | limit_) == limit_) {
        if (PyUnicode_Resize(&str_, capacity) < 0)
            return -1;
    } else {
        // A presized str may be wider than its text: never narrower.
        PyObject* wider = PyUnicode_New(capacity, str_ ? wanted | limit_ : wanted);
        if (!wider)
            return -1;
        char* data = static_cast<char*>(PyUnicode_DATA(wider));
        int kind = PyUnicode_KIND(wider);
        copy_units(data_, kind_, data, kind, pos_);
        Py_XSETREF(str_, wider);
        kind_ = kind;
        limit_ = PyUnicode_MAX_CHAR_VALUE(wider);
    }
    data_ = static_cast<char*>(PyUnicode_DATA(str_));
    capacity_ = capacity;
    return 0;
}

// Out of line, so that the many appends that may take this path stay small.
void TextBuilder::widen_in(const Py_UCS1* src, Py_ssize_t n) noexcept
{
    widen_copy(src, n, reinterpret_cast<Py_UCS2*>(data_) + pos_);
}

// Room for n more characters up to maxchar (0x7f, 0xff, 0xffff or 0x10ffff):
// a measured text has it by its measure, a grown one makes it.
int TextBuilder::reserve(Py_ssize_t n, Py_UCS4 maxchar) noexcept
{
    if (measured_kind_ != 0) {
        assert(within_measure(n, maxchar) && "text beyond its measure");
        return 0;
    }
    if ((maxchar > limit_ || n > capacity_ - pos_) && make_room(n, maxchar) < 0) [[unlikely]]
        return -1;
    maxchar_ |= maxchar;
    return 0;
}

// The appends that are not a plain copy: into a grown text, or of narrower
// text into a measured one.
int TextBuilder::append_other(PyObject* s) noexcept
{
    Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    if (reserve(n, PyUnicode_MAX_CHAR_VALUE(s)) < 0)
        return -1;
    copy_units(PyUnicode_DATA(s), PyUnicode_KIND(s), data_ + pos_ * kind_, kind_, n);
    pos_ += n;
    return 0;
}

int TextBuilder::append_ascii_other(const char* text, Py_ssize_t n) noexcept
{
    if (reserve(n, 0x7f) < 0)
        return -1;
    copy_units(text, PyUnicode_1BYTE_KIND, data_ + pos_ * kind_, kind_, n);
    pos_ += n;
    return 0;
}

int TextBuilder::append_char_other(char c) noexcept
{
    if (reserve(1, 0x7f) < 0)
        return -1;
    PyUnicode_WRITE(kind_, data_, pos_, static_cast<Py_UCS4>(c));
    ++pos_;
    return 0;
}

template <bool Quote>
int TextBuilder::append_escaping(PyObject* s, Py_ssize_t extra) noexcept
{
    Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    Py_ssize_t total = add_length(n, extra);
    if (reserve(total, PyUnicode_MAX_CHAR_VALUE(s)) < 0)
        return -1;
    with_kind(PyUnicode_KIND(s), PyUnicode_DATA(s), [&](auto* in) {
        with_kind(kind_, data_ + pos_ * kind_, [&](auto* out) {
            [[maybe_unused]] auto* end = escape_copy<Quote>(in, n, out);
            assert(end - out == total);
        });
    });
    pos_ += total;
    return 0;
}
template int TextBuilder::append_escaping<true>(PyObject*, Py_ssize_t) noexcept;
template int TextBuilder::append_escaping<false>(PyObject*, Py_ssize_t) noexcept;

template <bool Quote>
int TextBuilder::append_counted(PyObject* s) noexcept
{
    Py_ssize_t extra = Quote ? escape_extra(s) : escape_text_extra(s);
    return extra == 0 ? append(s) : append_escaping<Quote>(s, extra);
}
template int TextBuilder::append_counted<true>(PyObject*) noexcept;
template int TextBuilder::append_counted<false>(PyObject*) noexcept;

int TextBuilder::presize(Py_ssize_t capacity, Py_UCS4 maxchar) noexcept
{
    assert(measured_kind_ == 0 && pos_ == 0 && !str_);
    if (capacity <= capacity_ && maxchar <= 0xff)
        return 0;
    str_ = PyUnicode_New(capacity, maxchar | 0x7f);
    if (!str_)
        return -1;
    data_ = static_cast<char*>(PyUnicode_DATA(str_));
    kind_ = PyUnicode_KIND(str_);
    limit_ = PyUnicode_MAX_CHAR_VALUE(str_);
    capacity_ = capacity;
    return 0;
}

int TextBuilder::insert(Py_ssize_t at, PyObject* s) noexcept
{
    assert(measured_kind_ == 0 && 0 <= at && at <= pos_);
    Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    if (reserve(n, PyUnicode_MAX_CHAR_VALUE(s)) < 0)
        return -1;
    char* place = data_ + at * kind_;
    std::memmove(place + n * kind_, place, static_cast<size_t>(pos_ - at) * kind_);
    copy_units(PyUnicode_DATA(s), PyUnicode_KIND(s), place, kind_, n);
    pos_ += n;
    return 0;
}

namespace {

// Whether any of n code units is a surrogate: sixteen bytes of them at a
// time, four times over, with one test for the lot, as text rarely holds
// one. GCC's vector types give the same code the processor's vectors on any
// target.
template <class Unit>
bool any_surrogate(const Unit* s, Py_ssize_t n) noexcept
{
    using Units [[gnu::vector_size(16)]] = Unit;
    using Lanes [[gnu::vector_size(16)]] = std::make_signed_t<Unit>;
    constexpr Unit high = static_cast<Unit>(~Unit{0x7ff});  // what a surrogate has as 0xd800
    constexpr Py_ssize_t lanes = 16 / sizeof(Unit);
    Py_ssize_t i = 0;
    for (; i + 4 * lanes <= n; i += 4 * lanes) {
        Lanes found = {};
        for (Py_ssize_t k = 0; k < 4; ++k) {
            Units v;
            std::memcpy(&v, s + i + k * lanes, sizeof v);
            found |= (v & high) == 0xd800;
        }
        uint64_t halves[2];
        std::memcpy(halves, &found, sizeof halves);
        if ((halves[0] | halves[1]) != 0)
            return true;
    }
    for (; i < n; ++i) {
        if ((s[i] & high) == 0xd800)
            return true;
    }
    return false;
}

}  // namespace

bool TextBuilder::has_surrogate(Py_ssize_t start) const noexcept
{
    assert(measured_kind_ == 0 && 0 <= start && start <= pos_);
    if (maxchar_ <= 0xff)
        return false;
    Py_ssize_t n = pos_ - start;
    if (kind_ == PyUnicode_2BYTE_KIND)
        return any_surrogate(reinterpret_cast<const Py_UCS2*>(data_) + start, n);
    return any_surrogate(reinterpret_cast<const Py_UCS4*>(data_) + start, n);
}

// PyUnicode_FromKindAndData looks for the widest character it copies, so
// the text it makes is in its narrowest kind whatever was dropped before.
Ref TextBuilder::cut(Py_ssize_t start) noexcept
{
    assert(measured_kind_ == 0 && 0 <= start && start <= pos_);
    if (start == 0)
        return finish();
    Ref text = Ref::steal(PyUnicode_FromKindAndData(kind_, data_ + start * kind_, pos_ - start));
    if (text)
        truncate(start);
    return text;
}

Ref TextBuilder::finish_grown() noexcept
{
    Ref out;
    if (narrowable_ || (str_ && maxchar_ != limit_)) {
        out = Ref::steal(PyUnicode_FromKindAndData(kind_, data_, pos_));
    } else if (!str_) {
        out = Ref::steal(new_empty_str());
    } else if (pos_ == capacity_ || PyUnicode_Resize(&str_, pos_) == 0) [[likely]] {
        out = Ref::steal(str_);
        str_ = nullptr;
    }
    reset();
    return out;
}

}  // namespace vora
