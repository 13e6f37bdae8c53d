// Many expansions on one grid at many times: the located basis formed once per time, then combined with every column.
#include <algorithm>
#include <span>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "piecewise_polynomials/legendre_basis.hpp"
#include "piecewise_polynomials/legendre_blocks.hpp"
#include "piecewise_polynomials/legendre_kernels.hpp"
#include "vector_units/vector_level.hpp"

namespace zelk::piecewise_polynomials {
namespace {

// Up to this many basis values are formed ahead of their use, so that the
// scratch stays in the first-level cache.
constexpr std::uint64_t scratch_values = 2048;

// The columns' sums for n located times whose bases (degree + 1 values each,
// unscaled) lie in `local`, row r at r * local_count.
ZELK_KERNEL void combine(const LegendreBasis& basis, const double* coefficients, std::uint64_t columns, bool derivative,
                         const std::uint64_t* k, const double* local, std::size_t n, std::uint64_t local_count,
                         double* out, InterruptCountdown& countdown)
{
    for (std::size_t j = 0; j < n; ++j) {
        double* __restrict sums = out + j * columns;
        std::fill(sums, sums + columns, -0.0);
        // Each column adds its terms in increasing i, as a one-column
        // evaluation does; the columns of one coefficient row lie side by side.
        for (std::uint64_t i = 0; i < local_count; ++i) {
            const double* __restrict a = coefficients + (k[j] + i * basis.n_t) * columns;
            const double p = local[j * local_count + i];
            for (std::uint64_t c = 0; c < columns; ++c) sums[c] = sums[c] + p * a[c];
            countdown.tick(columns);
        }
        if (derivative) {
            // dx/dt = 2 / h, applied once to each whole sum.
            for (std::uint64_t c = 0; c < columns; ++c) sums[c] = (sums[c] + sums[c]) / basis.h;
        }
    }
}

// evaluate_columns for a grid of at most 2^53 sub-intervals, in the clone of
// the active vector level: `block` times located at once, their bases formed
// by the block kernels (the bits of local_basis), then combined.
template <class Index>
ZELK_KERNEL void column_blocks(const LegendreBasis* basis, const double* times, std::size_t count,
                               const double* coefficients, std::uint64_t columns, bool derivative, double* out,
                               double* local, std::size_t block)
{
    const std::uint64_t local_count = basis->degree + 1;
    const double last = static_cast<double>(basis->n_t - 1);
    Index k[block_size];
    std::uint64_t rows[block_size];
    double x[block_size];
    InterruptCountdown countdown;  // counts products over all times and columns
    for (std::size_t r0 = 0; r0 < count; r0 += block) {
        const std::size_t n = std::min(block, count - r0);
        locate_block(basis->h, last, times + r0, n, k, x);
        for (std::size_t r = 0; r < n; ++r) rows[r] = static_cast<std::uint64_t>(k[r]);
        if (derivative) {
            legendre_slope_block<Slopes::closed_inside, block_size>(x, n, basis->degree,
                                                                    [&](std::uint64_t i, std::size_t r, double,
                                                                        double dp) {
                local[r * local_count + i] = dp;
            });
        } else {
            legendre_value_block<block_size>(x, n, basis->degree, [&](std::uint64_t i, std::size_t r, double p) {
                local[r * local_count + i] = p;
            });
        }
        combine(*basis, coefficients, columns, derivative, rows, local, n, local_count, out + r0 * columns, countdown);
    }
}

}  // namespace

void LegendreBasis::evaluate_columns(std::span<const double> times, std::span<const double> coefficients,
                                     std::uint64_t columns, bool derivative, std::span<double> out) const
{
    const std::uint64_t local_count = checked_add(degree, 1);
    check_equal(coefficients.size(), checked_mul(coefficient_count(), columns),
                "coefficients differ from n_t * (degree + 1) rows of the given columns");
    check_equal(out.size(), checked_mul(times.size(), columns), "evaluation output and times differ in length");
    if (columns == 0 || times.empty()) return;
    require_intervals(n_t);
    const std::uint64_t block = std::clamp<std::uint64_t>(scratch_values / local_count, 1, block_size);
    std::vector<double> local = reserved_vector<double>(checked_mul(block, local_count));
    local.resize(block * local_count);
    if (n_t <= (std::uint64_t{1} << 31)) {
        run_vectorized<column_blocks<std::int32_t>>(this, times.data(), times.size(), coefficients.data(), columns,
                                                    derivative, out.data(), local.data(), block);
        return;
    }
    if (n_t <= exact_integers) {
        run_vectorized<column_blocks<std::int64_t>>(this, times.data(), times.size(), coefficients.data(), columns,
                                                    derivative, out.data(), local.data(), block);
        return;
    }
    // Beyond 2^53 sub-intervals: one time after another, located exactly.
    std::uint64_t k = 0;
    InterruptCountdown countdown;
    for (std::size_t r = 0; r < times.size(); ++r) {
        k = local_basis(times[r], derivative, std::span(local).first(local_count));
        combine(*this, coefficients.data(), columns, derivative, &k, local.data(), 1, local_count,
                out.data() + r * columns, countdown);
    }
}

}  // namespace zelk::piecewise_polynomials
