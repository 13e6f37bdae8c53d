// Internal faults: messages, the equality-check format and checked sizes.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <new>
#include <utility>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "linear_algebra/dense_matrix.hpp"

using zelk::Fault;

TEST(Fault, EqualityMessageHasThreeAlignedLines)
{
    try {
        zelk::check_equal(3, 4, "LegendreBasisEvaluator: set_dofs: input vector has wrong length");
        FAIL() << "no fault";
    } catch (const Fault& f) {
        EXPECT_EQ(f.message(),
                  "assertion `left == right` failed: LegendreBasisEvaluator: set_dofs: input vector has wrong length\n"
                  "  left: 3\n"
                  " right: 4");
    }
}

TEST(CheckedSize, OverflowIsCapacityOverflow)
{
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(zelk::checked_add(max - 1, 1), max);
    EXPECT_EQ(zelk::checked_mul(max, 0), 0u);
    for (auto f : {+[] { zelk::checked_add(std::numeric_limits<std::uint64_t>::max(), 1); }, +[] {
        zelk::checked_mul(std::uint64_t{1} << 32, std::uint64_t{1} << 32);
    }, +[] { zelk::reserved_vector<double>(std::uint64_t{1} << 62); }}) {
        try {
            f();
            FAIL() << "no fault";
        } catch (const Fault& fault) {
            EXPECT_EQ(fault.message(), "capacity overflow");
        }
    }
}

TEST(DenseMatrixView, RejectsShortBufferAndReadsColumnMajor)
{
    const double data[] = {1, 2, 3, 4, 5, 6};
    auto view = zelk::linear_algebra::DenseMatrixView::column_major(data, 2, 3);
    EXPECT_EQ(view(1, 0), 2.0);
    EXPECT_EQ(view(0, 2), 5.0);
    EXPECT_THROW(zelk::linear_algebra::DenseMatrixView::column_major({data, 5}, 2, 3), Fault);
}

TEST(CheckedSize, RequestsBeyondTheMachineFailAtOnce)
{
    const std::uint64_t limit = zelk::memory_limit();
    EXPECT_GT(limit, std::uint64_t{1} << 20);
    EXPECT_NO_THROW(zelk::require_memory(limit / 16, 8));
    EXPECT_THROW(zelk::require_memory(limit / 8 + 1, 8), std::bad_alloc);
    EXPECT_THROW(zelk::require_memory(std::uint64_t{1} << 62, 8), std::bad_alloc);  // the product overflows
    // Within the address space but beyond the machine: bad_alloc before any allocation.
    EXPECT_THROW(zelk::reserved_vector<double>(limit / 8 + 1), std::bad_alloc);
}

// The failure carries the size of the request, for a message that says it.
TEST(CheckedSize, FailedRequestsKeepTheirBytes)
{
    const std::uint64_t elements = zelk::memory_limit() / 8 + 1;
    const auto bytes_of = [](auto request) {
        try {
            request();
        } catch (const zelk::AllocationFailure& failure) {
            return std::pair{failure.bytes(), failure.beyond_64_bits()};
        }
        return std::pair{std::uint64_t{0}, false};
    };
    EXPECT_EQ(bytes_of([&] { zelk::require_memory(elements, 8); }), std::pair(elements * 8, false));
    EXPECT_EQ(bytes_of([&] { zelk::reserved_vector<double>(elements); }), std::pair(elements * 8, false));
    EXPECT_TRUE(bytes_of([] { zelk::require_memory(std::uint64_t{1} << 62, 8); }).second);
}
