// Reference blocks of Lagrange bases on the nodes of a Gauss, Radau or Lobatto rule, in O(degree^2) from the rule.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "time_operators/double_double.hpp"
#include "time_operators/general_operator_rows.hpp"
#include "time_operators/quadrature_rules.hpp"

namespace zelk::time_operators {

// From this degree of either space on, the general time operators take their
// blocks and end values from here, in O(degree^2); below it the Gauss sums of
// general_operator_rows stay (O(degree^4)), and with them their bits. The two
// were compared at every degree up to 48 and at 56 and 64, for every family,
// pairing and operator on two grids: the matrices that differ do so only
// where the exact entry is 0 and the sums leave a value of rounding size
// (below 1e-29 of the largest entry: the derivative at a Gauss node at 0, the
// Radau mass off the diagonal, products with P_n at the roots of P_n); every
// other entry has the same bits, within half an ulp of 60 digits at the
// degrees checked. From 41 nodes on the rules are mirror images bit for bit,
// 0 itself the middle node, which keeps those zeros exact here.
constexpr std::uint64_t rule_structure_degree = 40;

// A Lagrange basis whose nodes are, bit for bit, those of an n-point rule.
struct RuleBasis {
    QuadratureRule rule;
    std::uint64_t degree;
    std::vector<DoubleDouble> nodes;
    std::vector<DoubleDouble> weights;
    // 1 / prod_{m != j} (x_j - x_m), all scaled by one power of two.
    std::vector<DoubleDouble> barycentric;
    std::vector<DoubleDouble> left;   // l_j(-1)
    std::vector<DoubleDouble> right;  // l_j(1)
};

// The rule of a Lagrange basis's nodes; nothing for a Legendre basis or other nodes.
std::optional<RuleBasis> rule_basis(const SpaceBasis& s);

// The reference block of general_operator_rows, row a (test) and column b
// (trial), with the magnitude of the terms each entry sums, for a basis on a
// rule's nodes against a Legendre basis or against the same basis:
//   mass:       (1/2) integral of u_b v_a over [-1, 1],
//   derivative: integral of u_b' v_a.
// value and magnitude hold (test.degree + 1) (trial.degree + 1) zeros on entry;
// entries that vanish exactly stay 0. False (nothing written) for other pairings.
bool rule_block(bool derivative, const SpaceBasis& trial, const RuleBasis* trial_rule, const SpaceBasis& test,
                const RuleBasis* test_rule, std::vector<DoubleDouble>& value, std::vector<DoubleDouble>& magnitude);

}  // namespace zelk::time_operators
