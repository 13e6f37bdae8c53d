// kron_sum: the plan (time blocks per time row, merged space patterns per set of terms) and the row fill.
//
// Row (r, i) of sum_t kron(T_t, S_t) holds, for each time column c that some
// T_t has in row r, the columns c * ncols(S) + j of the space rows i of those
// terms. Which terms meet at (r, c) varies little, so the union of their
// space patterns is merged once per set of terms, with the positions each
// term's entries add to; the fill then only multiplies, adds and writes.
#include "sparse_matrix_tools/kron_sum.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
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

// One block of a time row as the fill reads it: the pattern's rows, columns and k values per entry, or, for
// time values that are not all finite, the merged pattern's per-term addends (absent terms add nothing).
struct Run {
    const std::int64_t* offsets;
    const std::int64_t* columns;
    const double* values;  // k per entry
    const double* t;       // k time values
    std::uint32_t k;
    std::int64_t base;
    const MergedPattern* addends;
    std::uint32_t pattern;  // the plan's pattern number
};

// The runs of time row row_begin + k, in ascending time column.
void time_row_runs(std::span<const KronTerm> terms, const KronSumPlan& plan, std::uint64_t k, bool finite,
                   std::vector<Run>& runs)
{
    const auto space_cols = static_cast<std::int64_t>(terms[0].space.ncols);
    runs.clear();
    for (std::uint64_t b = plan.first_block[k]; b < plan.first_block[k + 1]; ++b) {
        const KronSumPlan::Block& block = plan.blocks[b];
        const std::uint32_t pattern = plan.patterns[block.pattern];
        const double* t = plan.values.data() + block.first_value;
        const std::int64_t base = static_cast<std::int64_t>(block.time_column) * space_cols;
        if (!(pattern & KronSumPlan::merged_flag)) {
            const CsrFactor& s = terms[pattern].space;
            runs.push_back({s.offsets.data(), s.indices.data(), s.values.data(), t, 1, base, nullptr, block.pattern});
        } else {
            const MergedPattern& m = plan.merged[pattern & ~KronSumPlan::merged_flag];
            const auto k_terms = static_cast<std::uint32_t>(plan.value_end[b] - block.first_value);
            runs.push_back({m.offsets.data(), m.columns.data(), m.dense.data(), t, k_terms, base, finite ? nullptr : &m,
                            block.pattern});
        }
    }
}

// The sum over k terms of one entry, t[0] * w[0] + t[1] * w[1] + ..., added in term order.
inline double term_sum(const double* t, const double* w, std::size_t k_terms)
{
    double v = t[0] * w[0];
    for (std::size_t s = 1; s < k_terms; ++s) v += t[s] * w[s];
    return v;
}

// Hands sink.put(column, value) every entry of space row i of a run, in column order: one product per term
// there, added in term order (the first product starts the sum).
template <class Sink>
inline void visit_row(const Run& run, std::uint64_t i, Sink& sink)
{
    const auto begin = static_cast<std::size_t>(run.offsets[i]);
    const auto end = static_cast<std::size_t>(run.offsets[i + 1]);
    const std::int64_t base = run.base;
    const std::int64_t* sc = run.columns;
    const double* sv = run.values;
    if (run.addends != nullptr) {
        const MergedPattern& m = *run.addends;
        for (std::size_t u = begin; u < end; ++u) {
            std::uint64_t a = m.first_addend[u];
            double v = run.t[m.addend_slot[a]] * *m.addend_value[a];
            for (++a; a < m.first_addend[u + 1]; ++a) v += run.t[m.addend_slot[a]] * *m.addend_value[a];
            sink.put(base + m.columns[u], v);
        }
    } else if (run.k == 1) {
        const double t0 = run.t[0];
        for (std::size_t e = begin; e < end; ++e) sink.put(base + sc[e], t0 * sv[e]);
    } else if (run.k == 2) {
        const double t0 = run.t[0];
        const double t1 = run.t[1];
        for (std::size_t e = begin; e < end; ++e) sink.put(base + sc[e], t0 * sv[2 * e] + t1 * sv[2 * e + 1]);
    } else {
        const std::size_t k_terms = run.k;
        for (std::size_t e = begin; e < end; ++e) sink.put(base + sc[e], term_sum(run.t, sv + k_terms * e, k_terms));
    }
}

bool all_finite(const std::vector<double>& values)
{
    bool finite = true;
    for (const double t : values) finite = finite && std::isfinite(t);
    return finite;
}

// Writes entries in place; a zero sum is written and then overwritten by the next entry, so that the
// output is written once, in order, with no branch per entry.
template <class Index>
struct WriteSink {
    Index* columns;
    double* values;
    std::uint64_t n;
    std::uint64_t keep_all;

    void put(std::int64_t column, double value)
    {
        columns[n] = static_cast<Index>(column);
        values[n] = value;
        n += keep_all | static_cast<std::uint64_t>(value != 0.0);
    }
};

// Counts the entries a fill keeps, inside and outside the columns [begin, end).
struct CountSink {
    std::int64_t begin;
    std::int64_t end;
    std::uint64_t inside;
    std::uint64_t kept;
    std::uint64_t keep_all;

    void put(std::int64_t column, double value)
    {
        const std::uint64_t keep = keep_all | static_cast<std::uint64_t>(value != 0.0);
        kept += keep;
        inside += keep & static_cast<std::uint64_t>(column >= begin && column < end);
    }
};

}  // namespace

// Where each entry of a time row goes, for one sequence of patterns: time rows with the same sequence share
// it. For run j, entry e of its pattern lands at place[j][e] from the time row's start (space rows
// lie one after another), and space row i starts at row_start[i]. The runs then write their entries
// in flat loops with no work per row, and the rows' offsets are row_start shifted.
struct RowLayout {
    std::vector<std::uint64_t> row_start;           // space_rows + 1
    std::vector<std::vector<std::uint32_t>> place;  // per run, one per pattern entry
};

// A few layouts suffice for the time matrices of a discretisation, whose rows repeat a handful of
// patterns; past that many, rows are written one by one, so the layouts never outgrow the output.
constexpr std::size_t max_layouts = 16;
constexpr std::uint64_t chunk_rows = 256;

// The layout of time rows with these runs, or null where their entries exceed 32-bit places.
std::unique_ptr<RowLayout> make_layout(const std::vector<Run>& runs, std::uint64_t space_rows)
{
    auto layout = std::make_unique<RowLayout>();
    layout->row_start = reserved_vector<std::uint64_t>(checked_add(space_rows, 1));
    std::uint64_t total = 0;
    layout->row_start.push_back(0);
    for (std::uint64_t i = 0; i < space_rows; ++i) {
        for (const Run& run : runs) total += static_cast<std::uint64_t>(run.offsets[i + 1] - run.offsets[i]);
        layout->row_start.push_back(total);
    }
    if (total > std::numeric_limits<std::uint32_t>::max()) return nullptr;
    std::vector<std::uint64_t> cursor(layout->row_start.begin(), layout->row_start.end() - 1);
    layout->place.reserve(runs.size());
    for (const Run& run : runs) {
        auto& place = layout->place.emplace_back(
            reserved_vector<std::uint32_t>(static_cast<std::uint64_t>(run.offsets[space_rows] - run.offsets[0])));
        for (std::uint64_t i = 0; i < space_rows; ++i)
            for (auto e = run.offsets[i]; e < run.offsets[i + 1]; ++e)
                place.push_back(static_cast<std::uint32_t>(cursor[i]++));
    }
    return layout;
}

// The run's entries of the space rows [row_begin, row_end) at their places (from the time row's start);
// returns whether a sum came out zero.
template <class Index>
bool scatter_run(const Run& run, const std::uint32_t* place, std::uint64_t row_begin, std::uint64_t row_end,
                 Index* columns, double* values)
{
    const auto first = static_cast<std::size_t>(run.offsets[row_begin]);
    const auto count = static_cast<std::size_t>(run.offsets[row_end]) - first;
    place += first - static_cast<std::size_t>(run.offsets[0]);
    const std::int64_t* sc = run.columns + first;
    const std::int64_t base = run.base;
    bool zero = false;
    if (run.k == 1) {
        const double t0 = run.t[0];
        const double* sv = run.values + first;
        for (std::size_t e = 0; e < count; ++e) {
            const double v = t0 * sv[e];
            columns[place[e]] = static_cast<Index>(base + sc[e]);
            values[place[e]] = v;
            zero |= v == 0.0;
        }
    } else if (run.k == 2) {
        const double t0 = run.t[0];
        const double t1 = run.t[1];
        const double* sv = run.values + 2 * first;
        for (std::size_t e = 0; e < count; ++e) {
            const double v = t0 * sv[2 * e] + t1 * sv[2 * e + 1];
            columns[place[e]] = static_cast<Index>(base + sc[e]);
            values[place[e]] = v;
            zero |= v == 0.0;
        }
    } else {
        const std::size_t k_terms = run.k;
        const double* sv = run.values + k_terms * first;
        for (std::size_t e = 0; e < count; ++e) {
            const double v = term_sum(run.t, sv + k_terms * e, k_terms);
            columns[place[e]] = static_cast<Index>(base + sc[e]);
            values[place[e]] = v;
            zero |= v == 0.0;
        }
    }
    return zero;
}

template <class Index>
std::uint64_t fill_kron_sum(std::span<const KronTerm> terms, const KronSumShape& shape, const CsrRows<Index>& out)
{
    linear_algebra::check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    const KronSumPlan& plan = *shape.plan;
    const std::uint64_t space_rows = terms[0].space.nrows;
    const bool finite = all_finite(plan.values);
    const bool keep_all = terms.size() < 2;
    // With two or more terms, sums of zero leave, as a sparse addition leaves them out.
    WriteSink<Index> sink{out.col_indices.data(), out.values.data(), 0, keep_all ? 1u : 0u};
    Index* const offsets = out.offsets.data();
    std::uint64_t row = 0;
    offsets[0] = 0;
    std::vector<Run> runs;
    std::map<std::vector<std::uint32_t>, std::unique_ptr<RowLayout>> layouts;
    std::vector<std::uint32_t> key;
    // Time rows written whole (no zero sum dropped), by patterns, time columns from the first, and time values.
    struct WrittenRow {
        std::uint64_t start;
        std::int64_t base;
    };
    std::map<std::vector<std::uint64_t>, WrittenRow> written;
    std::vector<std::uint64_t> repeat;
    InterruptCountdown countdown;
    for (std::uint64_t k = 0; k < plan.row_end - plan.row_begin; ++k) {
        time_row_runs(terms, plan, k, finite, runs);
        const RowLayout* layout = nullptr;
        if (finite) {
            key.clear();
            for (std::uint64_t b = plan.first_block[k]; b < plan.first_block[k + 1]; ++b)
                key.push_back(plan.blocks[b].pattern);
            auto found = layouts.find(key);
            if (found == layouts.end() && layouts.size() < max_layouts)
                found = layouts.emplace(key, make_layout(runs, space_rows)).first;
            if (found != layouts.end()) layout = found->second.get();
        }
        if (layout != nullptr) {
            const std::uint64_t start = sink.n;
            const std::uint64_t count = layout->row_start[space_rows];
            // A time row whose patterns, time values and time columns (up to a shift) match one written before
            // has that row's values, bit for bit, and its columns shifted: a copy in place of the products.
            repeat.clear();
            for (const Run& run : runs) {
                repeat.push_back(run.pattern);
                repeat.push_back(static_cast<std::uint64_t>(run.base - runs.front().base));
                for (std::uint32_t s = 0; s < run.k; ++s) repeat.push_back(std::bit_cast<std::uint64_t>(run.t[s]));
            }
            const auto earlier = written.find(repeat);
            if (earlier != written.end()) {
                const auto shift = static_cast<Index>(runs.front().base - earlier->second.base);
                const Index* from = sink.columns + earlier->second.start;
                Index* to = sink.columns + start;
                for (std::uint64_t n = 0; n < count; ++n) to[n] = static_cast<Index>(from[n] + shift);
                std::copy_n(sink.values + earlier->second.start, count, sink.values + start);
            } else {
                bool zero = false;
                // A few hundred space rows at a time, so that the runs meet in the first-level cache.
                for (std::uint64_t i = 0; i < space_rows; i += chunk_rows) {
                    const std::uint64_t i_end = std::min(space_rows, i + chunk_rows);
                    for (std::size_t j = 0; j < runs.size(); ++j)
                        zero |= scatter_run(runs[j], layout->place[j].data(), i, i_end, sink.columns + start,
                                            sink.values + start);
                }
                if (zero && !keep_all) {
                    // Rare: entries move down over the zero sums, row by row.
                    std::uint64_t from = start;
                    for (std::uint64_t i = 0; i < space_rows; ++i) {
                        for (const std::uint64_t end = start + layout->row_start[i + 1]; from < end; ++from)
                            sink.put(sink.columns[from], sink.values[from]);
                        offsets[++row] = static_cast<Index>(sink.n);
                    }
                    countdown.tick(count + space_rows);
                    continue;
                }
                if (written.size() < max_layouts) written.emplace(repeat, WrittenRow{start, runs.front().base});
            }
            for (std::uint64_t i = 1; i <= space_rows; ++i)
                offsets[row + i] = static_cast<Index>(start + layout->row_start[i]);
            row += space_rows;
            sink.n = start + count;
            countdown.tick(count + space_rows);
            continue;
        }
        // Row by row, the runs one after another: the output is written in one sequential pass.
        for (std::uint64_t i = 0; i < space_rows; ++i) {
            const std::uint64_t first = sink.n;
            for (const Run& run : runs) visit_row(run, i, sink);
            offsets[++row] = static_cast<Index>(sink.n);
            countdown.tick(sink.n - first + 1);
        }
    }
    return sink.n;
}

template std::uint64_t fill_kron_sum(std::span<const KronTerm>, const KronSumShape&, const CsrRows<std::int32_t>&);
template std::uint64_t fill_kron_sum(std::span<const KronTerm>, const KronSumShape&, const CsrRows<std::int64_t>&);

// Whether a run (with finite time values) has no zero sum anywhere: one flat pass over its values.
bool has_zero_sum(const Run& run, std::uint64_t space_rows)
{
    const auto first = static_cast<std::size_t>(run.offsets[0]);
    const auto count = static_cast<std::size_t>(run.offsets[space_rows]) - first;
    bool zero = false;
    if (run.k == 1) {
        const double t0 = run.t[0];
        const double* sv = run.values + first;
        for (std::size_t e = 0; e < count; ++e) zero |= t0 * sv[e] == 0.0;
    } else if (run.k == 2) {
        const double t0 = run.t[0];
        const double t1 = run.t[1];
        const double* sv = run.values + 2 * first;
        for (std::size_t e = 0; e < count; ++e) zero |= t0 * sv[2 * e] + t1 * sv[2 * e + 1] == 0.0;
    } else {
        const std::size_t k_terms = run.k;
        const double* sv = run.values + k_terms * first;
        for (std::size_t e = 0; e < count; ++e) zero |= term_sum(run.t, sv + k_terms * e, k_terms) == 0.0;
    }
    return zero;
}

void count_kron_sum(std::span<const KronTerm> terms, const KronSumShape& shape, std::uint64_t column_begin,
                    std::uint64_t column_end, std::span<std::int64_t> inside, std::span<std::int64_t> outside)
{
    check_equal(inside.size(), shape.nrows, "kron_sum count storage has the wrong length");
    check_equal(outside.size(), shape.nrows, "kron_sum count storage has the wrong length");
    if (column_begin > column_end || column_end > shape.ncols) fail("column block out of range");
    const KronSumPlan& plan = *shape.plan;
    const std::uint64_t space_rows = terms[0].space.nrows;
    const auto space_cols = static_cast<std::int64_t>(terms[0].space.ncols);
    const bool finite = all_finite(plan.values);
    const bool keep_all = terms.size() < 2;
    const auto begin = static_cast<std::int64_t>(column_begin);
    const auto end = static_cast<std::int64_t>(column_end);
    std::vector<Run> runs;
    // Whether a pattern has a zero sum depends only on it and its time values, which repeat from time row
    // to time row: each pair is looked at once.
    std::map<std::pair<std::uint32_t, std::vector<std::uint64_t>>, bool> zero_of;
    std::pair<std::uint32_t, std::vector<std::uint64_t>> key;
    const auto zero_sum = [&](const Run& run) {
        key.first = run.pattern;
        key.second.assign(run.k, 0);
        for (std::uint32_t s = 0; s < run.k; ++s) key.second[s] = std::bit_cast<std::uint64_t>(run.t[s]);
        const auto found = zero_of.find(key);
        if (found != zero_of.end()) return found->second;
        const bool zero = has_zero_sum(run, space_rows);
        zero_of.emplace(key, zero);
        return zero;
    };
    InterruptCountdown countdown;
    std::int64_t* d = inside.data();
    std::int64_t* o = outside.data();
    for (std::uint64_t k = 0; k < plan.row_end - plan.row_begin; ++k, d += space_rows, o += space_rows) {
        time_row_runs(terms, plan, k, finite, runs);
        std::fill_n(d, space_rows, 0);
        std::fill_n(o, space_rows, 0);
        for (const Run& run : runs) {
            // A run wholly inside or outside the block, with no zero sum, adds its rows' lengths; the
            // others (a run the block's ends cut, or one whose sums vanish somewhere) are counted entry by entry.
            const bool in = run.base >= begin && run.base + space_cols <= end;
            const bool out = run.base + space_cols <= begin || run.base >= end;
            if ((in || out) && (keep_all || (run.addends == nullptr && !zero_sum(run)))) {
                std::int64_t* counts = in ? d : o;
                for (std::uint64_t i = 0; i < space_rows; ++i) counts[i] += run.offsets[i + 1] - run.offsets[i];
            } else {
                for (std::uint64_t i = 0; i < space_rows; ++i) {
                    CountSink sink{begin, end, 0, 0, keep_all ? 1u : 0u};
                    visit_row(run, i, sink);
                    d[i] += static_cast<std::int64_t>(sink.inside);
                    o[i] += static_cast<std::int64_t>(sink.kept - sink.inside);
                }
            }
            countdown.tick(static_cast<std::uint64_t>(run.offsets[space_rows] - run.offsets[0]) + space_rows);
        }
    }
}

}  // namespace zelk::sparse_matrix_tools
