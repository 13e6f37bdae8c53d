// The basis functions of a time space at many times: as CSR rows, or combined with coefficients.
#include "piecewise_polynomials/space_evaluation.hpp"

#include <cmath>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "piecewise_polynomials/legendre_kernels.hpp"

namespace zelk::piecewise_polynomials {

void SpaceBasis::check() const
{
    if (k_begin >= k_end) fail("a space evaluation needs at least one sub-interval");
    if (kind != SpaceKind::lagrange) return;
    const std::uint64_t local = checked_add(degree, 1);
    if (stride != degree && stride != local) fail("nodal stride must be degree or degree + 1");
    if (stride == 0) fail("a continuous nodal space needs degree >= 1");
    check_equal(nodes.size(), columns(), "node times differ from the held basis functions");
    check_equal(weights.size(), local, "barycentric weights differ from degree + 1");
    check_equal(differentiation.size(), checked_mul(local, local),
                "differentiation matrix differs from (degree + 1)^2");
}

std::uint64_t SpaceBasis::columns() const
{
    const std::uint64_t count = k_end - k_begin;
    if (kind == SpaceKind::lagrange) return checked_add(checked_mul(count, stride), stride == degree ? 1 : 0);
    return checked_mul(count, checked_add(degree, 1));
}

std::uint64_t SpaceBasis::column(std::uint64_t k, std::uint64_t i) const noexcept
{
    const std::uint64_t m = k - k_begin;
    switch (kind) {
        case SpaceKind::legendre_polynomial_major: return i * (k_end - k_begin) + m;
        case SpaceKind::legendre_interval_major: return m * (degree + 1) + i;
        case SpaceKind::lagrange: break;
    }
    return m * stride + i;
}

namespace {

constexpr std::uint64_t no_node = ~std::uint64_t{0};

// The degree + 1 local basis values at one placed time, in storage reused from time to time.
class LocalValues {
public:
    explicit LocalValues(const SpaceBasis& basis)
        : basis_(basis),
          values_(reserved_vector<double>(checked_add(basis.degree, 1))),
          ratios_(reserved_vector<double>(checked_add(basis.degree, 1)))
    {
        values_.resize(basis.degree + 1);
        ratios_.resize(basis.degree + 1);
    }

    std::span<const double> values() const noexcept { return values_; }

    // Fills the values (Legendre: P_i(x) or P_i'(x); nodal: l_i(t) or
    // l_i'(t)); returns the node t falls on, or no_node.
    std::uint64_t fill(const Placement& at, double t, bool derivative)
    {
        if (basis_.kind != SpaceKind::lagrange) {
            // values_ holds degree + 1 entries (it is never empty).
            double* out = values_.data();
            if (derivative) {
                for_each_legendre_derivative(at.x, basis_.degree, [out](std::uint64_t i, double dp) { out[i] = dp; });
            } else {
                for_each_legendre_value(at.x, basis_.degree, [out](std::uint64_t i, double p) { out[i] = p; });
            }
            return no_node;
        }
        const std::uint64_t n = basis_.degree + 1;
        const double* nodes = basis_.nodes.data() + (at.k - basis_.k_begin) * basis_.stride;
        std::uint64_t node = no_node;
        for (std::uint64_t j = 0; j < n && node == no_node; ++j) {
            if (t == nodes[j]) node = j;
        }
        double sum = 0.0;
        for (std::uint64_t j = 0; j < n && node == no_node; ++j) {
            ratios_[j] = basis_.weights[j] / (t - nodes[j]);
            // So near a node that its term overflows: the basis is that node's unit vector in doubles.
            if (std::isinf(ratios_[j])) node = j;
            sum = j == 0 ? ratios_[j] : sum + ratios_[j];
        }
        if (node == no_node) {
            for (std::uint64_t j = 0; j < n; ++j) values_[j] = ratios_[j] / sum;
        } else {
            for (std::uint64_t j = 0; j < n; ++j) values_[j] = j == node ? 1.0 : 0.0;
        }
        if (derivative) {
            // l_j' = sum_i l_i(t) l_j'(tau_i): exact for polynomials of the degree, and stable next to the nodes.
            const double* d = basis_.differentiation.data();
            for (std::uint64_t j = 0; j < n; ++j) {
                double s = -0.0;
                if (node == no_node) {
                    for (std::uint64_t i = 0; i < n; ++i) s = s + values_[i] * d[i * n + j];
                } else {
                    s = d[node * n + j];
                }
                ratios_[j] = s / at.width;
            }
            for (std::uint64_t j = 0; j < n; ++j) values_[j] = ratios_[j];
        }
        return node;
    }

private:
    const SpaceBasis& basis_;
    std::vector<double> values_;
    std::vector<double> ratios_;
};

// Places every time in turn; stops at the first without a value.
template <class Visit>
std::optional<TimeFault> for_each_placed(const SpaceBasis& basis, const GridLocator& grid,
                                         std::span<const double> times, Side side, Visit&& visit)
{
    std::uint64_t hint = basis.k_begin;
    for (std::uint64_t r = 0; r < times.size(); ++r) {
        const double t = times[r];
        const std::optional<Placement> at = grid.locate(t, side, hint);
        if (!at) {
            const bool inside = t >= grid.start() && t <= grid.end();
            return TimeFault{r, inside ? Unplaced::start_from_left : Unplaced::outside_grid, 0};
        }
        if (at->k < basis.k_begin || at->k >= basis.k_end) return TimeFault{r, Unplaced::outside_intervals, at->k};
        hint = at->k;
        visit(r, *at, t);
    }
    return std::nullopt;
}

}  // namespace

template <class Index>
std::optional<TimeFault> fill_space_basis_rows(const SpaceBasis& basis, const GridLocator& grid,
                                               std::span<const double> times, Side side, bool derivative,
                                               const linear_algebra::CsrRows<Index>& out)
{
    basis.check();
    const std::uint64_t local = basis.degree + 1;
    linear_algebra::check_csr_storage(out, times.size(), basis.columns(), checked_mul(times.size(), local));
    const bool scaled = derivative && basis.kind != SpaceKind::lagrange;
    LocalValues values(basis);
    InterruptCountdown countdown;  // counts entries written
    out.offsets[0] = 0;
    return for_each_placed(basis, grid, times, side, [&](std::uint64_t r, const Placement& at, double t) {
        values.fill(at, t, derivative);
        const std::span<const double> v = values.values();
        const std::uint64_t first = r * local;
        // Columns run at a fixed step within a row: c apart polynomial-major, adjacent otherwise.
        const std::uint64_t column = basis.column(at.k, 0);
        const std::uint64_t step = basis.column(at.k, local > 1 ? 1 : 0) - column;
        for (std::uint64_t i = 0; i < local; ++i) {
            out.col_indices[first + i] = static_cast<Index>(column + i * step);
            // Each Legendre derivative scaled on its own, as LegendreBasis's rows are.
            out.values[first + i] = scaled ? (v[i] + v[i]) / at.width : v[i];
        }
        out.offsets[r + 1] = static_cast<Index>(first + local);
        countdown.tick(local);
    });
}

template std::optional<TimeFault> fill_space_basis_rows(const SpaceBasis&, const GridLocator&, std::span<const double>,
                                                        Side, bool, const linear_algebra::CsrRows<std::int32_t>&);
template std::optional<TimeFault> fill_space_basis_rows(const SpaceBasis&, const GridLocator&, std::span<const double>,
                                                        Side, bool, const linear_algebra::CsrRows<std::int64_t>&);

std::optional<TimeFault> evaluate_space_expansion(const SpaceBasis& basis, const GridLocator& grid,
                                                  std::span<const double> times, Side side, bool derivative,
                                                  std::span<const double> coefficients, std::uint64_t columns,
                                                  std::span<double> out)
{
    basis.check();
    check_equal(coefficients.size(), checked_mul(basis.columns(), columns),
                "coefficients differ from the held basis functions times the columns");
    check_equal(out.size(), checked_mul(times.size(), columns), "evaluation output and times differ in length");
    const std::uint64_t local = basis.degree + 1;
    const bool scaled = derivative && basis.kind != SpaceKind::lagrange;
    LocalValues values(basis);
    InterruptCountdown countdown;  // counts products
    return for_each_placed(basis, grid, times, side, [&](std::uint64_t r, const Placement& at, double t) {
        const std::uint64_t node = values.fill(at, t, derivative);
        const std::span<const double> v = values.values();
        double* sums = out.data() + r * columns;
        if (node != no_node && !derivative) {
            // A nodal expansion at its node is the nodal value itself, whatever the other values hold.
            const double* row = coefficients.data() + basis.column(at.k, node) * columns;
            for (std::uint64_t c = 0; c < columns; ++c) sums[c] = row[c];
            return;
        }
        for (std::uint64_t c = 0; c < columns; ++c) sums[c] = -0.0;
        const std::uint64_t column = basis.column(at.k, 0);
        const std::uint64_t step = basis.column(at.k, local > 1 ? 1 : 0) - column;
        for (std::uint64_t i = 0; i < local; ++i) {
            const double* row = coefficients.data() + (column + i * step) * columns;
            for (std::uint64_t c = 0; c < columns; ++c) sums[c] = sums[c] + v[i] * row[c];
        }
        if (scaled) {
            for (std::uint64_t c = 0; c < columns; ++c) sums[c] = (sums[c] + sums[c]) / at.width;
        }
        countdown.tick(local * columns + 1);
    });
}

}  // namespace zelk::piecewise_polynomials
