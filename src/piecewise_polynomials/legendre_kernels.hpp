// Legendre polynomials P_i and their derivatives P_i' over a block of points: the project's one three-term recurrence.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "fault/interrupt.hpp"
#include "time_operators/double_double.hpp"
#include "vector_units/vector_level.hpp"

namespace zelk::piecewise_polynomials {

// The kernels below run for one number type over a block of n <= Lanes
// points, the recurrence's step j for all of them in one loop: the lanes are
// independent, so in doubles the loops vectorise at every level (see
// vector_units/) and the divisions overlap, while each lane keeps the operand
// order written here, and so the bits of a one-point sweep. They are
// ZELK_KERNEL: inlined into their caller's clone.
//
// P_0 = 1, P_1 = x and, for j = 1 ... degree - 1,
//   P_{j+1} = (((2j + 1) * x) * P_j - P_{j-1} * j) / (j + 1),
// in exactly this order: the last bit of every result depends on it.

using time_operators::DoubleDouble;

// The numbers of step j in the number type: j, 2j + 1 and j + 1, exact for
// every degree whose storage fits in memory.
template <class Real>
struct StepNumbers;

template <>
struct StepNumbers<double> {
    explicit StepNumbers(std::uint64_t step) noexcept : j(static_cast<double>(step)), odd((j + j) + 1.0), next(j + 1.0)
    {
    }
    double j;
    double odd;
    double next;
};

template <>
struct StepNumbers<DoubleDouble> {
    explicit StepNumbers(std::uint64_t step) noexcept
        : j(DoubleDouble::from_u64(step)),
          odd(DoubleDouble::from_u64(2 * step + 1)),
          next(DoubleDouble::from_u64(step + 1))
    {
    }
    DoubleDouble j;
    DoubleDouble odd;
    DoubleDouble next;
};

// P_{j+1} from P_{j-1} and P_j; divide(v) is v / (j + 1).
template <class Real, class Divide>
ZELK_KERNEL Real legendre_next(const StepNumbers<Real>& c, Real x, Real p_prev, Real p_cur, Divide divide)
{
    return divide((c.odd * x) * p_cur - p_prev * c.j);
}

// P_{j+1}' = P_{j-1}' + (2j + 1) * P_j: exact at +-1, accurate next to them.
template <class Real>
ZELK_KERNEL Real derivative_by_recurrence(const StepNumbers<Real>& c, Real d_prev, Real p_cur)
{
    return d_prev + c.odd * p_cur;
}

// The closed form P_i' = ((x * P_i - P_{i-1}) * i) / ((x * x - 1) + 1e-15),
// used in doubles away from the ends. Beyond near_end in |x| the recurrence
// above replaces it: its error grows like 5e-16 / (1 - |x|), and it gives 0
// instead of the true end values at +-1. At 1 - 2^-6 both stay within 4e-14
// of the largest |P_i'| for every degree up to 32; nearer the ends the
// formula would lose up to 8 digits.
constexpr double near_end = 1.0 - 0x1p-6;

ZELK_KERNEL double derivative_denominator(double x)
{
    return (x * x - 1.0) + 1e-15;
}

ZELK_KERNEL double derivative_closed(double x, double p_i, double p_before, double i, double denominator)
{
    return ((x * p_i - p_before) * i) / denominator;
}

// Calls step(j) for j = 1 ... degree - 1. Up to a stride of steps (every
// degree in practice) the loop is the plain one; beyond, it polls.
template <class Step>
ZELK_KERNEL void sweep(std::uint64_t degree, Step&& step)
{
    if (degree <= interrupt_stride) [[likely]] {
        for (std::uint64_t j = 1; j < degree; ++j) step(j);
        return;
    }
    for (std::uint64_t j = 1; j < degree; ++j) {
        if (j % interrupt_stride == 0) poll_interrupt();
        step(j);
    }
}

// x / d is x * (1 / d) bit for bit when d is a power of two: both round the
// same exact quotient once.
constexpr bool power_of_two(std::uint64_t d)
{
    return (d & (d - 1)) == 0;
}

// Calls run(divide) with divide(v) = v / (j + 1). In doubles it is a
// multiplication by the exact reciprocal where j + 1 is a power of two, a
// division elsewhere; each is its own loop, so neither branches per lane.
template <class Real, class Run>
ZELK_KERNEL void with_divisor(std::uint64_t j, const StepNumbers<Real>& c, Run&& run)
{
    if constexpr (std::is_same_v<Real, double>) {
        if (power_of_two(j + 1)) {
            const double reciprocal = 1.0 / c.next;
            run([reciprocal](double v) { return v * reciprocal; });
            return;
        }
    }
    const Real divisor = c.next;
    run([divisor](Real v) { return v / divisor; });
}

// Calls emit(i, r, P_i(x[r])) for i = 0 ... degree (outer) and r < n (inner).
template <std::size_t Lanes, class Real, class Emit>
ZELK_KERNEL void legendre_value_block(const Real* x, std::size_t n, std::uint64_t degree, Emit&& emit)
{
    Real prev[Lanes];
    Real cur[Lanes];
    for (std::size_t r = 0; r < n; ++r) {
        prev[r] = Real(1.0);
        emit(std::uint64_t{0}, r, prev[r]);
    }
    if (degree == 0) return;
    for (std::size_t r = 0; r < n; ++r) {
        cur[r] = x[r];
        emit(std::uint64_t{1}, r, cur[r]);
    }
    sweep(degree, [&](std::uint64_t j) {
        const StepNumbers<Real> c(j);
        with_divisor(j, c, [&](auto divide) {
            for (std::size_t r = 0; r < n; ++r) {
                const Real next = legendre_next(c, x[r], prev[r], cur[r], divide);
                emit(j + 1, r, next);
                prev[r] = cur[r];
                cur[r] = next;
            }
        });
    });
}

// How a kernel forms P_i': by the recurrence everywhere, or (doubles only) by
// the closed form where |x| <= near_end and NaN x.
enum class Slopes { recurrence, closed_inside };

// Calls emit(i, r, P_i(x[r]), P_i'(x[r])) for i = 0 ... degree (outer) and
// r < n (inner). With closed_inside every lane forms both derivatives and
// keeps the one of its x, which gives the bits of a branch per point.
template <Slopes Form, std::size_t Lanes, class Real, class Emit>
ZELK_KERNEL void legendre_slope_block(const Real* x, std::size_t n, std::uint64_t degree, Emit&& emit)
{
    static_assert(Form == Slopes::recurrence || std::is_same_v<Real, double>);
    Real prev[Lanes];
    Real cur[Lanes];
    Real d_prev[Lanes];
    Real d_cur[Lanes];
    Real denominator[Lanes];
    for (std::size_t r = 0; r < n; ++r) {
        prev[r] = Real(1.0);
        d_prev[r] = Real(0.0);
        emit(std::uint64_t{0}, r, prev[r], d_prev[r]);
    }
    if (degree == 0) return;
    for (std::size_t r = 0; r < n; ++r) {
        cur[r] = x[r];
        d_cur[r] = Real(1.0);
        if constexpr (Form == Slopes::closed_inside) denominator[r] = derivative_denominator(x[r]);
        emit(std::uint64_t{1}, r, cur[r], d_cur[r]);
    }
    sweep(degree, [&](std::uint64_t j) {
        const StepNumbers<Real> c(j);
        with_divisor(j, c, [&](auto divide) {
            for (std::size_t r = 0; r < n; ++r) {
                const Real next = legendre_next(c, x[r], prev[r], cur[r], divide);
                const Real by_recurrence = derivative_by_recurrence(c, d_prev[r], cur[r]);
                Real dp = by_recurrence;
                if constexpr (Form == Slopes::closed_inside) {
                    const double closed = derivative_closed(x[r], next, cur[r], c.next, denominator[r]);
                    dp = std::fabs(x[r]) > near_end ? by_recurrence : closed;
                }
                emit(j + 1, r, next, dp);
                prev[r] = cur[r];
                cur[r] = next;
                d_prev[r] = d_cur[r];
                d_cur[r] = by_recurrence;
            }
        });
    });
}

// One point: visit(i, P_i(x)) for i = 0 ... degree.
template <class Real, class Visit>
ZELK_KERNEL void for_each_legendre_value(Real x, std::uint64_t degree, Visit&& visit)
{
    legendre_value_block<1>(&x, 1, degree, [&](std::uint64_t i, std::size_t, Real p) { visit(i, p); });
}

// One point, doubles: visit(i, P_i'(x)) for i = 0 ... degree, as every
// double consumer forms them (closed form inside near_end).
template <class Visit>
ZELK_KERNEL void for_each_legendre_derivative(double x, std::uint64_t degree, Visit&& visit)
{
    legendre_slope_block<Slopes::closed_inside, 1>(&x, 1, degree, [&](std::uint64_t i, std::size_t, double, double dp) {
        visit(i, dp);
    });
}

}  // namespace zelk::piecewise_polynomials
