// A CsrMatrix whose rows a builder writes straight into the matrix's own arrays.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "linear_algebra/csr_matrix.hpp"
#include "linear_algebra/csr_rows.hpp"

namespace zelk::linear_algebra {

// Room for nrows rows and up to max_nnz entries, all of which must fit before
// any is reserved, so an impossible request fails before any work. fill
// writes the rows into it and returns their entry count; `what` names the
// builder in the fault for rows that do not form a valid matrix.
template <class Fill>
CsrMatrix csr_filled_by(std::uint64_t nrows, std::uint64_t ncols, std::uint64_t max_nnz, std::string_view what,
                        Fill&& fill)
{
    require_memory(checked_length<std::uint64_t>(max_nnz), sizeof(std::uint64_t) + sizeof(double));
    std::vector<std::uint64_t> offsets = reserved_vector<std::uint64_t>(checked_add(nrows, 1));
    std::vector<std::uint64_t> cols = reserved_vector<std::uint64_t>(max_nnz);
    std::vector<double> values = reserved_vector<double>(max_nnz);
    // First touch of gigabytes takes a while: a piece at a time, polling between.
    fill_interruptibly(offsets, nrows + 1, std::uint64_t{0});
    fill_interruptibly(cols, max_nnz, std::uint64_t{0});
    fill_interruptibly(values, max_nnz, 0.0);
    const std::uint64_t nnz = fill(CsrRows<std::uint64_t>{offsets, cols, values});
    cols.resize(nnz);
    values.resize(nnz);
    auto result = CsrMatrix::try_from_csr_data(nrows, ncols, std::move(offsets), std::move(cols), std::move(values));
    if (auto* error = std::get_if<SparseFormatError>(&result))
        fail("Internal error: invalid CSR data from the " + std::string(what) + " rows: " + error->error);
    return std::get<CsrMatrix>(std::move(result));
}

}  // namespace zelk::linear_algebra
