// GridLocator's one-sided limits and SpaceBasis's checks: exact small cases and the faults.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "fault_message.hpp"
#include "piecewise_polynomials/grid_location.hpp"
#include "piecewise_polynomials/space_evaluation.hpp"
#include "piecewise_polynomials/time_grid_location.hpp"

using namespace zelk::piecewise_polynomials;

TEST(GridLocator, GridPointsBelongToTheirSideWhateverTheHint)
{
    const std::vector<double> points{-1.0, -0.5, 0.25, 3.0};
    const GridLocator grid = GridLocator::from_points(points);
    for (std::uint64_t hint : {0u, 1u, 2u, 7u}) {
        EXPECT_EQ(grid.locate(-1.0, Side::right, hint)->k, 0u);
        EXPECT_EQ(grid.locate(-0.5, Side::right, hint)->k, 1u);
        EXPECT_EQ(grid.locate(-0.5, Side::left, hint)->k, 0u);
        EXPECT_EQ(grid.locate(3.0, Side::right, hint)->k, 2u);
        EXPECT_EQ(grid.locate(3.0, Side::left, hint)->k, 2u);
        EXPECT_EQ(grid.locate(0.0, Side::left, hint)->k, 1u);
    }
    const Placement at = *grid.locate(-0.5, Side::left);
    EXPECT_EQ(at.x, 1.0);
    EXPECT_EQ(at.width, 0.5);
    EXPECT_EQ(grid.locate(-0.5, Side::right)->x, -1.0);
    EXPECT_EQ(grid.locate(1.625, Side::right)->x, 0.0);
    EXPECT_FALSE(grid.locate(-1.0, Side::left));
    EXPECT_FALSE(grid.locate(std::nextafter(3.0, 4.0), Side::right));
    EXPECT_FALSE(grid.locate(std::numeric_limits<double>::quiet_NaN(), Side::right));
}

TEST(GridLocator, UniformRightLimitsAreLegendreBasisLocating)
{
    const std::uint64_t n_t = 7;
    const double T = 0.3;
    const double h = T / 7.0;
    const GridLocator grid = GridLocator::uniform(n_t, T);
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> time(0.0, T);
    for (int r = 0; r < 1000; ++r) {
        const double t = r < 7 ? h * r : time(random);
        const GridLocation expected = locate_time_unbounded(h, n_t, t);
        const Placement at = *grid.locate(t, Side::right);
        EXPECT_EQ(at.k, expected.k);
        EXPECT_EQ(at.x, expected.x);
        EXPECT_EQ(at.width, h);
        if (t == 0.0) continue;
        // A left limit moves back exactly at the sub-interval's left end.
        const Placement left = *grid.locate(t, Side::left);
        EXPECT_EQ(left.k, at.k > 0 && t <= h * static_cast<double>(at.k) ? at.k - 1 : at.k);
    }
    EXPECT_FALSE(grid.locate(0.0, Side::left));
    EXPECT_FALSE(grid.locate(-0.0 - 1e-300, Side::right));
}

TEST(SpaceBasis, ChecksItsSizes)
{
    const std::vector<double> nodes(5), weights(3), differentiation(9);
    SpaceBasis basis{SpaceKind::lagrange, 2, 0, 2, 2, nodes, weights, differentiation};
    EXPECT_EQ(fault_message([&] { basis.check(); }), "<no fault>");
    EXPECT_EQ(basis.columns(), 5u);
    basis.stride = 3;
    EXPECT_NE(fault_message([&] { basis.check(); }).find("node times differ"), std::string::npos);
    basis.stride = 4;
    EXPECT_EQ(fault_message([&] { basis.check(); }), "nodal stride must be degree or degree + 1");
    basis.k_end = 0;
    EXPECT_EQ(fault_message([&] { basis.check(); }), "a space evaluation needs at least one sub-interval");
    const SpaceBasis legendre{SpaceKind::legendre_polynomial_major, 1, 2, 5, 0, {}, {}, {}};
    EXPECT_EQ(legendre.columns(), 6u);
    EXPECT_EQ(legendre.column(3, 1), 4u);  // i * c + (k - k_begin)
    EXPECT_EQ(GridLocator::uniform(3, 1.0).n_t(), 3u);
    EXPECT_EQ(fault_message([] { GridLocator::from_points(std::vector<double>{1.0}); }),
              "a grid needs at least two points");
}

TEST(GridLocator, BucketsPlaceEveryTimeAsTheSearchDoes)
{
    // A graded grid with a far outlier: most buckets are empty, one holds most points.
    std::vector<double> points;
    for (int k = 0; k <= 300; ++k) points.push_back(k * k * 1e-4);
    points.push_back(1e6);
    GridLocator plain = GridLocator::from_points(points);
    GridLocator prepared = GridLocator::from_points(points);
    prepared.prepare_for(points.size());
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> time(0.0, 10.0);
    for (int r = 0; r < 3000; ++r) {
        const double t = r < static_cast<int>(points.size()) ? points[static_cast<std::size_t>(r)] : time(random);
        for (Side side : {Side::right, Side::left}) {
            const auto expected = plain.locate(t, side);
            const auto got = prepared.locate(t, side, 5);
            ASSERT_EQ(expected.has_value(), got.has_value());
            if (!expected) continue;
            EXPECT_EQ(got->k, expected->k);
            EXPECT_EQ(got->x, expected->x);
            EXPECT_TRUE(side == Side::right ? points[got->k] <= t : points[got->k] < t);
            EXPECT_TRUE(side == Side::right ? (t < points[got->k + 1] || got->k + 1 == points.size() - 1)
                                            : t <= points[got->k + 1]);
        }
    }
}
