// CsrMatrix: a sparse matrix of doubles in compressed sparse row form, built only from validated arrays.
#pragma once

#include <cstdint>
#include <variant>
#include <vector>

#include "fault/interrupt.hpp"
#include "linear_algebra/sparse_format_error.hpp"
#include "linear_algebra/sparsity_pattern.hpp"

namespace zelk::linear_algebra {

// Entries are stored row after row with strictly increasing columns; this
// storage order is the order of every enumeration and export.
class CsrMatrix {
public:
    // Takes the arrays; checks the pattern, then that there is one value per
    // column index. On failure returns the first failing check.
    static std::variant<CsrMatrix, SparseFormatError> try_from_csr_data(std::uint64_t nrows, std::uint64_t ncols,
                                                                        std::vector<std::uint64_t> row_offsets,
                                                                        std::vector<std::uint64_t> col_indices,
                                                                        std::vector<double> values);

    std::uint64_t nrows() const { return pattern_.major_dim(); }
    std::uint64_t ncols() const noexcept { return pattern_.minor_dim(); }
    std::uint64_t nnz() const noexcept { return values_.size(); }
    const SparsityPattern& pattern() const noexcept { return pattern_; }
    const std::vector<std::uint64_t>& row_offsets() const noexcept { return pattern_.major_offsets(); }
    const std::vector<std::uint64_t>& col_indices() const noexcept { return pattern_.minor_indices(); }
    const std::vector<double>& values() const noexcept { return values_; }

    // Calls f(row, col, value) for every stored entry in storage order.
    template <class F>
    void for_each_entry(F&& f) const
    {
        const std::vector<std::uint64_t>& off = row_offsets();
        const std::vector<std::uint64_t>& col = col_indices();
        const std::uint64_t n = nrows();
        InterruptCountdown countdown;
        for (std::uint64_t r = 0; r < n; ++r) {
            for (std::uint64_t k = off[r]; k < off[r + 1]; ++k) f(r, col[k], values_[k]);
            countdown.tick(off[r + 1] - off[r] + 1);
        }
    }

private:
    CsrMatrix(SparsityPattern pattern, std::vector<double> values) noexcept;

    SparsityPattern pattern_;
    std::vector<double> values_;
};

}  // namespace zelk::linear_algebra
