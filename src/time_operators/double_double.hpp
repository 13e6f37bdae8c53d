// DoubleDouble: unevaluated sums hi + lo (about 106 bits) for reference integrals that are rounded to double once.
#pragma once

#include <cmath>
#include <cstdint>

namespace zelk::time_operators {

// Enough precision that the reference integrals and quadrature nodes, rounded
// to double at the end, are the nearest doubles to the exact values (barring
// ties within 2^-100 of a midpoint). The error-free steps use std::fma, which
// is correctly rounded on every platform, so the bits never depend on the
// compiler's contraction choices.
struct DoubleDouble {
    double hi = 0.0;
    double lo = 0.0;

    DoubleDouble() = default;
    constexpr DoubleDouble(double value) noexcept : hi(value), lo(0.0) {}  // NOLINT: a double is exact here
    constexpr DoubleDouble(double h, double l) noexcept : hi(h), lo(l) {}

    // The exact value of a 64-bit count, split into two doubles.
    static DoubleDouble from_u64(std::uint64_t n) noexcept
    {
        const std::uint64_t high = n & ~((std::uint64_t{1} << 11) - 1);  // 53 significant bits at most
        const double h = static_cast<double>(high);
        const double l = static_cast<double>(n - high);
        const double s = h + l;
        return {s, l - (s - h)};
    }

    double to_double() const noexcept { return hi + lo; }
};

namespace dd_detail {

inline DoubleDouble two_sum(double a, double b) noexcept
{
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

inline DoubleDouble fast_two_sum(double a, double b) noexcept
{
    const double s = a + b;
    return {s, b - (s - a)};
}

}  // namespace dd_detail

inline DoubleDouble operator+(DoubleDouble a, DoubleDouble b) noexcept
{
    DoubleDouble s = dd_detail::two_sum(a.hi, b.hi);
    const DoubleDouble t = dd_detail::two_sum(a.lo, b.lo);
    s.lo = s.lo + t.hi;
    s = dd_detail::fast_two_sum(s.hi, s.lo);
    s.lo = s.lo + t.lo;
    return dd_detail::fast_two_sum(s.hi, s.lo);
}

inline DoubleDouble operator-(DoubleDouble a) noexcept { return {-a.hi, -a.lo}; }
inline DoubleDouble operator-(DoubleDouble a, DoubleDouble b) noexcept { return a + (-b); }

inline DoubleDouble operator*(DoubleDouble a, DoubleDouble b) noexcept
{
    const double p = a.hi * b.hi;
    double e = std::fma(a.hi, b.hi, -p);
    e = e + (a.hi * b.lo + a.lo * b.hi);
    return dd_detail::fast_two_sum(p, e);
}

inline DoubleDouble operator/(DoubleDouble a, DoubleDouble b) noexcept
{
    // Two quotient digits and a correction: about 104 bits.
    const double q1 = a.hi / b.hi;
    DoubleDouble r = a - b * DoubleDouble(q1);
    const double q2 = r.hi / b.hi;
    r = r - b * DoubleDouble(q2);
    const double q3 = r.hi / b.hi;
    return dd_detail::fast_two_sum(q1, q2) + DoubleDouble(q3);
}

inline DoubleDouble& operator+=(DoubleDouble& a, DoubleDouble b) noexcept { return a = a + b; }
inline DoubleDouble& operator*=(DoubleDouble& a, DoubleDouble b) noexcept { return a = a * b; }

inline DoubleDouble abs(DoubleDouble a) noexcept { return a.hi < 0.0 ? -a : a; }

}  // namespace zelk::time_operators
