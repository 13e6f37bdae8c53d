// CsrResult: index width, one memory check for all three arrays, and the result tuple.
#include "arrays/csr_result.hpp"

#include <algorithm>

#include "fault/checked_size.hpp"

namespace zelk::arrays {
namespace {

constexpr std::uint64_t int32_max = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());

bool needs_int64(std::uint64_t nrows, std::uint64_t ncols, std::uint64_t max_nnz)
{
    return std::max({nrows, ncols, max_nnz}) > int32_max;
}

std::size_t index_size(std::uint64_t nrows, std::uint64_t ncols, std::uint64_t max_nnz)
{
    const std::size_t size = needs_int64(nrows, ncols, max_nnz) ? sizeof(std::int64_t) : sizeof(std::int32_t);
    // The whole matrix at once: a request that cannot fit fails before any array is made.
    require_memory(checked_length<double>(max_nnz), size + sizeof(double));
    return size;
}

}  // namespace

CsrResult::CsrResult(std::uint64_t nrows, std::uint64_t ncols, std::uint64_t max_nnz)
    : nrows_(nrows),
      ncols_(ncols),
      wide_(needs_int64(nrows, ncols, max_nnz)),
      offsets_(checked_add(nrows, 1), index_size(nrows, ncols, max_nnz)),
      indices_(max_nnz, offsets_.item_size()),
      values_(max_nnz, sizeof(double))
{
}

PyRef CsrResult::to_python(std::uint64_t nnz) &&
{
    indices_.shrink(nnz);
    values_.shrink(nnz);
    const std::size_t item_size = offsets_.item_size();
    PyRef data = std::move(values_).to_python();
    PyRef indices = std::move(indices_).to_python();
    PyRef indptr = std::move(offsets_).to_python();
    return checked(Py_BuildValue("(NNNnKK)", data.release(), indices.release(), indptr.release(),
                                 static_cast<Py_ssize_t>(item_size), static_cast<unsigned long long>(nrows_),
                                 static_cast<unsigned long long>(ncols_)));
}

}  // namespace zelk::arrays
