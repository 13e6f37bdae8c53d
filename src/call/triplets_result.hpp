// Triplet export of a compressed sparse matrix to Python: (row indices, column indices, values).
#pragma once

#include "call/pyref.hpp"
#include "linear_algebra/csr_matrix.hpp"

namespace zelk::call {

// A new tuple of three new lists, one item per stored entry in storage order:
// ints for rows and columns, floats for values. Built straight from the
// compressed arrays, each list at its final length.
PyRef triplets_result(const linear_algebra::CsrMatrix& matrix);

}  // namespace zelk::call
