// Legendre transfers: overlap integrals by Gauss rules in double-double, one table per relative position.
#include "time_operators/legendre_transfer.hpp"

#include <algorithm>
#include <numeric>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/double_double.hpp"
#include "time_operators/quadrature_rules.hpp"
#include "time_operators/reference_bases.hpp"
#include "time_operators/reference_integrals.hpp"

namespace zelk::time_operators {

using linear_algebra::CsrRows;

namespace {

// The overlap blocks for every relative position of a fine and a coarse
// sub-interval: offset d = (fine start - coarse start) in units, from
// -(fine_units - 1) to coarse_units - 1; entry (i, j) of each block is the
// transfer's value for fine polynomial i and coarse polynomial j. There are
// at most nt_coarse + nt_fine positions, so the table is never much larger
// than the matrix, and each block is computed once.
class OverlapValues {
public:
    explicit OverlapValues(const LegendreTransferShape& shape)
        : shape_(shape),
          size_(shape.degree + 1),
          rule_(reference_rule(QuadratureRule::gauss, size_)),
          fine_(reserved_vector<DoubleDouble>(size_)),
          coarse_(reserved_vector<DoubleDouble>(size_)),
          slope_(reserved_vector<DoubleDouble>(size_)),
          sum_(reserved_vector<DoubleDouble>(checked_mul(size_, size_))),
          magnitude_(reserved_vector<DoubleDouble>(size_ * size_)),
          table_of_powers_(reserved_vector<DoubleDouble>(size_ * size_))
    {
        table_of_powers_.resize(size_ * size_);
        sum_.resize(size_ * size_);
        magnitude_.resize(size_ * size_);
        fine_.resize(size_);
        coarse_.resize(size_);
        slope_.resize(size_);
        const std::uint64_t block = checked_mul(size_, size_);
        const std::uint64_t offsets = shape.coarse_units + shape.fine_units - 1;
        table_ = reserved_vector<double>(checked_mul(offsets, block));
        table_.resize(offsets * block);
        InterruptCountdown countdown;
        for (std::uint64_t o = 0; o < offsets; ++o) {
            countdown.tick(block * size_);
            compute(o, std::span<double>(table_).subspan(o * block, block));
        }
    }

    // The block for the fine sub-interval starting at `fine_start` and the
    // coarse one at `coarse_start` (in units; they overlap).
    const double* block(std::uint64_t fine_start, std::uint64_t coarse_start) const
    {
        const std::uint64_t o = fine_start + (shape_.fine_units - 1) - coarse_start;
        return table_.data() + o * (size_ * size_);
    }

private:
    void compute(std::uint64_t o, std::span<double> out)
    {
        const std::uint64_t a = shape_.coarse_units;
        const std::uint64_t b = shape_.fine_units;
        // Coarse sub-interval on [0, a], fine on [d, d + b] with d = o - (b - 1).
        const DoubleDouble d = DoubleDouble::from_u64(o) - DoubleDouble::from_u64(b - 1);
        const DoubleDouble da = DoubleDouble::from_u64(a);
        const DoubleDouble db = DoubleDouble::from_u64(b);
        if (o + 1 >= b && o + 1 <= a) {
            // The fine sub-interval lies inside the coarse one: whole Legendre
            // coefficients, which a Gauss sum gets only to an absolute 2^-100.
            contained(DoubleDouble::from_u64(2 * (o + 1 - b) + b) / da - 1.0, db / da, out);
            return;
        }
        const DoubleDouble start = d.hi > 0.0 ? d : DoubleDouble(0.0);
        const DoubleDouble end = (d + db - da).hi < 0.0 ? d + db : da;
        // Fine coordinates x = 2 (u - d) / b - 1 of the overlap's ends.
        const DoubleDouble x0 = DoubleDouble(2.0) * (start - d) / db - 1.0;
        const DoubleDouble x1 = DoubleDouble(2.0) * (end - d) / db - 1.0;
        const DoubleDouble half = (x1 - x0) * 0.5;
        std::vector<DoubleDouble>& sum = sum_;
        std::vector<DoubleDouble>& magnitude = magnitude_;
        std::fill(sum.begin(), sum.end(), DoubleDouble(0.0));
        std::fill(magnitude.begin(), magnitude.end(), DoubleDouble(0.0));
        for (std::uint64_t n = 0; n < size_; ++n) {
            const DoubleDouble x = x0 + half * (rule_.nodes[n] + 1.0);
            const DoubleDouble u = d + db * (x + 1.0) * 0.5;  // the same point in units
            const DoubleDouble y = DoubleDouble(2.0) * u / da - 1.0;
            legendre_values(x, fine_, slope_);
            legendre_values(y, coarse_, slope_);
            const DoubleDouble w = rule_.weights[n] * half;
            for (std::uint64_t i = 0; i < size_; ++i) {
                for (std::uint64_t j = 0; j < size_; ++j) {
                    const DoubleDouble term = w * fine_[i] * coarse_[j];
                    sum[i * size_ + j] += term;
                    magnitude[i * size_ + j] += abs(term);
                }
            }
        }
        const DoubleDouble ratio = shape_.restriction ? db / da : DoubleDouble(1.0);
        for (std::uint64_t i = 0; i < size_; ++i) {
            for (std::uint64_t j = 0; j < size_; ++j) {
                const std::uint64_t row_degree = shape_.restriction ? j : i;
                const DoubleDouble factor = DoubleDouble::from_u64(2 * row_degree + 1) * 0.5 * ratio;
                const std::uint64_t e = i * size_ + j;
                out[e] = rounded_integral(sum[e] * factor, magnitude[e] * factor);
            }
        }
    }

    // The block of a fine sub-interval inside the coarse one, where the
    // coarse coordinate is y = centre + slope x. The prolongation's entry
    // (i, j) is then c_ji, the coefficient of P_i in P_j(centre + slope x),
    // and is small like slope^i: it comes from the Taylor expansion of P_j at
    // the centre and the Legendre coefficients of x^m, all but the first of
    // which are positive, so that each entry keeps its relative accuracy.
    //   c_ji = sum over m = i, i + 2, ... <= j of tau_j[m] slope^m L[m][i],
    // tau_j[m] = P_j^(m)(centre) / m!, L[m][i] the coefficient of P_i in x^m.
    void contained(DoubleDouble centre, DoubleDouble slope, std::span<double> out)
    {
        const std::uint64_t n = size_;
        // Row j of tau by (j + 1) Q_{j+1}(t) = (2j + 1)(centre + t) Q_j(t) - j Q_{j-1}(t)
        // for Q_j(t) = P_j(centre + t); `bound` runs the same steps on absolute values.
        std::vector<DoubleDouble>& tau = sum_;
        std::vector<DoubleDouble>& bound = magnitude_;
        std::fill(tau.begin(), tau.end(), DoubleDouble(0.0));
        std::fill(bound.begin(), bound.end(), DoubleDouble(0.0));
        tau[0] = 1.0;
        bound[0] = 1.0;
        if (n > 1) {
            tau[n] = centre;
            tau[n + 1] = 1.0;
            bound[n] = abs(centre);
            bound[n + 1] = 1.0;
        }
        const DoubleDouble abs_centre = abs(centre);
        for (std::uint64_t j = 1; j + 1 < n; ++j) {
            const DoubleDouble odd = DoubleDouble::from_u64(2 * j + 1);
            const DoubleDouble dj = DoubleDouble::from_u64(j);
            const DoubleDouble next = DoubleDouble::from_u64(j + 1);
            for (std::uint64_t m = 0; m <= j + 1; ++m) {
                const DoubleDouble shifted = m > 0 ? tau[j * n + m - 1] : DoubleDouble(0.0);
                const DoubleDouble shifted_bound = m > 0 ? bound[j * n + m - 1] : DoubleDouble(0.0);
                tau[(j + 1) * n + m] = (odd * (centre * tau[j * n + m] + shifted) - dj * tau[(j - 1) * n + m]) / next;
                bound[(j + 1) * n + m] =
                    (odd * (abs_centre * bound[j * n + m] + shifted_bound) + dj * bound[(j - 1) * n + m]) / next;
            }
        }
        // legendre_of_power[m * n + i] = L[m][i], by x P_i = ((i + 1) P_{i+1} + i P_{i-1}) / (2i + 1).
        std::vector<DoubleDouble>& power = fine_;  // slope^m
        std::vector<DoubleDouble>& legendre_of_power = table_of_powers_;
        std::fill(legendre_of_power.begin(), legendre_of_power.end(), DoubleDouble(0.0));
        legendre_of_power[0] = 1.0;
        power[0] = 1.0;
        for (std::uint64_t m = 0; m + 1 < n; ++m) {
            power[m + 1] = power[m] * slope;
            for (std::uint64_t i = 0; i <= m; ++i) {
                const DoubleDouble l = legendre_of_power[m * n + i];
                if (l.hi == 0.0) continue;
                const DoubleDouble odd = DoubleDouble::from_u64(2 * i + 1);
                legendre_of_power[(m + 1) * n + i + 1] += l * DoubleDouble::from_u64(i + 1) / odd;
                if (i > 0) legendre_of_power[(m + 1) * n + i - 1] += l * DoubleDouble::from_u64(i) / odd;
            }
        }
        const DoubleDouble ratio = shape_.restriction ? DoubleDouble::from_u64(shape_.fine_units) /
                                                            DoubleDouble::from_u64(shape_.coarse_units)
                                                      : DoubleDouble(1.0);
        const double slack = 0x1p-90 * std::max(1.0, static_cast<double>(n) * 0x1p-10);
        for (std::uint64_t i = 0; i < n; ++i) {
            for (std::uint64_t j = 0; j < n; ++j) {
                DoubleDouble c = 0.0;
                DoubleDouble c_bound = 0.0;
                for (std::uint64_t m = i; m <= j; m += 2) {
                    const DoubleDouble scale = power[m] * legendre_of_power[m * n + i];
                    c += tau[j * n + m] * scale;
                    c_bound += bound[j * n + m] * scale;
                }
                // The prolongation's (2i + 1)/2 J is c itself; the restriction's
                // (2j + 1)/2 (h_fine / h_coarse) J is (2j + 1) / (2i + 1) ratio c.
                if (shape_.restriction) {
                    const DoubleDouble factor = DoubleDouble::from_u64(2 * j + 1) / DoubleDouble::from_u64(2 * i + 1) *
                                                ratio;
                    c = c * factor;
                    c_bound = c_bound * factor;
                }
                out[i * n + j] = settled({c, c_bound.hi * slack}).to_double();
            }
        }
    }

    const LegendreTransferShape& shape_;
    std::uint64_t size_;
    ReferenceRule rule_;
    std::vector<DoubleDouble> fine_;
    std::vector<DoubleDouble> coarse_;
    std::vector<DoubleDouble> slope_;
    std::vector<DoubleDouble> sum_;
    std::vector<DoubleDouble> magnitude_;
    std::vector<DoubleDouble> table_of_powers_;
    std::vector<double> table_;
};

// Sub-intervals of length `other` (in units) that overlap [start, start + length).
struct Overlapping {
    std::uint64_t first;
    std::uint64_t last;  // inclusive
};

Overlapping overlapping(std::uint64_t start, std::uint64_t length, std::uint64_t other)
{
    return {start / other, (start + length - 1) / other};
}

}  // namespace

LegendreTransferShape legendre_transfer_shape(bool restriction, std::uint64_t nt_coarse, std::uint64_t nt_fine,
                                              std::uint64_t degree, std::uint64_t k_begin, std::uint64_t k_end)
{
    if (nt_coarse == 0 || nt_fine == 0) fail("time grid requires at least one interval");
    const std::uint64_t row_intervals = restriction ? nt_coarse : nt_fine;
    if (!(k_begin <= k_end && k_end <= row_intervals)) fail("interval range out of bounds");
    const std::uint64_t g = std::gcd(nt_coarse, nt_fine);
    const std::uint64_t coarse_units = nt_fine / g;
    const std::uint64_t fine_units = nt_coarse / g;
    checked_mul(nt_fine, fine_units);  // the common refinement's length must fit
    const std::uint64_t size = checked_add(degree, 1);
    const std::uint64_t fine_dim = checked_mul(nt_fine, size);
    const std::uint64_t coarse_dim = checked_mul(nt_coarse, size);
    // A row's sub-interval overlaps at most this many of the other grid's.
    const std::uint64_t reach = restriction ? std::min(nt_fine, (coarse_units - 1) / fine_units + 2)
                                            : std::min(nt_coarse, (fine_units - 1) / coarse_units + 2);
    const std::uint64_t nrows = checked_mul(k_end - k_begin, size);
    const std::uint64_t max_nnz = checked_mul(nrows, checked_mul(reach, size));
    // The overlap table and the sums of one block must fit before the rule is sought.
    const std::uint64_t block = checked_mul(size, size);
    require_memory(checked_mul(coarse_units + fine_units - 1, block), sizeof(double));
    require_memory(block, 3 * sizeof(DoubleDouble));
    return {restriction, degree,       nt_coarse,  nt_fine, k_begin,
            k_end,       coarse_units, fine_units, nrows,   restriction ? fine_dim : coarse_dim,
            max_nnz};
}

template <class Index>
std::uint64_t fill_legendre_transfer_rows(const LegendreTransferShape& shape, const CsrRows<Index>& out)
{
    check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    OverlapValues values(shape);
    const std::uint64_t size = shape.degree + 1;
    const std::uint64_t a = shape.coarse_units;
    const std::uint64_t b = shape.fine_units;
    // Row sub-intervals are `own` units long, the column ones `other` units.
    const std::uint64_t own = shape.restriction ? a : b;
    const std::uint64_t other = shape.restriction ? b : a;
    const std::uint64_t n_other = shape.restriction ? shape.nt_fine : shape.nt_coarse;
    std::uint64_t nnz = 0;
    std::uint64_t r = 0;
    out.offsets[0] = 0;
    InterruptCountdown countdown;
    for (std::uint64_t row_degree = 0; row_degree < size; ++row_degree) {
        for (std::uint64_t k = shape.k_begin; k < shape.k_end; ++k) {
            const std::uint64_t start = k * own;
            const Overlapping span = overlapping(start, own, other);
            for (std::uint64_t column_degree = 0; column_degree < size; ++column_degree) {
                for (std::uint64_t m = span.first; m <= span.last; ++m) {
                    const double* block = shape.restriction ? values.block(m * other, start)
                                                            : values.block(start, m * other);
                    const std::uint64_t i = shape.restriction ? column_degree : row_degree;
                    const std::uint64_t j = shape.restriction ? row_degree : column_degree;
                    const double value = block[i * size + j];
                    if (value != 0.0) {
                        out.col_indices[nnz] = static_cast<Index>(column_degree * n_other + m);
                        out.values[nnz] = value;
                        ++nnz;
                    }
                }
            }
            ++r;
            out.offsets[r] = static_cast<Index>(nnz);
            countdown.tick((span.last - span.first + 1) * size);
        }
    }
    check_equal(r, shape.nrows, "transfer rows miscounted");
    return nnz;
}

template std::uint64_t fill_legendre_transfer_rows(const LegendreTransferShape&, const CsrRows<std::int32_t>&);
template std::uint64_t fill_legendre_transfer_rows(const LegendreTransferShape&, const CsrRows<std::int64_t>&);

}  // namespace zelk::time_operators
