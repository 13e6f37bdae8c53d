// LegendreBasis: piecewise Legendre expansions on a time grid (degree, n_t, T) and their evaluation at a time.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "linear_algebra/csr_rows.hpp"
#include "linear_algebra/dense_matrix.hpp"

namespace zelk::piecewise_polynomials {

// On each of the n_t equal sub-intervals of [0, T], a polynomial of `degree`
// written in Legendre polynomials P_0 ... P_degree of the local coordinate
// x in [-1, 1]. A coefficient table has one row per sub-interval and one
// column per polynomial; a basis vector holds P_i on sub-interval k at k + i * n_t.
//
// Every operation throws the fault "Legendre evaluation requires at least one
// time interval" when n_t is 0, before anything else.
//
// evaluate, evaluate_derivative and evaluate_all_basis_functions(_derivatives)
// serve zelk and locate t by locate_time_with_length as it stands, also where
// its midpoint overflows (T beyond half the largest double). The batch
// operations (evaluate_many, local_basis, evaluate_columns, fill_basis_rows)
// serve zelk_arrays and locate by locate_time_unbounded: the same bits, except
// that such a midpoint is taken from halves and gives the true coordinate.
struct LegendreBasis {
    LegendreBasis(std::uint64_t degree_, std::uint64_t n_t_, double T_) noexcept
        : degree(degree_), n_t(n_t_), T(T_), h(T_ / static_cast<double>(n_t_))
    {
    }

    const std::uint64_t degree;
    const std::uint64_t n_t;
    const double T;
    // The sub-interval length T / n_t, which every evaluation starts from:
    // divided once here instead of in every call. It is the same division of
    // the same operands, so every result keeps its bits.
    const double h;

    // Value of the expansion at t, reading row k of `legendre_vals` in place.
    // Faults: "Matrix slicing out of bounds." if the table has no row k, else
    // "Matrix index out of bounds." if it has no column `degree`.
    double evaluate(double t, const linear_algebra::DenseMatrixView& legendre_vals) const;
    // Time derivative of the expansion at t; same table checks as evaluate.
    double evaluate_derivative(double t, const linear_algebra::DenseMatrixView& legendre_vals) const;

    // coefficient_count() values: P_i(x) at the positions of t's sub-interval, +0.0 elsewhere.
    std::vector<double> evaluate_all_basis_functions(double t) const;
    // coefficient_count() values: the time derivatives of the basis functions at t.
    std::vector<double> evaluate_all_basis_function_derivatives(double t) const;

    // out[r] = evaluate(times[r], legendre_vals), or evaluate_derivative, for
    // every r; times and out have the same length (a fault otherwise). Polls
    // for interrupts. Defined, with fill_basis_rows, in legendre_dispatch.cpp.
    void evaluate_many(std::span<const double> times, const linear_algebra::DenseMatrixView& legendre_vals,
                       bool derivative, std::span<double> out) const;

    // Writes P_0(x) ... P_degree(x), or their derivatives with respect to x
    // (unscaled), for t's local coordinate x into `local` (degree + 1 values),
    // exactly as the evaluations above form them; returns t's sub-interval k.
    std::uint64_t local_basis(double t, bool derivative, std::span<double> local) const;

    // out[r * columns + c] = evaluate(times[r], column c) (or evaluate_derivative)
    // for an expansion per column of `coefficients`, row-major of shape
    // (coefficient_count(), columns): the basis is formed once per time and
    // combined with every column. out has times.size() * columns values (a
    // fault otherwise). Polls for interrupts. Defined in legendre_columns.cpp.
    void evaluate_columns(std::span<const double> times, std::span<const double> coefficients, std::uint64_t columns,
                          bool derivative, std::span<double> out) const;

    // Row r holds the degree + 1 entries of evaluate_all_basis_functions(times[r])
    // (or of the derivatives) at columns k + i * n_t, i = 0 ... degree, every
    // one stored; out has times.size() + 1 offsets and room for
    // times.size() * (degree + 1) entries. Instantiated for int32_t and int64_t.
    template <class Index>
    void fill_basis_rows(std::span<const double> times, bool derivative,
                         const linear_algebra::CsrRows<Index>& out) const;

    // m = n_t * degree + n_t. A count that overflows 64 bits or whose doubles
    // cannot fit the address space is a "capacity overflow" fault.
    std::uint64_t coefficient_count() const;
};

}  // namespace zelk::piecewise_polynomials
