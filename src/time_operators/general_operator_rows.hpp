// Time operators of any two spaces: Lagrange on any node family, continuous or not, and Legendre in either layout.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "linear_algebra/block_counts.hpp"
#include "linear_algebra/csr_rows.hpp"
#include "time_operators/double_double.hpp"
#include "time_operators/time_operator_rows.hpp"

namespace zelk::time_operators {

// Lagrange: the polynomials of `nodes` (degree + 1 ascending points of
// [-1, 1]); continuous spaces share the end nodes of neighbouring
// sub-intervals (index k degree + j), discontinuous ones do not
// (k (degree + 1) + j). Legendre: P_0 ... P_degree, index j n_t + k, or
// k (degree + 1) + j when interval_major.
struct SpaceBasis {
    BasisKind kind;
    std::uint64_t degree;
    std::vector<DoubleDouble> nodes;
    bool continuous;
    bool interval_major;
};

// The reference nodes of a family: 0 equispaced, 1 + the quadrature rule's code.
std::vector<DoubleDouble> family_nodes(std::uint64_t family, std::uint64_t count);

// The basis functions and their x-derivatives at x in [-1, 1] (degree + 1 each).
void space_basis_values(const SpaceBasis& s, DoubleDouble x, std::vector<DoubleDouble>& values,
                        std::vector<DoubleDouble>& derivatives);

// Global index of local function j on sub-interval k.
std::uint64_t space_basis_index(const SpaceBasis& s, std::uint64_t n_t, std::uint64_t k, std::uint64_t j);

struct GeneralShape {
    TimeOperator op;
    std::uint64_t n_t;
    std::uint64_t k_begin;
    std::uint64_t k_end;
    std::uint64_t nrows;
    std::uint64_t ncols;
    std::uint64_t max_nnz;  // an upper bound
};

// Faults: "time grid requires at least one interval", "interval range out of
// bounds", "continuous Lagrange spaces need both ends among their nodes",
// "capacity overflow".
GeneralShape general_shape(TimeOperator op, const SpaceBasis& trial, const SpaceBasis& test, std::uint64_t n_t,
                           std::uint64_t k_begin, std::uint64_t k_end);

// Writes the rows of test sub-intervals [k_begin, k_end) and returns the
// entry count. steps[k] = t_{k+1} - t_k as double-doubles (n_t of them; only
// the mass matrix reads them). Entries are summed in double-double and
// rounded once; exact zeros are not stored. Polls for interrupts.
template <class Index>
std::uint64_t fill_general_rows(const GeneralShape& shape, const SpaceBasis& trial, const SpaceBasis& test,
                                std::span<const double> points, const linear_algebra::CsrRows<Index>& out);

// The rows fill_general_rows writes, counted inside and outside a column
// block without writing them: each row rounded as the fill rounds it (the
// same kept rows, so most cost a look-up), entries that round to zero or
// underflow left out alike. Polls for interrupts.
void count_general_rows(const GeneralShape& shape, const SpaceBasis& trial, const SpaceBasis& test,
                        std::span<const double> points, linear_algebra::BlockCounts& counts);

}  // namespace zelk::time_operators
