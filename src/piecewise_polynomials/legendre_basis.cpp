// The four evaluations of LegendreBasis: Legendre recurrences on t's sub-interval, in a fixed operand order.
#include "piecewise_polynomials/legendre_basis.hpp"

#include <algorithm>
#include <cmath>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "piecewise_polynomials/time_grid_location.hpp"
#include "vector_units/vector_level.hpp"

namespace zelk::piecewise_polynomials {

namespace {

using linear_algebra::DenseMatrixView;

// Beyond this |x| the derivative recurrence replaces the closed formula
// below, whose error grows like 5e-16 / (1 - |x|) (and which gives 0 instead
// of the true end values at +-1). At 1 - 2^-6 both stay within 4e-14 of the
// largest |P_i'| for every degree up to 32; nearer the ends the formula would
// lose up to 8 digits. Every derivative path (one time, blocks, basis rows)
// switches here.
constexpr double near_end = 1.0 - 0x1p-6;

inline void require_intervals(std::uint64_t n_t)
{
    if (n_t == 0) [[unlikely]] {
        fail("Legendre evaluation requires at least one time interval");
    }
}

// Only row k and columns 0 ... degree are read; a larger table is fine.
inline void check_table(const DenseMatrixView& table, std::uint64_t k, std::uint64_t degree)
{
    if (table.nrows() <= k) [[unlikely]] {
        fail("Matrix slicing out of bounds.");
    }
    if (table.ncols() <= degree) [[unlikely]] {
        fail("Matrix index out of bounds.");
    }
}

// P_{j+1} from P_{j-1} and P_j: (P_j * ((2j + 1) * x) - P_{j-1} * j) / (j + 1).
inline double legendre_next(std::uint64_t j, double x, double p_prev, double p_cur)
{
    const double jd = static_cast<double>(j);
    const double two_j_plus_one = (jd + jd) + 1.0;
    return ((two_j_plus_one * x) * p_cur - p_prev * jd) / (jd + 1.0);
}

// Calls step(j) for j = 1 ... degree - 1. Up to a stride of steps (every
// degree in practice) the loop is the plain one; beyond, it polls.
template <class Step>
inline void sweep(std::uint64_t degree, Step&& step)
{
    if (degree <= interrupt_stride) [[likely]] {
        for (std::uint64_t j = 1; j < degree; ++j) step(j);
        return;
    }
    for (std::uint64_t j = 1; j < degree; ++j) {
        if (j % interrupt_stride == 0) poll_interrupt();
        step(j);
    }
}

// Calls visit(i, P_i(x)) for i = 0 ... degree, in one running sweep.
template <class Visit>
inline void for_each_legendre_value(double x, std::uint64_t degree, Visit&& visit)
{
    double prev = 1.0;
    visit(std::uint64_t{0}, prev);
    if (degree == 0) return;
    double cur = x;
    visit(std::uint64_t{1}, cur);
    sweep(degree, [&](std::uint64_t j) {
        const double next = legendre_next(j, x, prev, cur);
        visit(j + 1, next);
        prev = cur;
        cur = next;
    });
}

// Next to the ends: P_{j+1}' = P_{j-1}' + (2j + 1) * P_j, exact at +-1.
inline double derivative_by_recurrence(double jd, double d_prev, double p_cur)
{
    return d_prev + ((jd + jd) + 1.0) * p_cur;
}

// Elsewhere: P_i' = ((x * P_i - P_{i-1}) * i) / ((x * x - 1) + 1e-15).
inline double derivative_denominator(double x)
{
    return (x * x - 1.0) + 1e-15;
}

inline double derivative_closed(double x, double p_i, double p_before, double i, double denominator)
{
    return ((x * p_i - p_before) * i) / denominator;
}

// Calls visit(i, P_i'(x)) for i = 0 ... degree, the derivatives with respect to x.
template <class Visit>
inline void for_each_legendre_derivative(double x, std::uint64_t degree, Visit&& visit)
{
    visit(std::uint64_t{0}, 0.0);
    if (degree == 0) return;
    visit(std::uint64_t{1}, 1.0);
    double prev = 1.0;  // P_{j-1}
    double cur = x;     // P_j
    if (std::fabs(x) > near_end) {
        // P_{j+1}' = P_{j-1}' + (2j + 1) * P_j: exact at +-1, accurate next to them.
        double d_prev = 0.0;
        double d_cur = 1.0;
        sweep(degree, [&](std::uint64_t j) {
            const double d_next = derivative_by_recurrence(static_cast<double>(j), d_prev, cur);
            visit(j + 1, d_next);
            const double next = legendre_next(j, x, prev, cur);
            prev = cur;
            cur = next;
            d_prev = d_cur;
            d_cur = d_next;
        });
    } else {
        // NaN x comes here too.
        const double denominator = derivative_denominator(x);
        sweep(degree, [&](std::uint64_t j) {
            const double next = legendre_next(j, x, prev, cur);
            visit(j + 1, derivative_closed(x, next, cur, static_cast<double>(j + 1), denominator));
            prev = cur;
            cur = next;
        });
    }
}

// Calls visit(position, value) for the degree + 1 basis entries at t, in
// ascending position k + i * n_t: P_i(x), or the time derivative (P_i' + P_i') / h,
// each entry scaled on its own (unlike evaluate_derivative).
// `unbounded` locates as zelk_arrays does (see locate_time_unbounded).
template <class Visit>
inline void for_each_basis_entry(const LegendreBasis& basis, double t, bool derivative, bool unbounded, Visit&& visit)
{
    const GridLocation at = unbounded ? locate_time_unbounded(basis.h, basis.n_t, t)
                                      : locate_time_with_length(basis.h, basis.n_t, t);
    if (derivative) {
        for_each_legendre_derivative(at.x, basis.degree, [&](std::uint64_t i, double dp) {
            visit(at.k + i * basis.n_t, (dp + dp) / at.h);
        });
    } else {
        for_each_legendre_value(at.x, basis.degree, [&](std::uint64_t i, double p) { visit(at.k + i * basis.n_t, p); });
    }
}

// Expansions are evaluated a block of times at a time, each step of the
// recurrence for all of them in one loop: the lanes are independent, so the
// loops vectorise (at the widest level the CPU has) and the divisions
// overlap, while every lane keeps the operand order of the one-time formulas
// above (and so their bits).
constexpr std::size_t block_size = 64;

// Below 2^53 every sub-interval index is a double exactly.
constexpr std::uint64_t exact_integers = std::uint64_t{1} << 53;

// x / d is x * (1 / d) bit for bit when d is a power of two: both round the
// same exact quotient once.
inline bool power_of_two(std::uint64_t d)
{
    return (d & (d - 1)) == 0;
}

// Calls run(divide) with divide(v) = v / (j + 1), the division of
// legendre_next: a multiplication by the exact reciprocal where j + 1 is a
// power of two, the division elsewhere.
template <class Run>
ZELK_KERNEL void with_divisor(std::uint64_t j, Run&& run)
{
    const double divisor = static_cast<double>(j) + 1.0;
    if (power_of_two(j + 1)) {
        const double reciprocal = 1.0 / divisor;
        run([reciprocal](double v) { return v * reciprocal; });
    } else {
        run([divisor](double v) { return v / divisor; });
    }
}

// k and x of locate_time_with_length for each time, in arithmetic that
// vectorises: the saturating floor and the clamp to n_t - 1 become a clamp of
// q = t / h to [0, n_t - 1] (NaN to 0) and a truncation, which pick the same
// k whenever n_t - 1 is a double exactly. Index is wide enough for n_t - 1.
template <class Index>
ZELK_KERNEL void locate_block(double h, double last, const double* times, std::size_t n, Index* k, double* x)
{
    for (std::size_t r = 0; r < n; ++r) {
        const double t = times[r];
        const double q = t / h;
        double clamped = q >= 0.0 ? q : 0.0;
        clamped = clamped < last ? clamped : last;
        const Index kr = static_cast<Index>(clamped);
        const double left = h * static_cast<double>(kr);
        const double right = h + left;  // not h * (k + 1): they can differ in the last bit
        const double s = left + right;
        const double d = t - s / 2.0;
        double xr = (d + d) / (right - left);  // the computed width, not h
        xr = xr < -1.0 ? -1.0 : xr;
        xr = xr > 1.0 ? 1.0 : xr;  // NaN passes unchanged
        k[r] = kr;
        x[r] = xr;
    }
    // Grids beyond half the largest double: the midpoints that overflowed
    // are taken from halves, as locate_time_unbounded does.
    if (!(std::fabs(h) * (last + 1.0) < 0x1p1022)) {
        for (std::size_t r = 0; r < n; ++r) {
            const double left = h * static_cast<double>(k[r]);
            if (std::isinf(left + (h + left))) x[r] = halved_coordinate(h, left, times[r]);
        }
    }
}

// The expansion (or its derivative) at n <= block_size located times.
template <class Index>
ZELK_KERNEL void sum_block(const DenseMatrixView& table, std::uint64_t degree, double h, const Index* k,
                           const double* x, std::size_t n, bool derivative, double* out)
{
    double prev[block_size];
    double cur[block_size];
    double sum[block_size];
    if (!derivative) {
        for (std::size_t r = 0; r < n; ++r) {
            prev[r] = 1.0;
            sum[r] = -0.0 + prev[r] * table(k[r], 0);
        }
        if (degree >= 1) {
            for (std::size_t r = 0; r < n; ++r) {
                cur[r] = x[r];
                sum[r] = sum[r] + cur[r] * table(k[r], 1);
            }
        }
        sweep(degree, [&](std::uint64_t j) {  // polls on its own: a huge degree alone is long
            with_divisor(j, [&](auto divide) {
                const double jd = static_cast<double>(j);
                const double two_j_plus_one = (jd + jd) + 1.0;
                for (std::size_t r = 0; r < n; ++r) {
                    const double next = divide((two_j_plus_one * x[r]) * cur[r] - prev[r] * jd);
                    sum[r] = sum[r] + next * table(k[r], j + 1);
                    prev[r] = cur[r];
                    cur[r] = next;
                }
            });
        });
        for (std::size_t r = 0; r < n; ++r) out[r] = sum[r];
        return;
    }

    // Derivatives: both formulas for every lane, the one of its x kept.
    double d_prev[block_size];
    double d_cur[block_size];
    double denominator[block_size];
    for (std::size_t r = 0; r < n; ++r) {
        sum[r] = -0.0 + 0.0 * table(k[r], 0);
        prev[r] = 1.0;
        cur[r] = x[r];
        d_prev[r] = 0.0;
        d_cur[r] = 1.0;
        denominator[r] = derivative_denominator(x[r]);
    }
    if (degree >= 1) {
        for (std::size_t r = 0; r < n; ++r) sum[r] = sum[r] + 1.0 * table(k[r], 1);
    }
    sweep(degree, [&](std::uint64_t j) {
        with_divisor(j, [&](auto divide) {
            const double jd = static_cast<double>(j);
            const double two_j_plus_one = (jd + jd) + 1.0;
            const double i = static_cast<double>(j + 1);
            for (std::size_t r = 0; r < n; ++r) {
                const double next = divide((two_j_plus_one * x[r]) * cur[r] - prev[r] * jd);
                const double by_recurrence = derivative_by_recurrence(jd, d_prev[r], cur[r]);
                const double closed = derivative_closed(x[r], next, cur[r], i, denominator[r]);
                const double dp = std::fabs(x[r]) > near_end ? by_recurrence : closed;
                sum[r] = sum[r] + dp * table(k[r], j + 1);
                prev[r] = cur[r];
                cur[r] = next;
                d_prev[r] = d_cur[r];
                d_cur[r] = by_recurrence;
            }
        });
    });
    // dx/dt = 2 / h, applied once to the whole sum.
    for (std::size_t r = 0; r < n; ++r) out[r] = (sum[r] + sum[r]) / h;
}

// evaluate_many's loop over blocks, run in the clone of the active vector
// level. The table is checked per time only if it may lack a row.
template <class Index>
ZELK_KERNEL void evaluate_blocks(const LegendreBasis* basis, const double* times, std::size_t count,
                                 const DenseMatrixView* table, bool derivative, double* out)
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
        sum_block(*table, basis->degree, basis->h, k, x, n, derivative, out + r0);
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
        sum_block(table, basis.degree, basis.h, k, x, n, derivative, out.data() + r0);
        countdown.tick(n * (basis.degree + 1));
    }
}

// fill_basis_rows for a grid of at most 2^53 sub-intervals, a block of times
// at a time as evaluate_blocks: row r holds the entries of
// for_each_basis_entry, P_i or (P_i' + P_i') / h at column k + i * n_t.
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
    double prev[block_size];
    double cur[block_size];
    double d_prev[block_size];
    double d_cur[block_size];
    double denominator[block_size];
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
            for (std::size_t r = 0; r < n; ++r) {
                prev[r] = 1.0;
                v[r * local] = 1.0;
            }
            if (degree >= 1) {
                for (std::size_t r = 0; r < n; ++r) {
                    cur[r] = x[r];
                    v[r * local + 1] = x[r];
                }
            }
            sweep(degree, [&](std::uint64_t j) {
                with_divisor(j, [&](auto divide) {
                    const double jd = static_cast<double>(j);
                    const double two_j_plus_one = (jd + jd) + 1.0;
                    for (std::size_t r = 0; r < n; ++r) {
                        const double next = divide((two_j_plus_one * x[r]) * cur[r] - prev[r] * jd);
                        v[r * local + j + 1] = next;
                        prev[r] = cur[r];
                        cur[r] = next;
                    }
                });
            });
        } else {
            // Each entry scaled on its own: P_0' = 0 and P_1' = 1 give 0 / h and 2 / h.
            const double zero = (0.0 + 0.0) / h;
            const double one = (1.0 + 1.0) / h;
            for (std::size_t r = 0; r < n; ++r) {
                v[r * local] = zero;
                prev[r] = 1.0;
                cur[r] = x[r];
                d_prev[r] = 0.0;
                d_cur[r] = 1.0;
                denominator[r] = derivative_denominator(x[r]);
            }
            if (degree >= 1) {
                for (std::size_t r = 0; r < n; ++r) v[r * local + 1] = one;
            }
            sweep(degree, [&](std::uint64_t j) {
                with_divisor(j, [&](auto divide) {
                    const double jd = static_cast<double>(j);
                    const double two_j_plus_one = (jd + jd) + 1.0;
                    const double i = static_cast<double>(j + 1);
                    for (std::size_t r = 0; r < n; ++r) {
                        const double next = divide((two_j_plus_one * x[r]) * cur[r] - prev[r] * jd);
                        const double by_recurrence = derivative_by_recurrence(jd, d_prev[r], cur[r]);
                        const double closed = derivative_closed(x[r], next, cur[r], i, denominator[r]);
                        const double dp = std::fabs(x[r]) > near_end ? by_recurrence : closed;
                        v[r * local + j + 1] = (dp + dp) / h;
                        prev[r] = cur[r];
                        cur[r] = next;
                        d_prev[r] = d_cur[r];
                        d_cur[r] = by_recurrence;
                    }
                });
            });
        }
        countdown.tick(n * local);
    }
}

std::vector<double> zero_basis_vector(std::uint64_t m)
{
    std::vector<double> values = reserved_vector<double>(m);
    fill_interruptibly(values, m, 0.0);
    return values;
}

}  // namespace

// One time: the single-lane loops, with the operations of each lane of
// evaluate_block (the same bits) but without its block set-up, which would
// cost this hot path about a tenth.
double LegendreBasis::evaluate(double t, const DenseMatrixView& legendre_vals) const
{
    require_intervals(n_t);
    const GridLocation at = locate_time_with_length(h, n_t, t);
    check_table(legendre_vals, at.k, degree);
    double sum = -0.0;
    for_each_legendre_value(at.x, degree, [&](std::uint64_t i, double p) { sum = sum + p * legendre_vals(at.k, i); });
    return sum;
}

double LegendreBasis::evaluate_derivative(double t, const DenseMatrixView& legendre_vals) const
{
    require_intervals(n_t);
    const GridLocation at = locate_time_with_length(h, n_t, t);
    check_table(legendre_vals, at.k, degree);
    double sum = -0.0;
    for_each_legendre_derivative(at.x, degree,
                                 [&](std::uint64_t i, double dp) { sum = sum + dp * legendre_vals(at.k, i); });
    // dx/dt = 2 / h, applied once to the whole sum.
    return (sum + sum) / at.h;
}

std::vector<double> LegendreBasis::evaluate_all_basis_functions(double t) const
{
    require_intervals(n_t);
    std::vector<double> values = zero_basis_vector(coefficient_count());
    for_each_basis_entry(*this, t, false, false, [&](std::uint64_t position, double v) { values[position] = v; });
    return values;
}

std::vector<double> LegendreBasis::evaluate_all_basis_function_derivatives(double t) const
{
    require_intervals(n_t);
    std::vector<double> values = zero_basis_vector(coefficient_count());
    for_each_basis_entry(*this, t, true, false, [&](std::uint64_t position, double v) { values[position] = v; });
    return values;
}

void LegendreBasis::evaluate_many(std::span<const double> times, const DenseMatrixView& legendre_vals, bool derivative,
                                  std::span<double> out) const
{
    require_intervals(n_t);
    check_equal(out.size(), times.size(), "evaluation output and times differ in length");
    if (n_t <= (std::uint64_t{1} << 31)) {
        run_vectorized<evaluate_blocks<std::int32_t>>(this, times.data(), times.size(), &legendre_vals, derivative,
                                                      out.data());
    } else if (n_t <= exact_integers) {
        run_vectorized<evaluate_blocks<std::int64_t>>(this, times.data(), times.size(), &legendre_vals, derivative,
                                                      out.data());
    } else {
        evaluate_blocks_huge(*this, times, legendre_vals, derivative, out);
    }
}

std::uint64_t LegendreBasis::local_basis(double t, bool derivative, std::span<double> local) const
{
    require_intervals(n_t);
    check_equal(local.size(), checked_add(degree, 1), "local basis storage differs from degree + 1");
    const GridLocation at = locate_time_unbounded(h, n_t, t);
    if (derivative) {
        for_each_legendre_derivative(at.x, degree, [&](std::uint64_t i, double dp) { local[i] = dp; });
    } else {
        for_each_legendre_value(at.x, degree, [&](std::uint64_t i, double p) { local[i] = p; });
    }
    return at.k;
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
    std::uint64_t pos = 0;
    out.offsets[0] = 0;
    InterruptCountdown countdown;  // counts entries written
    for (std::size_t r = 0; r < times.size(); ++r) {
        countdown.tick(local);
        for_each_basis_entry(*this, times[r], derivative, true, [&](std::uint64_t position, double v) {
            out.col_indices[pos] = static_cast<Index>(position);
            out.values[pos] = v;
            ++pos;
        });
        out.offsets[r + 1] = static_cast<Index>(pos);
    }
}

template void LegendreBasis::fill_basis_rows(std::span<const double>, bool,
                                             const linear_algebra::CsrRows<std::int32_t>&) const;
template void LegendreBasis::fill_basis_rows(std::span<const double>, bool,
                                             const linear_algebra::CsrRows<std::int64_t>&) const;

std::uint64_t LegendreBasis::coefficient_count() const
{
    const std::uint64_t m = checked_add(checked_mul(n_t, degree), n_t);
    checked_length<double>(m);
    return m;
}

}  // namespace zelk::piecewise_polynomials
