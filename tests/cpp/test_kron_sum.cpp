// Sums of Kronecker products: entry by entry against a map built term by term, row ranges, malformed factors.
#include <gtest/gtest.h>

#include "fault_message.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "linear_algebra/csr_rows.hpp"
#include "sparse_matrix_tools/kron_sum.hpp"

using zelk::linear_algebra::CsrRows;
using zelk::sparse_matrix_tools::CsrFactor;
using zelk::sparse_matrix_tools::KronTerm;

namespace {

struct Owned {
    std::uint64_t nrows, ncols;
    std::vector<std::int64_t> offsets, indices;
    std::vector<double> values;
    CsrFactor view() const { return {nrows, ncols, offsets, indices, values}; }
};

// Random sparse factor whose values include explicit zeros, -0.0 and pairs that cancel across terms.
Owned random_factor(std::mt19937_64& rng, std::uint64_t nrows, std::uint64_t ncols, double special = 0.7)
{
    const double choices[] = {1.0, -1.0, 0.0, -0.0, 0.5, 3.0, 0.1, special};
    Owned f{nrows, ncols, {0}, {}, {}};
    for (std::uint64_t r = 0; r < nrows; ++r) {
        for (std::uint64_t c = 0; c < ncols; ++c) {
            if (rng() % 3 == 0) continue;
            f.indices.push_back(static_cast<std::int64_t>(c));
            f.values.push_back(choices[rng() % 8]);
        }
        f.offsets.push_back(static_cast<std::int64_t>(f.indices.size()));
    }
    return f;
}

// The sum as sparse matrix additions make it: products added in term order, zeros gone once two terms meet.
std::map<std::pair<std::uint64_t, std::uint64_t>, double> reference(const std::vector<KronTerm>& terms)
{
    std::map<std::pair<std::uint64_t, std::uint64_t>, double> sum;
    for (const KronTerm& term : terms) {
        const CsrFactor& t = term.time;
        const CsrFactor& s = term.space;
        for (std::uint64_t tr = 0; tr < t.nrows; ++tr)
            for (auto te = t.offsets[tr]; te < t.offsets[tr + 1]; ++te)
                for (std::uint64_t sr = 0; sr < s.nrows; ++sr)
                    for (auto se = s.offsets[sr]; se < s.offsets[sr + 1]; ++se) {
                        const std::pair<std::uint64_t, std::uint64_t> at{tr * s.nrows + sr,
                                                                         static_cast<std::uint64_t>(t.indices[te]) *
                                                                                 s.ncols +
                                                                             s.indices[se]};
                        const double product = t.values[te] * s.values[se];
                        auto [it, added] = sum.try_emplace(at, product);
                        if (!added) it->second += product;
                    }
    }
    if (terms.size() >= 2) std::erase_if(sum, [](const auto& entry) { return entry.second == 0.0; });
    return sum;
}

template <class Index>
void expect_rows_match(const std::vector<KronTerm>& terms, std::uint64_t row_begin, std::uint64_t row_end)
{
    const auto shape = zelk::sparse_matrix_tools::kron_sum_shape(terms, row_begin, row_end);
    std::vector<Index> offsets(shape.nrows + 1), indices(shape.max_nnz);
    std::vector<double> values(shape.max_nnz);
    const std::uint64_t nnz =
        zelk::sparse_matrix_tools::fill_kron_sum(terms, shape, CsrRows<Index>{offsets, indices, values});
    const std::uint64_t space_rows = terms[0].space.nrows;
    std::vector<std::pair<std::pair<std::uint64_t, std::uint64_t>, double>> expected;
    for (const auto& entry : reference(terms))
        if (entry.first.first >= row_begin * space_rows && entry.first.first < row_end * space_rows)
            expected.push_back(entry);
    ASSERT_EQ(nnz, expected.size());
    ASSERT_EQ(static_cast<std::uint64_t>(offsets.back()), nnz);
    std::uint64_t e = 0;
    for (std::uint64_t row = 0; row < shape.nrows; ++row)
        for (auto k = offsets[row]; k < offsets[row + 1]; ++k, ++e) {
            EXPECT_EQ(expected[e].first.first, row + row_begin * space_rows);
            EXPECT_EQ(expected[e].first.second, static_cast<std::uint64_t>(indices[k]));
            EXPECT_EQ(std::bit_cast<std::uint64_t>(expected[e].second), std::bit_cast<std::uint64_t>(values[k]));
        }
    // The count-only pass agrees with the written rows, for a column block that cuts through time columns.
    const std::uint64_t column_begin = shape.ncols / 3;
    const std::uint64_t column_end = shape.ncols - shape.ncols / 4;
    std::vector<std::int64_t> inside(shape.nrows), outside(shape.nrows);
    zelk::sparse_matrix_tools::count_kron_sum(terms, shape, column_begin, column_end, inside, outside);
    for (std::uint64_t row = 0; row < shape.nrows; ++row) {
        std::int64_t in = 0;
        for (auto k = offsets[row]; k < offsets[row + 1]; ++k)
            in += static_cast<std::uint64_t>(indices[k]) >= column_begin &&
                  static_cast<std::uint64_t>(indices[k]) < column_end;
        EXPECT_EQ(inside[row], in);
        EXPECT_EQ(outside[row], static_cast<std::int64_t>(offsets[row + 1] - offsets[row]) - in);
    }
}

}  // namespace

class KronSumRandom : public testing::TestWithParam<double> {};

// Time values with an infinity take the exact path, where an absent term adds nothing (not inf * 0).
INSTANTIATE_TEST_SUITE_P(TimeValues, KronSumRandom, testing::Values(0.7, std::numeric_limits<double>::infinity()));

TEST_P(KronSumRandom, MatchesTermByTermSumsForEveryTermCountAndRowRange)
{
    std::mt19937_64 rng(29);
    for (int n_terms = 1; n_terms <= 4; ++n_terms) {
        std::vector<Owned> owned;
        for (int t = 0; t < n_terms; ++t) {
            owned.push_back(random_factor(rng, 4, 3, GetParam()));
            owned.push_back(random_factor(rng, 5, 6));
        }
        std::vector<KronTerm> terms;
        for (int t = 0; t < n_terms; ++t) terms.push_back({owned[2 * t].view(), owned[2 * t + 1].view()});
        for (const auto& [begin, end] : {std::pair{0, 4}, std::pair{1, 3}, std::pair{2, 2}, std::pair{3, 4}}) {
            expect_rows_match<std::int32_t>(terms, begin, end);
            expect_rows_match<std::int64_t>(terms, begin, end);
        }
    }
}

// Forty time rows of four terms repeat few patterns of time columns: past the cached row layouts, the
// remaining rows are written one by one, with the same bits.
TEST(KronSum, ManyDistinctTimeRowsMatchTermByTermSums)
{
    std::mt19937_64 rng(31);
    std::vector<Owned> owned;
    std::vector<KronTerm> terms;
    for (int t = 0; t < 4; ++t) {
        owned.push_back(random_factor(rng, 40, 6));
        owned.push_back(random_factor(rng, 3, 4));
    }
    for (int t = 0; t < 4; ++t) terms.push_back({owned[2 * t].view(), owned[2 * t + 1].view()});
    expect_rows_match<std::int32_t>(terms, 0, 40);
    expect_rows_match<std::int64_t>(terms, 7, 33);
}

// Time rows that repeat (a Toeplitz time factor, as a uniform grid gives) are copied from the first such row
// with their columns shifted; the first and last rows differ, and so do the rows where two terms meet.
TEST(KronSum, RepeatedTimeRowsMatchTermByTermSums)
{
    std::mt19937_64 rng(37);
    Owned band{9, 9, {0}, {}, {}};
    Owned shifted{9, 9, {0}, {}, {}};
    for (std::int64_t r = 0; r < 9; ++r) {
        for (std::int64_t c = std::max<std::int64_t>(r - 1, 0); c <= std::min<std::int64_t>(r + 1, 8); ++c) {
            band.indices.push_back(c);
            band.values.push_back(c == r ? 2.0 : -1.0);
        }
        band.offsets.push_back(static_cast<std::int64_t>(band.indices.size()));
        if (r % 2 == 0) {
            shifted.indices.push_back(r);
            shifted.values.push_back(-2.0);  // cancels band's diagonal where the space values agree
        }
        shifted.offsets.push_back(static_cast<std::int64_t>(shifted.indices.size()));
    }
    const Owned space = random_factor(rng, 5, 4);
    const Owned other = random_factor(rng, 5, 4);
    std::vector<KronTerm> terms{{band.view(), space.view()}, {shifted.view(), other.view()}};
    expect_rows_match<std::int32_t>(terms, 0, 9);
    expect_rows_match<std::int64_t>(terms, 2, 8);
    terms.push_back({band.view(), space.view()});
    expect_rows_match<std::int32_t>(terms, 1, 9);
}

TEST(KronSum, RejectsMalformedFactorsShapesAndRanges)
{
    const Owned good{2, 2, {0, 1, 2}, {0, 1}, {1.0, 2.0}};
    const Owned unsorted{2, 2, {0, 2, 2}, {1, 0}, {1.0, 2.0}};
    const Owned out_of_range{2, 2, {0, 1, 1}, {2}, {1.0}};
    const Owned wide{2, 3, {0, 0, 0}, {}, {}};
    std::vector<KronTerm> terms{{good.view(), unsorted.view()}};
    EXPECT_NE(fault_message([&] {
        zelk::sparse_matrix_tools::kron_sum_shape(terms, 0, 2);
    }).find("malformed CSR factor"),
              std::string::npos);
    terms = {{out_of_range.view(), good.view()}};
    EXPECT_NE(fault_message([&] {
        zelk::sparse_matrix_tools::kron_sum_shape(terms, 0, 2);
    }).find("malformed CSR factor"),
              std::string::npos);
    terms = {{good.view(), good.view()}, {wide.view(), good.view()}};
    EXPECT_EQ(fault_message([&] { zelk::sparse_matrix_tools::kron_sum_shape(terms, 0, 2); }),
              "kron_sum factors differ in shape");
    terms = {{good.view(), good.view()}};
    EXPECT_EQ(fault_message([&] { zelk::sparse_matrix_tools::kron_sum_shape(terms, 1, 3); }),
              "time row range out of bounds");
    EXPECT_EQ(fault_message([&] { zelk::sparse_matrix_tools::kron_sum_shape({}, 0, 0); }),
              "kron_sum needs at least one term");
}
