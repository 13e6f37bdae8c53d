// lagrange_prolongation: coarse-to-fine nodal interpolation, in the operand order the last bits depend on.
#include "piecewise_polynomials/lagrange_prolongation.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <variant>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "linear_algebra/csr_filled.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"
#include "piecewise_polynomials/time_grid_location.hpp"

namespace zelk::piecewise_polynomials {

using linear_algebra::CsrMatrix;
using linear_algebra::CsrRows;

namespace {

// Nearest double to 10^-14: how close, in reference coordinates, a fine point
// must be to a coarse node to take its value exactly.
constexpr double node_hit_tolerance = 1e-14;

// Coarse sub-interval of a position s >= 0 in coarse-interval units: floor(s)
// as an integer, compared with nc as integers, so the right end goes to the
// last one. Beyond 2^53 double(nc) is rounded, and comparing in doubles would
// move the top rows; only a floor from 2^64 up cannot be converted and saturates.
std::uint64_t coarse_interval(double s, std::uint64_t nc)
{
    return std::min(saturating_floor_to_u64(s), nc - 1);
}

// Position of fine row i in coarse-interval units: the quotient first, then the product.
double coarse_position(std::uint64_t i, double n, double nc)
{
    return (static_cast<double>(i) / n) * nc;
}

// The coarse sub-interval of global row i, exactly as the fill finds it.
std::uint64_t coarse_interval(const ProlongationShape& shape, std::uint64_t i)
{
    const double n = static_cast<double>(shape.nt_fine * shape.degree);
    return coarse_interval(coarse_position(i, n, static_cast<double>(shape.nt_coarse)), shape.nt_coarse);
}

}  // namespace

ProlongationShape prolongation_shape(std::uint64_t degree, std::uint64_t nt_coarse, std::uint64_t nt_fine)
{
    return prolongation_shape(degree, nt_coarse, nt_fine, 0, nt_fine);
}

ProlongationShape prolongation_shape(std::uint64_t degree, std::uint64_t nt_coarse, std::uint64_t nt_fine,
                                     std::uint64_t k_begin, std::uint64_t k_end)
{
    if (degree == 0) fail("Lagrange prolongation requires polynomial degree at least 1");
    if (nt_coarse == 0) fail("Lagrange prolongation requires at least one coarse interval");
    if (nt_fine == 0) fail("Lagrange prolongation requires at least one fine interval");
    if (!(k_begin <= k_end && k_end <= nt_fine)) fail("Lagrange prolongation rows beyond the fine grid");
    // Every global row number must fit, whichever rows are asked for.
    checked_add(checked_mul(nt_fine, degree), 1);
    const std::uint64_t first_row = k_begin * degree;
    // The end point belongs to the last sub-interval, and so to no empty range.
    const std::uint64_t nrows = (k_end - k_begin) * degree + (k_begin < k_end && k_end == nt_fine ? 1 : 0);
    const std::uint64_t ncols = checked_add(checked_mul(nt_coarse, degree), 1);
    // At most p + 1 entries per row.
    const std::uint64_t max_nnz = checked_mul(nrows, checked_add(degree, 1));
    return {degree, nt_coarse, nt_fine, first_row, nrows, ncols, max_nnz};
}

std::pair<std::uint64_t, std::uint64_t> prolongation_columns(const ProlongationShape& shape)
{
    const std::uint64_t first = coarse_interval(shape, shape.first_row) * shape.degree;
    if (shape.nrows == 0) return {first, first};
    const std::uint64_t last = coarse_interval(shape, shape.first_row + shape.nrows - 1) * shape.degree;
    return {first, last + shape.degree + 1};
}

template <class Index>
std::uint64_t fill_prolongation_rows(const ProlongationShape& shape, const CsrRows<Index>& out)
{
    check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    const std::uint64_t p = shape.degree;
    const std::uint64_t nc = shape.nt_coarse;
    const std::uint64_t n = shape.nt_fine * p;  // the last fine row
    const std::uint64_t local = p + 1;

    // Reference nodes r_k on [-1, 1] (the Lagrange point formula with
    // a = -1, b = 1, now including k = p) and their barycentric weights.
    std::vector<double> node = reserved_vector<double>(local);
    const double dp = static_cast<double>(p);
    for (std::uint64_t k = 0; k <= p; ++k) node.push_back(-1.0 + ((1.0 - (-1.0)) * static_cast<double>(k)) / dp);
    std::vector<double> weight = reserved_vector<double>(local);
    InterruptCountdown countdown;  // every loop below costs O(p) per step
    for (std::uint64_t k = 0; k <= p; ++k) {
        countdown.tick(local);
        double product = 1.0;
        for (std::uint64_t m = 0; m <= p; ++m) {
            if (m != k) product = product * (node[k] - node[m]);
        }
        weight.push_back(1.0 / product);
    }

    std::vector<double> value = reserved_vector<double>(local);  // the row buffer, reused for every row
    value.resize(local);
    const double dn = static_cast<double>(n);
    const double dnc = static_cast<double>(nc);
    std::uint64_t nnz = 0;
    out.offsets[0] = 0;
    for (std::uint64_t r = 0; r < shape.nrows; ++r) {
        countdown.tick(local);
        const std::uint64_t i = shape.first_row + r;
        const double s = coarse_position(i, dn, dnc);
        const std::uint64_t j = coarse_interval(s, nc);
        const double d = s - static_cast<double>(j);
        const double xi = (d + d) + (-1.0);

        std::fill(value.begin(), value.end(), 0.0);
        std::uint64_t hit = 0;
        while (hit <= p && !(std::fabs(xi - node[hit]) < node_hit_tolerance)) ++hit;
        if (hit <= p) {
            value[hit] = 1.0;
        } else {
            double sum = 0.0;
            for (std::uint64_t k = 0; k <= p; ++k) {
                value[k] = weight[k] / (xi - node[k]);
                sum = sum + value[k];
            }
            for (std::uint64_t k = 0; k <= p; ++k) value[k] = value[k] / sum;  // divide: 1/sum would differ
        }

        // Exact zeros are left out; a NaN compares unequal to 0.0 and is kept.
        // Columns come in ascending order without repeats: the row is final as written.
        for (std::uint64_t l = 0; l <= p; ++l) {
            if (value[l] != 0.0) {
                out.col_indices[nnz] = static_cast<Index>(j * p + l);
                out.values[nnz] = value[l];
                ++nnz;
            }
        }
        out.offsets[r + 1] = static_cast<Index>(nnz);
    }
    return nnz;
}

template std::uint64_t fill_prolongation_rows(const ProlongationShape&, const CsrRows<std::uint64_t>&);
template std::uint64_t fill_prolongation_rows(const ProlongationShape&, const CsrRows<std::int32_t>&);
template std::uint64_t fill_prolongation_rows(const ProlongationShape&, const CsrRows<std::int64_t>&);

CsrMatrix lagrange_prolongation(std::uint64_t degree, std::uint64_t nt_coarse, std::uint64_t nt_fine)
{
    const ProlongationShape shape = prolongation_shape(degree, nt_coarse, nt_fine);
    // All storage must fit before the O(p^2) weights or any row is computed.
    return linear_algebra::csr_filled_by(shape.nrows, shape.ncols, shape.max_nnz, "prolongation",
                                         [&](const CsrRows<std::uint64_t>& rows) {
                                             return fill_prolongation_rows<std::uint64_t>(shape, rows);
                                         });
}

CsrMatrix LagrangeBasis::get_prolongation_matrix_to(std::uint64_t nt_fine) const
{
    return lagrange_prolongation(degree, n_t, nt_fine);
}

}  // namespace zelk::piecewise_polynomials
