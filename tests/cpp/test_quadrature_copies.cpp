// Quadrature on a range of sub-intervals: the whole rule's entries bit for bit, whatever the scale of T.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "fault_message.hpp"
#include "time_operators/quadrature_copies.hpp"

using namespace zelk::time_operators;

namespace {

std::vector<std::uint64_t> bits(const std::vector<double>& values)
{
    std::vector<std::uint64_t> out;
    for (double v : values) out.push_back(std::bit_cast<std::uint64_t>(v));
    return out;
}

}  // namespace

TEST(QuadratureCopies, RangesAreTheWholeRulesEntriesForEveryScale)
{
    // Steps inside and outside the range where the product needs no rescaling;
    // fewer sub-intervals than a block of the fast loop, and several blocks.
    for (const double T : {1.0, 3.0, 0.1, 7.3e-160, 2.5e150, 1.7e300}) {
        for (const auto rule : {QuadratureRule::gauss, QuadratureRule::radau_left, QuadratureRule::lobatto}) {
            const ReferenceRule reference = reference_rule(rule, 3);
            for (const std::uint64_t n_t : {std::uint64_t{37}, std::uint64_t{600}}) {
                std::vector<double> times(n_t * 3), weights(n_t * 3);
                fill_time_quadrature(reference, n_t, T, times, weights);
                std::vector<double> range_times(n_t * 3), range_weights(n_t * 3);
                fill_time_quadrature_range(reference, n_t, T, 0, n_t, range_times, range_weights);
                EXPECT_EQ(bits(range_times), bits(times)) << T;
                EXPECT_EQ(bits(range_weights), bits(weights)) << T;
                std::vector<double> part_times(5 * 3), once(3);
                fill_time_quadrature_times(reference, n_t, T, 30, 35, part_times, once);
                EXPECT_EQ(bits(part_times), bits(std::vector<double>(times.begin() + 90, times.begin() + 105))) << T;
                EXPECT_EQ(bits(once), bits(std::vector<double>(weights.begin(), weights.begin() + 3))) << T;
            }
        }
    }
}

TEST(QuadratureCopies, RangeOutOfBoundsIsAFault)
{
    const ReferenceRule reference = reference_rule(QuadratureRule::gauss, 2);
    std::vector<double> times(2), weights(2);
    EXPECT_EQ(fault_message([&] { fill_time_quadrature_range(reference, 3, 1.0, 3, 4, times, weights); }),
              "interval range out of bounds");
}
