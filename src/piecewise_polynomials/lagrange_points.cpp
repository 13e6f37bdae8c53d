// LagrangeBasis::new_ and fill_points: the global list of Lagrange points, bit for bit in the documented operand order.
#include <algorithm>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "linear_algebra/csr_rows.hpp"
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
        std::uint64_t unpolled = 0;  // points written since the last poll
        for (std::uint64_t k0 = 0; k0 < n_t; k0 += block) {
            const std::uint64_t n = std::min(block, n_t - k0);
            unpolled += n * degree;
            if (unpolled > linear_algebra::poll_stride_mask) {
                poll_interrupt();
                unpolled = 0;
            }
            for (std::uint64_t k = 0; k < n; ++k) {
                a[k] = h * static_cast<double>(k0 + k);
                const double b = h + a[k];  // h + h*k, which may differ from h*(k+1) in the last bit
                width[k] = b - a[k];
            }
            double* first = out.data() + k0 * degree;
            for (std::uint64_t i = 0; i < degree; ++i) {
                if (i != 0 && (i & linear_algebra::poll_stride_mask) == 0) poll_interrupt();  // a huge degree
                const double di = static_cast<double>(i);
                for (std::uint64_t k = 0; k < n; ++k) first[k * degree + i] = a[k] + (width[k] * di) / p;
            }
        }
    }
    out[out.size() - 1] = T;  // the final point is T itself, not a computed bound
}

LagrangeBasis LagrangeBasis::new_(std::uint64_t degree, std::uint64_t n_t, double T)
{
    const std::uint64_t count = point_count(degree, n_t);
    LagrangeBasis basis{reserved_vector<double>(count), degree, n_t};
    basis.points.resize(count);
    fill_points(degree, n_t, T, basis.points);
    return basis;
}

}  // namespace zelk::piecewise_polynomials
