// kron_sum: the plan (time blocks per time row, merged space patterns per set of terms) and the row fill.
//
// Row (r, i) of sum_t kron(T_t, S_t) holds, for each time column c that some
// T_t has in row r, the columns c * ncols(S) + j of the space rows i of those
// terms. Which terms meet at (r, c) varies little, so the union of their
// space patterns is merged once per set of terms, with the positions each
// term's entries add to; the fill then only multiplies, adds and writes.
#include "sparse_matrix_tools/kron_sum.hpp"

#include <algorithm>
#include <cmath>
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
    std::vector<std::int64_t> offsets;
    std::vector<std::int64_t> columns;
    // The terms' space values at each entry, set.size() of them, 0.0 where a term has none: with finite
    // time values t * 0.0 adds a zero, which changes no sum that is kept (zero sums are left out).
    std::vector<double> dense;
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
    // patterns[p]: a term, whose own space factor is the pattern, or with merged_flag an index into merged.
    static constexpr std::uint32_t merged_flag = 0x80000000u;
    std::vector<std::uint32_t> patterns;
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
    m.offsets = reserved_vector<std::int64_t>(checked_add(nrows, 1));
    m.dense = reserved_vector<double>(checked_mul(bound, set.size()));
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
                if (head[s] == end[s] || terms[set[s]].space.indices[static_cast<std::size_t>(head[s])] != column) {
                    m.dense.push_back(0.0);
                    continue;
                }
                m.dense.push_back(terms[set[s]].space.values[static_cast<std::size_t>(head[s])]);
                m.addend_slot.push_back(static_cast<std::uint32_t>(s));
                m.addend_value.push_back(&terms[set[s]].space.values[static_cast<std::size_t>(head[s]++)]);
            }
            m.columns.push_back(column);
            m.first_addend.push_back(m.addend_slot.size());
        }
        m.offsets.push_back(static_cast<std::int64_t>(m.columns.size()));
        countdown.tick(m.columns.size() - static_cast<std::uint64_t>(m.offsets[r]) + 1);
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
                    plan->pattern_nnz.push_back(static_cast<std::uint64_t>(terms[set[0]].space.offsets[space0.nrows]));
                } else {
                    plan->patterns.push_back(static_cast<std::uint32_t>(plan->merged.size()) |
                                             KronSumPlan::merged_flag);
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

namespace {

// One block of a time row as the fill reads it: the pattern's rows, columns and k values per entry.
struct Run {
    const std::int64_t* offsets;
    const std::int64_t* columns;
    const double* values;  // k per entry
    const double* t;       // k time values
    std::uint32_t k;
    std::int64_t base;
};

// Entry sums from the per-term addends, for time values that are not all finite: absent terms add nothing.
template <class Index>
std::uint64_t write_addends(const MergedPattern& m, std::uint64_t i, const double* t, std::int64_t base, Index* columns,
                            double* values, std::uint64_t n, bool& zero)
{
    for (auto u = static_cast<std::size_t>(m.offsets[i]); u < static_cast<std::size_t>(m.offsets[i + 1]); ++u) {
        std::uint64_t a = m.first_addend[u];
        double v = t[m.addend_slot[a]] * *m.addend_value[a];
        for (++a; a < m.first_addend[u + 1]; ++a) v += t[m.addend_slot[a]] * *m.addend_value[a];
        columns[n] = static_cast<Index>(base + m.columns[u]);
        values[n] = v;
        zero |= v == 0.0;
        ++n;
    }
    return n;
}

}  // namespace

template <class Index>
std::uint64_t fill_kron_sum(std::span<const KronTerm> terms, const KronSumShape& shape, const CsrRows<Index>& out)
{
    linear_algebra::check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    const KronSumPlan& plan = *shape.plan;
    const std::uint64_t space_rows = terms[0].space.nrows;
    const auto space_cols = static_cast<std::int64_t>(terms[0].space.ncols);
    const bool keep_all = terms.size() < 2;
    bool finite = true;
    for (const double t : plan.values) finite = finite && std::isfinite(t);
    Index* const columns = out.col_indices.data();
    double* const values = out.values.data();
    std::uint64_t n = 0;
    std::uint64_t row = 0;
    out.offsets[0] = 0;
    std::vector<Run> runs;
    std::vector<const MergedPattern*> addends;
    std::vector<std::uint64_t> cursor = reserved_vector<std::uint64_t>(space_rows);
    cursor.resize(space_rows);
    InterruptCountdown countdown;
    for (std::uint64_t k = 0; k < plan.row_end - plan.row_begin; ++k) {
        runs.clear();
        addends.clear();
        for (std::uint64_t b = plan.first_block[k]; b < plan.first_block[k + 1]; ++b) {
            const KronSumPlan::Block& block = plan.blocks[b];
            const std::uint32_t pattern = plan.patterns[block.pattern];
            Run run{};
            run.t = plan.values.data() + block.first_value;
            run.base = static_cast<std::int64_t>(block.time_column) * space_cols;
            if (!(pattern & KronSumPlan::merged_flag)) {
                const CsrFactor& s = terms[pattern].space;
                run = {s.offsets.data(), s.indices.data(), s.values.data(), run.t, 1, run.base};
            } else {
                const MergedPattern& m = plan.merged[pattern & ~KronSumPlan::merged_flag];
                run = {m.offsets.data(),
                       m.columns.data(),
                       m.dense.data(),
                       run.t,
                       static_cast<std::uint32_t>(plan.value_end[b] - block.first_value),
                       run.base};
            }
            runs.push_back(run);
            addends.push_back(run.k > 1 && !finite ? &plan.merged[pattern & ~KronSumPlan::merged_flag] : nullptr);
        }
        // Each run writes its entries of every space row at that row's cursor: a tight loop per run, in
        // place of a switch between runs for every row. Zeros are found on the way and dropped afterwards.
        std::uint64_t position = n;
        for (std::uint64_t i = 0; i < space_rows; ++i) {
            cursor[i] = position;
            for (const Run& run : runs) position += static_cast<std::uint64_t>(run.offsets[i + 1] - run.offsets[i]);
        }
        bool zero = false;
        for (std::size_t r = 0; r < runs.size(); ++r) {
            const Run& run = runs[r];
            const std::int64_t base = run.base;
            const std::int64_t* sc = run.columns;
            const double* sv = run.values;
            const std::int64_t* offsets = run.offsets;
            for (std::uint64_t i = 0; i < space_rows; ++i) {
                const auto begin = static_cast<std::size_t>(offsets[i]);
                const auto end = static_cast<std::size_t>(offsets[i + 1]);
                std::uint64_t c = cursor[i];
                if (addends[r] != nullptr) {
                    c = write_addends(*addends[r], i, run.t, base, columns, values, c, zero);
                } else if (run.k == 1) {
                    const double t0 = run.t[0];
                    for (std::size_t e = begin; e < end; ++e, ++c) {
                        const double v = t0 * sv[e];
                        columns[c] = static_cast<Index>(base + sc[e]);
                        values[c] = v;
                        zero |= v == 0.0;
                    }
                } else if (run.k == 2) {
                    const double t0 = run.t[0];
                    const double t1 = run.t[1];
                    for (std::size_t e = begin; e < end; ++e, ++c) {
                        const double v = t0 * sv[2 * e] + t1 * sv[2 * e + 1];
                        columns[c] = static_cast<Index>(base + sc[e]);
                        values[c] = v;
                        zero |= v == 0.0;
                    }
                } else {
                    const std::size_t k_terms = run.k;
                    for (std::size_t e = begin; e < end; ++e, ++c) {
                        const double* w = sv + k_terms * e;
                        double v = run.t[0] * w[0];
                        for (std::size_t s = 1; s < k_terms; ++s) v += run.t[s] * w[s];
                        columns[c] = static_cast<Index>(base + sc[e]);
                        values[c] = v;
                        zero |= v == 0.0;
                    }
                }
                cursor[i] = c;
                countdown.tick(end - begin + 1);
            }
        }
        // cursor[i] is now where row i ends. Sums of zero leave, as a sparse addition leaves them out.
        if (zero && !keep_all) {
            std::uint64_t from = n;
            for (std::uint64_t i = 0; i < space_rows; ++i) {
                for (; from < cursor[i]; ++from) {
                    columns[n] = columns[from];
                    values[n] = values[from];
                    n += values[from] != 0.0;
                }
                out.offsets[++row] = static_cast<Index>(n);
            }
        } else {
            for (std::uint64_t i = 0; i < space_rows; ++i) out.offsets[++row] = static_cast<Index>(cursor[i]);
            n = position;
        }
    }
    return n;
}

template std::uint64_t fill_kron_sum(std::span<const KronTerm>, const KronSumShape&, const CsrRows<std::int32_t>&);
template std::uint64_t fill_kron_sum(std::span<const KronTerm>, const KronSumShape&, const CsrRows<std::int64_t>&);

}  // namespace zelk::sparse_matrix_tools
