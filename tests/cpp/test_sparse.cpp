// Sparse records: COO -> CSR conversion, validation of raw CSR arrays, push faults and the triplet export.
#include <gtest/gtest.h>

#include "fault_message.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <new>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "fault/fault.hpp"
#include "linear_algebra/coo_matrix.hpp"
#include "linear_algebra/csr_matrix.hpp"
#include "linear_algebra/sparse_conversions.hpp"
#include "sparse_matrix_tools/csr_to_triplets.hpp"

using namespace zelk::linear_algebra;
using zelk::sparse_matrix_tools::csr_to_triplets;
using zelk::sparse_matrix_tools::Triplets;

namespace {

using U64s = std::vector<std::uint64_t>;

struct Entry {
    std::uint64_t i, j;
    double v;
};

CooMatrix coo_of(std::uint64_t nrows, std::uint64_t ncols, const std::vector<Entry>& entries)
{
    CooMatrix coo(nrows, ncols);
    for (const Entry& e : entries) coo.push(e.i, e.j, e.v);
    return coo;
}

// Bitwise comparison, so that -0.0 and NaN payloads count.
void expect_same_bits(const std::vector<double>& got, const std::vector<double>& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got[k]), std::bit_cast<std::uint64_t>(want[k]))
            << "entry " << k << ": " << got[k] << " vs " << want[k];
    }
}

}  // namespace

TEST(CooToCsr, SortsWithinRowsAndKeepsShape)
{
    const CsrMatrix m = convert_coo_csr(coo_of(2, 6, {{1, 2, 1.0}, {0, 5, 2.0}, {1, 0, 3.0}}));
    EXPECT_EQ(m.nrows(), 2u);
    EXPECT_EQ(m.ncols(), 6u);
    EXPECT_EQ(m.row_offsets(), (U64s{0, 1, 3}));
    EXPECT_EQ(m.col_indices(), (U64s{5, 0, 2}));
    expect_same_bits(m.values(), {2.0, 3.0, 1.0});

    const Triplets t = csr_to_triplets(m);
    EXPECT_EQ(t.row_indices, (U64s{0, 1, 1}));
    EXPECT_EQ(t.col_indices, (U64s{5, 0, 2}));
    expect_same_bits(t.values, {2.0, 3.0, 1.0});
}

TEST(CooToCsr, DuplicatesSumInInsertionOrderAndZerosStay)
{
    const CsrMatrix dup = convert_coo_csr(coo_of(1, 2, {{0, 1, 1.0}, {0, 1, 2.0}}));
    EXPECT_EQ(dup.row_offsets(), (U64s{0, 1}));
    EXPECT_EQ(dup.col_indices(), (U64s{1}));
    expect_same_bits(dup.values(), {3.0});

    // (1e17 + 1) + -1e17 is 0.0 only when added in push order; any other order gives 1.0.
    const CsrMatrix ordered =
        convert_coo_csr(coo_of(1, 3, {{0, 2, 1e17}, {0, 0, 5.0}, {0, 2, 1.0}, {0, 1, 7.0}, {0, 2, -1e17}}));
    EXPECT_EQ(ordered.col_indices(), (U64s{0, 1, 2}));
    expect_same_bits(ordered.values(), {5.0, 7.0, 0.0});

    // Explicit zeros, zero sums and a lone -0.0 are all stored as they are.
    const CsrMatrix zeros = convert_coo_csr(coo_of(2, 2, {{0, 0, 0.0}, {1, 1, 2.5}, {1, 1, -2.5}, {1, 0, -0.0}}));
    EXPECT_EQ(zeros.row_offsets(), (U64s{0, 1, 3}));
    EXPECT_EQ(zeros.col_indices(), (U64s{0, 0, 1}));
    expect_same_bits(zeros.values(), {0.0, -0.0, 0.0});
}

TEST(CooToCsr, EmptyShapes)
{
    const CsrMatrix none = convert_coo_csr(coo_of(3, 3, {}));
    EXPECT_EQ(none.row_offsets(), (U64s{0, 0, 0, 0}));
    const Triplets t = csr_to_triplets(none);
    EXPECT_TRUE(t.row_indices.empty() && t.col_indices.empty() && t.values.empty());

    const CsrMatrix no_rows = convert_coo_csr(coo_of(0, 5, {}));
    EXPECT_EQ(no_rows.nrows(), 0u);
    EXPECT_EQ(no_rows.ncols(), 5u);
    EXPECT_EQ(no_rows.row_offsets(), (U64s{0}));

    // A row count whose offset array would not fit the integer range.
    EXPECT_EQ(fault_message([] { convert_coo_csr(CooMatrix(std::numeric_limits<std::uint64_t>::max(), 1)); }),
              "capacity overflow");
}

TEST(CooToCsr, LongUnsortedRowsAreSortedAndSummed)
{
    // 60 entries in one row, columns descending with every column pushed three
    // times; integer values make the sums independent of order.
    CooMatrix coo(2, 20);
    coo.push(1, 3, 0.5);
    for (int rep = 0; rep < 3; ++rep) {
        for (std::uint64_t c = 20; c-- > 0;) coo.push(0, c, static_cast<double>(c + 100 * rep));
    }
    const CsrMatrix m = convert_coo_csr(std::move(coo));
    ASSERT_EQ(m.row_offsets(), (U64s{0, 20, 21}));
    for (std::uint64_t c = 0; c < 20; ++c) {
        EXPECT_EQ(m.col_indices()[c], c);
        EXPECT_EQ(m.values()[c], static_cast<double>(3 * c + 300));
    }
}

// Reference: an ordered map accumulating in push order. Short rows (at most
// 20 entries) must match bit for bit; long rows get integer values so that
// the order of their sums does not matter.
TEST(CooToCsr, MatchesOrderedMapReferenceOnRandomMatrices)
{
    std::mt19937_64 rng(20240611);
    for (int trial = 0; trial < 200; ++trial) {
        const std::uint64_t nrows = rng() % 12;
        const std::uint64_t ncols = 1 + rng() % 30;
        const std::uint64_t entries = nrows == 0 ? 0 : rng() % 120;
        std::vector<Entry> pushed;
        std::vector<std::uint64_t> row_length(nrows, 0);
        for (std::uint64_t k = 0; k < entries; ++k) {
            // Few columns per row in half the trials, so duplicates are common.
            const std::uint64_t i = rng() % nrows;
            const std::uint64_t j = rng() % (trial % 2 ? ncols : std::min<std::uint64_t>(ncols, 3));
            pushed.push_back({i, j, 0.0});
            ++row_length[i];
        }
        // Every third trial comes row by row (the order of every assembly in
        // the module), still unsorted within rows; stable, so sums keep their order.
        if (trial % 3 == 0) {
            std::stable_sort(pushed.begin(), pushed.end(), [](const Entry& a, const Entry& b) { return a.i < b.i; });
        }
        std::uniform_real_distribution<double> real(-1.0, 1.0);
        for (Entry& e : pushed) {
            e.v = row_length[e.i] > 20 ? static_cast<double>(static_cast<int>(rng() % 201) - 100) : real(rng);
        }
        std::map<std::pair<std::uint64_t, std::uint64_t>, double> reference;
        for (const Entry& e : pushed) {
            auto [it, fresh] = reference.try_emplace({e.i, e.j}, e.v);
            if (!fresh) it->second = it->second + e.v;
        }

        const CooMatrix coo = coo_of(nrows, ncols, pushed);
        const CsrMatrix by_ref = convert_coo_csr(coo);
        const CsrMatrix by_move = convert_coo_csr(CooMatrix(coo));
        EXPECT_EQ(by_ref.row_offsets(), by_move.row_offsets());
        EXPECT_EQ(by_ref.col_indices(), by_move.col_indices());
        expect_same_bits(by_ref.values(), by_move.values());

        const Triplets t = csr_to_triplets(by_ref);
        ASSERT_EQ(t.values.size(), reference.size()) << "trial " << trial;
        std::size_t k = 0;
        for (const auto& [pos, v] : reference) {
            EXPECT_EQ(t.row_indices[k], pos.first);
            EXPECT_EQ(t.col_indices[k], pos.second);
            EXPECT_EQ(std::bit_cast<std::uint64_t>(t.values[k]), std::bit_cast<std::uint64_t>(v)) << "trial " << trial;
            ++k;
        }
    }
}

TEST(CsrToCoo, RoundTripAndTripletsAgree)
{
    const CsrMatrix m =
        convert_coo_csr(coo_of(4, 3, {{3, 2, -1.0}, {0, 1, 0.0}, {3, 0, 2.0}, {0, 0, 4.0}, {2, 2, 8.0}}));
    const CooMatrix back = convert_csr_coo(m);
    EXPECT_EQ(back.nrows(), 4u);
    EXPECT_EQ(back.ncols(), 3u);
    EXPECT_EQ(back.row_indices(), (U64s{0, 0, 2, 3, 3}));
    EXPECT_EQ(back.col_indices(), (U64s{0, 1, 2, 0, 2}));
    expect_same_bits(back.values(), {4.0, 0.0, 8.0, 2.0, -1.0});

    const Triplets t = csr_to_triplets(m);
    EXPECT_EQ(t.row_indices, back.row_indices());
    EXPECT_EQ(t.col_indices, back.col_indices());
    expect_same_bits(t.values, back.values());
}

TEST(CooPush, OutOfRangeFaultsRowFirstAndAppendsNothing)
{
    struct Case {
        std::uint64_t i, j;
        const char* message;
    };
    for (const Case& c :
         {Case{2, 0, "assertion failed: i < self.nrows"}, Case{5, 5, "assertion failed: i < self.nrows"},
          Case{0, 2, "assertion failed: j < self.ncols"}}) {
        CooMatrix coo(2, 2);
        coo.push(1, 1, 1.0);
        EXPECT_EQ(fault_message([&] { coo.push(c.i, c.j, 1.0); }), c.message) << c.i << ", " << c.j;
        EXPECT_EQ(coo.nnz(), 1u);
        EXPECT_EQ(coo.row_indices().size(), 1u);
        EXPECT_EQ(coo.col_indices().size(), 1u);
    }
}

TEST(CooReserve, ImpossibleSizesFailAtOnce)
{
    CooMatrix coo(1, 1);
    coo.push(0, 0, 1.0);
    EXPECT_EQ(fault_message([&] { coo.reserve(std::numeric_limits<std::uint64_t>::max()); }), "capacity overflow");
    EXPECT_EQ(fault_message([&] { coo.reserve(std::uint64_t{1} << 62); }), "capacity overflow");
    EXPECT_THROW(coo.reserve(std::uint64_t{1} << 44), std::bad_alloc);
    EXPECT_EQ(coo.nnz(), 1u);
}

struct RawCsr {
    const char* name;
    std::uint64_t nrows, ncols;
    U64s offsets, indices;
    std::size_t nvalues;
    SparseFormatErrorKind kind;
    const char* message;
};

// Printed by name: GoogleTest would otherwise dump the raw bytes, padding included.
void PrintTo(const RawCsr& c, std::ostream* os)
{
    *os << c.name;
}

class CsrValidation : public ::testing::TestWithParam<RawCsr> {};

TEST_P(CsrValidation, ReportsTheFirstFailingCheck)
{
    const RawCsr& c = GetParam();
    auto result =
        CsrMatrix::try_from_csr_data(c.nrows, c.ncols, c.offsets, c.indices, std::vector<double>(c.nvalues, 1.0));
    const SparseFormatError* error = std::get_if<SparseFormatError>(&result);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->kind, c.kind);
    EXPECT_EQ(error->error, c.message);
}

constexpr auto structure = SparseFormatErrorKind::InvalidStructure;
constexpr const char* offset_length = "Length of row offset array is not equal to nrows + 1.";
constexpr const char* first_last = "First or last row offset is inconsistent with format specification.";
constexpr const char* not_monotone = "Row offsets are not monotonically increasing.";
constexpr const char* out_of_bounds = "Column indices are out of bounds.";
constexpr const char* duplicate = "Matrix data contains duplicate entries.";
constexpr const char* unsorted = "Column indices are not monotonically increasing (sorted) within each row.";
constexpr const char* value_count = "Number of values and column indices must be the same";

INSTANTIATE_TEST_SUITE_P(
    Checks, CsrValidation,
    ::testing::Values(
        RawCsr{"offset_count", 2, 2, {0, 1}, {0}, 1, structure, offset_length},
        RawCsr{"no_offsets", 0, 2, {}, {}, 0, structure, offset_length},
        RawCsr{"row_count_wraps", std::numeric_limits<std::uint64_t>::max(), 2, {}, {}, 0, structure, offset_length},
        RawCsr{"first_offset", 2, 2, {1, 1, 1}, {0}, 1, structure, first_last},
        RawCsr{"last_offset", 1, 2, {0, 1}, {0, 1}, 2, structure, first_last},
        RawCsr{"decreasing", 3, 2, {0, 2, 1, 2}, {0, 1}, 2, structure, not_monotone},
        RawCsr{"offset_above_last", 2, 9, {0, 5, 3}, {0, 1, 2}, 3, structure, not_monotone},
        // An offset above the last wins even over an index fault in an earlier row.
        RawCsr{"offset_above_last_first", 3, 9, {0, 2, 5, 3}, {1, 1, 2}, 3, structure, not_monotone},
        RawCsr{"out_of_bounds", 1, 2, {0, 2}, {0, 2}, 2, SparseFormatErrorKind::IndexOutOfBounds, out_of_bounds},
        RawCsr{"duplicate", 1, 2, {0, 2}, {1, 1}, 2, SparseFormatErrorKind::DuplicateEntry, duplicate},
        RawCsr{"unsorted", 1, 2, {0, 2}, {1, 0}, 2, structure, unsorted},
        RawCsr{"value_count", 1, 2, {0, 2}, {0, 1}, 1, structure, value_count},
        // Earlier rows win; within a row each index is bounds-checked first.
        RawCsr{"earlier_row_wins", 2, 3, {0, 2, 3}, {2, 2, 7}, 3, SparseFormatErrorKind::DuplicateEntry, duplicate},
        RawCsr{"decrease_after_bad_row", 3, 3, {0, 2, 1, 2}, {1, 0}, 2, structure, unsorted},
        RawCsr{"bounds_before_order", 1, 3, {0, 2}, {2, 5}, 2, SparseFormatErrorKind::IndexOutOfBounds, out_of_bounds},
        RawCsr{"pattern_before_values", 1, 3, {0, 2}, {2, 1}, 0, structure, unsorted}),
    [](const ::testing::TestParamInfo<RawCsr>& info) { return std::string(info.param.name); });

TEST(CsrMatrixRecord, AcceptsValidDataAndGuardsMovedFromState)
{
    auto result = CsrMatrix::try_from_csr_data(3, 4, {0, 2, 2, 3}, {0, 3, 1}, {1.0, 2.0, 3.0});
    ASSERT_TRUE(std::holds_alternative<CsrMatrix>(result));
    CsrMatrix m = std::get<CsrMatrix>(std::move(result));
    EXPECT_EQ(m.nrows(), 3u);
    EXPECT_EQ(m.nnz(), 3u);

    std::vector<Entry> seen;
    m.for_each_entry([&](std::uint64_t r, std::uint64_t c, double v) { seen.push_back({r, c, v}); });
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(seen[2].i == 2 && seen[2].j == 1 && seen[2].v == 3.0);

    CsrMatrix taken = std::move(m);
    EXPECT_EQ(taken.nrows(), 3u);
    EXPECT_EQ(fault_message([&] { (void)m.nrows(); }), "assertion failed: !self.major_offsets.is_empty()");
}
