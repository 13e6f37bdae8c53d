// kron_sum: the plan (time blocks per time row, merged space patterns per set of terms) and the row fill.
//
// Row (r, i) of sum_t kron(T_t, S_t) holds, for each time column c that some
// T_t has in row r, the columns c * ncols(S) + j of the space rows i of those
// terms. Which terms meet at (r, c) varies little, so the union of their
// space patterns is merged once per set of terms, with the positions each
// term's entries add to; the fill then only multiplies, adds and writes.
#include "sparse_matrix_tools/kron_sum.hpp"

#include <algorithm>
#include <map>
#include <string>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"

namespace zelk::sparse_matrix_tools {

using linear_algebra::CsrRows;

// The union of the space patterns of a set of terms (two or more), and for
// each entry of the union the terms' entries that add to it, in term order.
struct MergedPattern {
    std::vector<std::uint64_t> offsets;
    std::vector<std::int64_t> columns;
    std::vector<std::uint64_t> first_addend;  // addends of entry u: [first_addend[u], first_addend[u + 1])
    std::vector<std::uint32_t> addend_slot;   // the term's place in the set
    std::vector<const double*> addend_value;  // the value of that term's space factor there
};

struct KronSumPlan {
    // Time column c, and the set of terms with an entry at (r, c): a pattern
    // and the terms' time values, in term order, at [first_value, end).
    struct Block {
        std::uint64_t time_column;
        std::uint32_t pattern;
        std::uint64_t first_value;
    };
    // Pattern p is one term's own space factor (single_term[p]) or merged[merged_index[p]].
    static constexpr std::uint32_t merged_flag = 0x80000000u;
    std::vector<std::uint32_t> patterns;  // term index, or merged index | merged_flag
    std::vector<MergedPattern> merged;
    std::vector<std::uint64_t> pattern_nnz;

    std::uint64_t row_begin = 0;
    std::uint64_t row_end = 0;
    std::vector<std::uint64_t> first_block;  // blocks of time row row_begin + k: [first_block[k], first_block[k + 1])
    std::vector<Block> blocks;
    std::vector<std::uint64_t> value_end;  // per block, one past its last time value
    std::vector<double> values;
};

namespace {

void check_factor(const CsrFactor& f, const char* which)
{
    const std::string what = std::string("malformed CSR factor: the ") + which + " factor's ";
    if (f.offsets.size() != f.nrows + 1 || f.offsets[0] != 0) fail(what + "row offsets");
    const auto nnz = static_cast<std::uint64_t>(f.offsets[f.nrows]);
    if (f.offsets[f.nrows] < 0 || nnz > f.indices.size() || nnz > f.values.size()) fail(what + "row offsets");
    InterruptCountdown countdown;
    for (std::uint64_t r = 0; r < f.nrows; ++r) {
        const std::int64_t begin = f.offsets[r];
        const std::int64_t end = f.offsets[r + 1];
        if (end < begin) fail(what + "row offsets");
        std::int64_t previous = -1;
        for (std::int64_t e = begin; e < end; ++e) {
            const std::int64_t column = f.indices[static_cast<std::size_t>(e)];
            if (column <= previous || static_cast<std::uint64_t>(column) >= f.ncols)
                fail(what + "column indices (out of range, unsorted or repeated)");
            previous = column;
        }
        countdown.tick(static_cast<std::uint64_t>(end - begin) + 1);
    }
}

MergedPattern merge_patterns(std::span<const KronTerm> terms, const std::vector<std::uint32_t>& set)
{
    const std::uint64_t nrows = terms[0].space.nrows;
    std::uint64_t bound = 0;
    for (const std::uint32_t t : set)
        bound = checked_add(bound, static_cast<std::uint64_t>(terms[t].space.offsets[nrows]));
    MergedPattern m;
    m.offsets = reserved_vector<std::uint64_t>(checked_add(nrows, 1));
    m.columns = reserved_vector<std::int64_t>(bound);
    m.first_addend = reserved_vector<std::uint64_t>(checked_add(bound, 1));
    m.addend_slot = reserved_vector<std::uint32_t>(bound);
    m.addend_value = reserved_vector<const double*>(bound);
    std::vector<std::int64_t> head(set.size());
    std::vector<std::int64_t> end(set.size());
    m.offsets.push_back(0);
    m.first_addend.push_back(0);
    InterruptCountdown countdown;
    for (std::uint64_t r = 0; r < nrows; ++r) {
        for (std::size_t s = 0; s < set.size(); ++s) {
            head[s] = terms[set[s]].space.offsets[r];
            end[s] = terms[set[s]].space.offsets[r + 1];
        }
        for (;;) {
            std::int64_t column = -1;
            for (std::size_t s = 0; s < set.size(); ++s) {
                if (head[s] == end[s]) continue;
                const std::int64_t c = terms[set[s]].space.indices[static_cast<std::size_t>(head[s])];
                if (column < 0 || c < column) column = c;
            }
            if (column < 0) break;
            for (std::size_t s = 0; s < set.size(); ++s) {
                if (head[s] == end[s] || terms[set[s]].space.indices[static_cast<std::size_t>(head[s])] != column)
                    continue;
                m.addend_slot.push_back(static_cast<std::uint32_t>(s));
                m.addend_value.push_back(&terms[set[s]].space.values[static_cast<std::size_t>(head[s]++)]);
            }
            m.columns.push_back(column);
            m.first_addend.push_back(m.addend_slot.size());
        }
        m.offsets.push_back(m.columns.size());
        countdown.tick(m.columns.size() - m.offsets[r] + 1);
    }
    return m;
}

struct TimeEntry {
    std::uint64_t column;
    std::uint32_t term;
    double value;
};

}  // namespace

KronSumShape kron_sum_shape(std::span<const KronTerm> terms, std::uint64_t row_begin, std::uint64_t row_end)
{
    if (terms.empty()) fail("kron_sum needs at least one term");
    if (terms.size() >= KronSumPlan::merged_flag) fail(capacity_overflow);
    const CsrFactor& time0 = terms[0].time;
    const CsrFactor& space0 = terms[0].space;
    for (const KronTerm& term : terms) {
        if (term.time.nrows != time0.nrows || term.time.ncols != time0.ncols || term.space.nrows != space0.nrows ||
            term.space.ncols != space0.ncols)
            fail("kron_sum factors differ in shape");
        check_factor(term.time, "time");
        check_factor(term.space, "space");
    }
    if (row_begin > row_end || row_end > time0.nrows) fail("time row range out of bounds");

    KronSumShape shape;
    shape.nrows = checked_mul(row_end - row_begin, space0.nrows);
    shape.ncols = checked_mul(time0.ncols, space0.ncols);
    auto plan = std::make_shared<KronSumPlan>();
    plan->row_begin = row_begin;
    plan->row_end = row_end;

    std::uint64_t time_entries = 0;
    for (const KronTerm& term : terms) {
        const auto& o = term.time.offsets;
        time_entries = checked_add(time_entries, static_cast<std::uint64_t>(o[row_end] - o[row_begin]));
    }
    plan->first_block = reserved_vector<std::uint64_t>(checked_add(row_end - row_begin, 1));
    plan->blocks = reserved_vector<KronSumPlan::Block>(time_entries);
    plan->value_end = reserved_vector<std::uint64_t>(time_entries);
    plan->values = reserved_vector<double>(time_entries);

    std::map<std::vector<std::uint32_t>, std::uint32_t> pattern_of_set;
    std::vector<TimeEntry> row;
    std::vector<std::uint32_t> set;
    std::uint64_t max_nnz = 0;
    InterruptCountdown countdown;
    plan->first_block.push_back(0);
    for (std::uint64_t r = row_begin; r < row_end; ++r) {
        row.clear();
        for (std::uint32_t t = 0; t < terms.size(); ++t) {
            const CsrFactor& f = terms[t].time;
            for (auto e = static_cast<std::size_t>(f.offsets[r]); e < static_cast<std::size_t>(f.offsets[r + 1]); ++e)
                row.push_back({static_cast<std::uint64_t>(f.indices[e]), t, f.values[e]});
        }
        // Term order is kept among equal columns: the sum adds in that order.
        std::stable_sort(row.begin(), row.end(),
                         [](const TimeEntry& a, const TimeEntry& b) { return a.column < b.column; });
        for (std::size_t e = 0; e < row.size();) {
            const std::size_t first = e;
            set.clear();
            for (; e < row.size() && row[e].column == row[first].column; ++e) {
                set.push_back(row[e].term);
                plan->values.push_back(row[e].value);
            }
            auto [found, added] = pattern_of_set.try_emplace(set, static_cast<std::uint32_t>(plan->patterns.size()));
            if (added) {
                if (set.size() == 1) {
                    plan->patterns.push_back(set[0]);
                    plan->pattern_nnz.push_back(static_cast<std::uint64_t>(space0.nrows == 0 ? 0 :
                        terms[set[0]].space.offsets[space0.nrows]));
                } else {
                    plan->patterns.push_back(static_cast<std::uint32_t>(plan->merged.size()) | KronSumPlan::merged_flag);
                    plan->merged.push_back(merge_patterns(terms, set));
                    plan->pattern_nnz.push_back(plan->merged.back().columns.size());
                }
            }
            plan->blocks.push_back({row[first].column, found->second, plan->values.size() - set.size()});
            plan->value_end.push_back(plan->values.size());
            max_nnz = checked_add(max_nnz, plan->pattern_nnz[found->second]);
        }
        plan->first_block.push_back(plan->blocks.size());
        countdown.tick(row.size() + 1);
    }
    shape.max_nnz = max_nnz;
    shape.plan = std::move(plan);
    return shape;
}

template <class Index>
std::uint64_t fill_kron_sum(std::span<const KronTerm> terms, const KronSumShape& shape, const CsrRows<Index>& out)
{
    linear_algebra::check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    const KronSumPlan& plan = *shape.plan;
    const std::uint64_t space_rows = terms[0].space.nrows;
    const auto space_cols = static_cast<std::int64_t>(terms[0].space.ncols);
    const bool drop_zeros = terms.size() >= 2;
    Index* const columns = out.col_indices.data();
    double* const values = out.values.data();
    std::uint64_t n = 0;
    std::uint64_t row = 0;
    out.offsets[0] = 0;
    InterruptCountdown countdown;
    for (std::uint64_t k = 0; k < plan.row_end - plan.row_begin; ++k) {
        const std::uint64_t block_end = plan.first_block[k + 1];
        for (std::uint64_t i = 0; i < space_rows; ++i) {
            const std::uint64_t row_start = n;
            for (std::uint64_t b = plan.first_block[k]; b < block_end; ++b) {
                const KronSumPlan::Block& block = plan.blocks[b];
                const std::int64_t base = static_cast<std::int64_t>(block.time_column) * space_cols;
                const double* t = plan.values.data() + block.first_value;
                const std::uint32_t pattern = plan.patterns[block.pattern];
                if (!(pattern & KronSumPlan::merged_flag)) {
                    const CsrFactor& s = terms[pattern].space;
                    const auto begin = static_cast<std::size_t>(s.offsets[i]);
                    const auto end = static_cast<std::size_t>(s.offsets[i + 1]);
                    const std::int64_t* sc = s.indices.data();
                    const double* sv = s.values.data();
                    const double tv = t[0];
                    if (drop_zeros) {
                        // Written at once, kept by advancing n only where nonzero: no branch to mispredict.
                        for (std::size_t e = begin; e < end; ++e) {
                            const double v = tv * sv[e];
                            columns[n] = static_cast<Index>(base + sc[e]);
                            values[n] = v;
                            n += (v != 0.0);
                        }
                    } else {
                        for (std::size_t e = begin; e < end; ++e) {
                            columns[n + (e - begin)] = static_cast<Index>(base + sc[e]);
                            values[n + (e - begin)] = tv * sv[e];
                        }
                        n += end - begin;
                    }
                    continue;
                }
                const MergedPattern& m = plan.merged[pattern & ~KronSumPlan::merged_flag];
                const std::uint64_t* first = m.first_addend.data();
                const std::uint32_t* slot = m.addend_slot.data();
                const double* const* addend = m.addend_value.data();
                for (std::uint64_t u = m.offsets[i]; u < m.offsets[i + 1]; ++u) {
                    std::uint64_t a = first[u];
                    double v = t[slot[a]] * *addend[a];
                    for (++a; a < first[u + 1]; ++a) v += t[slot[a]] * *addend[a];
                    columns[n] = static_cast<Index>(base + m.columns[u]);
                    values[n] = v;
                    n += (v != 0.0);
                }
            }
            out.offsets[++row] = static_cast<Index>(n);
            countdown.tick(n - row_start + 1);
        }
    }
    return n;
}

template std::uint64_t fill_kron_sum(std::span<const KronTerm>, const KronSumShape&, const CsrRows<std::int32_t>&);
template std::uint64_t fill_kron_sum(std::span<const KronTerm>, const KronSumShape&, const CsrRows<std::int64_t>&);

}  // namespace zelk::sparse_matrix_tools
