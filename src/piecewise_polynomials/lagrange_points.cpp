// LagrangeBasis::new_ and fill_points: the global list of Lagrange points, bit for bit in the documented operand order.
#include <algorithm>
#include <array>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"
#include "vector_units/vector_level.hpp"

namespace zelk::piecewise_polynomials {

std::uint64_t LagrangeBasis::point_count(std::uint64_t degree, std::uint64_t n_t)
{
    return checked_length<double>(checked_add(checked_mul(n_t, degree), 1));
}

namespace {

constexpr std::uint64_t block = 256;

// 0, 1, ..., block - 1, so that double(k0 + k) is double(k0) + k without a
// 64-bit conversion per point: exact while k0 + k stays below 2^53.
constexpr std::array<double, block> block_offsets = [] {
    std::array<double, block> offsets{};
    for (std::uint64_t k = 0; k < block; ++k) offsets[k] = static_cast<double>(k);
    return offsets;
}();
constexpr std::uint64_t exact_integers = std::uint64_t{1} << 53;

// Whether p is a power of two, so that x / p is x * (1 / p) bit for bit:
// both round the same exact quotient once.
bool power_of_two(std::uint64_t p)
{
    return (p & (p - 1)) == 0;
}

// Node i of sub-interval k is a_k + ((b_k - a_k) * i) / p; degree and n_t are
// at least 1. Node 0 needs no division: (w * 0) / p is w * 0 for every p >= 1
// (a signed zero, or NaN), and so do all nodes when p is a power of two.
ZELK_KERNEL void fill_point_blocks(std::uint64_t degree, std::uint64_t n_t, double h, double* out)
{
    const double p = static_cast<double>(degree);
    const bool by_reciprocal = power_of_two(degree);
    const double reciprocal = 1.0 / p;
    double a[block];
    double width[block];
    InterruptCountdown countdown;  // counts points written
    for (std::uint64_t k0 = 0; k0 < n_t; k0 += block) {
        const std::uint64_t n = std::min(block, n_t - k0);
        if (k0 + n <= exact_integers) {
            const double first_k = static_cast<double>(k0);
            for (std::uint64_t k = 0; k < n; ++k) {
                a[k] = h * (first_k + block_offsets[k]);
                width[k] = (h + a[k]) - a[k];  // b = h + h*k, which may differ from h*(k+1) in the last bit
            }
        } else {
            for (std::uint64_t k = 0; k < n; ++k) {
                a[k] = h * static_cast<double>(k0 + k);
                width[k] = (h + a[k]) - a[k];
            }
        }
        double* first = out + k0 * degree;
        if (degree == 1) {
            for (std::uint64_t k = 0; k < n; ++k) first[k] = a[k] + width[k] * 0.0;
            countdown.tick(n);
            continue;
        }
        for (std::uint64_t k = 0; k < n; ++k) first[k * degree] = a[k] + width[k] * 0.0;
        for (std::uint64_t i = 1; i < degree; ++i) {
            const double di = static_cast<double>(i);
            if (by_reciprocal) {
                for (std::uint64_t k = 0; k < n; ++k) first[k * degree + i] = a[k] + (width[k] * di) * reciprocal;
            } else {
                for (std::uint64_t k = 0; k < n; ++k) first[k * degree + i] = a[k] + (width[k] * di) / p;
            }
            countdown.tick(n);  // per node, so that a huge degree polls too
        }
    }
}

}  // namespace

void LagrangeBasis::fill_points(std::uint64_t degree, std::uint64_t n_t, double T, std::span<double> out)
{
    check_equal(out.size(), point_count(degree, n_t), "Lagrange point storage has the wrong length");
    // Degree 0 appends no node for any sub-interval: skip the loop entirely.
    if (n_t > 0 && degree > 0) {
        run_vectorized<fill_point_blocks>(degree, n_t, T / static_cast<double>(n_t), out.data());
    }
    out[out.size() - 1] = T;  // the final point is T itself, not a computed bound
}

LagrangeBasis LagrangeBasis::new_(std::uint64_t degree, std::uint64_t n_t, double T)
{
    const std::uint64_t count = point_count(degree, n_t);
    LagrangeBasis basis{reserved_vector<double>(count), degree, n_t};
    fill_interruptibly(basis.points, count, 0.0);  // first touch of a large grid takes a while too
    fill_points(degree, n_t, T, basis.points);
    return basis;
}

}  // namespace zelk::piecewise_polynomials
