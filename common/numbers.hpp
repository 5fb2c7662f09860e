// Numbers as text: exact ints and floats written exactly as format(x, "")
// writes them (which is str(x) and repr(x) for both), for every value.
#pragma once

#include <Python.h>

#include <cfenv>
#include <cstddef>
#include <cstdint>
#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "common/text.hpp"

namespace vora {

// Room that write_integer and write_double need at out.
inline constexpr std::size_t number_chars = 32;

// The decimal digits of v, as str(v); returns the end of the text. Digit by
// digit, inline: std::to_chars took twice the instructions on the short
// numbers that settings hold.
inline char* write_integer(long long v, char* out) noexcept
{
    unsigned long long u = static_cast<unsigned long long>(v);
    if (v < 0) {
        *out++ = '-';
        u = 0 - u;
    }
    int count = 1;
    for (unsigned long long bound = 10; count < 20 && u >= bound; bound *= 10)
        ++count;
    char* end = out + count;
    char* p = end;
    do {
        *--p = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    return end;
}

#if defined(__x86_64__)
// MXCSR, which double arithmetic follows: above its six status flags, DAZ,
// the exception masks, the rounding control and FTZ; as the process starts,
// round to nearest with every exception masked.
inline constexpr unsigned mxcsr_controls = 0xffc0u;
inline constexpr unsigned mxcsr_default = 0x1f80u;
#elif defined(__aarch64__)
// FPCR's rounding mode, flush-to-zero and trap enables, all clear as the
// process starts.
inline constexpr std::uint64_t fpcr_controls = 0x1c09f00u;
#endif

// Whether double arithmetic runs as the process starts: rounding to nearest,
// no flushing of subnormals, no trap enabled. The floating-point environment
// is the caller's: code whose result would change with it asks this first
// and otherwise takes a path that does not depend on it. One read of the
// control register, which the hot paths can afford.
inline bool default_float_environment() noexcept
{
#if defined(__x86_64__)
    return (_mm_getcsr() & mxcsr_controls) == mxcsr_default;
#elif defined(__aarch64__)
    std::uint64_t fpcr;
    __asm__ volatile("mrs %0, fpcr" : "=r"(fpcr));
    return (fpcr & fpcr_controls) == 0;
#else
    return std::fegetround() == FE_TONEAREST;
#endif
}

// x / y as the default environment divides, with the caller's saved and
// restored around it.
[[gnu::cold, gnu::noinline]] double quotient_in_default_environment(double x, double y) noexcept;

// x / y rounded to nearest, whatever the caller's floating-point
// environment, which is left as it was.
inline double nearest_quotient(double x, double y) noexcept
{
    if (default_float_environment()) [[likely]]
        return x / y;
    return quotient_in_default_environment(x, y);
}

// repr(d): the shortest digits that read back as d, laid out as float's repr
// lays them out; in any floating-point environment the text format(d, "")
// gives in it (the same as in the default one, but for the interpreter's
// repr of subnormals under denormals-are-zero). Returns the end of the text,
// or nullptr with MemoryError set (the digits of a value beyond the usual
// range are allocated).
char* write_double(double d, char* out) noexcept;

// format(x, "") of an exact int within 64 bits or an exact float, written
// at out (number_chars); returns its length, 0 for any other x, or -1 with
// an exception set.
inline Py_ssize_t write_number(PyObject* x, char* out) noexcept
{
    if (PyLong_CheckExact(x)) {
        auto* n = reinterpret_cast<PyLongObject*>(x);
        if (PyUnstable_Long_IsCompact(n)) [[likely]]
            return write_integer(PyUnstable_Long_CompactValue(n), out) - out;
        int overflow;
        long long v = PyLong_AsLongLongAndOverflow(x, &overflow);
        return overflow ? 0 : write_integer(v, out) - out;
    }
    if (PyFloat_CheckExact(x)) {
        char* end = write_double(PyFloat_AS_DOUBLE(x), out);
        return end ? end - out : -1;
    }
    return 0;
}

// Appends format(x, "") of an exact int or an exact float: digits straight
// from the value, from the interpreter only for an int beyond 64 bits.
// Returns 1 when written, 0 when x is neither (nothing written, no
// exception), -1 on error.
int append_number(TextBuilder& out, PyObject* x) noexcept;

}  // namespace vora
