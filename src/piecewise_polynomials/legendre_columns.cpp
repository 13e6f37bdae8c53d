// Many expansions on one grid at many times: the located basis formed once per time, then combined with every column.
#include <algorithm>
#include <span>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "piecewise_polynomials/legendre_basis.hpp"

namespace zelk::piecewise_polynomials {
namespace {

// Up to this many basis values are formed ahead of their use: the bases of
// neighbouring times are independent, so their divisions overlap, while the
// scratch stays in the first-level cache.
constexpr std::uint64_t scratch_values = 2048;
constexpr std::uint64_t max_block = 64;

// sums[c] = sums[c] + p * a[c]: the next term of every column's one-column sum.
void add_term(double* __restrict sums, const double* __restrict a, double p, std::uint64_t columns)
{
    for (std::uint64_t c = 0; c < columns; ++c) sums[c] = sums[c] + p * a[c];
}

}  // namespace

void LegendreBasis::evaluate_columns(std::span<const double> times, std::span<const double> coefficients,
                                     std::uint64_t columns, bool derivative, std::span<double> out) const
{
    const std::uint64_t local_count = checked_add(degree, 1);
    check_equal(coefficients.size(), checked_mul(coefficient_count(), columns),
                "coefficients differ from n_t * (degree + 1) rows of the given columns");
    check_equal(out.size(), checked_mul(times.size(), columns), "evaluation output and times differ in length");
    if (columns == 0) return;
    const std::uint64_t block = std::clamp<std::uint64_t>(scratch_values / local_count, 1, max_block);
    std::vector<double> local = reserved_vector<double>(checked_mul(block, local_count));
    local.resize(block * local_count);
    std::uint64_t k[max_block];
    InterruptCountdown countdown;  // counts products over all times and columns
    for (std::size_t r0 = 0; r0 < times.size(); r0 += block) {
        const std::size_t n = std::min<std::size_t>(block, times.size() - r0);
        for (std::size_t j = 0; j < n; ++j)
            k[j] = local_basis(times[r0 + j], derivative, std::span(local).subspan(j * local_count, local_count));
        for (std::size_t j = 0; j < n; ++j) {
            double* sums = out.data() + (r0 + j) * columns;
            std::fill(sums, sums + columns, -0.0);
            // Each column adds its terms in increasing i, as a one-column
            // evaluation does; the columns of one coefficient row lie side by side.
            for (std::uint64_t i = 0; i < local_count; ++i) {
                add_term(sums, coefficients.data() + (k[j] + i * n_t) * columns, local[j * local_count + i], columns);
                countdown.tick(columns);
            }
            if (derivative) {
                // dx/dt = 2 / h, applied once to each whole sum.
                for (std::uint64_t c = 0; c < columns; ++c) sums[c] = (sums[c] + sums[c]) / h;
            }
        }
    }
}

}  // namespace zelk::piecewise_polynomials
