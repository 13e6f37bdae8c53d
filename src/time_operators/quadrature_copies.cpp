// Quadrature copies on a range of sub-intervals: fill_time_quadrature's arithmetic with its invariants hoisted.
#include "time_operators/quadrature_copies.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/split_product.hpp"
#include "vector_units/vector_level.hpp"

namespace zelk::time_operators {

namespace {

// Where Dekker's product of two_product needs no rescaling.
bool plain_factor(double x) noexcept
{
    const double a = std::fabs(x);
    return a >= 0x1p-480 && a <= 0x1p+480;
}

// What the blocked loop reads: the points' parts and weights, the step and
// its split, and a block of scratch columns.
struct CopyParts {
    std::uint64_t n;
    const double* high;
    const double* low_hi;
    const double* low_lo;
    const double* weight;  // null: the weights are written once elsewhere
    double hh;
    double hl;
    double h_hi;
    double h_lo;
    double* column;  // n * copy_block
};

constexpr std::uint64_t copy_block = 256;

// (k + x_i) h for a block of counts k >= 1 below 2^53 and a step h whose
// leading part needs no rescaling in Dekker's product: the operations of
// DoubleDouble's operator+ and operator* in their order, those that depend
// on i alone (the sum of k's zero low part with x_i's) taken once, and the
// step split once. The same operations give the same bits; each point is
// computed for a whole block of k at once, which the compiler vectorises.
ZELK_KERNEL void write_copy_block(const CopyParts& c, std::uint64_t k_first, std::uint64_t count, double* times,
                                  double* weights)
{
    double counts[copy_block];
    for (std::uint64_t j = 0; j < count; ++j) counts[j] = static_cast<double>(k_first + j);
    const std::uint64_t n = c.n;
    for (std::uint64_t i = 0; i < n; ++i) {
        const double x_hi = c.high[i];
        const double low_hi = c.low_hi[i];
        const double low_lo = c.low_lo[i];
        double* out = c.column + i * copy_block;
        for (std::uint64_t j = 0; j < count; ++j) {
            const double a = counts[j];
            // operator+: two_sum of the leading parts (as fast_two_sum: a >= 1 >= x_hi,
            // and both give the exact rounding error, a +0.0 where there is none),
            // then the low parts' sum folded in.
            const double s = a + x_hi;
            double lo = x_hi - (s - a);
            lo = lo + low_hi;
            const double s2 = s + lo;
            double lo2 = lo - (s2 - s);
            lo2 = lo2 + low_lo;
            const double hi = s2 + lo2;
            const double tail = lo2 - (hi - s2);
            // operator*: Dekker's two_product of the leading parts, the cross terms, fast_two_sum, to_double.
            const double cut = 134217729.0 * hi;
            const double high = cut - (cut - hi);
            const double low = hi - high;
            const double p = hi * c.h_hi;
            const double error = ((high * c.hh - p) + high * c.hl + low * c.hh) + low * c.hl;
            const double e = error + (hi * c.h_lo + tail * c.h_hi);
            const double sum = p + e;
            out[j] = sum + (e - (sum - p));
        }
    }
    for (std::uint64_t j = 0; j < count; ++j) {
        for (std::uint64_t i = 0; i < n; ++i) times[j * n + i] = c.column[i * copy_block + j];
    }
    if (weights == nullptr) return;
    for (std::uint64_t j = 0; j < count; ++j) {
        for (std::uint64_t i = 0; i < n; ++i) weights[j * n + i] = c.weight[i];
    }
}

// Sub-intervals [first, last) a block at a time, in the clone of the active
// vector level; times and weights (null or not) start at sub-interval first.
ZELK_KERNEL void write_copies(const CopyParts* parts, std::uint64_t first, std::uint64_t last, double* times,
                              double* weights)
{
    const std::uint64_t n = parts->n;
    for (std::uint64_t k = first; k < last; k += copy_block) {
        const std::uint64_t count = std::min(copy_block, last - k);
        const std::uint64_t at = (k - first) * n;
        write_copy_block(*parts, k, count, times + at, weights == nullptr ? nullptr : weights + at);
    }
}

// The parts of CopyParts that last for a whole fill.
class BlockedCopies {
public:
    BlockedCopies(const std::vector<DoubleDouble>& position, DoubleDouble h, const std::vector<double>& weight)
        : n_(position.size()),
          weight_(weight),
          h_(h),
          split_h_(h),
          high_(reserved_vector<double>(n_)),
          low_hi_(reserved_vector<double>(n_)),
          low_lo_(reserved_vector<double>(n_)),
          column_(reserved_vector<double>(checked_mul(n_, copy_block)))
    {
        for (const DoubleDouble& x : position) {
            high_.push_back(x.hi);
            const DoubleDouble low = dd_detail::two_sum(0.0, x.lo);  // operator+'s sum of the low parts
            low_hi_.push_back(low.hi);
            low_lo_.push_back(low.lo);
        }
        column_.resize(n_ * copy_block);
    }

    // Sub-intervals [first, last), their times (and weights, unless null) written from `times` on.
    void write(std::uint64_t first, std::uint64_t last, double* times, double* weights)
    {
        const CopyParts parts{
            n_,    high_.data(), low_hi_.data(), low_lo_.data(), weight_.data(), split_h_.hi.high, split_h_.hi.low,
            h_.hi, h_.lo,        column_.data()};
        run_vectorized<write_copies>(&parts, first, last, times, weights);
    }

private:
    std::uint64_t n_;
    const std::vector<double>& weight_;
    DoubleDouble h_;
    SplitDoubleDouble split_h_;
    std::vector<double> high_;
    std::vector<double> low_hi_;
    std::vector<double> low_lo_;
    std::vector<double> column_;
};

}  // namespace

namespace {

// With `once`, weights holds the n weights that every sub-interval shares.
void fill_copies(const ReferenceRule& rule, std::uint64_t n_t, double T, std::uint64_t k_begin, std::uint64_t k_end,
                 std::span<double> times, std::span<double> weights, bool once)
{
    if (!(k_begin <= k_end && k_end <= n_t)) fail("interval range out of bounds");
    const std::uint64_t n = rule.nodes.size();
    check_equal(times.size(), checked_mul(k_end - k_begin, n), "quadrature times have the wrong length");
    check_equal(weights.size(), once ? n : times.size(), "quadrature weights have the wrong length");
    const DoubleDouble h = DoubleDouble(T) / DoubleDouble::from_u64(n_t);
    std::vector<DoubleDouble> position = reserved_vector<DoubleDouble>(n);
    std::vector<double> weight = reserved_vector<double>(n);
    for (std::uint64_t i = 0; i < n; ++i) {
        position.push_back((rule.nodes[i] + 1.0) * 0.5);
        weight.push_back((rule.weights[i] * h * 0.5).to_double());
    }
    // Sub-intervals k >= 1 below 2^53 (all but the first, in practice) take
    // the blocked loop below when the step needs no rescaling; the others
    // take DoubleDouble's operators themselves.
    constexpr std::uint64_t exact_counts = std::uint64_t{1} << 53;
    const bool plain_h = plain_factor(h.hi);
    auto generic = [&](std::uint64_t k) {
        double* t = times.data() + (k - k_begin) * n;
        double* w = once ? nullptr : weights.data() + (k - k_begin) * n;
        const DoubleDouble start = DoubleDouble::from_u64(k);
        for (std::uint64_t i = 0; i < n; ++i) {
            t[i] = ((start + position[i]) * h).to_double();
            if (w != nullptr) w[i] = weight[i];
        }
    };
    const std::uint64_t fast_begin = std::max<std::uint64_t>(k_begin, 1);
    const std::uint64_t fast_end = plain_h ? std::max(fast_begin, std::min(k_end, exact_counts)) : fast_begin;
    for (std::uint64_t k = k_begin; k < std::min(fast_begin, k_end); ++k) generic(k);
    BlockedCopies copies(position, h, weight);
    for_each_piece(fast_begin, fast_end, [&](std::uint64_t first, std::uint64_t last) {
        copies.write(first, last, times.data() + (first - k_begin) * n,
                     once ? nullptr : weights.data() + (first - k_begin) * n);
    }, interrupt_stride / (n + 1) + 1);
    for (std::uint64_t k = std::max(fast_end, fast_begin); k < k_end; ++k) generic(k);
    if (once) std::copy(weight.begin(), weight.end(), weights.begin());
}

}  // namespace

void fill_time_quadrature_range(const ReferenceRule& rule, std::uint64_t n_t, double T, std::uint64_t k_begin,
                                std::uint64_t k_end, std::span<double> times, std::span<double> weights)
{
    fill_copies(rule, n_t, T, k_begin, k_end, times, weights, false);
}

void fill_time_quadrature_times(const ReferenceRule& rule, std::uint64_t n_t, double T, std::uint64_t k_begin,
                                std::uint64_t k_end, std::span<double> times, std::span<double> weights)
{
    fill_copies(rule, n_t, T, k_begin, k_end, times, weights, true);
}

}  // namespace zelk::time_operators
