// Weighted mass rows: per share, the weight's values at a Gauss rule's nodes times the two bases, in double-double.
#include "time_operators/weighted_mass_rows.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/quadrature_rules.hpp"
#include "time_operators/reference_integrals.hpp"

namespace zelk::time_operators {

using linear_algebra::CsrRows;

namespace {

std::uint64_t dimension(const SpaceBasis& s, std::uint64_t n_t)
{
    if (s.kind == BasisKind::lagrange && s.continuous) return checked_add(checked_mul(n_t, s.degree), 1);
    return checked_mul(n_t, checked_add(s.degree, 1));
}

// A basis tabulated at the rule's nodes: values[q * size + j].
std::vector<DoubleDouble> tabulated(const SpaceBasis& s, const ReferenceRule& rule)
{
    const std::uint64_t size = s.degree + 1;
    std::vector<DoubleDouble> table = reserved_vector<DoubleDouble>(checked_mul(rule.nodes.size(), size));
    std::vector<DoubleDouble> v(size);
    std::vector<DoubleDouble> dv(size);
    for (const DoubleDouble& x : rule.nodes) {
        space_basis_values(s, x, v, dv);
        table.insert(table.end(), v.begin(), v.end());
    }
    return table;
}

// The sum rounded once to the nearest double, ties to even: +0.0 where it
// vanishes within its rounding error, and a midpoint where it cannot be told
// from one. Ties are common here: dyadic steps and weights times rational
// integrals land on midpoints exactly, and a double-double sum of many terms
// is off by far less than its bound but rarely by nothing.
double rounded_once(DoubleDouble sum, DoubleDouble magnitude) noexcept
{
    const double value = rounded_integral(sum, magnitude);
    if (value == 0.0 || sum.lo == 0.0 || !std::isfinite(sum.hi)) return value;
    const double nearest = sum.hi;
    const double other = std::nextafter(nearest, sum.lo > 0.0 ? HUGE_VAL : -HUGE_VAL);
    const double half_gap = std::fabs(other - nearest) * 0.5;
    const double tolerance = magnitude.hi * 0x1p-90;
    if (std::fabs(std::fabs(sum.lo) - half_gap) > tolerance) return sum.to_double();
    return (std::bit_cast<std::uint64_t>(nearest) & 1) == 0 ? nearest : other;
}

struct Entry {
    std::uint64_t column;
    DoubleDouble value;
    DoubleDouble magnitude;
};

class WeightedRows {
public:
    WeightedRows(const GeneralShape& shape, const SpaceBasis& trial, const SpaceBasis& test, const Weight& weight,
                 std::span<const double> points, double step)
        : shape_(shape),
          trial_(trial),
          test_(test),
          weight_(weight),
          points_(points),
          step_(step),
          na_(test.degree + 1),
          nb_(trial.degree + 1),
          nw_(weight.basis.degree + 1),
          // Gauss with n points is exact to degree 2n - 1.
          rule_(reference_rule(QuadratureRule::gauss,
                               checked_add(checked_add(trial.degree, test.degree), weight.basis.degree) / 2 + 1)),
          u_(tabulated(trial, rule_)),
          v_(tabulated(test, rule_)),
          w_(tabulated(weight.basis, rule_))
    {
        const std::uint64_t n = rule_.nodes.size();
        for (std::uint64_t q = 0; q < n; ++q) {
            for (std::uint64_t a = 0; a < na_; ++a) v_[q * na_ + a] = rule_.weights[q] * v_[q * na_ + a] * 0.5;
        }
        at_nodes_ = reserved_vector<DoubleDouble>(n);
        at_nodes_.resize(n);
        row_ = reserved_vector<Entry>(checked_mul(2, nb_));
    }

    // Calls emit(row entries) for each row of the range in global order.
    template <class Emit>
    void rows(Emit&& emit)
    {
        const std::uint64_t n_t = shape_.n_t;
        if (test_.kind == BasisKind::legendre && !test_.interval_major) {
            for (std::uint64_t i = 0; i < na_; ++i) {
                for (std::uint64_t k = shape_.k_begin; k < shape_.k_end; ++k) emit(row({{k, i}}));
            }
            return;
        }
        const bool shared = test_.kind == BasisKind::lagrange && test_.continuous;
        const std::uint64_t p = test_.degree;
        for (std::uint64_t k = shape_.k_begin; k < shape_.k_end; ++k) {
            for (std::uint64_t j = 0; j < (shared ? p : na_); ++j) {
                if (shared && j == 0 && k > 0) {
                    emit(row({{k - 1, p}, {k, 0}}));
                } else {
                    emit(row({{k, j}}));
                }
            }
        }
        if (shared && shape_.k_begin < shape_.k_end && shape_.k_end == n_t) emit(row({{n_t - 1, p}}));
    }

private:
    struct Share {
        std::uint64_t k;
        std::uint64_t a;
    };

    const std::vector<Entry>& row(std::initializer_list<Share> shares)
    {
        row_.clear();
        const std::uint64_t n_t = shape_.n_t;
        const std::uint64_t n = rule_.nodes.size();
        for (const Share& s : shares) {
            // The weight at the nodes, each value a sum of exact coefficient products.
            for (std::uint64_t q = 0; q < n; ++q) {
                DoubleDouble sum = 0.0;
                for (std::uint64_t c = 0; c < nw_; ++c) {
                    const double coefficient = weight_.coefficients[space_basis_index(weight_.basis, n_t, s.k, c)];
                    sum += w_[q * nw_ + c] * DoubleDouble(coefficient);
                }
                at_nodes_[q] = sum * v_[q * na_ + s.a];
            }
            const DoubleDouble h = step_ > 0.0 ? DoubleDouble(step_)
                                               : DoubleDouble(points_[s.k + 1]) - DoubleDouble(points_[s.k]);
            for (std::uint64_t b = 0; b < nb_; ++b) {
                DoubleDouble value = 0.0;
                DoubleDouble magnitude = 0.0;
                for (std::uint64_t q = 0; q < n; ++q) {
                    const DoubleDouble term = at_nodes_[q] * u_[q * nb_ + b];
                    value += term;
                    magnitude += abs(term);
                }
                row_.push_back({space_basis_index(trial_, n_t, s.k, b), value * h, magnitude * h});
            }
        }
        std::sort(row_.begin(), row_.end(), [](const Entry& x, const Entry& y) { return x.column < y.column; });
        // A node both shares meet adds their integrals once, unrounded.
        std::uint64_t kept = 0;
        for (std::uint64_t e = 0; e < row_.size(); ++e) {
            if (kept > 0 && row_[kept - 1].column == row_[e].column) {
                row_[kept - 1].value += row_[e].value;
                row_[kept - 1].magnitude += row_[e].magnitude;
            } else {
                row_[kept++] = row_[e];
            }
        }
        row_.resize(kept);
        return row_;
    }

    const GeneralShape& shape_;
    const SpaceBasis& trial_;
    const SpaceBasis& test_;
    const Weight& weight_;
    std::span<const double> points_;
    double step_;
    std::uint64_t na_;
    std::uint64_t nb_;
    std::uint64_t nw_;
    ReferenceRule rule_;
    std::vector<DoubleDouble> u_;
    std::vector<DoubleDouble> v_;  // times half the rule's weight
    std::vector<DoubleDouble> w_;
    std::vector<DoubleDouble> at_nodes_;
    std::vector<Entry> row_;
};

}  // namespace

template <class Index>
std::uint64_t fill_weighted_mass_rows(const GeneralShape& shape, const SpaceBasis& trial, const SpaceBasis& test,
                                      const Weight& weight, std::span<const double> points, double step,
                                      const CsrRows<Index>& out)
{
    check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    check_equal(points.size(), shape.n_t + 1, "grid points do not match the shape");
    if (weight.coefficients.size() != dimension(weight.basis, shape.n_t))
        fail("the weight has the wrong number of coefficients");
    WeightedRows rows(shape, trial, test, weight, points, step);
    InterruptCountdown countdown;
    std::uint64_t nnz = 0;
    std::uint64_t r = 0;
    out.offsets[0] = 0;
    rows.rows([&](const std::vector<Entry>& entries) {
        for (const Entry& e : entries) {
            const double value = rounded_once(e.value, e.magnitude);
            if (value == 0.0) continue;
            out.col_indices[nnz] = static_cast<Index>(e.column);
            out.values[nnz] = value;
            ++nnz;
        }
        out.offsets[++r] = static_cast<Index>(nnz);
        countdown.tick(entries.size() + 1);
    });
    check_equal(r, shape.nrows, "weighted mass rows miscounted");
    return nnz;
}

template std::uint64_t fill_weighted_mass_rows(const GeneralShape&, const SpaceBasis&, const SpaceBasis&, const Weight&,
                                               std::span<const double>, double, const CsrRows<std::int32_t>&);
template std::uint64_t fill_weighted_mass_rows(const GeneralShape&, const SpaceBasis&, const SpaceBasis&, const Weight&,
                                               std::span<const double>, double, const CsrRows<std::int64_t>&);

}  // namespace zelk::time_operators
