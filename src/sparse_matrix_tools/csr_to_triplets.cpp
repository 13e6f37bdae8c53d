// csr_to_triplets: row offsets expanded to one row index per entry; columns and values copied.
#include "sparse_matrix_tools/csr_to_triplets.hpp"

#include "fault/checked_size.hpp"

namespace zelk::sparse_matrix_tools {

Triplets csr_to_triplets(const linear_algebra::CsrMatrix& csr)
{
    const std::uint64_t n = csr.nnz();
    Triplets out{reserved_vector<std::uint64_t>(n), reserved_vector<std::uint64_t>(n), reserved_vector<double>(n)};
    const std::vector<std::uint64_t>& off = csr.row_offsets();
    const std::uint64_t nrows = csr.nrows();
    for (std::uint64_t r = 0; r < nrows; ++r) {
        out.row_indices.insert(out.row_indices.end(), off[r + 1] - off[r], r);
    }
    out.col_indices.assign(csr.col_indices().begin(), csr.col_indices().end());
    out.values.assign(csr.values().begin(), csr.values().end());
    return out;
}

}  // namespace zelk::sparse_matrix_tools
