// GridLocator: a time's sub-interval on a grid, uniform from 0 or given by its points, as a right or left limit.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zelk::piecewise_polynomials {

// Which sub-interval a grid point belongs to: the one on its right (the end
// point to the last one) or the one on its left (the start point to none).
enum class Side { right, left };

// A time placed on a grid: sub-interval k, the local coordinate x in [-1, 1]
// and the width that scales derivatives (h on a uniform grid, t_{k+1} - t_k
// on any other).
struct Placement {
    std::uint64_t k;
    double x;
    double width;
};

class GridLocator {
public:
    // n_t >= 1 equal sub-intervals of [0, T]: located as LegendreBasis locates
    // (same k and x, bit for bit) for side right.
    static GridLocator uniform(std::uint64_t n_t, double T);
    // The grid t_0 < ... < t_n given by its points (at least two, strictly
    // increasing, finite; the caller has checked them). Located by binary
    // search, starting from the previous time's sub-interval.
    static GridLocator from_points(std::span<const double> points);

    // For a batch of `count` times on a grid given by its points: when the
    // batch is large against the grid, a table of n_t equal buckets of
    // [start, end], each with the sub-intervals it can meet, so that a time in
    // random order is found by a search over a bucket instead of the grid.
    // Changes no placement. Polls for interrupts.
    void prepare_for(std::uint64_t count);

    std::uint64_t n_t() const noexcept { return n_t_; }
    double start() const noexcept;
    double end() const noexcept;

    // t's sub-interval for `side`, or nothing where t has none: outside
    // [start, end], NaN, or the start with side left. `hint` is a sub-interval
    // to try first (any value is fine).
    std::optional<Placement> locate(double t, Side side, std::uint64_t hint = 0) const noexcept;

private:
    GridLocator(std::uint64_t n_t, double T, std::span<const double> points) noexcept;
    double coordinate(std::uint64_t k, double t) const noexcept;
    std::uint64_t bucket(double t) const noexcept;

    std::uint64_t n_t_;
    double T_;
    double h_;
    std::span<const double> points_;  // empty for the uniform grid
    // Bucket b holds the times t with floor((t - start) * scale) = b (the
    // last bucket also those beyond); last_in_[b] is the last sub-interval k
    // whose point t_k falls in bucket b or an earlier one. Empty until prepared.
    std::vector<std::uint64_t> last_in_;
    double scale_ = 0.0;
};

}  // namespace zelk::piecewise_polynomials
