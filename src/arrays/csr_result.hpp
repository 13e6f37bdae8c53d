// CsrResult: the three arrays of a compressed sparse row matrix, sized once, filled by the core, handed to Python.
#pragma once

#include <cstdint>
#include <limits>
#include <utility>

#include "arrays/frame.hpp"
#include "arrays/raw_array.hpp"
#include "linear_algebra/csr_rows.hpp"

namespace zelk::arrays {

// The caller's index width: scipy's choice for the shape, or a fixed one.
enum class IndexWidth { automatic = 0, int32 = 4, int64 = 8 };

// 0, 4 or 8 from the package's Python side, which has checked it.
IndexWidth index_width_arg(PyObject* object);

class CsrResult {
public:
    // Storage for nrows rows, ncols columns and up to max_nnz entries, with
    // int32 indices where every index and offset fits, as scipy chooses them,
    // else int64, unless `width` fixes them: int32 for a matrix that int32
    // cannot index is an OverflowError naming the largest size. All three
    // arrays must fit in memory before any is made.
    CsrResult(std::uint64_t nrows, std::uint64_t ncols, std::uint64_t max_nnz,
              IndexWidth width = IndexWidth::automatic);

    // Calls fill(rows) with the CsrRows of the chosen index type and returns
    // what it returns; runs without the GIL.
    template <class Fill>
    auto fill(Fill&& fill)
    {
        WithoutGil released;
        if (wide_) return fill(rows<std::int64_t>());
        return fill(rows<std::int32_t>());
    }

    // (data, indices, indptr, index item size, nrows, ncols), storage shrunk to nnz entries.
    PyRef to_python(std::uint64_t nnz) &&;

private:
    template <class Index>
    linear_algebra::CsrRows<Index> rows()
    {
        return {offsets_.as<Index>(), indices_.as<Index>(), values_.as<double>()};
    }

    std::uint64_t nrows_;
    std::uint64_t ncols_;
    bool wide_;
    RawArray offsets_;
    RawArray indices_;
    RawArray values_;
};

}  // namespace zelk::arrays
