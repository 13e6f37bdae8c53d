// LegendreBasis one time at a time: the evaluations at t and the local basis, in a fixed operand order.
#include "piecewise_polynomials/legendre_basis.hpp"

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "piecewise_polynomials/legendre_blocks.hpp"
#include "piecewise_polynomials/legendre_kernels.hpp"
#include "piecewise_polynomials/time_grid_location.hpp"

namespace zelk::piecewise_polynomials {

namespace {

using linear_algebra::DenseMatrixView;

// Calls visit(position, value) for the degree + 1 basis entries at t, in
// ascending position k + i * n_t: P_i(x), or the time derivative (P_i' + P_i') / h,
// each entry scaled on its own (unlike evaluate_derivative).
template <class Visit>
void for_each_basis_entry(const LegendreBasis& basis, double t, bool derivative, Visit&& visit)
{
    const GridLocation at = locate_time_with_length(basis.h, basis.n_t, t);
    if (derivative) {
        for_each_legendre_derivative(at.x, basis.degree, [&](std::uint64_t i, double dp) {
            visit(at.k + i * basis.n_t, (dp + dp) / at.h);
        });
    } else {
        for_each_legendre_value(at.x, basis.degree, [&](std::uint64_t i, double p) { visit(at.k + i * basis.n_t, p); });
    }
}

std::vector<double> zero_basis_vector(std::uint64_t m)
{
    std::vector<double> values = reserved_vector<double>(m);
    fill_interruptibly(values, m, 0.0);
    return values;
}

}  // namespace

// One time: the kernels' one-lane sweeps, with the operations of each lane of
// the block loops (the same bits) but without their block set-up, which would
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
    for_each_basis_entry(*this, t, false, [&](std::uint64_t position, double v) { values[position] = v; });
    return values;
}

std::vector<double> LegendreBasis::evaluate_all_basis_function_derivatives(double t) const
{
    require_intervals(n_t);
    std::vector<double> values = zero_basis_vector(coefficient_count());
    for_each_basis_entry(*this, t, true, [&](std::uint64_t position, double v) { values[position] = v; });
    return values;
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

std::uint64_t LegendreBasis::coefficient_count() const
{
    const std::uint64_t m = checked_add(checked_mul(n_t, degree), n_t);
    checked_length<double>(m);
    return m;
}

}  // namespace zelk::piecewise_polynomials
