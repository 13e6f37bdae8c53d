// Load contraction: one pass over the values, each sub-interval's sums kept in registers for a single column.
#include "time_operators/load_contraction.hpp"

#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"

namespace zelk::time_operators {

void contract_load(std::span<const double> weights, std::span<const double> values, std::uint64_t columns,
                   std::span<const double> basis, std::uint64_t n, std::span<double> local)
{
    if (n == 0 || basis.size() % n != 0) fail("load basis has the wrong length");
    const std::uint64_t size = basis.size() / n;
    if (columns == 0 || values.size() % checked_mul(n, columns) != 0) fail("load values have the wrong length");
    const std::uint64_t intervals = values.size() / (n * columns);
    // n weights that every sub-interval shares, or n per sub-interval.
    const bool shared = weights.size() == n;
    if (!shared) check_equal(weights.size(), checked_mul(intervals, n), "load weights have the wrong length");
    check_equal(local.size(), checked_mul(checked_mul(intervals, size), columns), "load result has the wrong length");
    const double* v = basis.data();
    if (shared && columns == 1 && size == 1 && n == 1) {
        // One weight, one point, one function (degree 0 with its one-point
        // rule): the general loop's products, one straight loop over the values.
        const double w = weights[0];
        const double v0 = v[0];
        const double* f = values.data();
        double* out = local.data();
        for_each_piece(0, intervals, [&](std::uint64_t first, std::uint64_t last) {
            for (std::uint64_t k = first; k < last; ++k) out[k] = (w * f[k]) * v0;
        });
        return;
    }
    for_each_piece(0, intervals, [&](std::uint64_t first, std::uint64_t last) {
        for (std::uint64_t k = first; k < last; ++k) {
            const double* w = weights.data() + (shared ? 0 : k * n);
            const double* f = values.data() + k * n * columns;
            double* out = local.data() + k * size * columns;
            for (std::uint64_t c = 0; c < columns; ++c) {
                const double wf = w[0] * f[c];
                for (std::uint64_t i = 0; i < size; ++i) out[i * columns + c] = wf * v[i];
            }
            for (std::uint64_t q = 1; q < n; ++q) {
                for (std::uint64_t c = 0; c < columns; ++c) {
                    const double wf = w[q] * f[q * columns + c];
                    for (std::uint64_t i = 0; i < size; ++i) out[i * columns + c] += wf * v[q * size + i];
                }
            }
        }
    }, interrupt_stride / (n * size * columns + 1) + 1);
}

}  // namespace zelk::time_operators
