// Quadrature copies on a range of sub-intervals: fill_time_quadrature's arithmetic with its invariants hoisted.
#include "time_operators/quadrature_copies.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/split_product.hpp"

namespace zelk::time_operators {

namespace {

// Where Dekker's product of two_product needs no rescaling.
bool plain_factor(double x) noexcept
{
    const double a = std::fabs(x);
    return a >= 0x1p-480 && a <= 0x1p+480;
}

// (k + x_i) h for a block of counts k >= 1 below 2^53 and a step h whose
// leading part needs no rescaling in Dekker's product: the operations of
// DoubleDouble's operator+ and operator* in their order, those that depend
// on i alone (the sum of k's zero low part with x_i's) taken once, and the
// step split once. The same operations give the same bits; each point is
// computed for a whole block of k at once, which the compiler vectorises.
class BlockedCopies {
public:
    static constexpr std::uint64_t block = 256;

    BlockedCopies(const std::vector<DoubleDouble>& position, DoubleDouble h, const std::vector<double>& weight)
        : n_(position.size()),
          weight_(weight),
          h_(h),
          split_h_(h),
          high_(reserved_vector<double>(n_)),
          low_hi_(reserved_vector<double>(n_)),
          low_lo_(reserved_vector<double>(n_)),
          column_(reserved_vector<double>(checked_mul(n_, block)))
    {
        for (const DoubleDouble& x : position) {
            high_.push_back(x.hi);
            const DoubleDouble low = dd_detail::two_sum(0.0, x.lo);  // operator+'s sum of the low parts
            low_hi_.push_back(low.hi);
            low_lo_.push_back(low.lo);
        }
        column_.resize(n_ * block);
    }

    void write(std::uint64_t k_first, std::uint64_t count, double* times, double* weights)
    {
        double counts[block];
        for (std::uint64_t j = 0; j < count; ++j) counts[j] = static_cast<double>(k_first + j);
        const double hh = split_h_.hi.high;
        const double hl = split_h_.hi.low;
        const double h_hi = h_.hi;
        const double h_lo = h_.lo;
        for (std::uint64_t i = 0; i < n_; ++i) {
            const double x_hi = high_[i];
            const double low_hi = low_hi_[i];
            const double low_lo = low_lo_[i];
            double* out = column_.data() + i * block;
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
                const double c = 134217729.0 * hi;
                const double high = c - (c - hi);
                const double low = hi - high;
                const double p = hi * h_hi;
                const double error = ((high * hh - p) + high * hl + low * hh) + low * hl;
                const double e = error + (hi * h_lo + tail * h_hi);
                const double sum = p + e;
                out[j] = sum + (e - (sum - p));
            }
        }
        for (std::uint64_t j = 0; j < count; ++j) {
            for (std::uint64_t i = 0; i < n_; ++i) times[j * n_ + i] = column_[i * block + j];
        }
        if (weights == nullptr) return;
        for (std::uint64_t j = 0; j < count; ++j) {
            for (std::uint64_t i = 0; i < n_; ++i) weights[j * n_ + i] = weight_[i];
        }
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
        for (std::uint64_t k = first; k < last; k += BlockedCopies::block) {
            const std::uint64_t count = std::min<std::uint64_t>(BlockedCopies::block, last - k);
            copies.write(k, count, times.data() + (k - k_begin) * n,
                         once ? nullptr : weights.data() + (k - k_begin) * n);
        }
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
