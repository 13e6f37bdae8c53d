// Mass rows on any grid, written in one pass: the uniform pattern, each value from the unrounded reference integral and exact step.
#include "time_operators/grid_mass_rows.hpp"

#include <algorithm>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/interval_blocks.hpp"
#include "time_operators/quadrature_rules.hpp"
#include "time_operators/reference_integrals.hpp"
#include "time_operators/split_product.hpp"

namespace zelk::time_operators {

using linear_algebra::CsrRows;

namespace {

// Half the integral over [-1, 1] of u_b v_a (row a, column b), unrounded.
std::vector<DoubleDouble> reference_mass_dd(const LocalBasis& trial, const LocalBasis& test)
{
    const std::uint64_t nb = trial.size();
    const std::uint64_t na = test.size();
    const std::uint64_t n = checked_add(trial.degree, test.degree) / 2 + 1;  // Gauss: exact to 2n - 1
    const ReferenceRule rule = reference_rule(QuadratureRule::gauss, n);
    const std::uint64_t entries = checked_mul(na, nb);
    std::vector<DoubleDouble> mass = reserved_vector<DoubleDouble>(entries);
    mass.resize(entries);
    std::vector<DoubleDouble> u = reserved_vector<DoubleDouble>(nb);
    u.resize(nb);
    std::vector<DoubleDouble> du = u;
    std::vector<DoubleDouble> v = reserved_vector<DoubleDouble>(na);
    v.resize(na);
    std::vector<DoubleDouble> dv = v;
    InterruptCountdown countdown;
    for (std::uint64_t q = 0; q < n; ++q) {
        local_basis_values(trial, rule.nodes[q], u, du);
        local_basis_values(test, rule.nodes[q], v, dv);
        for (std::uint64_t a = 0; a < na; ++a) {
            countdown.tick(nb);
            const DoubleDouble wv = rule.weights[q] * v[a] * 0.5;
            for (std::uint64_t b = 0; b < nb; ++b) mass[a * nb + b] += wv * u[b];
        }
    }
    return mass;
}

// The stored entries of the reference block times one step, unrounded: hi[e] + lo[e].
struct ScaledBlock {
    std::vector<double> hi;
    std::vector<double> lo;
};

// Local function a of a test row on sub-interval k (a row has one or two), and k's scaled block.
struct Share {
    std::uint64_t k;
    std::uint64_t a;
    const ScaledBlock* block;
};

// The rows written in one pass, columns and values together. A row's
// entries are, column by column, the reference entries that are not exactly
// zero (the uniform fill's pattern, which the shape counted), each the
// reference integral times h_k, taken unrounded and rounded once.
class GridMassRows {
public:
    GridMassRows(const TimeOperatorShape& shape, std::span<const double> points, GridLayout layout)
        : shape_(shape), points_(points), layout_(layout), nb_(shape.trial.size()), q_(shape.trial.degree)
    {
        if (shape.trial.kind == BasisKind::lagrange) {
            interval_stride_ = q_;
        } else if (layout.trial) {
            interval_stride_ = nb_;
        } else {
            function_stride_ = shape.n_t;
        }
        const std::vector<DoubleDouble> mass = reference_mass_dd(shape.trial, shape.test);
        // The uniform fill's pattern: the entries whose exact value is not zero.
        const std::vector<Integral>& pattern = shape.blocks->own;
        check_equal(pattern.size(), mass.size(), "grid mass blocks do not match");
        for (std::vector<double>* part : {&value_, &high_, &low_, &tail_}) *part = reserved_vector<double>(mass.size());
        reference_ = reserved_vector<DoubleDouble>(mass.size());
        // A sub-interval's terms: each stored entry once, the shared row twice at most.
        factors_ = reserved_vector<DoubleDouble>(checked_mul(2, mass.size()));
        columns_ = reserved_vector<std::int64_t>(checked_mul(2, mass.size()));
        previous_ = reserved_vector<unsigned char>(checked_mul(2, mass.size()));
        runs_ = reserved_vector<Run>(checked_mul(2, mass.size()));
        flat_runs_ = reserved_vector<Run>(runs_.capacity());
        row_entries_ = reserved_vector<std::uint64_t>(checked_add(shape.test.size(), 1));
        row_ends_ = reserved_vector<std::uint64_t>(checked_add(shape.test.size(), 1));
        stored_ = reserved_vector<unsigned char>(pattern.size());
        place_ = reserved_vector<std::uint64_t>(pattern.size());
        // Only the stored entries are scaled: each at its place among them.
        for (std::size_t e = 0; e < mass.size(); ++e) {
            stored_.push_back(settled(pattern[e]).hi != 0.0 ? 1 : 0);
            place_.push_back(value_.size());
            if (stored_.back() == 0) continue;
            reference_.push_back(mass[e]);
            const SplitDoubleDouble split(mass[e]);
            value_.push_back(split.hi.value);
            high_.push_back(split.hi.high);
            low_.push_back(split.hi.low);
            tail_.push_back(split.lo);
        }
        current_.hi = reserved_vector<double>(value_.size());
        current_.hi.resize(value_.size());
        current_.lo = reserved_vector<double>(value_.size());
        current_.lo.resize(value_.size());
    }

    template <class Index>
    std::uint64_t fill(const CsrRows<Index>& out)
    {
        const std::uint64_t n_t = shape_.n_t;
        const std::uint64_t k_begin = shape_.k_begin;
        const std::uint64_t k_end = shape_.k_end;
        out.offsets[0] = 0;
        if (shape_.test.kind == BasisKind::legendre) {
            const std::uint64_t functions = shape_.test.size();
            if (layout_.test) {
                for (std::uint64_t a = 0; a < functions; ++a) add_single(a);
                settle(k_end - k_begin);
                intervals(out, k_begin, k_end);
            } else {
                polynomial_major(out);
                return e_;
            }
        } else if (k_begin < k_end) {
            const std::uint64_t p = shape_.test.degree;
            std::uint64_t k = k_begin;
            if (k == 0) {
                scale(0, current_);
                for (std::uint64_t j = 0; j < p; ++j) single(out, {0, j, &current_});
                ++k;
            }
            add_shared();
            for (std::uint64_t j = 1; j < p; ++j) add_single(j);
            settle(k_end - k);
            intervals(out, k, k_end);  // the first row: a node shared with the one before
            if (k_end == n_t) {
                scale(n_t - 1, current_);
                single(out, {n_t - 1, p, &current_});
            }
        }
        check_equal(r_, shape_.nrows, "grid mass rows miscounted");
        check_equal(e_, shape_.max_nnz, "grid mass row pattern mismatch");
        return e_;
    }

private:
    // The rows i (k_end - k_begin) + k - k_begin of a polynomial-major Legendre
    // test space, sub-interval by sub-interval so that each step is split
    // once: row i holds the same count c_i of entries on every sub-interval,
    // so its place is known without writing the rows before it.
    template <class Index>
    void polynomial_major(const CsrRows<Index>& out)
    {
        const std::uint64_t k_begin = shape_.k_begin;
        const std::uint64_t width = shape_.k_end - k_begin;
        const std::uint64_t functions = shape_.test.size();
        std::vector<std::uint64_t> count = reserved_vector<std::uint64_t>(functions);
        std::vector<std::uint64_t> base = reserved_vector<std::uint64_t>(functions);
        // Row i's stored functions b, rows one after another from first[i].
        std::vector<std::uint64_t> first = reserved_vector<std::uint64_t>(functions);
        std::vector<std::uint64_t> functions_b = reserved_vector<std::uint64_t>(checked_mul(functions, nb_));
        std::uint64_t total = 0;
        for (std::uint64_t i = 0; i < functions; ++i) {
            first.push_back(functions_b.size());
            for (std::uint64_t b = 0; b < nb_; ++b) {
                if (stored({0, i, nullptr}, b)) functions_b.push_back(b);
            }
            const std::uint64_t c = functions_b.size() - first[i];
            count.push_back(c);
            base.push_back(total);
            total = checked_add(total, checked_mul(c, width));
        }
        check_equal(total, shape_.max_nnz, "grid mass row pattern mismatch");
        check_equal(functions * width, shape_.nrows, "grid mass rows miscounted");
        for (std::uint64_t i = 0; i < functions; ++i) {
            for (std::uint64_t r = 0; r < width; ++r)
                out.offsets[i * width + r + 1] = static_cast<Index>(base[i] + (r + 1) * count[i]);
        }
        for (std::uint64_t i = 0; i < functions; ++i) add_single(i);
        check_equal(factors_.size(), functions_b.size(), "grid mass row pattern mismatch");
        IntervalBlocks blocks(StepSum::two_sum, interval_stride_, factors_.size());
        for (std::uint64_t t = 0; t < factors_.size(); ++t) blocks.add(factors_[t], false, columns_[t]);
        blocks.prepare();
        Index* const columns = out.col_indices.data();
        double* const values = out.values.data();
        for (std::uint64_t k = k_begin, n = 0; k < shape_.k_end; k += n) {
            n = std::min(blocks.block(), shape_.k_end - k);
            blocks.compute(points_.data(), k, n, 0, blocks.size());
            std::uint64_t t = 0;
            for (std::uint64_t i = 0; i < functions; ++i) {
                // Row i of sub-intervals k ... k + n - 1: count[i] entries each, one after another.
                const std::uint64_t e = base[i] + (k - k_begin) * count[i];
                blocks.place(k, n, t, t + count[i], columns + e, values + e);
                t += count[i];
            }
            countdown_.tick(functions * nb_ * n);
        }
        e_ = total;
        r_ = shape_.nrows;
    }

    // h_k = t_{k+1} - t_k, exact as the two-sum of the points.
    SplitDoubleDouble step(std::uint64_t k) const
    {
        return SplitDoubleDouble(dd_detail::two_sum(points_[k + 1], -points_[k]));
    }

    // Sub-interval k's block: each entry split_product(reference entry, h_k),
    // the same operations in the same order, laid out so that they run side by side.
    void scale(std::uint64_t k, ScaledBlock& block) const
    {
        const SplitDoubleDouble h = step(k);
        const double hv = h.hi.value;
        const double hh = h.hi.high;
        const double hl = h.hi.low;
        const double ht = h.lo;
        const double* const value = value_.data();
        const double* const high = high_.data();
        const double* const low = low_.data();
        const double* const tail = tail_.data();
        double* const hi = block.hi.data();
        double* const lo = block.lo.data();
        const std::size_t n = value_.size();
        for (std::size_t e = 0; e < n; ++e) {
            const double p = value[e] * hv;
            const double error = ((high[e] * hh - p) + high[e] * hl + low[e] * hh) + low[e] * hl;
            const double cross = value[e] * ht + tail[e] * hv;
            const double s = p + (error + cross);
            hi[e] = s;
            lo[e] = (error + cross) - (s - p);
        }
    }

    // Entry (a, b) of sub-interval k's block, unrounded (a stored one).
    DoubleDouble part(const Share& s, std::uint64_t b) const
    {
        const std::uint64_t e = place_[s.a * nb_ + b];
        return {s.block->hi[e], s.block->lo[e]};
    }
    bool stored(const Share& s, std::uint64_t b) const { return stored_[s.a * nb_ + b] != 0; }

    // Trial function b on sub-interval k: Lagrange nodes along the grid, Legendre in its layout.
    std::uint64_t column(std::uint64_t k, std::uint64_t b) const { return k * interval_stride_ + b * function_stride_; }

    template <class Index>
    void put(const CsrRows<Index>& out, std::uint64_t column, double value)
    {
        out.col_indices[e_] = static_cast<Index>(column);
        out.values[e_] = value;
        ++e_;
    }

    template <class Index>
    void single(const CsrRows<Index>& out, Share s)
    {
        for (std::uint64_t b = 0; b < nb_; ++b) {
            if (stored(s, b)) put(out, column(s.k, b), part(s, b).to_double());
        }
        finish(out);
    }

    // The entries of a row, sub-interval k's rows being those of any other
    // moved by k interval_stride_: runs of terms scaled by one step, that of
    // k or of k - 1, each rounded alone, or the terms of one entry summed
    // from zero (a trial node that gathers both sides).
    struct Run {
        std::uint64_t end;   // terms [the previous run's end, end)
        unsigned char step;  // 0: k's, 1: k - 1's, summed: one entry
    };
    static constexpr unsigned char summed = 2;

    // Entry (a, b) of the block of k (or of k - 1), as a run's term or the last of a sum's.
    void add(std::uint64_t a, std::uint64_t b, bool previous, bool sum = false)
    {
        const std::int64_t shift = previous ? -static_cast<std::int64_t>(interval_stride_) : 0;
        push_term(reference_[place_[a * nb_ + b]], static_cast<std::int64_t>(b * function_stride_) + shift);
        previous_.push_back(previous ? 1 : 0);
        const unsigned char step = sum ? summed : previous_.back();
        if (!sum && runs_.size() > row_runs_ && runs_.back().step == step) {
            runs_.back().end = factors_.size();
        } else {
            runs_.push_back({factors_.size(), step});
        }
    }

    void end_row()
    {
        row_ends_.push_back(runs_.size());
        row_runs_ = runs_.size();
    }

    // The row of test function a alone on a sub-interval.
    void add_single(std::uint64_t a)
    {
        for (std::uint64_t b = 0; b < nb_; ++b) {
            if (stored({0, a, nullptr}, b)) add(a, b, false);
        }
        end_row();
    }

    // The row of a Lagrange test node shared by sub-intervals k - 1 (its function p) and k (its function 0).
    void add_shared()
    {
        const std::uint64_t p = shape_.test.degree;
        const auto left = [&](std::uint64_t b) { return stored({0, p, nullptr}, b); };
        const auto right = [&](std::uint64_t b) { return stored({0, 0, nullptr}, b); };
        if (shape_.trial.kind == BasisKind::legendre && !layout_.trial) {
            // Columns b n_t + k: sub-interval k - 1, then k, for each b.
            for (std::uint64_t b = 0; b < nb_; ++b) {
                if (left(b)) add(p, b, true);
                if (right(b)) add(0, b, false);
            }
        } else if (shape_.trial.kind == BasisKind::legendre) {
            for (std::uint64_t b = 0; b < nb_; ++b) {
                if (left(b)) add(p, b, true);
            }
            for (std::uint64_t b = 0; b < nb_; ++b) {
                if (right(b)) add(0, b, false);
            }
        } else {
            // Columns along the grid; the trial node at t_k gathers both sides.
            for (std::uint64_t b = 0; b < q_; ++b) {
                if (left(b)) add(p, b, true);
            }
            if (left(q_) && right(0)) {
                add(p, q_, true, true);
                push_term(reference_[place_[0]], columns_.back());
                previous_.push_back(0);
                runs_.back().end = factors_.size();
            } else if (left(q_)) {
                add(p, q_, true, true);
            } else if (right(0)) {
                add(0, 0, false, true);
            }
            for (std::uint64_t b = 1; b <= q_; ++b) {
                if (right(b)) add(0, b, false);
            }
        }
        end_row();
    }

    // The entries one sub-interval's rows write.
    std::uint64_t written() const
    {
        std::uint64_t n = 0;
        std::uint64_t t = 0;
        for (const Run& run : runs_) {
            n += run.step == summed ? 1 : run.end - t;
            t = run.end;
        }
        return n;
    }

    // The terms settled: room for `intervals` sub-intervals' rows checked once,
    // so that the rows need no check of their own, the runs of one step joined
    // across rows, and each row's end among a sub-interval's entries.
    void settle(std::uint64_t intervals)
    {
        if (checked_add(e_, checked_mul(written(), intervals)) > shape_.max_nnz) fail("grid mass row pattern mismatch");
        std::uint64_t run = 0;
        std::uint64_t entries = 0;
        std::uint64_t t = 0;
        for (const std::uint64_t end : row_ends_) {
            for (; run < end; ++run) {
                const Run& r = runs_[run];
                entries += r.step == summed ? 1 : r.end - t;
                t = r.end;
                if (r.step != summed && !flat_runs_.empty() && flat_runs_.back().step == r.step) {
                    flat_runs_.back().end = r.end;
                } else {
                    flat_runs_.push_back(r);
                }
            }
            row_entries_.push_back(entries);
        }
    }

    void push_term(const DoubleDouble& factor, std::int64_t column)
    {
        factors_.push_back(factor);
        columns_.push_back(column);
    }

    // The rows of sub-intervals [k_first, k_end) (k_first > 0 where a row
    // reads the step before), a block of sub-intervals at a time. Each row has
    // its entries whatever the steps (a summed entry is stored even where it
    // is zero): a sub-interval's entries are the runs joined across rows.
    template <class Index>
    void intervals(const CsrRows<Index>& out, std::uint64_t k_first, std::uint64_t k_end)
    {
        IntervalBlocks blocks(StepSum::two_sum, interval_stride_, factors_.size());
        std::uint64_t t = 0;
        for (const Run& run : flat_runs_) {
            if (run.step == summed) {
                // One entry: its terms (one or two) summed from zero, each by its own step.
                const std::uint64_t terms = run.end - t;
                if (terms == 0 || terms > 2) fail("grid mass row pattern mismatch");
                const DoubleDouble second = terms == 2 ? factors_[t + 1] : DoubleDouble(0.0);
                blocks.add_sum(terms, factors_[t], previous_[t] != 0, second, terms == 2 && previous_[t + 1] != 0,
                               columns_[t]);
            } else {
                for (std::uint64_t c = t; c < run.end; ++c) blocks.add(factors_[c], run.step != 0, columns_[c]);
            }
            t = run.end;
        }
        blocks.prepare();
        const std::uint64_t entries = blocks.size();
        const std::uint64_t rows = row_entries_.size();
        check_equal(rows > 0 ? row_entries_.back() : 0, entries, "grid mass row pattern mismatch");
        for (std::uint64_t k = k_first, n = 0; k < k_end; k += n) {
            n = std::min(blocks.block(), k_end - k);
            blocks.compute(points_.data(), k, n, 0, entries);
            blocks.place_rows(k, n, row_entries_, out, e_, r_);
            countdown_.tick(nb_ * rows * n);
        }
    }

    template <class Index>
    void finish(const CsrRows<Index>& out)
    {
        if (e_ > shape_.max_nnz) fail("grid mass row pattern mismatch");
        out.offsets[++r_] = static_cast<Index>(e_);
        countdown_.tick(nb_);
    }

    const TimeOperatorShape& shape_;
    std::span<const double> points_;
    GridLayout layout_;
    std::uint64_t nb_;
    std::uint64_t q_;
    // Trial function b on sub-interval k is column k interval_stride_ + b function_stride_.
    std::uint64_t interval_stride_ = 1;
    std::uint64_t function_stride_ = 1;
    // The stored entries of the reference block split as SplitDoubleDouble splits them, one array per part.
    std::vector<double> value_;
    std::vector<double> high_;
    std::vector<double> low_;
    std::vector<double> tail_;
    ScaledBlock current_;                  // the block of a first or last row's sub-interval
    std::vector<DoubleDouble> reference_;  // the stored entries, unsplit
    std::vector<unsigned char> stored_;
    std::vector<std::uint64_t> place_;  // entry a nb + b's place among the stored ones
    // One sub-interval's rows, term by term: the stored reference entries and their columns relative to k's.
    std::vector<DoubleDouble> factors_;
    std::vector<std::int64_t> columns_;
    std::vector<unsigned char> previous_;  // whether a term is scaled by the step of k - 1
    std::vector<Run> runs_;
    std::vector<std::uint64_t> row_ends_;     // each row's end among the runs
    std::uint64_t row_runs_ = 0;              // the runs before the row at hand
    std::vector<std::uint64_t> row_entries_;  // each row's end among a sub-interval's entries
    std::vector<Run> flat_runs_;              // the runs joined across rows
    std::uint64_t e_ = 0;                     // entries and rows written
    std::uint64_t r_ = 0;
    InterruptCountdown countdown_;
};

}  // namespace

TimeOperatorShape grid_mass_shape(const LocalBasis& trial, const LocalBasis& test, std::span<const double> points,
                                  std::uint64_t k_begin, std::uint64_t k_end)
{
    if (points.size() < 2) fail("a grid needs at least two points");
    const std::uint64_t n_t = points.size() - 1;
    // Unit steps: the uniform rows give the pattern; their values are replaced.
    return time_operator_shape(TimeOperator::mass, trial, test, n_t, static_cast<double>(n_t), k_begin, k_end);
}

template <class Index>
std::uint64_t fill_grid_mass_rows(const TimeOperatorShape& shape, std::span<const double> points, GridLayout layout,
                                  const CsrRows<Index>& out)
{
    if ((layout.trial && shape.trial.kind != BasisKind::legendre) ||
        (layout.test && shape.test.kind != BasisKind::legendre))
        fail("only a Legendre time space has an interval-major layout");
    check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    check_equal(points.size(), checked_add(shape.n_t, 1), "grid points do not match the shape");
    return GridMassRows(shape, points, layout).fill(out);
}

template std::uint64_t fill_grid_mass_rows(const TimeOperatorShape&, std::span<const double>, GridLayout,
                                           const CsrRows<std::int32_t>&);
template std::uint64_t fill_grid_mass_rows(const TimeOperatorShape&, std::span<const double>, GridLayout,
                                           const CsrRows<std::int64_t>&);

}  // namespace zelk::time_operators
