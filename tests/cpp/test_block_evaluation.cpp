// The blocked evaluation against the one-time evaluate on grids of every index width it picks.
#include <gtest/gtest.h>

#include "fault_message.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "linear_algebra/dense_matrix.hpp"
#include "piecewise_polynomials/legendre_basis.hpp"

using zelk::linear_algebra::DenseMatrixView;
using zelk::piecewise_polynomials::LegendreBasis;

namespace {

constexpr std::uint64_t rows = 6;  // the table covers the first rows sub-intervals only

// Times in the first `rows` sub-intervals: their bounds, their neighbours, random
// points, and the times that clamp into sub-interval 0. Enough for several blocks.
std::vector<double> times_on_first_rows(double h)
{
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(0.0, 0.999);
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> times{-inf, -1.0, std::numeric_limits<double>::quiet_NaN(), 0.0, -0.0};
    for (std::uint64_t k = 0; k < rows; ++k) {
        const double left = h * static_cast<double>(k);
        times.insert(times.end(), {left, std::nextafter(left, inf), std::nextafter(left, -inf)});
        for (int i = 0; i < 40; ++i) times.push_back(h * (static_cast<double>(k) + u(rng)));
    }
    return times;
}

}  // namespace

// n_t up to 2^31, up to 2^53 and beyond take three different locating paths.
class BlockEvaluation : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(BlockEvaluation, KeepsTheBitsOfTheOneTimeEvaluation)
{
    const std::uint64_t n_t = GetParam();
    for (std::uint64_t degree : {0, 1, 2, 3, 5, 8}) {
        const LegendreBasis basis{degree, n_t, 3.0};
        std::mt19937_64 rng(degree);
        std::uniform_real_distribution<double> coefficient(-2.0, 2.0);
        std::vector<double> data(rows * (degree + 1));
        for (double& c : data) c = coefficient(rng);
        const auto table = DenseMatrixView::column_major(data, rows, degree + 1);
        const std::vector<double> times = times_on_first_rows(basis.h);
        std::vector<double> out(times.size());
        for (bool derivative : {false, true}) {
            basis.evaluate_many(times, table, derivative, out);
            for (std::size_t r = 0; r < times.size(); ++r) {
                const double want = derivative ? basis.evaluate_derivative(times[r], table)
                                               : basis.evaluate(times[r], table);
                EXPECT_EQ(std::bit_cast<std::uint64_t>(out[r]), std::bit_cast<std::uint64_t>(want))
                    << "n_t " << n_t << ", degree " << degree << ", derivative " << derivative << ", t " << times[r];
            }
        }
        // A time beyond the table's rows is the same fault as for one time.
        const std::vector<double> beyond{basis.h * static_cast<double>(rows) * 1.5};
        std::vector<double> one(1);
        EXPECT_EQ(fault_message([&] { basis.evaluate_many(beyond, table, false, one); }),
                  "Matrix slicing out of bounds.");
    }
}

INSTANTIATE_TEST_SUITE_P(IndexWidths, BlockEvaluation,
                         ::testing::Values(std::uint64_t{7}, std::uint64_t{1} << 31, (std::uint64_t{1} << 31) + 1,
                                           std::uint64_t{1} << 53, (std::uint64_t{1} << 53) + 2,
                                           std::numeric_limits<std::uint64_t>::max()));
