// Legendre polynomials P_0 ... P_n and their derivatives at one local coordinate, in LegendreBasis's operand order.
#pragma once

#include <cmath>
#include <cstddef>
#include <span>

namespace zelk::piecewise_polynomials {

// Every step below is the one-time step of LegendreBasis's evaluations
// (legendre_basis.cpp), operand for operand, so an expansion formed from these
// values has the same bits as LegendreBasis gives on its uniform grid.

// v / (j + 1), the recurrence's division: by the exact reciprocal where j + 1 is
// a power of two, which rounds the same exact quotient once (the same bits),
// and by division elsewhere.
inline double divide_by_successor(double v, std::size_t j) noexcept
{
    const double divisor = static_cast<double>(j) + 1.0;
    if (((j + 1) & j) == 0) return v * (1.0 / divisor);
    return v / divisor;
}

// Beyond this |x| the derivatives come from the recurrence that is exact at +-1.
inline constexpr double legendre_near_end = 1.0 - 0x1p-6;

// values[i] = P_i(x) for i below values.size().
inline void legendre_values(double x, std::span<double> values) noexcept
{
    const std::size_t n = values.size();
    if (n == 0) return;
    double prev = 1.0;
    values[0] = prev;
    if (n == 1) return;
    double cur = x;
    values[1] = cur;
    for (std::size_t j = 1; j + 1 < n; ++j) {
        const double jd = static_cast<double>(j);
        const double two_j_plus_one = (jd + jd) + 1.0;
        const double next = divide_by_successor((two_j_plus_one * x) * cur - prev * jd, j);
        values[j + 1] = next;
        prev = cur;
        cur = next;
    }
}

// values[i] = P_i'(x), the derivatives with respect to x (not scaled to time).
inline void legendre_derivatives(double x, std::span<double> values) noexcept
{
    const std::size_t n = values.size();
    if (n == 0) return;
    values[0] = 0.0;
    if (n == 1) return;
    values[1] = 1.0;
    double prev = 1.0;
    double cur = x;
    if (std::fabs(x) > legendre_near_end) {
        double d_prev = 0.0;
        double d_cur = 1.0;
        for (std::size_t j = 1; j + 1 < n; ++j) {
            const double jd = static_cast<double>(j);
            const double two_j_plus_one = (jd + jd) + 1.0;
            const double d_next = d_prev + two_j_plus_one * cur;
            values[j + 1] = d_next;
            const double next = divide_by_successor((two_j_plus_one * x) * cur - prev * jd, j);
            prev = cur;
            cur = next;
            d_prev = d_cur;
            d_cur = d_next;
        }
        return;
    }
    // NaN x comes here too.
    const double denominator = (x * x - 1.0) + 1e-15;
    for (std::size_t j = 1; j + 1 < n; ++j) {
        const double jd = static_cast<double>(j);
        const double two_j_plus_one = (jd + jd) + 1.0;
        const double next = divide_by_successor((two_j_plus_one * x) * cur - prev * jd, j);
        values[j + 1] = ((x * next - cur) * static_cast<double>(j + 1)) / denominator;
        prev = cur;
        cur = next;
    }
}

}  // namespace zelk::piecewise_polynomials
