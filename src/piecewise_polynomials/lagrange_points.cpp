// LagrangeBasis::new_ and fill_points: the global list of Lagrange points, bit for bit in the documented operand order.
#include <algorithm>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"

namespace zelk::piecewise_polynomials {

std::uint64_t LagrangeBasis::point_count(std::uint64_t degree, std::uint64_t n_t)
{
    return checked_length<double>(checked_add(checked_mul(n_t, degree), 1));
}

void LagrangeBasis::fill_points(std::uint64_t degree, std::uint64_t n_t, double T, std::span<double> out)
{
    check_equal(out.size(), point_count(degree, n_t), "Lagrange point storage has the wrong length");
    // Degree 0 appends no node for any sub-interval: skip the loop entirely.
    if (n_t > 0 && degree > 0) {
        const double h = T / static_cast<double>(n_t);
        const double p = static_cast<double>(degree);
        // A block of sub-intervals at a time, node by node: the same operations
        // per point, in loops without dependencies between points, which vectorise.
        constexpr std::uint64_t block = 256;
        double a[block];
        double width[block];
        InterruptCountdown countdown;  // counts points written
        for (std::uint64_t k0 = 0; k0 < n_t; k0 += block) {
            const std::uint64_t n = std::min(block, n_t - k0);
            for (std::uint64_t k = 0; k < n; ++k) {
                a[k] = h * static_cast<double>(k0 + k);
                const double b = h + a[k];  // h + h*k, which may differ from h*(k+1) in the last bit
                width[k] = b - a[k];
            }
            double* first = out.data() + k0 * degree;
            for (std::uint64_t i = 0; i < degree; ++i) {
                const double di = static_cast<double>(i);
                for (std::uint64_t k = 0; k < n; ++k) first[k * degree + i] = a[k] + (width[k] * di) / p;
                countdown.tick(n);  // per node, so that a huge degree polls too
            }
        }
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
