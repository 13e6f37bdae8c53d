// Many expansions on one grid at many times: the located basis formed once per time, then combined with every column.
#include <algorithm>
#include <span>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "piecewise_polynomials/legendre_basis.hpp"

namespace zelk::piecewise_polynomials {

void LegendreBasis::evaluate_columns(std::span<const double> times, std::span<const double> coefficients,
                                     std::uint64_t columns, bool derivative, std::span<double> out) const
{
    const std::uint64_t local_count = checked_add(degree, 1);
    check_equal(coefficients.size(), checked_mul(coefficient_count(), columns),
                "coefficients differ from n_t * (degree + 1) rows of the given columns");
    check_equal(out.size(), checked_mul(times.size(), columns), "evaluation output and times differ in length");
    if (columns == 0) return;
    // The only scratch: degree + 1 values, reused for every time.
    std::vector<double> local = reserved_vector<double>(local_count);
    local.resize(local_count);
    InterruptCountdown countdown;  // counts products over all times and columns
    for (std::size_t r = 0; r < times.size(); ++r) {
        const std::uint64_t k = local_basis(times[r], derivative, local);
        double* sums = out.data() + r * columns;
        std::fill(sums, sums + columns, -0.0);
        // Each column adds its terms in increasing i, as a one-column evaluation
        // does; the columns of one coefficient row lie side by side.
        for (std::uint64_t i = 0; i < local_count; ++i) {
            const double p = local[i];
            const double* a = coefficients.data() + (k + i * n_t) * columns;
            for (std::uint64_t c = 0; c < columns; ++c) sums[c] = sums[c] + p * a[c];
            countdown.tick(columns);
        }
        if (derivative) {
            // dx/dt = 2 / h, applied once to each whole sum.
            for (std::uint64_t c = 0; c < columns; ++c) sums[c] = (sums[c] + sums[c]) / h;
        }
    }
}

}  // namespace zelk::piecewise_polynomials
