// GridLocator: sub-interval and local coordinate of a time, for both one-sided limits.
#include "piecewise_polynomials/grid_location.hpp"

#include <cmath>
#include <cstddef>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "piecewise_polynomials/time_grid_location.hpp"

namespace zelk::piecewise_polynomials {

namespace {

double clamped(double x) noexcept
{
    if (x < -1.0) return -1.0;
    if (x > 1.0) return 1.0;
    return x;  // NaN passes unchanged
}

// The local coordinate of t on [left, right], in locate_time_with_length's
// operand order; where left + right overflows, from halves.
double local_coordinate(double left, double right, double t) noexcept
{
    const double s = left + right;
    if (std::isinf(s)) [[unlikely]] {
        const double half_left = left * 0.5;
        const double half_right = right * 0.5;
        const double d = t - (half_left + half_right);
        return clamped(d / (half_right - half_left));
    }
    const double d = t - s / 2.0;
    return clamped((d + d) / (right - left));
}

// The last index i with points[i] <= t (points[0] <= t), or with points[i] < t
// (points[0] < t): a search whose steps compile to conditional moves, since for
// times in random order the branches of a plain binary search are guesses.
std::uint64_t last_at_most(std::span<const double> points, double t) noexcept
{
    const double* base = points.data();
    std::size_t n = points.size();
    while (n > 1) {
        const std::size_t half = n / 2;
        base = base[half] <= t ? base + half : base;
        n -= half;
    }
    return static_cast<std::uint64_t>(base - points.data());
}

std::uint64_t last_below(std::span<const double> points, double t) noexcept
{
    const double* base = points.data();
    std::size_t n = points.size();
    while (n > 1) {
        const std::size_t half = n / 2;
        base = base[half] < t ? base + half : base;
        n -= half;
    }
    return static_cast<std::uint64_t>(base - points.data());
}

}  // namespace

GridLocator::GridLocator(std::uint64_t n_t, double T, std::span<const double> points) noexcept
    : n_t_(n_t), T_(T), h_(T / static_cast<double>(n_t)), points_(points)
{
}

GridLocator GridLocator::uniform(std::uint64_t n_t, double T)
{
    if (n_t == 0) fail("a grid needs at least one sub-interval");
    return GridLocator(n_t, T, {});
}

GridLocator GridLocator::from_points(std::span<const double> points)
{
    if (points.size() < 2) fail("a grid needs at least two points");
    return GridLocator(points.size() - 1, points.back(), points);
}

double GridLocator::start() const noexcept
{
    return points_.empty() ? 0.0 : points_.front();
}

double GridLocator::end() const noexcept
{
    return points_.empty() ? T_ : points_.back();
}

std::uint64_t GridLocator::bucket(double t) const noexcept
{
    const std::uint64_t b = saturating_floor_to_u64((t - points_.front()) * scale_);
    return b < n_t_ ? b : n_t_ - 1;
}

void GridLocator::prepare_for(std::uint64_t count)
{
    // Below a quarter of a time per sub-interval the table would cost more than it saves.
    if (points_.empty() || n_t_ < 64 || count < n_t_ / 4 || !last_in_.empty()) return;
    last_in_ = reserved_vector<std::uint64_t>(n_t_);
    // A span too wide for a double (inf) gives scale 0: one bucket, the whole grid.
    scale_ = static_cast<double>(n_t_) / (points_.back() - points_.front());
    std::uint64_t k = 0;
    InterruptCountdown countdown;
    for (std::uint64_t b = 0; b < n_t_; ++b) {
        while (k + 1 < n_t_ && bucket(points_[k + 1]) <= b) ++k;
        last_in_.push_back(k);
        countdown.tick(1);
    }
}

double GridLocator::coordinate(std::uint64_t k, double t) const noexcept
{
    if (points_.empty()) {
        const double left = h_ * static_cast<double>(k);
        return local_coordinate(left, h_ + left, t);  // not h * (k + 1), as LegendreBasis
    }
    return local_coordinate(points_[k], points_[k + 1], t);
}

std::optional<Placement> GridLocator::locate(double t, Side side, std::uint64_t hint) const noexcept
{
    if (!(t >= start() && t <= end())) return std::nullopt;  // NaN too
    if (side == Side::left && t == start()) return std::nullopt;
    if (points_.empty()) {
        // LegendreBasis's sub-interval; a left limit moves back from its left end.
        const GridLocation at = locate_time_unbounded(h_, n_t_, t);
        std::uint64_t k = at.k;
        if (side == Side::left && k > 0 && t <= h_ * static_cast<double>(k)) --k;
        const double x = k == at.k ? at.x : coordinate(k, t);
        return Placement{k, x, h_};
    }
    const auto holds = [&](std::uint64_t k) {
        if (side == Side::right) return points_[k] <= t && (t < points_[k + 1] || k + 1 == n_t_);
        return points_[k] < t && t <= points_[k + 1];
    };
    std::uint64_t k = hint;
    if (k >= n_t_ || !holds(k)) {
        // t's sub-interval k has t_k in t's bucket or an earlier one, and
        // t_{k+1} in t's bucket or a later one (the bucket is monotone in t):
        // so k lies between the last sub-intervals of the bucket before and of its own.
        std::span<const double> candidates = points_;
        std::uint64_t first = 0;
        if (!last_in_.empty()) {
            const std::uint64_t b = bucket(t);
            first = b == 0 ? 0 : last_in_[b - 1];
            candidates = points_.subspan(first, last_in_[b] - first + 1);
        }
        k = first + (side == Side::right ? last_at_most(candidates, t) : last_below(candidates, t));
        if (k >= n_t_) k = n_t_ - 1;  // the end point, for side right
    }
    return Placement{k, coordinate(k, t), points_[k + 1] - points_[k]};
}

}  // namespace zelk::piecewise_polynomials
