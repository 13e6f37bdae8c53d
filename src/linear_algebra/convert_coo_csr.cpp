// COO -> CSR: counting pass, scatter by row in insertion order, per-row sort and summing of repeats.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "linear_algebra/sparse_conversions.hpp"

namespace zelk::linear_algebra {

namespace {

using Index = std::uint64_t;

// Rows up to this length are sorted stably, so their repeats add up in the
// order they were pushed.
constexpr std::size_t stable_row_limit = 20;

void insertion_sort(Index* col, double* val, std::size_t n)
{
    for (std::size_t k = 1; k < n; ++k) {
        const Index c = col[k];
        const double v = val[k];
        std::size_t pos = k;
        for (; pos > 0 && col[pos - 1] > c; --pos) {
            col[pos] = col[pos - 1];
            val[pos] = val[pos - 1];
        }
        col[pos] = c;
        val[pos] = v;
    }
}

void sift_down(Index* col, double* val, std::size_t root, std::size_t n)
{
    for (;;) {
        std::size_t child = 2 * root + 1;
        if (child >= n) return;
        if (child + 1 < n && col[child + 1] > col[child]) ++child;
        if (col[child] <= col[root]) return;
        std::swap(col[root], col[child]);
        std::swap(val[root], val[child]);
        root = child;
    }
}

// Long rows need no stable order and can be as long as the matrix, so they are
// sorted in place on the two parallel arrays, with no scratch.
void heap_sort(Index* col, double* val, std::size_t n)
{
    for (std::size_t k = n / 2; k-- > 0;) sift_down(col, val, k, n);
    for (std::size_t end = n; end-- > 1;) {
        std::swap(col[0], col[end]);
        std::swap(val[0], val[end]);
        sift_down(col, val, 0, end);
    }
}

void sort_row(Index* col, double* val, std::size_t n)
{
    if (n <= stable_row_limit) {
        insertion_sort(col, val, n);
    } else if (!std::is_sorted(col, col + n)) {
        heap_sort(col, val, n);
    }
}

// Counting pass: off[r + 1] = number of entries in row r.
std::vector<Index> row_counts(const std::vector<Index>& rows, std::uint64_t nrows)
{
    std::vector<Index> off = reserved_vector<Index>(checked_add(nrows, 1));
    fill_interruptibly(off, nrows + 1, Index{0});
    for_each_piece(0, rows.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t k = first; k < last; ++k) ++off[rows[k] + 1];
    });
    return off;
}

// Counts -> row offsets: off[r + 1] = one past the last position of row r.
void counts_to_offsets(std::vector<Index>& off)
{
    for_each_piece(1, off.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t r = first; r < last; ++r) off[r] += off[r - 1];
    });
}

// Counts -> scatter cursors: off[r + 1] = first position of row r.
void counts_to_cursors(std::vector<Index>& off)
{
    Index start = 0;
    for_each_piece(1, off.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t r = first; r < last; ++r) {
            const Index count = off[r];
            off[r] = start;
            start += count;
        }
    });
}

// Writes src to its row's next free position, keeping insertion order within
// a row. Afterwards off[r + 1] is one past the last position of row r, which
// makes `off` the row offsets of the scattered arrays.
template <class T>
std::vector<T> scatter(const std::vector<Index>& rows, const std::vector<T>& src, std::vector<Index>& off)
{
    std::vector<T> out = reserved_vector<T>(src.size());
    fill_interruptibly(out, src.size(), T{});
    for_each_piece(0, src.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t k = first; k < last; ++k) out[off[rows[k] + 1]++] = src[k];
    });
    return out;
}

// Turns scattered offsets back into scatter cursors for a second pass.
void rewind(std::vector<Index>& off)
{
    const std::size_t top = off.size() - 1;
    for_each_piece(0, top, [&](std::size_t first, std::size_t last) {
        for (std::size_t t = first; t < last; ++t) off[top - t] = off[top - t - 1];
    });
}

bool sorted(const std::vector<Index>& v)
{
    bool in_order = true;
    for_each_piece(0, v.size(), [&](std::size_t first, std::size_t last) {
        in_order = in_order && std::is_sorted(v.begin() + static_cast<std::ptrdiff_t>(first > 0 ? first - 1 : 0),
                                              v.begin() + static_cast<std::ptrdiff_t>(last));
    });
    return in_order;
}

template <class T>
void release(std::vector<T>& v) noexcept
{
    std::vector<T>().swap(v);
}

// Sorts each row by column and sums runs of equal columns left to right,
// compacting in place: the write position never passes the read position.
CsrMatrix sort_and_sum_rows(std::uint64_t nrows, std::uint64_t ncols, std::vector<Index> off, std::vector<Index> col,
                            std::vector<double> val)
{
    Index w = 0;
    Index begin = 0;
    InterruptCountdown countdown;
    for (std::uint64_t r = 0; r < nrows; ++r) {
        const Index end = off[r + 1];
        countdown.tick(end - begin + 1);
        sort_row(col.data() + begin, val.data() + begin, end - begin);
        for (Index k = begin; k < end;) {
            const Index c = col[k];
            double sum = val[k];
            for (++k; k < end && col[k] == c; ++k) sum = sum + val[k];
            col[w] = c;
            val[w] = sum;
            ++w;
        }
        off[r + 1] = w;
        begin = end;
    }
    col.resize(w);
    val.resize(w);

    auto result = CsrMatrix::try_from_csr_data(nrows, ncols, std::move(off), std::move(col), std::move(val));
    if (auto* error = std::get_if<SparseFormatError>(&result))
        fail("Internal error: Invalid CSR data during COO->CSR conversion: " + error->error);
    return std::get<CsrMatrix>(std::move(result));
}

void check_lengths(const std::vector<Index>& rows, const std::vector<Index>& cols, const std::vector<double>& vals)
{
    check_equal(cols.size(), rows.size(), "COO column indices and row indices differ in length");
    check_equal(vals.size(), rows.size(), "COO values and row indices differ in length");
}

}  // namespace

CsrMatrix convert_coo_csr(const CooMatrix& coo)
{
    check_lengths(coo.row_indices(), coo.col_indices(), coo.values());
    std::vector<Index> off = row_counts(coo.row_indices(), coo.nrows());
    counts_to_cursors(off);
    std::vector<Index> col = scatter(coo.row_indices(), coo.col_indices(), off);
    rewind(off);
    std::vector<double> val = scatter(coo.row_indices(), coo.values(), off);
    return sort_and_sum_rows(coo.nrows(), coo.ncols(), std::move(off), std::move(col), std::move(val));
}

CsrMatrix convert_coo_csr(CooMatrix&& coo)
{
    const std::uint64_t nrows = coo.nrows();
    const std::uint64_t ncols = coo.ncols();
    CooArrays in = std::move(coo).release_arrays();
    check_lengths(in.row_indices, in.col_indices, in.values);
    std::vector<Index> off = row_counts(in.row_indices, nrows);
    if (sorted(in.row_indices)) {
        // Pushed row by row, as every assembly in the module does: the scatter
        // would not move anything, so the arrays are taken over as they are.
        release(in.row_indices);
        counts_to_offsets(off);
        return sort_and_sum_rows(nrows, ncols, std::move(off), std::move(in.col_indices), std::move(in.values));
    }
    counts_to_cursors(off);
    // Scatter one array at a time and drop its source at once: at most four
    // entry-sized arrays are alive, not five.
    std::vector<Index> col = scatter(in.row_indices, in.col_indices, off);
    release(in.col_indices);
    rewind(off);
    std::vector<double> val = scatter(in.row_indices, in.values, off);
    release(in.values);
    release(in.row_indices);
    return sort_and_sum_rows(nrows, ncols, std::move(off), std::move(col), std::move(val));
}

}  // namespace zelk::linear_algebra
