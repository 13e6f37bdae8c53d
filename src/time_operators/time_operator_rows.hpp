// The time mass, derivative and jump matrices of a (trial, test) pair of time spaces, written as CSR rows.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "linear_algebra/block_counts.hpp"
#include "linear_algebra/csr_rows.hpp"
#include "time_operators/reference_bases.hpp"
#include "time_operators/reference_integrals.hpp"

namespace zelk::time_operators {

// mass:       integral of u_j v_i over [0, T];
// derivative: sum over sub-intervals of the integral of u_j' v_i;
// jump:       sum over k of v_i(t_k+) (u_j(t_k+) - u_j(t_k-)), with u(0-) = 0.
enum class TimeOperator : std::uint8_t { mass, derivative, jump };

// The local blocks of one operator, row a, column b: `own` couples sub-interval
// k's test functions with its trial functions, `previous` with those of
// sub-interval k - 1 (the jump's upwind value; empty otherwise). Mass entries
// are scaled by h once they are summed.
struct TimeOperatorBlocks {
    std::vector<Integral> own;
    std::vector<Integral> previous;
    bool scaled = false;
    double h = 1.0;
};

// The rows that sub-intervals [k_begin, k_end) of the test space own: in the
// Lagrange layout k*p ... k*p + p - 1 for each k and the end point n_t*p for
// the last; in the Legendre layout i*n_t + k, i outer. Columns are the whole
// trial space; max_nnz is the exact number of entries of those rows.
struct TimeOperatorShape {
    TimeOperator op;
    LocalBasis trial;
    LocalBasis test;
    std::uint64_t n_t;
    double T;
    std::uint64_t k_begin;
    std::uint64_t k_end;
    std::uint64_t nrows;
    std::uint64_t ncols;
    std::uint64_t max_nnz;
    // Computed once by time_operator_shape and shared by its fills.
    std::shared_ptr<const TimeOperatorBlocks> blocks;
};

// Computes the local blocks, the degree-dependent work; checks first that
// their storage fits in memory (std::bad_alloc otherwise). Polls for
// interrupts. Faults: "Lagrange time space requires degree at least 1", "time grid
// requires at least one interval", "time grid requires a positive finite end
// time", "interval range out of bounds", and "capacity overflow" for sizes
// beyond 64 bits.
TimeOperatorShape time_operator_shape(TimeOperator op, const LocalBasis& trial, const LocalBasis& test,
                                      std::uint64_t n_t, double T, std::uint64_t k_begin, std::uint64_t k_end);

// The shape of the rows of sub-intervals [k_begin, k_end) within `whole`:
// its blocks shared, rows and entries counted anew. Faults "interval range
// out of bounds" unless k_begin <= k_end <= n_t.
TimeOperatorShape time_operator_part(const TimeOperatorShape& whole, std::uint64_t k_begin, std::uint64_t k_end);

// Writes the rows (offsets of shape.nrows + 1, room for shape.max_nnz
// entries) and returns the entry count. Columns ascend within a row; entries
// whose exact value is zero are left out. Each entry is its exact value
// rounded once: the sum of the reference integrals of the sub-intervals it
// couples (two where a Lagrange node is shared), times h = T / n_t for the mass.
// Instantiated for int32_t and int64_t indices. Polls for interrupts.
template <class Index>
std::uint64_t fill_time_operator_rows(const TimeOperatorShape& shape, const linear_algebra::CsrRows<Index>& out);

// The rows fill_time_operator_rows writes, counted inside and outside a
// column block without writing them: each row's pattern is the one the fill
// copies (its template moved, or the row built where it stands), so the
// counts are the fill's, entries that vanish or underflow left out alike.
void count_time_operator_rows(const TimeOperatorShape& shape, linear_algebra::BlockCounts& counts);

}  // namespace zelk::time_operators
