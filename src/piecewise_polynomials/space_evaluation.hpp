// SpaceEvaluation: the basis functions of a time space (Legendre in either layout, or nodal) at many times.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "linear_algebra/csr_rows.hpp"
#include "piecewise_polynomials/grid_location.hpp"

namespace zelk::piecewise_polynomials {

enum class SpaceKind : std::uint64_t { legendre_polynomial_major = 0, legendre_interval_major = 1, lagrange = 2 };

// A space's basis on the sub-intervals k_begin <= k < k_end that a caller
// holds; the columns are numbered within them, in the space's own order:
// - Legendre, polynomial-major: P_i on sub-interval k at i * c + (k - k_begin), c = k_end - k_begin;
// - Legendre, interval-major: at (k - k_begin) * (degree + 1) + i;
// - nodal: node i of sub-interval k at (k - k_begin) * stride + i, stride = degree
//   for a continuous space (whose sub-intervals share their end nodes), else degree + 1.
// For the whole grid these are the space's global indices.
//
// A nodal basis needs `nodes`, the node times of the held sub-intervals in
// that numbering; `weights`, barycentric weights of the family's reference
// nodes on [0, 1]; and `differentiation`, their (degree + 1)^2 derivative
// matrix on [0, 1], row-major: entry (i, j) is l_j'(tau_i).
struct SpaceBasis {
    SpaceKind kind;
    std::uint64_t degree;
    std::uint64_t k_begin;
    std::uint64_t k_end;
    std::uint64_t stride;
    std::span<const double> nodes;
    std::span<const double> weights;
    std::span<const double> differentiation;

    // Checks the sizes against each other; a fault names the first that differs.
    void check() const;
    // Number of columns: the held sub-intervals' basis functions.
    std::uint64_t columns() const;
    std::uint64_t column(std::uint64_t k, std::uint64_t i) const noexcept;
};

// Why a time has no value: it lies outside the grid (or is NaN), it is the
// start with side left, or it falls in a sub-interval that is not held.
enum class Unplaced { outside_grid, start_from_left, outside_intervals };

// The first time that has no value: its position, why, and its sub-interval
// where it has one.
struct TimeFault {
    std::uint64_t index;
    Unplaced reason;
    std::uint64_t k;
};

// Row r holds the degree + 1 basis functions (or their time derivatives) at
// times[r], every one stored, at ascending columns. Legendre entries are
// P_i(x), or (P_i'(x) + P_i'(x)) / width; nodal ones the Lagrange
// polynomials of the sub-interval's nodes in barycentric form, exactly 1 and
// 0 at a node, and their derivatives from the differentiation matrix. Stops
// at the first time without a value and returns it. Polls for interrupts.
template <class Index>
std::optional<TimeFault> fill_space_basis_rows(const SpaceBasis& basis, const GridLocator& grid,
                                               std::span<const double> times, Side side, bool derivative,
                                               const linear_algebra::CsrRows<Index>& out);

// out[r * columns + c] = the expansion with coefficients[:, c] (row-major of
// shape (basis.columns(), columns)) at times[r], or its time derivative. Each
// sum starts from -0.0 and adds value * coefficient in ascending i; a Legendre
// derivative is scaled once, (sum + sum) / width, so on the uniform grid in the
// polynomial-major layout the bits are LegendreBasis's. A nodal expansion at
// one of its nodes is that node's coefficient itself. Stops at the first time
// without a value and returns it. Polls for interrupts.
std::optional<TimeFault> evaluate_space_expansion(const SpaceBasis& basis, const GridLocator& grid,
                                                  std::span<const double> times, Side side, bool derivative,
                                                  std::span<const double> coefficients, std::uint64_t columns,
                                                  std::span<double> out);

}  // namespace zelk::piecewise_polynomials
