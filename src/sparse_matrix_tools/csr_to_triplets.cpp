// csr_to_triplets: row offsets expanded to one row index per entry; columns and values copied.
#include "sparse_matrix_tools/csr_to_triplets.hpp"

#include "fault/checked_size.hpp"
#include "fault/interrupt.hpp"

namespace zelk::sparse_matrix_tools {

Triplets csr_to_triplets(const linear_algebra::CsrMatrix& csr)
{
    const std::uint64_t n = csr.nnz();
    Triplets out{reserved_vector<std::uint64_t>(n), reserved_vector<std::uint64_t>(n), reserved_vector<double>(n)};
    const std::vector<std::uint64_t>& off = csr.row_offsets();
    const std::uint64_t nrows = csr.nrows();
    InterruptCountdown countdown;
    for (std::uint64_t r = 0; r < nrows; ++r) {
        out.row_indices.insert(out.row_indices.end(), off[r + 1] - off[r], r);
        countdown.tick(off[r + 1] - off[r] + 1);
    }
    const auto& cols = csr.col_indices();
    const auto& values = csr.values();
    // NOLINTBEGIN(bugprone-narrowing-conversions): first <= last <= the vectors' sizes, which fit their difference_type
    for_each_piece(0, n, [&](std::uint64_t first, std::uint64_t last) {
        out.col_indices.insert(out.col_indices.end(), cols.begin() + first, cols.begin() + last);
        out.values.insert(out.values.end(), values.begin() + first, values.begin() + last);
    });
    // NOLINTEND(bugprone-narrowing-conversions)
    return out;
}

}  // namespace zelk::sparse_matrix_tools
