// CsrMatrix: construction from raw arrays through the pattern validation plus the value count.
#include "linear_algebra/csr_matrix.hpp"

#include <utility>

namespace zelk::linear_algebra {

CsrMatrix::CsrMatrix(SparsityPattern pattern, std::vector<double> values) noexcept
    : pattern_(std::move(pattern)), values_(std::move(values))
{
}

std::variant<CsrMatrix, SparseFormatError> CsrMatrix::try_from_csr_data(std::uint64_t nrows, std::uint64_t ncols,
                                                                        std::vector<std::uint64_t> row_offsets,
                                                                        std::vector<std::uint64_t> col_indices,
                                                                        std::vector<double> values)
{
    auto pattern =
        SparsityPattern::try_from_offsets_and_indices(nrows, ncols, std::move(row_offsets), std::move(col_indices));
    if (auto* error = std::get_if<SparseFormatError>(&pattern)) return std::move(*error);
    SparsityPattern& valid = std::get<SparsityPattern>(pattern);
    if (values.size() != valid.nnz())
        return SparseFormatError{SparseFormatErrorKind::InvalidStructure,
                                 "Number of values and column indices must be the same"};
    return CsrMatrix(std::move(valid), std::move(values));
}

}  // namespace zelk::linear_algebra
