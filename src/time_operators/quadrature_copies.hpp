// A reference rule copied onto a range of the equal sub-intervals of [0, T].
#pragma once

#include <cstdint>
#include <span>

#include "time_operators/quadrature_rules.hpp"

namespace zelk::time_operators {

// The entries of sub-intervals [k_begin, k_end) of fill_time_quadrature's
// result, bit for bit: times and weights hold (k_end - k_begin) * rule size
// values each. Faults: "interval range out of bounds". Polls for interrupts.
void fill_time_quadrature_range(const ReferenceRule& rule, std::uint64_t n_t, double T, std::uint64_t k_begin,
                                std::uint64_t k_end, std::span<double> times, std::span<double> weights);

// The same times, and in `weights` the rule size weights that every
// sub-interval shares: for callers that need them once.
void fill_time_quadrature_times(const ReferenceRule& rule, std::uint64_t n_t, double T, std::uint64_t k_begin,
                                std::uint64_t k_end, std::span<double> times, std::span<double> weights);

}  // namespace zelk::time_operators
