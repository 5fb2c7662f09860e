// Exact ints and floats as text, identical to format(x, ""): integers digit
// by digit, floats by their shortest round-trip digits, found directly for
// short decimals, else by the interpreter's own repr.
#include "common/numbers.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace vora {

namespace {

// The shortest digits of a positive finite double, the ones float's repr
// finds too (the fewest that read back as it, the closest among those), and
// the place of the decimal point: point digits before it, or -point zeros
// after it before the digits.
struct Decimal {
    char digits[24];
    int count;
    int point;
};

// The digits of the values that settings hold in practice (12.5, 0.75,
// 1920.0): values from 1e-4 to 2**50 that are m / 10**k for some integer m.
// The first k for which m / 10**k reads back as a gives the shortest digits;
// below 2**50 those fractions lie more than 4 ulp apart, so only the one
// nearest to a can read back, and rounding a * 10**k finds it. False for
// other values.
bool short_decimal(double a, Decimal& out)
{
    static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                                        1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
    constexpr double limit = 0x1p50;
    if (!(a >= 1e-4 && a < limit))
        return false;
    for (int k = 0; k < static_cast<int>(std::size(powers)); ++k) {
        double scaled = a * powers[k];
        if (scaled >= limit)
            return false;
        double m = std::nearbyint(scaled);
        if (m / powers[k] != a)
            continue;
        char* end = write_integer(static_cast<long long>(m), out.digits);
        out.count = static_cast<int>(end - out.digits);
        out.point = out.count - k;
        return true;
    }
    return false;
}

// Fixed notation, as repr writes a short decimal: its point falls from 3
// places before the first digit (1e-4) to 16 after it (below 2**50).
char* lay_out(const Decimal& d, char* o)
{
    const char* digits = d.digits;
    int count = d.count;
    int point = d.point;
    if (point <= 0) {
        *o++ = '0';
        *o++ = '.';
        o = std::fill_n(o, -point, '0');
        return std::copy_n(digits, count, o);
    }
    if (point >= count) {
        o = std::copy_n(digits, count, o);
        o = std::fill_n(o, point - count, '0');
        *o++ = '.';
        *o++ = '0';
        return o;
    }
    o = std::copy_n(digits, point, o);
    *o++ = '.';
    return std::copy_n(digits + point, count - point, o);
}

// Any other positive finite value: float's repr itself. It allocates, and
// costs several times what short_decimal does, which is why that comes
// first; but it takes nothing from the C++ runtime (std::to_chars would tie
// the modules to this compiler's libstdc++).
char* interpreter_repr(double a, char* o)
{
    char* text = PyOS_double_to_string(a, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (!text)
        return nullptr;
    std::size_t n = std::strlen(text);
    std::memcpy(o, text, n);
    PyMem_Free(text);
    return o + n;
}

}  // namespace

char* write_double(double d, char* out) noexcept
{
    if (std::isnan(d)) {
        std::memcpy(out, "nan", 3);
        return out + 3;
    }
    if (std::signbit(d))
        *out++ = '-';
    double a = std::fabs(d);
    if (std::isinf(a)) {
        std::memcpy(out, "inf", 3);
        return out + 3;
    }
    if (a == 0.0) {
        std::memcpy(out, "0.0", 3);
        return out + 3;
    }
    Decimal decimal;
    if (short_decimal(a, decimal))
        return lay_out(decimal, out);
    return interpreter_repr(a, out);
}

int append_number(TextBuilder& out, PyObject* x) noexcept
{
    char text[number_chars];
    if (Py_ssize_t n = write_number(x, text))
        return n > 0 && out.append_ascii(text, n) == 0 ? 1 : -1;
    if (!PyLong_CheckExact(x))
        return 0;
    // Past 64 bits: the interpreter's own conversion, with its limit on the
    // number of digits.
    Ref digits = Ref::steal(PyObject_Str(x));
    return digits && out.append(digits.get()) == 0 ? 1 : -1;
}

}  // namespace vora
