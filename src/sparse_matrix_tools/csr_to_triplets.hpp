// csr_to_triplets: a compressed matrix exported as three parallel arrays (rows, columns, values).
#pragma once

#include <cstdint>
#include <vector>

#include "linear_algebra/csr_matrix.hpp"

namespace zelk::sparse_matrix_tools {

// One element per stored entry, in storage order: rows ascending, columns
// ascending within a row. The shape is not part of the triplets.
struct Triplets {
    std::vector<std::uint64_t> row_indices;
    std::vector<std::uint64_t> col_indices;
    std::vector<double> values;
};

// The same arrays as convert_csr_coo would produce, built straight from the
// compressed arrays with every output reserved up front.
Triplets csr_to_triplets(const linear_algebra::CsrMatrix& csr);

}  // namespace zelk::sparse_matrix_tools
