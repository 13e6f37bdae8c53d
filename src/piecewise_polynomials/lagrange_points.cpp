// LagrangeBasis::new_: the global list of Lagrange points, bit for bit in the documented operand order.
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
    std::uint64_t pos = 0;
    // Degree 0 appends no node for any sub-interval: skip the loop entirely.
    if (n_t > 0 && degree > 0) {
        const double h = T / static_cast<double>(n_t);
        const double p = static_cast<double>(degree);
        for (std::uint64_t k = 0; k < n_t; ++k) {
            const double a = h * static_cast<double>(k);
            const double b = h + a;  // h + h*k, which may differ from h*(k+1) in the last bit
            const double width = b - a;
            for (std::uint64_t i = 0; i < degree; ++i) {
                if ((pos & linear_algebra::poll_stride_mask) == 0) poll_interrupt();
                out[pos++] = a + (width * static_cast<double>(i)) / p;
            }
        }
    }
    out[pos] = T;  // the final point is T itself, not a computed bound
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
