// Exact ints and floats as text, identical to format(x, ""): integers digit
// by digit, floats by their shortest round-trip digits, found directly for
// short decimals (in the default floating-point environment), in exact
// integers for the rest of the usual range, else by the interpreter's own
// repr.
#include "common/numbers.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
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
// other values, with tried set to the first k it did not rule out. The
// product, the rounding and the quotient are the default environment's:
// rounded otherwise they miss the shortest digits or find wrong ones, so
// the caller asks default_float_environment() first.
bool short_decimal(double a, Decimal& out, int& tried)
{
    static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                                        1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
    constexpr double limit = 0x1p50;
    tried = 0;
    if (!(a >= 1e-4 && a < limit))
        return false;
    for (; tried < static_cast<int>(std::size(powers)); ++tried) {
        double scaled = a * powers[tried];
        if (scaled >= limit)
            return false;
        double m = std::nearbyint(scaled);
        if (m / powers[tried] != a)
            continue;
        char* end = write_integer(static_cast<long long>(m), out.digits);
        out.count = static_cast<int>(end - out.digits);
        out.point = out.count - tried;
        return true;
    }
    return false;
}

__extension__ typedef unsigned __int128 uint128;

// The digits of any other value from 1e-4 to 2**53, exactly, in integers:
// a = m * 2**-s with s from 0 to 66, and the values that read back as a are
// those within half an ulp either side (a quarter below a power of two),
// ends included when m is even, as the interpreter reads them. Scaled by
// 4 * 2**s, the bounds are integers below 2**55; by 10**k (k up to 21,
// enough for 17 digits from 1e-4 on) still below 2**128. The first k whose
// scaled interval holds an integer gives the shortest digits; of its
// integers, the one nearest to a * 10**k, the even one of two as near, as
// the interpreter's repr picks (2**49 + 0.75, whose ulp is 0.125, is
// 562949953421312.8, and 2**49 + 0.25 is ...312.2). The count starts at
// first, the first k that short_decimal did not rule out, and never below 0
// for a >= 1: whole numbers keep their trailing zeros, which fixed notation
// writes anyway. False when a is outside that range.
bool exact_decimal(double a, int first, Decimal& out)
{
    // A plain array: std::array's checked indexing in debug builds calls
    // into libstdc++.
    struct Powers {
        uint128 of[22];
    };
    static constexpr Powers powers = [] {
        Powers p{};
        p.of[0] = 1;
        for (std::size_t k = 1; k < std::size(p.of); ++k)
            p.of[k] = p.of[k - 1] * 10;
        return p;
    }();
    if (!(a >= 1e-4 && a < 0x1p53))
        return false;
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    int biased = static_cast<int>(bits >> 52);
    std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    std::uint64_t m = fraction | std::uint64_t{1} << 52;
    int shift = 1075 - biased + 2;
    std::uint64_t low = fraction == 0 ? 4 * m - 1 : 4 * m - 2;
    std::uint64_t high = 4 * m + 2;
    bool ends = (m & 1) == 0;
    uint128 unit = uint128{1} << shift;
    for (int k = std::max(first, a >= 1 ? 0 : 1); k < static_cast<int>(std::size(powers.of)); ++k) {
        uint128 lo_scaled = uint128{low} * powers.of[k];
        uint128 hi_scaled = uint128{high} * powers.of[k];
        uint128 lo = (lo_scaled + unit - 1) >> shift;
        uint128 hi = hi_scaled >> shift;
        if (!ends) {
            lo += (lo << shift) == lo_scaled;
            hi -= (hi << shift) == hi_scaled;
        }
        if (lo > hi)
            continue;
        uint128 scaled = uint128{4 * m} * powers.of[k];
        uint128 nearest = scaled >> shift;
        uint128 twice_rest = 2 * (scaled & (unit - 1));
        if (twice_rest > unit || (twice_rest == unit && (nearest & 1)))
            ++nearest;
        nearest = nearest < lo ? lo : nearest > hi ? hi : nearest;
        char* end = write_integer(static_cast<long long>(nearest), out.digits);
        out.count = static_cast<int>(end - out.digits);
        out.point = out.count - k;
        return true;
    }
    return false;
}

// Fixed notation, as repr writes the values from 1e-4 to 2**53: their
// point falls from 3 places before the first digit to 16 after it.
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

// Any other positive finite value (below 1e-4, from 2**53): float's repr
// itself, which allocates and costs several times what the paths above do.
// It takes nothing from the C++ runtime, as std::to_chars would.
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

double quotient_in_default_environment(double x, double y) noexcept
{
    // The division in the default environment, between the caller's control
    // and status registers saved and restored (so it leaves no flag of its
    // own either). The C library's FE_DFL_ENV would keep x86's DAZ and FTZ.
    // The operands and the result pass through volatile objects: the
    // compiler knows nothing of the environment and would move the division
    // across the switches.
    volatile double dividend = x;
    volatile double quotient;
#if defined(__x86_64__)
    unsigned caller = _mm_getcsr();
    _mm_setcsr(mxcsr_default);
    quotient = dividend / y;
    _mm_setcsr(caller);
#elif defined(__aarch64__)
    std::uint64_t control, status;
    __asm__ volatile("mrs %0, fpcr\n\tmrs %1, fpsr" : "=r"(control), "=r"(status) : : "memory");
    __asm__ volatile("msr fpcr, %0" : : "r"(control & ~fpcr_controls) : "memory");
    quotient = dividend / y;
    __asm__ volatile("msr fpcr, %0\n\tmsr fpsr, %1" : : "r"(control), "r"(status) : "memory");
#else
    std::fenv_t caller;
    std::fegetenv(&caller);
    std::fesetenv(FE_DFL_ENV);
    quotient = dividend / y;
    std::fesetenv(&caller);
#endif
    return quotient;
}

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
    // Zero by its bits: a caller's denormals-are-zero would make the
    // smallest values compare equal to it.
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    if (bits == 0) {
        std::memcpy(out, "0.0", 3);
        return out + 3;
    }
    Decimal decimal;
    int tried = 0;
    bool found = default_float_environment() && short_decimal(a, decimal, tried);
    if (found || exact_decimal(a, tried, decimal))
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
