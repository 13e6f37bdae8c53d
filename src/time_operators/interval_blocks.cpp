// IntervalBlocks: the template's entries a block of sub-intervals at a time, in the clone of the active vector level.
#include "time_operators/interval_blocks.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "fault/checked_size.hpp"
#include "time_operators/split_product.hpp"
#include "vector_units/vector_level.hpp"

namespace zelk::time_operators {

namespace {

using Term = IntervalBlocks::Term;
using Entry = IntervalBlocks::Entry;
using Kind = IntervalBlocks::Kind;
using Factor = IntervalBlocks::Factor;

// What one computation of a block reads and writes.
struct BlockWork {
    const double* points;
    std::uint64_t k0;
    std::uint64_t n;
    const Entry* entries;
    std::uint64_t e_begin;
    std::uint64_t e_end;
    double* steps;  // 4 parts of stride slots each: slot j the step of k0 - 1 + j
    std::uint64_t slots;
    double* values;  // entry e of sub-interval k0 + j at e * stride + j
    std::uint64_t stride;
    std::uint64_t first_checked;  // the slots from here to n are checked
    std::uint64_t* outside;       // the count of checked steps outside Dekker's range
};

template <StepSum Form>
ZELK_KERNEL DoubleDouble step_of(const double* points, std::uint64_t k)
{
    if constexpr (Form == StepSum::two_sum) {
        return dd_detail::two_sum(points[k + 1], -points[k]);
    } else {
        return DoubleDouble(points[k + 1]) - points[k];
    }
}

// Steps first ... first + count - 1 split into slots at, at + 1, ...
template <StepSum Form>
ZELK_KERNEL void split_steps(const double* points, std::uint64_t first, std::uint64_t count, double* __restrict steps,
                             std::uint64_t slots, std::uint64_t at)
{
    double* const value = steps + at;
    double* const high = steps + slots + at;
    double* const low = steps + 2 * slots + at;
    double* const tail = steps + 3 * slots + at;
    for (std::uint64_t i = 0; i < count; ++i) {
        const SplitDoubleDouble h(step_of<Form>(points, first + i));
        value[i] = h.hi.value;
        high[i] = h.hi.high;
        low[i] = h.hi.low;
        tail[i] = h.lo;
    }
}

// The term times one step: ScaledTerms::times' operations in their order.
ZELK_KERNEL DoubleDouble scaled(const Term& t, double hv, double hh, double hl, double ht)
{
    const double p = t.value * hv;
    const double error = ((t.high * hh - p) + t.high * hl + t.low * hh) + t.low * hl;
    const double cross = t.value * ht + t.tail * hv;
    const double s = p + (error + cross);
    return {s, (error + cross) - (s - p)};
}

// DoubleDouble's operator* of the factor by a step whose leading part is
// split (hv, hh, hl; ht its low part), both leading parts within [2^-480,
// 2^480]: two_product's Dekker branch, the cross terms, fast_two_sum.
ZELK_KERNEL DoubleDouble product(const Factor& a, double hv, double hh, double hl, double ht)
{
    const double p = a.hi * hv;
    const double error = ((a.high * hh - p) + a.high * hl + a.low * hh) + a.low * hl;
    const double e = error + (a.hi * ht + a.lo * hv);
    const double s = p + e;
    return {s, e - (s - p)};
}

// Entry e over the block's n sub-intervals, into out[0 .. n).
ZELK_KERNEL void entry_values(const Entry& x, const double* __restrict steps, std::uint64_t slots, std::uint64_t n,
                              double* __restrict out)
{
    // Slot j + 1 holds the step of k0 + j, slot j that of k0 + j - 1.
    const double* const a = steps + 1 - x.first.previous;
    const double* const av = a;
    const double* const ah = a + slots;
    const double* const al = a + 2 * slots;
    const double* const at = a + 3 * slots;
    const Term first = x.first;
    if (x.kind == Kind::single) {
        for (std::uint64_t j = 0; j < n; ++j) {
            const DoubleDouble p = scaled(first, av[j], ah[j], al[j], at[j]);
            out[j] = p.hi + p.lo;  // to_double()
        }
        return;
    }
    if (x.kind == Kind::sum_of_one) {
        for (std::uint64_t j = 0; j < n; ++j) {
            DoubleDouble sum = 0.0;
            sum += scaled(first, av[j], ah[j], al[j], at[j]);
            out[j] = sum.to_double();
        }
        return;
    }
    const double* const b = steps + 1 - x.second.previous;
    const double* const bv = b;
    const double* const bh = b + slots;
    const double* const bl = b + 2 * slots;
    const double* const bt = b + 3 * slots;
    if (x.kind == Kind::rounded_pair) {
        const Factor value = x.pair[0];
        const Factor magnitude = x.pair[1];
        const Factor second_value = x.pair[2];
        const Factor second_magnitude = x.pair[3];
        for (std::uint64_t j = 0; j < n; ++j) {
            DoubleDouble sum = product(value, av[j], ah[j], al[j], at[j]);
            DoubleDouble size = product(magnitude, av[j], ah[j], al[j], at[j]);
            sum += product(second_value, bv[j], bh[j], bl[j], bt[j]);
            size += product(second_magnitude, bv[j], bh[j], bl[j], bt[j]);
            // rounded_integral(sum, size)
            out[j] = std::fabs(sum.hi) <= size.hi * 0x1p-90 ? 0.0 : sum.to_double();
        }
        return;
    }
    const Term second = x.second;
    for (std::uint64_t j = 0; j < n; ++j) {
        DoubleDouble sum = 0.0;
        sum += scaled(first, av[j], ah[j], al[j], at[j]);
        sum += scaled(second, bv[j], bh[j], bl[j], bt[j]);
        out[j] = sum.to_double();
    }
}

template <StepSum Form>
ZELK_KERNEL void compute_block(const BlockWork* w)
{
    if (w->k0 > 0) {
        split_steps<Form>(w->points, w->k0 - 1, w->n + 1, w->steps, w->slots, 0);
    } else {
        split_steps<Form>(w->points, 0, 1, w->steps, w->slots, 0);
        split_steps<Form>(w->points, 0, w->n, w->steps, w->slots, 1);
    }
    for (std::uint64_t e = w->e_begin; e < w->e_end; ++e)
        entry_values(w->entries[e], w->steps, w->slots, w->n, w->values + e * w->stride);
    // Each slot's leading part within [2^-480, 2^480] in magnitude (NaN is not).
    std::uint64_t outside = 0;
    const double* const value = w->steps;
    for (std::uint64_t j = w->first_checked; j <= w->n; ++j) {
        const double a = std::fabs(value[j]);
        outside += ((a >= 0x1p-480) & (a <= 0x1p480)) ? 0 : 1;
    }
    *w->outside = outside;
}

// What one placement reads and writes: entries [0, count) of the computed
// ones (relative columns, values at e * stride + j) for n sub-intervals.
template <class Index>
struct Placement {
    const std::int64_t* relative;
    const double* computed;
    std::uint64_t stride;
    std::uint64_t count;
    std::uint64_t n;
    std::uint64_t base;  // the first sub-interval's column k0 column_stride
    std::uint64_t column_stride;
    Index* columns;
    double* values;
};

// Sub-interval after sub-interval, Count entries each: the entries of one
// sub-interval written side by side (the count known, the inner loop unrolled).
template <class Index, std::uint64_t Count>
ZELK_KERNEL void place_fixed(const Placement<Index>& p)
{
    std::uint64_t relative[Count];
    for (std::uint64_t e = 0; e < Count; ++e) relative[e] = static_cast<std::uint64_t>(p.relative[e]);
    Index* __restrict const columns = p.columns;
    double* __restrict const values = p.values;
    const double* __restrict const computed = p.computed;
    for (std::uint64_t j = 0; j < p.n; ++j) {
        const std::uint64_t at = p.base + j * p.column_stride;
        for (std::uint64_t e = 0; e < Count; ++e) {
            columns[j * Count + e] = static_cast<Index>(at + relative[e]);
            values[j * Count + e] = computed[e * p.stride + j];
        }
    }
}

template <class Index>
ZELK_KERNEL void place_any(const Placement<Index>& p)
{
    const std::uint64_t count = p.count;
    for (std::uint64_t e = 0; e < count; ++e) {
        const std::uint64_t relative = static_cast<std::uint64_t>(p.relative[e]);
        const double* const from = p.computed + e * p.stride;
        for (std::uint64_t j = 0; j < p.n; ++j) {
            p.columns[j * count + e] = static_cast<Index>(p.base + j * p.column_stride + relative);
            p.values[j * count + e] = from[j];
        }
    }
}

template <class Index, std::uint64_t... Counts>
ZELK_KERNEL void place_by_count(const Placement<Index>& p, std::integer_sequence<std::uint64_t, Counts...>)
{
    const bool placed = ((p.count == Counts + 1 ? (place_fixed<Index, Counts + 1>(p), true) : false) || ...);
    if (!placed) place_any(p);
}

// Counts up to 16 (a degree-3 pair's sub-interval) take an unrolled loop.
template <class Index>
ZELK_KERNEL void place_block(const Placement<Index>* p)
{
    place_by_count(*p, std::make_integer_sequence<std::uint64_t, 16>{});
}

}  // namespace

IntervalBlocks::IntervalBlocks(StepSum form, std::uint64_t column_stride, std::uint64_t capacity, bool check_previous)
    : form_(form),
      column_stride_(column_stride),
      check_previous_(check_previous),
      entries_(reserved_vector<Entry>(capacity)),
      columns_(reserved_vector<std::int64_t>(capacity))
{
}

IntervalBlocks::Term IntervalBlocks::term(const DoubleDouble& factor, bool previous) noexcept
{
    const SplitDoubleDouble split(factor);
    return {split.hi.value, split.hi.high, split.hi.low, split.lo, static_cast<unsigned char>(previous ? 1 : 0)};
}

void IntervalBlocks::add(const DoubleDouble& factor, bool previous, std::int64_t column)
{
    entries_.push_back({term(factor, previous), Term{}, Kind::single, column, {}});
    columns_.push_back(column);
    reads_previous_ = reads_previous_ || previous;
}

void IntervalBlocks::add_sum(std::uint64_t terms, const DoubleDouble& factor, bool previous, const DoubleDouble& second,
                             bool second_previous, std::int64_t column)
{
    const bool two = terms == 2;
    entries_.push_back({term(factor, previous),
                        two ? term(second, second_previous) : Term{},
                        two ? Kind::sum_of_two : Kind::sum_of_one,
                        column,
                        {}});
    columns_.push_back(column);
    reads_previous_ = reads_previous_ || previous || (two && second_previous);
}

void IntervalBlocks::add_rounded_pair(const DoubleDouble& value, const DoubleDouble& magnitude, bool previous,
                                      const DoubleDouble& second_value, const DoubleDouble& second_magnitude,
                                      bool second_previous, std::int64_t column)
{
    const auto factor = [](const DoubleDouble& x) {
        const double c = 134217729.0 * x.hi;  // 2^27 + 1, as two_product splits
        const double high = c - (c - x.hi);
        return Factor{x.hi, x.lo, high, x.hi - high};
    };
    Entry entry{term(value, previous), term(second_value, second_previous), Kind::rounded_pair, column, {}};
    entry.pair[0] = factor(value);
    entry.pair[1] = factor(magnitude);
    entry.pair[2] = factor(second_value);
    entry.pair[3] = factor(second_magnitude);
    entries_.push_back(entry);
    columns_.push_back(column);
    reads_previous_ = reads_previous_ || previous || second_previous;
}

void IntervalBlocks::prepare()
{
    const std::uint64_t entries = std::max<std::uint64_t>(entries_.size(), 1);
    block_ = std::clamp<std::uint64_t>(2048 / entries / 8 * 8, 8, 256);
    steps_ = reserved_vector<double>(checked_mul(4, block_ + 1));
    steps_.resize(4 * (block_ + 1));
    values_ = reserved_vector<double>(checked_mul(entries, block_));
    values_.resize(entries * block_);
}

bool IntervalBlocks::compute(const double* points, std::uint64_t k0, std::uint64_t n, std::uint64_t e_begin,
                             std::uint64_t e_end)
{
    std::uint64_t outside = 0;
    const BlockWork work{points,
                         k0,
                         n,
                         entries_.data(),
                         e_begin,
                         e_end,
                         steps_.data(),
                         block_ + 1,
                         values_.data(),
                         block_,
                         std::uint64_t{reads_previous_ || check_previous_ ? 0U : 1U},
                         &outside};
    if (form_ == StepSum::two_sum) {
        run_vectorized<compute_block<StepSum::two_sum>>(&work);
    } else {
        run_vectorized<compute_block<StepSum::difference>>(&work);
    }
    return outside == 0;
}

template <class Index>
void IntervalBlocks::place(std::uint64_t k0, std::uint64_t n, std::uint64_t e_begin, std::uint64_t e_end,
                           Index* columns, double* values) const
{
    const Placement<Index> placement{columns_.data() + e_begin,
                                     values_.data() + e_begin * block_,
                                     block_,
                                     e_end - e_begin,
                                     n,
                                     k0 * column_stride_,
                                     column_stride_,
                                     columns,
                                     values};
    run_vectorized<place_block<Index>>(&placement);
}

template void IntervalBlocks::place(std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::int32_t*,
                                    double*) const;
template void IntervalBlocks::place(std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::int64_t*,
                                    double*) const;

}  // namespace zelk::time_operators
