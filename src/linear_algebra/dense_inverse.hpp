// Inverse of a square DenseMatrix: 4 x 4 cofactors, LU with partial pivoting otherwise.
#pragma once

#include <optional>

#include "linear_algebra/dense_matrix.hpp"

namespace zelk::linear_algebra {

// A^-1, or nullopt when A is singular in the exact sense below; A is left
// unchanged. n = 4 uses do_inverse4, every other n the LU inverse
// (try_invert_to). There is no tolerance: a tiny non-zero determinant or
// pivot is used as it is, and a NaN is not zero. A non-square A is a fault.
std::optional<DenseMatrix> try_invert(const DenseMatrix& a);

// Adjugate times 1/det, each cofactor combined in a fixed operand order;
// nullopt when the determinant is exactly 0.0. A is 4 x 4 (else a fault).
std::optional<DenseMatrix> do_inverse4(const DenseMatrix& a);

// LU inverse of a working copy: overwrites `work` with the factors of its
// row-permuted self (unit lower multipliers below the diagonal, U on and
// above it), choosing the largest pivot magnitude with ties to the upper row,
// then solves L U X = P. nullopt when a column has only exact zeros from the
// diagonal down. `work` is square (else a fault).
std::optional<DenseMatrix> try_invert_to(DenseMatrix& work);

// B <- L^-1 B for the lower factor stored strictly below the diagonal of `lu`,
// with `diag` as every diagonal entry of L (1.0 for the LU inverse).
void solve_lower_triangular_with_diag_mut(const DenseMatrix& lu, DenseMatrix& b, double diag);

// B <- U^-1 B for the upper factor stored on and above the diagonal of `lu`.
void solve_upper_triangular_mut(const DenseMatrix& lu, DenseMatrix& b);

}  // namespace zelk::linear_algebra
