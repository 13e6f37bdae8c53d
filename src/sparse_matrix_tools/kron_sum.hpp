// Sums of Kronecker products sum_i kron(T_i, S_i), written row by row with the merged sparsity pattern.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "linear_algebra/csr_rows.hpp"

namespace zelk::sparse_matrix_tools {

// A borrowed compressed sparse row factor: nrows + 1 offsets, sorted column
// indices without duplicates in each row, and the values.
struct CsrFactor {
    std::uint64_t nrows = 0;
    std::uint64_t ncols = 0;
    std::span<const std::int64_t> offsets;
    std::span<const std::int64_t> indices;
    std::span<const double> values;
};

// One term kron(time, space); every term has the same two shapes.
struct KronTerm {
    CsrFactor time;
    CsrFactor space;
};

struct KronSumPlan;

// The result's shape for the time rows [row_begin, row_end): rows
// row_begin * space.nrows ... row_end * space.nrows - 1 of the whole sum.
// max_nnz counts the merged pattern, which zero sums may thin.
struct KronSumShape {
    std::uint64_t nrows = 0;
    std::uint64_t ncols = 0;
    std::uint64_t max_nnz = 0;
    std::shared_ptr<const KronSumPlan> plan;
};

// Checks the factors (shapes alike, offsets ascending from 0, columns in
// range and strictly ascending in each row) and merges the patterns of the
// space factors that share a time column. Faults: "kron_sum needs at least
// one term", "kron_sum factors differ in shape", "time row range out of
// bounds", "malformed CSR factor: ...", and "capacity overflow". Polls for
// interrupts; the merged patterns are checked against the memory limit.
KronSumShape kron_sum_shape(std::span<const KronTerm> terms, std::uint64_t row_begin, std::uint64_t row_end);

// Writes the rows of `shape` and returns the entry count. An entry is
// t * s for each term that has one there, summed in the order of the terms
// (each product t * s; the sum starts from the first product). With two or
// more terms entries that sum to zero (of either sign) are left out, as an
// addition of sparse matrices leaves them out; a single term keeps its
// explicit zeros. The terms must outlive the call. Polls for interrupts.
template <class Index>
std::uint64_t fill_kron_sum(std::span<const KronTerm> terms, const KronSumShape& shape,
                            const linear_algebra::CsrRows<Index>& out);

// The entry counts of the rows of `shape` that fill_kron_sum would write,
// split by column: inside[i] counts row i's entries in the columns
// [column_begin, column_end), outside[i] the others. No entry is written:
// each sum is formed only to see whether it is kept (zero sums leave as in
// the fill), and with one term not even that. Faults: "column block out of
// range", "kron_sum count storage has the wrong length". Polls for
// interrupts.
void count_kron_sum(std::span<const KronTerm> terms, const KronSumShape& shape, std::uint64_t column_begin,
                    std::uint64_t column_end, std::span<std::int64_t> inside, std::span<std::int64_t> outside);

}  // namespace zelk::sparse_matrix_tools
