// LagrangeBasis::new_: the global list of Lagrange points, bit for bit in the documented operand order.
#include "fault/checked_size.hpp"
#include "fault/interrupt.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"

namespace zelk::piecewise_polynomials {

std::uint64_t LagrangeBasis::point_count(std::uint64_t degree, std::uint64_t n_t)
{
    return checked_length<double>(checked_add(checked_mul(n_t, degree), 1));
}

LagrangeBasis LagrangeBasis::new_(std::uint64_t degree, std::uint64_t n_t, double T)
{
    LagrangeBasis basis{reserved_vector<double>(point_count(degree, n_t)), degree, n_t};
    std::vector<double>& points = basis.points;

    // Degree 0 appends no node for any sub-interval: skip the loop entirely.
    if (n_t > 0 && degree > 0) {
        const double h = T / static_cast<double>(n_t);
        const double p = static_cast<double>(degree);
        InterruptCountdown countdown;
        for (std::uint64_t k = 0; k < n_t; ++k) {
            const double a = h * static_cast<double>(k);
            const double b = h + a;  // h + h*k, which may differ from h*(k+1) in the last bit
            const double width = b - a;
            for (std::uint64_t i = 0; i < degree; ++i) {
                points.push_back(a + (width * static_cast<double>(i)) / p);
                countdown.tick();
            }
        }
    }
    points.push_back(T);  // the final point is T itself, not a computed bound
    return basis;
}

}  // namespace zelk::piecewise_polynomials
