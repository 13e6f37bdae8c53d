// CsrResult: index width, one memory check for all three arrays, and the result tuple.
#include "arrays/csr_result.hpp"

#include <algorithm>
#include <string>

#include "fault/checked_size.hpp"

namespace zelk::arrays {
namespace {

constexpr std::uint64_t int32_max = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());

bool needs_int64(std::uint64_t nrows, std::uint64_t ncols, std::uint64_t max_nnz)
{
    return std::max({nrows, ncols, max_nnz}) > int32_max;
}

constexpr std::uint64_t int64_max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

// Counts that no int64 index can address are an OverflowError naming the
// count; everything else that does not fit is a MemoryError, as in zelk.
void require_int64_indices(std::uint64_t nrows, std::uint64_t ncols, std::uint64_t max_nnz)
{
    const struct {
        std::uint64_t count;
        std::uint64_t limit;
        const char* what;
    } sizes[] = {{nrows, int64_max - 1, "rows"},  // indptr holds nrows + 1 offsets
                 {ncols, int64_max, "columns"},
                 {max_nnz, int64_max, "stored entries"}};
    for (const auto& size : sizes) {
        if (size.count > size.limit)
            raise(PyExc_OverflowError,
                  "the matrix's " + std::to_string(size.count) + " " + size.what + " exceed the int64 index range");
    }
}

bool wide(std::uint64_t nrows, std::uint64_t ncols, std::uint64_t max_nnz, IndexWidth width)
{
    if (width == IndexWidth::int64) return true;
    if (width == IndexWidth::automatic) return needs_int64(nrows, ncols, max_nnz);
    // scipy keeps int32 indices only where the shape fits them too.
    const std::uint64_t largest = std::max({nrows, ncols, max_nnz});
    if (largest > int32_max)
        raise(PyExc_OverflowError, "index_dtype=int32 cannot hold this matrix: its largest index or size, " +
                                       std::to_string(largest) + ", exceeds 2147483647; use int64");
    return false;
}

std::size_t index_size(std::uint64_t nrows, std::uint64_t ncols, std::uint64_t max_nnz, IndexWidth width)
{
    require_int64_indices(nrows, ncols, max_nnz);
    const std::size_t size = wide(nrows, ncols, max_nnz, width) ? sizeof(std::int64_t) : sizeof(std::int32_t);
    // The whole matrix at once: a request that cannot fit fails before any array is made.
    require_memory(max_nnz, size + sizeof(double));
    require_memory(nrows, size);
    return size;
}

}  // namespace

IndexWidth index_width_arg(PyObject* object)
{
    const std::uint64_t width = u64_arg(object);
    if (width != 0 && width != 4 && width != 8) raise(PyExc_ValueError, "index width must be 0, 4 or 8");
    return static_cast<IndexWidth>(width);
}

CsrResult::CsrResult(std::uint64_t nrows, std::uint64_t ncols, std::uint64_t max_nnz, IndexWidth width)
    : nrows_(nrows),
      ncols_(ncols),
      offsets_(checked_add(nrows, 1), index_size(nrows, ncols, max_nnz, width)),
      indices_(max_nnz, offsets_.item_size()),
      values_(max_nnz, sizeof(double))
{
    wide_ = offsets_.item_size() == sizeof(std::int64_t);
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
