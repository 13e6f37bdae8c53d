// Interrupt polling: pieces cover a range exactly, countdowns poll once per stride, a throwing check stops a loop.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "fault/interrupt.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"

namespace {

int polls = 0;

struct Stop {};

class Interrupt : public ::testing::Test {
protected:
    void SetUp() override
    {
        polls = 0;
        zelk::set_interrupt_check([] { ++polls; });
    }
    void TearDown() override { zelk::set_interrupt_check(nullptr); }
};

TEST_F(Interrupt, PiecesCoverTheRangeInOrderAndPollBetween)
{
    for (const auto& [begin, end] : {std::pair<std::uint64_t, std::uint64_t>{3, 3}, {5, 3}, {0, 7}, {2, 12}, {0, 8}}) {
        polls = 0;
        std::vector<std::uint64_t> seen;
        zelk::for_each_piece(begin, end, [&](std::uint64_t first, std::uint64_t last) {
            EXPECT_LE(last - first, 4u);
            for (std::uint64_t i = first; i < last; ++i) seen.push_back(i);
        }, 4);
        std::vector<std::uint64_t> expected;
        for (std::uint64_t i = begin; i < end; ++i) expected.push_back(i);
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(polls, end > begin ? static_cast<int>((end - begin - 1) / 4) : 0) << begin << ".." << end;
    }
}

TEST_F(Interrupt, CountdownPollsOncePerStride)
{
    zelk::InterruptCountdown countdown(10);
    for (int i = 0; i < 35; ++i) countdown.tick();
    EXPECT_EQ(polls, 3);
    countdown.tick(100);  // one large step polls once
    EXPECT_EQ(polls, 4);
}

TEST_F(Interrupt, ThrowingCheckStopsALongLoop)
{
    zelk::set_interrupt_check([] { throw Stop{}; });
    EXPECT_THROW(zelk::piecewise_polynomials::LagrangeBasis::new_(1, 1 << 20, 1.0), Stop);
    zelk::set_interrupt_check(nullptr);
    EXPECT_EQ(zelk::piecewise_polynomials::LagrangeBasis::new_(1, 1 << 20, 1.0).points.size(), (1u << 20) + 1);
}

}  // namespace
