// LegendreBasis at many times (evaluate_many, fill_basis_rows): block loops, one clone per vector level.
#include <algorithm>
#include <cstdint>
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

using linear_algebra::DenseMatrixView;

// Up to this degree a block's coefficients are gathered into lanes first
// (16 * block_size doubles, 8 KB), so that the recurrence loops read them in
// a row; beyond, each step reads the table in place.
constexpr std::uint64_t gathered_columns = 16;

// The expansion (or its derivative) at n <= block_size located times;
// coefficient(i, r) is a(k[r], i). Each lane adds its terms in increasing i
// from -0.0, as a one-time evaluation does.
template <class Coefficient>
ZELK_KERNEL void sum_lanes(std::uint64_t degree, double h, const double* x, std::size_t n, bool derivative,
                           Coefficient&& coefficient, double* out)
{
    // Each lane's sum starts from -0.0 with its first term (i is a constant there).
    double sum[block_size];
    if (!derivative) {
        legendre_value_block<block_size>(x, n, degree, [&](std::uint64_t i, std::size_t r, double p) {
            sum[r] = (i == 0 ? -0.0 : sum[r]) + p * coefficient(i, r);
        });
        for (std::size_t r = 0; r < n; ++r) out[r] = sum[r];
        return;
    }
    legendre_slope_block<Slopes::closed_inside, block_size>(x, n, degree,
                                                            [&](std::uint64_t i, std::size_t r, double, double dp) {
        sum[r] = (i == 0 ? -0.0 : sum[r]) + dp * coefficient(i, r);
    });
    // dx/dt = 2 / h, applied once to the whole sum.
    for (std::size_t r = 0; r < n; ++r) out[r] = (sum[r] + sum[r]) / h;
}

// Lanes r < n take the Columns coefficients of their sub-interval from the
// row-major copy `rows`: a fixed count of loads from one place a lane.
template <std::uint64_t Columns, class Index>
ZELK_KERNEL void gather_rows(const double* rows, const Index* k, std::size_t n, double (*gathered)[block_size])
{
    for (std::size_t r = 0; r < n; ++r) {
        const double* const row = rows + static_cast<std::uint64_t>(k[r]) * Columns;
        for (std::uint64_t i = 0; i < Columns; ++i) gathered[i][r] = row[i];
    }
}

// gather_rows for degree + 1 = 3 ... gathered_columns columns.
template <class Index>
ZELK_KERNEL void gather_row_copies(const double* rows, std::uint64_t degree, const Index* k, std::size_t n,
                                   double (*gathered)[block_size])
{
    static_assert(gathered_columns == 16);
    switch (degree + 1) {
        case 3: return gather_rows<3>(rows, k, n, gathered);
        case 4: return gather_rows<4>(rows, k, n, gathered);
        case 5: return gather_rows<5>(rows, k, n, gathered);
        case 6: return gather_rows<6>(rows, k, n, gathered);
        case 7: return gather_rows<7>(rows, k, n, gathered);
        case 8: return gather_rows<8>(rows, k, n, gathered);
        case 9: return gather_rows<9>(rows, k, n, gathered);
        case 10: return gather_rows<10>(rows, k, n, gathered);
        case 11: return gather_rows<11>(rows, k, n, gathered);
        case 12: return gather_rows<12>(rows, k, n, gathered);
        case 13: return gather_rows<13>(rows, k, n, gathered);
        case 14: return gather_rows<14>(rows, k, n, gathered);
        case 15: return gather_rows<15>(rows, k, n, gathered);
        default: return gather_rows<16>(rows, k, n, gathered);
    }
}

// The expansion at a located block, reading its coefficients the cheapest
// way with the same values: up to degree 15 the block's coefficients are
// laid out in lanes first, from one row for a block in one sub-interval (as
// with sorted times) or, from degree 2, gathered from the lanes' rows (of
// the row-major copy `rows` where there is one, else of the table);
// otherwise the table is read in place.
template <class Index>
ZELK_KERNEL void sum_block(const DenseMatrixView& table, const double* rows, std::uint64_t degree, double h,
                           const Index* k, const double* x, std::size_t n, bool derivative, double* out)
{
    if (degree < gathered_columns) {
        double gathered[gathered_columns][block_size];
        if (one_interval(k, n)) {
            const std::uint64_t row = static_cast<std::uint64_t>(k[0]);
            for (std::uint64_t i = 0; i <= degree; ++i) {
                const double a = table(row, i);
                for (std::size_t r = 0; r < n; ++r) gathered[i][r] = a;
            }
        } else if (degree >= 2 && rows != nullptr) {
            gather_row_copies(rows, degree, k, n, gathered);
        } else if (degree >= 2) {
            for (std::size_t r = 0; r < n; ++r) {
                for (std::uint64_t i = 0; i <= degree; ++i) gathered[i][r] = table(static_cast<std::uint64_t>(k[r]), i);
            }
        } else {
            sum_lanes(degree, h, x, n, derivative,
                      [&](std::uint64_t i, std::size_t r) { return table(static_cast<std::uint64_t>(k[r]), i); }, out);
            return;
        }
        sum_lanes(degree, h, x, n, derivative, [&](std::uint64_t i, std::size_t r) { return gathered[i][r]; }, out);
        return;
    }
    sum_lanes(degree, h, x, n, derivative,
              [&](std::uint64_t i, std::size_t r) { return table(static_cast<std::uint64_t>(k[r]), i); }, out);
}

// evaluate_many's loop over blocks, run in the clone of the active vector
// level. The table is checked per time only if it may lack a row.
template <class Index>
ZELK_KERNEL void evaluate_blocks(const LegendreBasis* basis, const double* times, std::size_t count,
                                 const DenseMatrixView* table, const double* rows, bool derivative, double* out)
{
    const bool covered = table->nrows() >= basis->n_t && table->ncols() > basis->degree;
    const double last = static_cast<double>(basis->n_t - 1);
    Index k[block_size];
    double x[block_size];
    InterruptCountdown countdown;  // counts recurrence steps over all times
    for (std::size_t r0 = 0; r0 < count; r0 += block_size) {
        const std::size_t n = std::min(block_size, count - r0);
        locate_block(basis->h, last, times + r0, n, k, x);
        if (!covered) {
            for (std::size_t r = 0; r < n; ++r) check_table(*table, static_cast<std::uint64_t>(k[r]), basis->degree);
        }
        sum_block(*table, rows, basis->degree, basis->h, k, x, n, derivative, out + r0);
        countdown.tick(n * (basis->degree + 1));  // the table holds degree + 1 columns in memory: no wrap
    }
}

// Grids beyond 2^53 sub-intervals (which no table in memory can serve) take
// the one-time locating, whose 64-bit conversions are exact at any size.
void evaluate_blocks_huge(const LegendreBasis& basis, std::span<const double> times, const DenseMatrixView& table,
                          bool derivative, std::span<double> out)
{
    std::uint64_t k[block_size];
    double x[block_size];
    InterruptCountdown countdown;
    for (std::size_t r0 = 0; r0 < times.size(); r0 += block_size) {
        const std::size_t n = std::min(block_size, times.size() - r0);
        for (std::size_t r = 0; r < n; ++r) {
            const GridLocation at = locate_time_unbounded(basis.h, basis.n_t, times[r0 + r]);
            check_table(table, at.k, basis.degree);
            k[r] = at.k;
            x[r] = at.x;
        }
        sum_block(table, nullptr, basis.degree, basis.h, k, x, n, derivative, out.data() + r0);
        countdown.tick(n * (basis.degree + 1));
    }
}

// fill_basis_rows for a grid of at most 2^53 sub-intervals, a block of times
// at a time as evaluate_blocks: row r holds P_i, or the time derivative
// (P_i' + P_i') / h with each entry scaled on its own, at column k + i * n_t.
template <class Index, class Out>
ZELK_KERNEL void fill_basis_blocks(const LegendreBasis* basis, const double* times, std::size_t count, bool derivative,
                                   Out* offsets, Out* columns, double* values)
{
    const std::uint64_t degree = basis->degree;
    const std::uint64_t n_t = basis->n_t;
    const double h = basis->h;
    const std::size_t local = static_cast<std::size_t>(degree) + 1;
    const double last = static_cast<double>(n_t - 1);
    Index k[block_size];
    double x[block_size];
    InterruptCountdown countdown;  // counts entries written
    offsets[0] = 0;
    for (std::size_t r0 = 0; r0 < count; r0 += block_size) {
        const std::size_t n = std::min(block_size, count - r0);
        locate_block(h, last, times + r0, n, k, x);
        Out* c = columns + r0 * local;
        double* v = values + r0 * local;
        for (std::size_t r = 0; r < n; ++r) offsets[r0 + r + 1] = static_cast<Out>((r0 + r + 1) * local);
        for (std::size_t r = 0; r < n; ++r) {
            for (std::uint64_t i = 0; i <= degree; ++i) c[r * local + i] = static_cast<Out>(k[r] + i * n_t);
        }
        if (!derivative) {
            legendre_value_block<block_size>(x, n, degree,
                                             [&](std::uint64_t i, std::size_t r, double p) { v[r * local + i] = p; });
        } else {
            legendre_slope_block<Slopes::closed_inside, block_size>(x, n, degree,
                                                                    [&](std::uint64_t i, std::size_t r, double,
                                                                        double dp) {
                v[r * local + i] = (dp + dp) / h;
            });
        }
        countdown.tick(n * local);
    }
}

}  // namespace

void LegendreBasis::evaluate_many(std::span<const double> times, const DenseMatrixView& legendre_vals, bool derivative,
                                  std::span<double> out) const
{
    require_intervals(n_t);
    check_equal(out.size(), times.size(), "evaluation output and times differ in length");
    // Gathering lanes from degree 2 reads a row-major copy of the table, made
    // where its size is at most the times' count (so at most doubling the
    // reads) and the table holds every row.
    std::vector<double> rows;
    const std::uint64_t local = degree + 1;
    if (degree >= 2 && degree < gathered_columns && legendre_vals.nrows() >= n_t && legendre_vals.ncols() >= local &&
        n_t <= times.size() / local) {
        rows = reserved_vector<double>(n_t * local);
        for (std::uint64_t k = 0; k < n_t; ++k) {
            for (std::uint64_t i = 0; i < local; ++i) rows.push_back(legendre_vals(k, i));
        }
    }
    const double* const row_copy = rows.empty() ? nullptr : rows.data();
    if (n_t <= (std::uint64_t{1} << 31)) {
        run_vectorized<evaluate_blocks<std::int32_t>>(this, times.data(), times.size(), &legendre_vals, row_copy,
                                                      derivative, out.data());
    } else if (n_t <= exact_integers) {
        run_vectorized<evaluate_blocks<std::int64_t>>(this, times.data(), times.size(), &legendre_vals, row_copy,
                                                      derivative, out.data());
    } else {
        evaluate_blocks_huge(*this, times, legendre_vals, derivative, out);
    }
}

template <class Index>
void LegendreBasis::fill_basis_rows(std::span<const double> times, bool derivative,
                                    const linear_algebra::CsrRows<Index>& out) const
{
    require_intervals(n_t);
    const std::uint64_t ncols = coefficient_count();
    const std::uint64_t local = checked_add(degree, 1);
    linear_algebra::check_csr_storage(out, times.size(), ncols, checked_mul(times.size(), local));
    if (n_t <= exact_integers) {
        if (n_t <= (std::uint64_t{1} << 31)) {
            run_vectorized<fill_basis_blocks<std::int32_t, Index>>(this, times.data(), times.size(), derivative,
                                                                   out.offsets.data(), out.col_indices.data(),
                                                                   out.values.data());
        } else {
            run_vectorized<fill_basis_blocks<std::int64_t, Index>>(this, times.data(), times.size(), derivative,
                                                                   out.offsets.data(), out.col_indices.data(),
                                                                   out.values.data());
        }
        return;
    }
    // Beyond 2^53 sub-intervals: one time after another, located exactly.
    std::vector<double> basis = reserved_vector<double>(local);
    basis.resize(local);
    std::uint64_t pos = 0;
    out.offsets[0] = 0;
    InterruptCountdown countdown;  // counts entries written
    for (std::size_t r = 0; r < times.size(); ++r) {
        countdown.tick(local);
        const std::uint64_t k = local_basis(times[r], derivative, basis);
        for (std::uint64_t i = 0; i < local; ++i) {
            out.col_indices[pos] = static_cast<Index>(k + i * n_t);
            out.values[pos] = derivative ? (basis[i] + basis[i]) / h : basis[i];
            ++pos;
        }
        out.offsets[r + 1] = static_cast<Index>(pos);
    }
}

template void LegendreBasis::fill_basis_rows(std::span<const double>, bool,
                                             const linear_algebra::CsrRows<std::int32_t>&) const;
template void LegendreBasis::fill_basis_rows(std::span<const double>, bool,
                                             const linear_algebra::CsrRows<std::int64_t>&) const;

}  // namespace zelk::piecewise_polynomials
