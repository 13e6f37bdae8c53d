// Time operator rows: each row adds the local blocks of the (at most two) sub-intervals its test function lives on.
#include "time_operators/time_operator_rows.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/reference_integrals.hpp"

namespace zelk::time_operators {

using linear_algebra::CsrRows;

namespace {

std::uint64_t dimension(const LocalBasis& basis, std::uint64_t n_t)
{
    if (basis.kind == BasisKind::lagrange) return checked_add(checked_mul(n_t, basis.degree), 1);
    return checked_mul(n_t, checked_add(basis.degree, 1));
}

// Columns of `width` consecutive trial sub-intervals: Lagrange neighbours share a node.
std::uint64_t window_columns(const LocalBasis& trial, std::uint64_t width)
{
    if (trial.kind == BasisKind::lagrange) return checked_add(checked_mul(width, trial.degree), 1);
    return checked_mul(width, trial.size());
}

// A test function's share on one sub-interval: local function a on sub-interval k.
struct Part {
    std::uint64_t k;
    std::uint64_t a;
};

TimeOperatorBlocks local_blocks(const TimeOperatorShape& shape)
{
    const std::uint64_t nb = shape.trial.size();
    TimeOperatorBlocks blocks;
    switch (shape.op) {
        case TimeOperator::mass:
            blocks.own = reference_mass(shape.trial, shape.test);
            blocks.scaled = true;
            blocks.h = shape.T / static_cast<double>(shape.n_t);
            break;
        case TimeOperator::derivative:  // dt = (h/2) dx and d/dt = (2/h) d/dx: h cancels
            blocks.own = reference_derivative(shape.trial, shape.test);
            break;
        case TimeOperator::jump: {
            const std::vector<double> test_left = end_values(shape.test, false);
            const std::vector<double> trial_left = end_values(shape.trial, false);
            const std::vector<double> trial_right = end_values(shape.trial, true);
            blocks.own = reserved_vector<Integral>(checked_mul(shape.test.size(), nb));
            blocks.previous = reserved_vector<Integral>(shape.test.size() * nb);
            for (std::uint64_t a = 0; a < shape.test.size(); ++a) {
                for (std::uint64_t b = 0; b < nb; ++b) {
                    blocks.own.push_back({DoubleDouble(test_left[a] * trial_left[b])});
                    blocks.previous.push_back({DoubleDouble(-(test_left[a] * trial_right[b]))});
                }
            }
            break;
        }
    }
    return blocks;
}

// h v rounded once to the nearest double, ties to even, for v within
// `error` of the exact value. The exact product of h and a rational integral
// can be a tie (h = T / n_t and the integrals share factors like 3 and 5);
// where the double-double product cannot be told from a midpoint it is taken
// as one. The error term of the product would overflow for h near the largest
// double, so such an h is scaled down by a power of two first, which changes
// no bit.
double times_h(double h, DoubleDouble v, double error) noexcept
{
    if (std::fabs(h) > 0x1p960) return times_h(h * 0x1p-64, v, error) * 0x1p64;
    const DoubleDouble product = DoubleDouble(h) * v;
    const double nearest = product.hi;  // the nearest double to hi + lo, but for a tie
    if (product.lo == 0.0 || !std::isfinite(nearest)) return nearest;
    const double other = std::nextafter(nearest, product.lo > 0.0 ? HUGE_VAL : -HUGE_VAL);
    const double half_gap = std::fabs(other - nearest) * 0.5;
    const double tolerance = std::fabs(h) * error + std::fabs(nearest) * 0x1p-100;
    if (std::fabs(std::fabs(product.lo) - half_gap) > tolerance) return nearest;
    return (std::bit_cast<std::uint64_t>(nearest) & 1) == 0 ? nearest : other;
}

}  // namespace

namespace {

// The entries of one row, written by adding the local blocks of its parts.
class RowBuilder {
public:
    explicit RowBuilder(const TimeOperatorShape& shape)
        : blocks_(*shape.blocks),
          upwind_(!blocks_.previous.empty()),
          n_t_(shape.n_t),
          nb_(shape.trial.size()),
          q_(shape.trial.degree),
          lagrange_trial_(shape.trial.kind == BasisKind::lagrange),
          row_(reserved_vector<Integral>(checked_mul(3, nb_)))
    {
        row_.resize(3 * nb_);
    }

    // How far a row's columns move when its sub-interval moves by one.
    std::uint64_t column_step() const noexcept { return lagrange_trial_ ? q_ : 1; }

    // Writes the row's nonzero entries, columns ascending, and returns their number.
    template <class Column>
    std::uint64_t entries(const Part* parts, std::uint64_t count, Column* columns, double* values)
    {
        const std::uint64_t first = parts[0].k - (upwind_ && parts[0].k > 0 ? 1 : 0);
        const std::uint64_t width = parts[count - 1].k - first + 1;
        const std::uint64_t nb = nb_;
        std::fill_n(row_.begin(), width * nb, Integral{});
        for (std::uint64_t c = 0; c < count; ++c) {
            const Part& part = parts[c];
            Integral* own = row_.data() + (part.k - first) * nb;
            const Integral* block = blocks_.own.data() + part.a * nb;
            for (std::uint64_t b = 0; b < nb; ++b) own[b] = own[b] + block[b];
            if (upwind_ && part.k > 0) {
                Integral* previous = own - nb;
                const Integral* upwind_block = blocks_.previous.data() + part.a * nb;
                for (std::uint64_t b = 0; b < nb; ++b) previous[b] = previous[b] + upwind_block[b];
            }
        }
        // Each entry's exact sum is rounded once, and left out when it is zero.
        std::uint64_t n = 0;
        auto put = [&](std::uint64_t column, const Integral& sum) {
            const DoubleDouble exact = settled(sum);
            if (exact.hi == 0.0) return;
            const double value = times_h(blocks_.scaled ? blocks_.h : 1.0, exact, sum.error);
            if (value == 0.0) return;  // an h so small that the product underflows
            columns[n] = static_cast<Column>(column);
            values[n] = value;
            ++n;
        };
        if (lagrange_trial_) {
            // Neighbouring sub-intervals meet in a shared node: its value is the sum of both sides.
            for (std::uint64_t s = 0; s < width; ++s) {
                const Integral* part_values = row_.data() + s * nb;
                const std::uint64_t base = (first + s) * q_;
                put(base, s == 0 ? part_values[0] : part_values[-1] + part_values[0]);
                for (std::uint64_t b = 1; b < q_; ++b) put(base + b, part_values[b]);
            }
            put((first + width) * q_, row_[width * nb - 1]);
        } else {
            for (std::uint64_t b = 0; b < nb; ++b) {
                for (std::uint64_t s = 0; s < width; ++s) put(b * n_t_ + first + s, row_[s * nb + b]);
            }
        }
        return n;
    }

private:
    const TimeOperatorBlocks& blocks_;
    bool upwind_;
    std::uint64_t n_t_;
    std::uint64_t nb_;
    std::uint64_t q_;
    bool lagrange_trial_;
    std::vector<Integral> row_;
};

// Rows of sub-intervals k >= 2 see the same parts shifted by k, so they are one
// row built once at k = 2 and moved: the same values, columns moved by a step.
struct RowTemplate {
    std::vector<std::int64_t> columns;  // relative to k * column_step
    std::vector<double> values;
};

constexpr std::uint64_t template_k = 2;

// Entries and rows in one block of moved rows: small enough to stay in cache
// while it is copied, large enough that each copy is a long run.
constexpr std::uint64_t block_work = 4096;

// The rows of a range: kinds of row, each either built where it stands (k < 2,
// the end point) or moved from its template.
class OperatorRows {
public:
    explicit OperatorRows(const TimeOperatorShape& shape)
        : shape_(shape),
          builder_(shape),
          step_(builder_.column_step()),
          legendre_test_(shape.test.kind == BasisKind::legendre),
          p_(shape.test.degree),
          kinds_(legendre_test_ ? p_ + 1 : p_),
          longest_(window_columns(shape.trial, 3)),
          scratch_columns_(reserved_vector<std::uint64_t>(longest_)),
          scratch_values_(reserved_vector<double>(longest_)),
          templates_(reserved_vector<RowTemplate>(kinds_))
    {
        scratch_columns_.resize(longest_);
        scratch_values_.resize(longest_);
        for (std::uint64_t kind = 0; kind < kinds_; ++kind) {
            const std::uint64_t n = generic(kind, template_k);
            RowTemplate& t = templates_.emplace_back();
            t.columns = reserved_vector<std::int64_t>(n);
            for (std::uint64_t e = 0; e < n; ++e) {
                t.columns.push_back(static_cast<std::int64_t>(scratch_columns_[e]) -
                                    static_cast<std::int64_t>(template_k * step_));
            }
            t.values.assign(scratch_values_.begin(), scratch_values_.begin() + static_cast<std::ptrdiff_t>(n));
        }
    }

    // The exact number of entries of the range's rows.
    std::uint64_t count()
    {
        std::uint64_t nnz = 0;
        const std::uint64_t k_begin = shape_.k_begin;
        const std::uint64_t k_end = shape_.k_end;
        const std::uint64_t moved_begin = std::max(k_begin, template_k);
        for (std::uint64_t kind = 0; kind < kinds_; ++kind) {
            for (std::uint64_t k = k_begin; k < std::min(k_end, template_k); ++k)
                nnz = checked_add(nnz, generic(kind, k));
            if (moved_begin < k_end)
                nnz = checked_add(nnz, checked_mul(k_end - moved_begin, templates_[kind].columns.size()));
        }
        if (has_end_point()) nnz = checked_add(nnz, end_point());
        return nnz;
    }

    template <class Index>
    std::uint64_t fill(const CsrRows<Index>& out)
    {
        nnz_ = 0;
        r_ = 0;
        out.offsets[0] = 0;
        const std::uint64_t k_begin = shape_.k_begin;
        const std::uint64_t k_end = shape_.k_end;
        const std::uint64_t built_end = std::min(k_end, template_k);
        const std::uint64_t moved_begin = std::max(k_begin, template_k);
        if (legendre_test_) {
            for (std::uint64_t i = 0; i <= p_; ++i) {
                for (std::uint64_t k = k_begin; k < built_end; ++k) copy_scratch(out, generic(i, k));
                moved_rows(out, i, 1, moved_begin, k_end);
            }
        } else {
            for (std::uint64_t k = k_begin; k < built_end; ++k) {
                for (std::uint64_t j = 0; j < p_; ++j) copy_scratch(out, generic(j, k));
            }
            moved_rows(out, 0, p_, moved_begin, k_end);
            if (has_end_point()) copy_scratch(out, end_point());
        }
        check_equal(r_, shape_.nrows, "time operator rows miscounted");
        return nnz_;
    }

    // The rows fill writes, in its order, counted from the same patterns:
    // each run of moved rows of a kind counted in one pass over its template.
    void count_in_block(linear_algebra::BlockCounts& counts)
    {
        const std::uint64_t k_begin = shape_.k_begin;
        const std::uint64_t k_end = shape_.k_end;
        const std::uint64_t built_end = std::min(k_end, template_k);
        const std::uint64_t moved_begin = std::max(k_begin, template_k);
        const std::uint64_t moved = k_end > moved_begin ? k_end - moved_begin : 0;
        // Kind `kind`'s rows of the moved sub-intervals, the row of each `kinds`-th.
        const auto moved_kind = [&](std::uint64_t kind, std::uint64_t offset, std::uint64_t kinds) {
            const RowTemplate& t = templates_[kind];
            counts.moved(t.columns.data(), t.columns.size(), moved_begin * step_, step_, moved, offset, kinds);
        };
        if (legendre_test_) {
            for (std::uint64_t i = 0; i <= p_; ++i) {
                for (std::uint64_t k = k_begin; k < built_end; ++k)
                    counts.row(scratch_columns_.data(), generic(i, k), 0);
                moved_kind(i, 0, 1);
                counts.skip(moved);
            }
        } else {
            for (std::uint64_t k = k_begin; k < built_end; ++k) {
                for (std::uint64_t j = 0; j < p_; ++j) counts.row(scratch_columns_.data(), generic(j, k), 0);
            }
            for (std::uint64_t j = 0; j < p_; ++j) moved_kind(j, j, p_);
            counts.skip(moved * p_);
            if (has_end_point()) counts.row(scratch_columns_.data(), end_point(), 0);
        }
        check_equal(counts.rows(), shape_.nrows, "time operator rows miscounted");
    }

private:
    // Appends the scratch row's n entries as the next row.
    template <class Index>
    void copy_scratch(const CsrRows<Index>& out, std::uint64_t n)
    {
        for (std::uint64_t e = 0; e < n; ++e) {
            out.col_indices[nnz_ + e] = static_cast<Index>(scratch_columns_[e]);
            out.values[nnz_ + e] = scratch_values_[e];
        }
        nnz_ += n;
        out.offsets[++r_] = static_cast<Index>(nnz_);
        countdown_.tick(n + 1);
    }

    // Appends, for each sub-interval k in [k_first, k_last), the rows of kinds
    // [kind_first, kind_first + kind_count) moved from their templates. The
    // rows of a block of sub-intervals are written once; each further block is
    // the same values, its columns and offsets moved by a constant, so the fill
    // is a copy and two additions over whole arrays.
    template <class Index>
    void moved_rows(const CsrRows<Index>& out, std::uint64_t kind_first, std::uint64_t kind_count,
                    std::uint64_t k_first, std::uint64_t k_last)
    {
        if (k_first >= k_last) return;
        std::uint64_t per_interval = 0;
        for (std::uint64_t kind = kind_first; kind < kind_first + kind_count; ++kind)
            per_interval += templates_[kind].columns.size();
        const std::uint64_t width = std::min(k_last - k_first, block_work / (per_interval + kind_count) + 1);
        std::vector<Index> block_columns = reserved_vector<Index>(width * per_interval);
        std::vector<double> block_values = reserved_vector<double>(width * per_interval);
        std::vector<Index> block_offsets = reserved_vector<Index>(width * kind_count);
        for (std::uint64_t k = k_first; k < k_first + width; ++k) {
            const std::int64_t base = static_cast<std::int64_t>(k * step_);
            for (std::uint64_t kind = kind_first; kind < kind_first + kind_count; ++kind) {
                const RowTemplate& t = templates_[kind];
                for (const std::int64_t moved : t.columns) block_columns.push_back(static_cast<Index>(base + moved));
                block_values.insert(block_values.end(), t.values.begin(), t.values.end());
                block_offsets.push_back(static_cast<Index>(block_columns.size()));
            }
        }
        Index* const columns = out.col_indices.data();
        double* const values = out.values.data();
        Index* const offsets = out.offsets.data();
        for (std::uint64_t k = k_first; k < k_last; k += width) {
            const std::uint64_t intervals = std::min(width, k_last - k);
            const std::uint64_t entries = intervals * per_interval;
            const std::uint64_t rows = intervals * kind_count;
            const auto column_shift = static_cast<Index>((k - k_first) * step_);
            const auto offset_shift = static_cast<Index>(nnz_);
            Index* const column = columns + nnz_;
            const Index* const block_column = block_columns.data();
            for (std::uint64_t e = 0; e < entries; ++e) column[e] = static_cast<Index>(block_column[e] + column_shift);
            std::copy_n(block_values.data(), entries, values + nnz_);
            Index* const offset = offsets + r_ + 1;
            const Index* const block_offset = block_offsets.data();
            for (std::uint64_t j = 0; j < rows; ++j) offset[j] = static_cast<Index>(block_offset[j] + offset_shift);
            nnz_ += entries;
            r_ += rows;
            countdown_.tick(entries + rows);
        }
    }

    // Row `kind` of sub-interval k: polynomial i (Legendre), node j (Lagrange), into the scratch row.
    std::uint64_t generic(std::uint64_t kind, std::uint64_t k)
    {
        Part parts[2] = {{k, kind}, {k, kind}};
        std::uint64_t count = 1;
        if (!legendre_test_ && kind == 0 && k > 0) {
            parts[0] = {k - 1, p_};  // a node shared with the sub-interval before
            parts[1] = {k, 0};
            count = 2;
        }
        return builder_.entries(parts, count, scratch_columns_.data(), scratch_values_.data());
    }

    bool has_end_point() const noexcept
    {
        return !legendre_test_ && shape_.k_end == shape_.n_t && shape_.k_begin < shape_.k_end;
    }

    // The end point T, owned by the last sub-interval.
    std::uint64_t end_point()
    {
        const Part last{shape_.n_t - 1, p_};
        return builder_.entries(&last, 1, scratch_columns_.data(), scratch_values_.data());
    }

    const TimeOperatorShape& shape_;
    RowBuilder builder_;
    std::uint64_t step_;
    bool legendre_test_;
    std::uint64_t p_;
    std::uint64_t kinds_;
    std::uint64_t longest_;
    std::vector<std::uint64_t> scratch_columns_;
    std::vector<double> scratch_values_;
    std::vector<RowTemplate> templates_;
    std::uint64_t nnz_ = 0;  // the fill's position: entries and rows written
    std::uint64_t r_ = 0;
    InterruptCountdown countdown_;
};

// Bytes that the blocks and one fill hold at their peak: the reference
// integrals, the local blocks, a row of each kind and the rows being summed.
// A size beyond 64 bits cannot be had (std::bad_alloc).
std::uint64_t work_bytes(const TimeOperatorShape& shape)
{
    std::uint64_t total = 0;
    auto add = [&](std::uint64_t count, std::uint64_t size) {
        std::uint64_t bytes;
        if (mul_overflows(count, size, bytes) || add_overflows(total, bytes, total)) throw std::bad_alloc();
    };
    const std::uint64_t nb = shape.trial.size();
    const std::uint64_t na = shape.test.size();
    std::uint64_t entries;
    if (mul_overflows(na, nb, entries)) throw std::bad_alloc();
    if (shape.op == TimeOperator::jump) {
        add(entries, 2 * sizeof(Integral));
    } else {
        add(reference_block_bytes(shape.trial, shape.test), 1);
    }
    const std::uint64_t kinds = shape.test.kind == BasisKind::legendre ? na : shape.test.degree;
    add(kinds, 3 * nb * (sizeof(std::int64_t) + sizeof(double)) + sizeof(RowTemplate));
    add(nb, 3 * (sizeof(Integral) + sizeof(std::uint64_t) + sizeof(double)));
    return total;
}

}  // namespace

namespace {

// Sets the rows of the shape's range and a bound on their entries.
void count_rows(TimeOperatorShape& shape)
{
    const LocalBasis& trial = shape.trial;
    const LocalBasis& test = shape.test;
    const std::uint64_t k_begin = shape.k_begin;
    const std::uint64_t k_end = shape.k_end;
    const std::uint64_t n_t = shape.n_t;
    const std::uint64_t intervals = k_end - k_begin;
    // Rows reach one sub-interval back for the jump's upwind value, and a
    // Lagrange test node shared by two sub-intervals reaches one more.
    const std::uint64_t reach = shape.op == TimeOperator::jump ? 2 : 1;
    std::uint64_t nrows;
    std::uint64_t max_nnz;
    if (test.kind == BasisKind::legendre) {
        nrows = checked_mul(intervals, test.size());
        max_nnz = checked_mul(nrows, window_columns(trial, reach));
    } else {
        const bool has_end = intervals > 0 && k_end == n_t;
        nrows = checked_add(checked_mul(intervals, test.degree), has_end ? 1 : 0);
        const std::uint64_t shared = intervals == 0 ? 0 : k_end - std::max<std::uint64_t>(k_begin, 1);
        max_nnz = checked_add(checked_mul(nrows - shared, window_columns(trial, reach)),
                              checked_mul(shared, window_columns(trial, reach + 1)));
    }
    shape.nrows = nrows;
    shape.max_nnz = max_nnz;
}

}  // namespace

TimeOperatorShape time_operator_shape(TimeOperator op, const LocalBasis& trial, const LocalBasis& test,
                                      std::uint64_t n_t, double T, std::uint64_t k_begin, std::uint64_t k_end)
{
    for (const LocalBasis* basis : {&trial, &test}) {
        if (basis->kind == BasisKind::lagrange && basis->degree == 0)
            fail("Lagrange time space requires degree at least 1");
    }
    if (n_t == 0) fail("time grid requires at least one interval");
    if (!(std::isfinite(T) && T > 0.0)) fail("time grid requires a positive finite end time");
    if (!(k_begin <= k_end && k_end <= n_t)) fail("interval range out of bounds");
    const std::uint64_t ncols = dimension(trial, n_t);
    dimension(test, n_t);
    TimeOperatorShape shape{op, trial, test, n_t, T, k_begin, k_end, 0, ncols, 0, nullptr};
    count_rows(shape);
    require_bytes(work_bytes(shape));
    shape.blocks = std::make_shared<const TimeOperatorBlocks>(local_blocks(shape));
    // The bound above keeps the count below from overflowing; the exact count
    // comes from the same rows the fill writes, so nothing is reserved in vain.
    shape.max_nnz = OperatorRows(shape).count();
    return shape;
}

TimeOperatorShape time_operator_part(const TimeOperatorShape& whole, std::uint64_t k_begin, std::uint64_t k_end)
{
    if (!(k_begin <= k_end && k_end <= whole.n_t)) fail("interval range out of bounds");
    TimeOperatorShape part = whole;
    part.k_begin = k_begin;
    part.k_end = k_end;
    count_rows(part);
    part.max_nnz = OperatorRows(part).count();
    return part;
}

template <class Index>
std::uint64_t fill_time_operator_rows(const TimeOperatorShape& shape, const CsrRows<Index>& out)
{
    check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    return OperatorRows(shape).fill(out);
}

void count_time_operator_rows(const TimeOperatorShape& shape, linear_algebra::BlockCounts& counts)
{
    OperatorRows(shape).count_in_block(counts);
}

template std::uint64_t fill_time_operator_rows(const TimeOperatorShape&, const CsrRows<std::int32_t>&);
template std::uint64_t fill_time_operator_rows(const TimeOperatorShape&, const CsrRows<std::int64_t>&);

}  // namespace zelk::time_operators
