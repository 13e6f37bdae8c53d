// DoubleDouble: unevaluated sums hi + lo (about 106 bits) for reference integrals that are rounded to double once.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace zelk::time_operators {

// Enough precision that the reference integrals and quadrature nodes, rounded
// to double at the end, are the nearest doubles to the exact values (barring
// ties within 2^-100 of a midpoint). The error-free steps are plain IEEE
// additions and products (the product split after Veltkamp and Dekker), so
// the bits never depend on the compiler's contraction choices, and the
// release modules carry no fused multiply-add.
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

// a * b = hi + lo exactly, hi the rounded product; lo is what a correctly
// rounded fused a * b - hi gives. Dekker's product is exact when neither the
// split (2^27 + 1) * x overflows nor a partial product underflows: both
// factors within [2^-480, 2^480]. Other finite factors are scaled into
// [0.5, 1) first, and lo rounded once when scaled back.
inline DoubleDouble two_product(double a, double b) noexcept
{
    const double p = a * b;
    const auto split = [](double x) noexcept {
        const double c = 134217729.0 * x;  // 2^27 + 1
        const double h = c - (c - x);
        return DoubleDouble{h, x - h};
    };
    const auto dekker = [&split](double x, double y, double xy) noexcept {
        const DoubleDouble u = split(x);
        const DoubleDouble v = split(y);
        return ((u.hi * v.hi - xy) + u.hi * v.lo + u.lo * v.hi) + u.lo * v.lo;
    };
    constexpr double small = 0x1p-480;
    constexpr double large = 0x1p+480;
    const double fa = std::fabs(a);
    const double fb = std::fabs(b);
    if (fa >= small && fa <= large && fb >= small && fb <= large) {
        return {p, dekker(a, b, p)};
    }
    if (!std::isfinite(p)) {
        // Overflow: a * b - inf is -inf; an infinite or NaN factor gives NaN.
        return {p, std::isfinite(a) && std::isfinite(b) ? -p : std::numeric_limits<double>::quiet_NaN()};
    }
    int ea = 0;
    int eb = 0;
    const double ma = std::frexp(a, &ea);
    const double mb = std::frexp(b, &eb);
    const double pm = ma * mb;
    // p scaled alike is exact; it differs from pm only when p is subnormal,
    // and then by less than a factor 2, so that the difference is exact too.
    const double q = std::ldexp(p, -(ea + eb));
    return {p, std::ldexp((pm - q) + dekker(ma, mb, pm), ea + eb)};
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

inline DoubleDouble operator-(DoubleDouble a) noexcept
{
    return {-a.hi, -a.lo};
}
inline DoubleDouble operator-(DoubleDouble a, DoubleDouble b) noexcept
{
    return a + (-b);
}

inline DoubleDouble operator*(DoubleDouble a, DoubleDouble b) noexcept
{
    const DoubleDouble p = dd_detail::two_product(a.hi, b.hi);
    const double e = p.lo + (a.hi * b.lo + a.lo * b.hi);
    return dd_detail::fast_two_sum(p.hi, e);
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

inline DoubleDouble& operator+=(DoubleDouble& a, DoubleDouble b) noexcept
{
    return a = a + b;
}
inline DoubleDouble& operator*=(DoubleDouble& a, DoubleDouble b) noexcept
{
    return a = a * b;
}

inline DoubleDouble abs(DoubleDouble a) noexcept
{
    return a.hi < 0.0 ? -a : a;
}

}  // namespace zelk::time_operators
