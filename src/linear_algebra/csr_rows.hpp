// CsrRows: caller-provided storage that the matrix builders fill row by row in compressed sparse row form.
#pragma once

#include <cstdint>
#include <limits>
#include <span>

#include "fault/fault.hpp"

namespace zelk::linear_algebra {

// Row offsets (one per row plus one), and room for the column indices and
// values of the entries. A builder writes offsets[0 .. nrows] and the first
// offsets[nrows] columns and values; the index type is the caller's choice
// (the Python lists use uint64_t, the arrays int32_t or int64_t).
template <class Index>
struct CsrRows {
    std::span<Index> offsets;
    std::span<Index> col_indices;
    std::span<double> values;
};

// Checks that storage fits a matrix of nrows rows, ncols columns and up to
// max_nnz entries, and that every index and offset fits Index.
template <class Index>
void check_csr_storage(const CsrRows<Index>& out, std::uint64_t nrows, std::uint64_t ncols, std::uint64_t max_nnz)
{
    constexpr auto index_max = static_cast<std::uint64_t>(std::numeric_limits<Index>::max());
    if (ncols > index_max || max_nnz > index_max) fail("CSR index type too narrow for the matrix");
    check_equal(out.offsets.size(), nrows + 1, "CSR row offset storage has the wrong length");
    if (out.col_indices.size() < max_nnz || out.values.size() < max_nnz) fail("CSR entry storage too small");
}

}  // namespace zelk::linear_algebra
