// Mass rows on any grid: the uniform pattern, then every value from the unrounded reference integrals and exact steps.
#include "time_operators/grid_mass_rows.hpp"

#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/quadrature_rules.hpp"
#include "time_operators/reference_integrals.hpp"
#include "time_operators/split_product.hpp"

namespace zelk::time_operators {

using linear_algebra::CsrRows;

namespace {

// Half the integral over [-1, 1] of u_b v_a (row a, column b), unrounded.
std::vector<DoubleDouble> reference_mass_dd(const LocalBasis& trial, const LocalBasis& test)
{
    const std::uint64_t nb = trial.size();
    const std::uint64_t na = test.size();
    const std::uint64_t n = checked_add(trial.degree, test.degree) / 2 + 1;  // Gauss: exact to 2n - 1
    const ReferenceRule rule = reference_rule(QuadratureRule::gauss, n);
    const std::uint64_t entries = checked_mul(na, nb);
    std::vector<DoubleDouble> mass = reserved_vector<DoubleDouble>(entries);
    mass.resize(entries);
    std::vector<DoubleDouble> u = reserved_vector<DoubleDouble>(nb);
    u.resize(nb);
    std::vector<DoubleDouble> du = u;
    std::vector<DoubleDouble> v = reserved_vector<DoubleDouble>(na);
    v.resize(na);
    std::vector<DoubleDouble> dv = v;
    InterruptCountdown countdown;
    for (std::uint64_t q = 0; q < n; ++q) {
        local_basis_values(trial, rule.nodes[q], u, du);
        local_basis_values(test, rule.nodes[q], v, dv);
        for (std::uint64_t a = 0; a < na; ++a) {
            countdown.tick(nb);
            const DoubleDouble wv = rule.weights[q] * v[a] * 0.5;
            for (std::uint64_t b = 0; b < nb; ++b) mass[a * nb + b] += wv * u[b];
        }
    }
    return mass;
}

// Local function a of a test row on sub-interval k (a row has one or two).
struct Share {
    std::uint64_t k;
    std::uint64_t a;
};

// The values of the rows that the uniform fill wrote, in its row and column
// order. A row's entries are, column by column, the reference entries that
// are not exactly zero (the uniform fill's pattern), so the values follow
// from the local rows alone, without reading the columns back.
class GridMassValues {
public:
    GridMassValues(const TimeOperatorShape& shape, std::span<const double> points)
        : shape_(shape), points_(points), nb_(shape.trial.size())
    {
        const std::vector<DoubleDouble> mass = reference_mass_dd(shape.trial, shape.test);
        // The uniform fill's pattern: the entries whose exact value is not zero.
        const std::vector<Integral> pattern = reference_mass(shape.trial, shape.test);
        mass_ = reserved_vector<SplitDoubleDouble>(mass.size());
        stored_ = reserved_vector<unsigned char>(pattern.size());
        for (std::size_t e = 0; e < mass.size(); ++e) {
            mass_.emplace_back(mass[e]);
            stored_.push_back(settled(pattern[e]).hi != 0.0 ? 1 : 0);
        }
    }

    template <class Index>
    void fill(const CsrRows<Index>& out)
    {
        const std::uint64_t n_t = shape_.n_t;
        std::uint64_t r = 0;
        if (shape_.test.kind == BasisKind::legendre) {
            // Rows i (k_end - k_begin) + (k - k_begin): one step per sub-interval serves its rows.
            const std::uint64_t width = shape_.k_end - shape_.k_begin;
            for (std::uint64_t k = shape_.k_begin; k < shape_.k_end; ++k) {
                const SplitDoubleDouble h = step(k);
                for (std::uint64_t i = 0; i <= shape_.test.degree; ++i)
                    single(out, i * width + k - shape_.k_begin, {k, i}, h);
            }
            return;
        }
        const std::uint64_t p = shape_.test.degree;
        for (std::uint64_t k = shape_.k_begin; k < shape_.k_end; ++k) {
            for (std::uint64_t j = 0; j < p; ++j) {
                if (j == 0 && k > 0) {
                    shared(out, r++, {k - 1, p}, {k, 0});  // a node shared with the sub-interval before
                } else {
                    single(out, r++, {k, j}, step(k));
                }
            }
        }
        if (shape_.k_begin < shape_.k_end && shape_.k_end == n_t) single(out, r++, {n_t - 1, p}, step(n_t - 1));
    }

private:
    // h_k = t_{k+1} - t_k, exact as the two-sum of the points.
    SplitDoubleDouble step(std::uint64_t k) const
    {
        return SplitDoubleDouble(dd_detail::two_sum(points_[k + 1], -points_[k]));
    }

    // Entry (a, b) of sub-interval k's block, unrounded.
    DoubleDouble part(const Share& s, const SplitDoubleDouble& h, std::uint64_t b) const
    {
        return split_product(mass_[s.a * nb_ + b], h);
    }
    bool stored(const Share& s, std::uint64_t b) const { return stored_[s.a * nb_ + b] != 0; }

    template <class Index>
    void single(const CsrRows<Index>& out, std::uint64_t r, Share s, const SplitDoubleDouble& h)
    {
        auto e = static_cast<std::uint64_t>(out.offsets[r]);
        for (std::uint64_t b = 0; b < nb_; ++b) {
            if (stored(s, b)) out.values[e++] = part(s, h, b).to_double();
        }
        finish(out, r, e);
    }

    template <class Index>
    void shared(const CsrRows<Index>& out, std::uint64_t r, Share left, Share right)
    {
        auto e = static_cast<std::uint64_t>(out.offsets[r]);
        const SplitDoubleDouble h_left = step(left.k);
        const SplitDoubleDouble h_right = step(right.k);
        if (shape_.trial.kind == BasisKind::legendre) {
            // Columns b n_t + k: sub-interval k - 1, then k, for each b.
            for (std::uint64_t b = 0; b < nb_; ++b) {
                if (stored(left, b)) out.values[e++] = part(left, h_left, b).to_double();
                if (stored(right, b)) out.values[e++] = part(right, h_right, b).to_double();
            }
        } else {
            // Columns along the grid; the trial node at t_k gathers both sides.
            const std::uint64_t q = shape_.trial.degree;
            for (std::uint64_t b = 0; b < q; ++b) {
                if (stored(left, b)) out.values[e++] = part(left, h_left, b).to_double();
            }
            if (stored(left, q) || stored(right, 0)) {
                DoubleDouble sum = 0.0;
                if (stored(left, q)) sum += part(left, h_left, q);
                if (stored(right, 0)) sum += part(right, h_right, 0);
                out.values[e++] = sum.to_double();
            }
            for (std::uint64_t b = 1; b <= q; ++b) {
                if (stored(right, b)) out.values[e++] = part(right, h_right, b).to_double();
            }
        }
        finish(out, r, e);
    }

    template <class Index>
    void finish(const CsrRows<Index>& out, std::uint64_t r, std::uint64_t e)
    {
        check_equal(e, static_cast<std::uint64_t>(out.offsets[r + 1]), "grid mass row pattern mismatch");
        countdown_.tick(nb_);
    }

    const TimeOperatorShape& shape_;
    std::span<const double> points_;
    std::uint64_t nb_;
    std::vector<SplitDoubleDouble> mass_;
    std::vector<unsigned char> stored_;
    InterruptCountdown countdown_;
};

}  // namespace

TimeOperatorShape grid_mass_shape(const LocalBasis& trial, const LocalBasis& test, std::span<const double> points,
                                  std::uint64_t k_begin, std::uint64_t k_end)
{
    if (points.size() < 2) fail("a grid needs at least two points");
    const std::uint64_t n_t = points.size() - 1;
    // Unit steps: the uniform rows give the pattern; their values are replaced.
    return time_operator_shape(TimeOperator::mass, trial, test, n_t, static_cast<double>(n_t), k_begin, k_end);
}

template <class Index>
std::uint64_t fill_grid_mass_rows(const TimeOperatorShape& shape, std::span<const double> points,
                                  const CsrRows<Index>& out)
{
    check_equal(points.size(), checked_add(shape.n_t, 1), "grid points do not match the shape");
    const std::uint64_t nnz = fill_time_operator_rows(shape, out);
    GridMassValues(shape, points).fill(out);
    return nnz;
}

template std::uint64_t fill_grid_mass_rows(const TimeOperatorShape&, std::span<const double>,
                                           const CsrRows<std::int32_t>&);
template std::uint64_t fill_grid_mass_rows(const TimeOperatorShape&, std::span<const double>,
                                           const CsrRows<std::int64_t>&);

}  // namespace zelk::time_operators
