// Exact ints and floats as text, identical to format(x, ""): integers digit
// by digit, floats by their shortest round-trip digits (found directly for
// short decimals, else by std::to_chars) laid out by float's repr rules.
#include "common/numbers.hpp"

#include <algorithm>
#include <charconv>
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

// The digits of any other value, from std::to_chars' shortest round trip,
// which is slow on exactly the short decimals (52 ns on 12.5 here, 13 ns on
// 1920.0): hence short_decimal first.
void shortest_decimal(double a, Decimal& out)
{
    char sci[number_chars];
    const char* end = std::to_chars(sci, sci + sizeof sci, a, std::chars_format::scientific).ptr;
    const char* p = sci;
    out.count = 0;
    for (; *p != 'e'; ++p) {
        if (*p != '.')
            out.digits[out.count++] = *p;
    }
    int exponent = 0;
    std::from_chars(p + 2, end, exponent);
    out.point = (p[1] == '-' ? -exponent : exponent) + 1;
}

// repr's layout: fixed notation while the decimal point falls from 4 places
// before the first digit to 16 after it, else d.ddde+XX.
char* lay_out(const Decimal& d, char* o)
{
    const char* digits = d.digits;
    int count = d.count;
    int point = d.point;
    if (point > -4 && point <= 16) {
        if (point <= 0) {
            *o++ = '0';
            *o++ = '.';
            o = std::fill_n(o, -point, '0');
            o = std::copy_n(digits, count, o);
        } else if (point >= count) {
            o = std::copy_n(digits, count, o);
            o = std::fill_n(o, point - count, '0');
            *o++ = '.';
            *o++ = '0';
        } else {
            o = std::copy_n(digits, point, o);
            *o++ = '.';
            o = std::copy_n(digits + point, count - point, o);
        }
        return o;
    }
    *o++ = digits[0];
    if (count > 1) {
        *o++ = '.';
        o = std::copy_n(digits + 1, count - 1, o);
    }
    *o++ = 'e';
    int exponent = point - 1;
    *o++ = exponent < 0 ? '-' : '+';
    int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10)
        *o++ = '0';
    return std::to_chars(o, o + 4, magnitude).ptr;
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
    if (!short_decimal(a, decimal))
        shortest_decimal(a, decimal);
    return lay_out(decimal, out);
}

int append_number(TextBuilder& out, PyObject* x) noexcept
{
    char text[number_chars];
    if (Py_ssize_t n = write_number(x, text))
        return out.append_ascii(text, n) == 0 ? 1 : -1;
    if (!PyLong_CheckExact(x))
        return 0;
    // Past 64 bits: the interpreter's own conversion, with its limit on the
    // number of digits.
    Ref digits = Ref::steal(PyObject_Str(x));
    return digits && out.append(digits.get()) == 0 ? 1 : -1;
}

}  // namespace vora
