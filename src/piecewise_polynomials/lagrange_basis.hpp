// LagrangeBasis: the nodal point grid of a time grid (degree, n_t, T) and the matrices built on it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "linear_algebra/csr_matrix.hpp"

namespace zelk::piecewise_polynomials {

// Global Lagrange points of [0, T] cut into n_t equal sub-intervals, each with
// degree + 1 equidistant nodes; neighbouring sub-intervals share their end node.
struct LagrangeBasis {
    std::vector<double> points;  // n_t * degree + 1 values, the last one T itself
    std::uint64_t degree;
    std::uint64_t n_t;

    // Builds the point list; accepts any degree, n_t and T. A point count that
    // overflows or exceeds the address space is a "capacity overflow" fault;
    // one that cannot be allocated throws std::bad_alloc before any filling.
    static LagrangeBasis new_(std::uint64_t degree, std::uint64_t n_t, double T);

    // n_t * degree + 1, with the same "capacity overflow" checks as new_.
    static std::uint64_t point_count(std::uint64_t degree, std::uint64_t n_t);

    // Writes the points of new_(degree, n_t, T) into `out`, which must hold
    // exactly point_count(degree, n_t) values (a fault otherwise).
    static void fill_points(std::uint64_t degree, std::uint64_t n_t, double T, std::span<double> out);

    // The (nt_fine * degree + 1) x (n_t * degree + 1) matrix taking nodal values
    // on this grid to nodal values on nt_fine sub-intervals of the same degree;
    // see lagrange_prolongation. Reads degree and n_t only.
    linear_algebra::CsrMatrix get_prolongation_matrix_to(std::uint64_t nt_fine) const;

    // The n_t x points.size() rows that give the coefficient of P_pol_degree on
    // each sub-interval from the nodal values. Faults: "Lagrange to Legendre
    // conversion not meaningful for degree 0", "Failed to invert Vandermonde
    // matrix for Lagrange to Legendre conversion.", and pol_degree > degree.
    linear_algebra::CsrMatrix to_legendre_basis_matrix_for_pol_degree(std::uint64_t pol_degree) const;

    // The (degree + 1) * n_t x points.size() matrix from nodal values to
    // Legendre coefficients, row p * n_t + k for P_p on sub-interval k; every
    // weight is stored, zeros included. Faults as above.
    linear_algebra::CsrMatrix get_transormation_matrix_to_legendre() const;
};

}  // namespace zelk::piecewise_polynomials
