// The Lagrange point grid: exact points, degenerate grids and size faults.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "fault/fault.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"

using zelk::piecewise_polynomials::LagrangeBasis;

namespace {

void expect_bits(const std::vector<double>& got, const std::vector<double>& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(std::signbit(got[i]), std::signbit(want[i])) << "point " << i;
        EXPECT_EQ(got[i], want[i]) << "point " << i;
    }
}

}  // namespace

TEST(LagrangePoints, ExactValuesFollowTheOperandOrder)
{
    expect_bits(LagrangeBasis::new_(2, 2, 1.0).points, {0.0, 0.25, 0.5, 0.75, 1.0});
    // h + h*k, not h*(k+1): 0.6000000000000001 is 0.1*6 while 0.1 + 0.1*5 is 0.6.
    expect_bits(LagrangeBasis::new_(1, 10, 1.0).points,
                {0.0, 0.1, 0.2, 0.30000000000000004, 0.4, 0.5, 0.6000000000000001, 0.7000000000000001, 0.8, 0.9, 1.0});
    expect_bits(LagrangeBasis::new_(2, 3, 1.0).points,
                {0.0, 0.16666666666666666, 0.3333333333333333, 0.5, 0.6666666666666666, 0.8333333333333333, 1.0});
    expect_bits(LagrangeBasis::new_(3, 1, 2.0).points, {0.0, 0.6666666666666666, 1.3333333333333333, 2.0});
    expect_bits(LagrangeBasis::new_(2, 2, -1.0).points, {-0.0, -0.25, -0.5, -0.75, -1.0});
}

TEST(LagrangePoints, DegenerateGridsHoldOnlyT)
{
    expect_bits(LagrangeBasis::new_(0, 5, 1.5).points, {1.5});
    expect_bits(LagrangeBasis::new_(3, 0, -2.0).points, {-2.0});
    // Degree 0 must not walk 2^64 - 1 empty sub-intervals.
    expect_bits(LagrangeBasis::new_(0, std::numeric_limits<std::uint64_t>::max(), 1.5).points, {1.5});
    const auto nan = LagrangeBasis::new_(1, 2, std::nan("")).points;
    ASSERT_EQ(nan.size(), 3u);
    EXPECT_TRUE(std::isnan(nan[0]) && std::isnan(nan[2]));
}

TEST(LagrangePoints, ImpossibleSizesFailBeforeFilling)
{
    try {
        LagrangeBasis::new_(std::uint64_t{1} << 62, 1, 1.0);
        FAIL() << "no fault";
    } catch (const zelk::Fault& f) {
        EXPECT_EQ(f.message(), "capacity overflow");
    }
    EXPECT_THROW(LagrangeBasis::new_(std::numeric_limits<std::uint64_t>::max(), 2, 1.0), zelk::Fault);
    EXPECT_THROW(LagrangeBasis::new_(1000000, 10000000, 1.0), std::bad_alloc);
}
