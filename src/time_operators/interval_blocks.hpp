// Many sub-intervals' entries at once: a template of reference terms times each step, in the active vector level.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "linear_algebra/csr_rows.hpp"
#include "time_operators/double_double.hpp"

namespace zelk::time_operators {

// How a builder takes the step h_k = t_{k+1} - t_k from the points, exactly:
// the two-sum of t_{k+1} and -t_k, or DoubleDouble's difference of the two.
enum class StepSum : unsigned char { two_sum, difference };

// A sub-interval's entries as a template: entry e is one reference term times
// the step of k (or of k - 1), rounded once as ScaledTerms rounds it, or one
// or two such products summed in double-double from zero and rounded once;
// its column is k column_stride + its own. Sub-intervals differ only in their
// steps, so a block of them is computed entry by entry across the block (the
// loops the compiler vectorises; IEEE operations give the same bits at every
// width), then placed in the output sub-interval by sub-interval.
class IntervalBlocks {
public:
    // Room for `capacity` entries. check_previous: compute() checks the step
    // before each sub-interval even where no entry reads it.
    IntervalBlocks(StepSum form, std::uint64_t column_stride, std::uint64_t capacity, bool check_previous = false);

    // An entry of one product, rounded alone.
    void add(const DoubleDouble& factor, bool previous, std::int64_t column);
    // An entry summed from zero: the product of `factor`, then, if `terms` is 2, that of `second`.
    void add_sum(std::uint64_t terms, const DoubleDouble& factor, bool previous, const DoubleDouble& second,
                 bool second_previous, std::int64_t column);

    // An entry as a rounded integral of two shares: value_i * h and magnitude_i * h
    // by DoubleDouble's product, summed, rounded_integral of the two sums. Each
    // factor's leading part must lie within [2^-480, 2^480] (as each step must,
    // which compute() reports), where the product is Dekker's without rescaling.
    void add_rounded_pair(const DoubleDouble& value, const DoubleDouble& magnitude, bool previous,
                          const DoubleDouble& second_value, const DoubleDouble& second_magnitude, bool second_previous,
                          std::int64_t column);

    std::uint64_t size() const noexcept { return entries_.size(); }

    // Sizes the block for the template, once it is complete: room for its
    // entries over `block` sub-intervals at most (a multiple of 8 that keeps
    // them to some 16 KB where the template is short).
    void prepare();
    std::uint64_t block() const noexcept { return block_; }

    // Entries [e_begin, e_end) of sub-intervals k0 ... k0 + n - 1 (n <= block())
    // computed: the steps from `points`, the step before k0 that of k0 - 1
    // (of k0 itself when k0 is 0, where no entry reads it). Returns whether
    // each step an entry reads lies within [2^-480, 2^480] in magnitude.
    bool compute(const double* points, std::uint64_t k0, std::uint64_t n, std::uint64_t e_begin, std::uint64_t e_end);

    // Entry e of sub-interval k0 + j, as compute() left it.
    double value(std::uint64_t e, std::uint64_t j) const noexcept { return values_[e * block_ + j]; }

    // The computed entries [e_begin, e_end), sub-interval after sub-interval
    // from columns and values on; columns k column_stride + their own.
    template <class Index>
    void place(std::uint64_t k0, std::uint64_t n, std::uint64_t e_begin, std::uint64_t e_end, Index* columns,
               double* values) const;

    // All computed entries of sub-intervals k0 ... k0 + n - 1 placed in `out`
    // from entry nnz and row r on, with the row offsets: row i of each
    // sub-interval ends at entry row_ends[i] of its template. Advances nnz and r.
    template <class Index>
    void place_rows(std::uint64_t k0, std::uint64_t n, std::span<const std::uint64_t> row_ends,
                    const linear_algebra::CsrRows<Index>& out, std::uint64_t& nnz, std::uint64_t& r) const
    {
        const std::uint64_t entries = size();
        const std::uint64_t rows = row_ends.size();
        place(k0, n, 0, entries, out.col_indices.data() + nnz, out.values.data() + nnz);
        Index* const offsets = out.offsets.data() + r + 1;
        for (std::uint64_t j = 0; j < n; ++j) {
            for (std::uint64_t i = 0; i < rows; ++i)
                offsets[j * rows + i] = static_cast<Index>(nnz + j * entries + row_ends[i]);
        }
        nnz += n * entries;
        r += n * rows;
    }

    // A term of an entry: its factor split as SplitDoubleDouble splits it.
    struct Term {
        double value = 0.0;
        double high = 0.0;
        double low = 0.0;
        double tail = 0.0;
        unsigned char previous = 0;  // 1: scaled by the step of k - 1
    };

    enum class Kind : unsigned char { single, sum_of_one, sum_of_two, rounded_pair };

    // A rounded pair's factor: a double-double and its leading part split (two_product's split).
    struct Factor {
        double hi = 0.0;
        double lo = 0.0;
        double high = 0.0;
        double low = 0.0;
    };

    struct Entry {
        Term first;
        Term second;
        Kind kind;
        std::int64_t column;
        Factor pair[4];  // a rounded pair's value and magnitude of each share
    };

private:
    static Term term(const DoubleDouble& factor, bool previous) noexcept;

    StepSum form_;
    std::uint64_t column_stride_;
    bool check_previous_;
    bool reads_previous_ = false;
    std::uint64_t block_ = 0;
    std::vector<Entry> entries_;
    std::vector<std::int64_t> columns_;
    // The split steps of k0 - 1 ... k0 + n - 1, part by part, then the values entry by entry (block_ each).
    std::vector<double> steps_;
    std::vector<double> values_;
};

}  // namespace zelk::time_operators
