// The time mass, derivative and jump matrices of a (trial, test) pair of time spaces, written as CSR rows.
#pragma once

#include <cstdint>

#include "linear_algebra/csr_rows.hpp"
#include "time_operators/reference_bases.hpp"

namespace zelk::time_operators {

// mass:       integral of u_j v_i over [0, T];
// derivative: sum over sub-intervals of the integral of u_j' v_i;
// jump:       sum over k of v_i(t_k+) (u_j(t_k+) - u_j(t_k-)), with u(0-) = 0.
enum class TimeOperator : std::uint8_t { mass, derivative, jump };

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
};

// Faults: "Lagrange time space requires degree at least 1", "time grid
// requires at least one interval", "time grid requires a positive finite end
// time", "interval range out of bounds", and "capacity overflow" for sizes
// beyond 64 bits.
TimeOperatorShape time_operator_shape(TimeOperator op, const LocalBasis& trial, const LocalBasis& test,
                                      std::uint64_t n_t, double T, std::uint64_t k_begin, std::uint64_t k_end);

// Writes the rows (offsets of shape.nrows + 1, room for shape.max_nnz
// entries) and returns the entry count. Columns ascend within a row; entries
// whose exact value is zero are left out. Entries are the reference integrals,
// each rounded once, times h = T / n_t (mass); a row shared by two
// sub-intervals (a Lagrange test node) adds the two sides' entries.
// Instantiated for int32_t and int64_t indices. Polls for interrupts.
template <class Index>
std::uint64_t fill_time_operator_rows(const TimeOperatorShape& shape, const linear_algebra::CsrRows<Index>& out);

}  // namespace zelk::time_operators
