// Grid-to-grid transfers: one merge sweep over both point arrays; overlap integrals by Gauss rules in double-double.
#include "time_operators/overlap_transfer.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/double_double.hpp"
#include "time_operators/general_operator_rows.hpp"
#include "time_operators/quadrature_rules.hpp"
#include "time_operators/reference_bases.hpp"
#include "time_operators/reference_integrals.hpp"

namespace zelk::time_operators {

using linear_algebra::CsrRows;

namespace {

// Reference coordinates closer than this to a node or an end are on it: the
// double-double steps err by about 2^-104, and the exact nodes of these
// families on grids of doubles are either on a point or much farther away.
constexpr double on_point = 0x1p-96;

std::uint64_t functions(const TransferSpace& s)
{
    return s.degree + 1;
}

std::uint64_t dimension(const TransferSpace& s, std::uint64_t n_t)
{
    if (!s.legendre && s.continuous) return checked_add(checked_mul(n_t, s.degree), 1);
    return checked_mul(n_t, checked_add(s.degree, 1));
}

std::uint64_t column(const TransferSpace& s, std::uint64_t n_t, std::uint64_t m, std::uint64_t j)
{
    if (!s.legendre) return s.continuous ? m * s.degree + j : m * (s.degree + 1) + j;
    return s.interval_major ? m * (s.degree + 1) + j : j * n_t + m;
}

// The distinct source columns of `count` consecutive sub-intervals.
std::uint64_t reached(const TransferSpace& s, std::uint64_t count)
{
    if (!s.legendre && s.continuous) return count * s.degree + 1;
    return count * (s.degree + 1);
}

// The last source sub-interval that overlaps target sub-interval [a, b),
// starting from the first one, m: the merge step of the sweep.
std::uint64_t last_overlapping(std::span<const double> source, std::uint64_t m, double b)
{
    const std::uint64_t n = source.size() - 1;
    while (m + 1 < n && source[m + 1] < b) ++m;
    return m;
}

// The first source sub-interval of the next target sub-interval, which starts at b.
std::uint64_t next_first(std::span<const double> source, std::uint64_t last, double b)
{
    return last + 1 < source.size() - 1 && source[last + 1] <= b ? last + 1 : last;
}

// A double-double operand of a product with its high part split once (Veltkamp), for operands that take part
// in several products: a * b by times() is a * b by operator*, bit for bit, with the splits done once.
struct Operand {
    double hi;
    double lo;
    double big;
    double small;
    bool dekker;  // two_product's condition for Dekker's product: within [2^-480, 2^480]

    Operand() = default;
    explicit Operand(DoubleDouble a) noexcept : hi(a.hi), lo(a.lo)
    {
        const double c = 134217729.0 * hi;  // 2^27 + 1
        big = c - (c - hi);
        small = hi - big;
        const double f = std::fabs(hi);
        dekker = f >= 0x1p-480 && f <= 0x1p+480;
    }
};

// Operands outside Dekker's range: operator* itself, out of line so that times() stays small.
[[gnu::noinline]] DoubleDouble general_times(const Operand& a, const Operand& b) noexcept
{
    return DoubleDouble(a.hi, a.lo) * DoubleDouble(b.hi, b.lo);
}

// operator*'s steps with the operands' splits taken from them; other operands take operator* itself.
[[gnu::always_inline]] inline DoubleDouble times(const Operand& a, const Operand& b) noexcept
{
    if (!(a.dekker && b.dekker)) [[unlikely]]
        return general_times(a, b);
    const double p = a.hi * b.hi;
    const double error = ((a.big * b.big - p) + a.big * b.small + a.small * b.big) + a.small * b.small;
    const double e = error + (a.hi * b.lo + a.lo * b.hi);
    return dd_detail::fast_two_sum(p, e);
}

// P_0 ... P_{n-1} at x by (n + 1) P_{n+1} = (2n + 1) x P_n - n P_{n-1}, with the two quotients
// precomputed: no derivatives and no division in the sweep's innermost loops.
class LegendreRecurrence {
public:
    explicit LegendreRecurrence(std::uint64_t count)
        : odd_(reserved_vector<Operand>(count)), even_(reserved_vector<Operand>(count))
    {
        for (std::uint64_t n = 0; n < count; ++n) {
            const DoubleDouble next = DoubleDouble::from_u64(n + 1);
            odd_.emplace_back(DoubleDouble::from_u64(2 * n + 1) / next);
            even_.emplace_back(DoubleDouble::from_u64(n) / next);
        }
    }

    // With `split`, the values' operands too (out.size() of them).
    void at(DoubleDouble x, std::span<DoubleDouble> out, Operand* split = nullptr) const
    {
        out[0] = 1.0;
        Operand before(out[0]);
        if (split != nullptr) split[0] = before;
        if (out.size() == 1) return;
        out[1] = x;
        const Operand xs(x);
        Operand current = xs;
        if (split != nullptr) split[1] = xs;
        for (std::size_t n = 1; n + 1 < out.size(); ++n) {
            out[n + 1] = times(odd_[n], Operand(times(xs, current))) - times(even_[n], before);
            if (split == nullptr && n + 2 == out.size()) break;
            before = current;
            current = Operand(out[n + 1]);
            if (split != nullptr) split[n + 1] = current;
        }
    }

private:
    std::vector<Operand> odd_;
    std::vector<Operand> even_;
};

// The basis functions of one side at a reference coordinate, in double-double.
class LocalValues {
public:
    explicit LocalValues(const TransferSpace& s)
        : legendre_(s.legendre),
          n_(functions(s)),
          scratch_(reserved_vector<Operand>(checked_add(n_, 1) * 3)),
          recurrence_(s.legendre ? n_ : 0)
    {
        scratch_.resize((n_ + 1) * 3);
        if (legendre_) return;
        nodes_ = family_nodes(s.family, n_);
        inverse_ = reserved_vector<Operand>(n_);
        for (std::uint64_t j = 0; j < n_; ++j) {
            DoubleDouble denominator = 1.0;
            for (std::uint64_t m = 0; m < n_; ++m) {
                if (m != j) denominator *= nodes_[j] - nodes_[m];
            }
            inverse_.emplace_back(DoubleDouble(1.0) / denominator);
        }
    }

    const std::vector<DoubleDouble>& nodes() const noexcept { return nodes_; }

    // out[j] = u_j(y). With `snap`, a y within on_point of a Lagrange node is that node.
    void at(DoubleDouble y, std::span<DoubleDouble> out, bool snap)
    {
        if (legendre_) {
            recurrence_.at(y, out);
            return;
        }
        if (snap) {
            for (std::uint64_t m = 0; m < n_; ++m) {
                if (std::fabs((y - nodes_[m]).hi) <= on_point) {
                    std::fill(out.begin(), out.end(), DoubleDouble(0.0));
                    out[m] = 1.0;
                    return;
                }
            }
        }
        // Products of the factors y - y_m before and after j: 3 products per function, each factor and
        // partial product split once.
        std::span<Operand> prefix = std::span<Operand>(scratch_).first(n_ + 1);
        std::span<Operand> suffix = std::span<Operand>(scratch_).subspan(n_ + 1, n_ + 1);
        std::span<Operand> factors = std::span<Operand>(scratch_).subspan(2 * (n_ + 1), n_);
        for (std::uint64_t m = 0; m < n_; ++m) factors[m] = Operand(y - nodes_[m]);
        // (The products of all n factors, prefix[n] and suffix[0], are not needed.)
        prefix[0] = Operand(DoubleDouble(1.0));
        for (std::uint64_t m = 0; m + 1 < n_; ++m) prefix[m + 1] = Operand(times(prefix[m], factors[m]));
        suffix[n_] = Operand(DoubleDouble(1.0));
        for (std::uint64_t m = n_; m-- > 1;) suffix[m] = Operand(times(suffix[m + 1], factors[m]));
        for (std::uint64_t j = 0; j < n_; ++j) out[j] = times(Operand(times(prefix[j], suffix[j + 1])), inverse_[j]);
    }

private:
    bool legendre_;
    std::uint64_t n_;
    std::vector<Operand> scratch_;
    LegendreRecurrence recurrence_;
    std::vector<DoubleDouble> nodes_;
    std::vector<Operand> inverse_;
};

// 2 (t - origin) / length - 1 for t = start + offset, all exact doubles but offset.
DoubleDouble reference(double start, DoubleDouble offset, double origin, DoubleDouble length)
{
    return (DoubleDouble(start) - origin + offset) * 2.0 / length - 1.0;
}

DoubleDouble step(std::span<const double> points, std::uint64_t k)
{
    return DoubleDouble(points[k + 1]) - points[k];
}

// The reference coordinate of t on [a, b], exactly -1 and 1 at the ends.
DoubleDouble coordinate(double t, double a, double b, DoubleDouble length)
{
    if (t == a) return -1.0;
    if (t == b) return 1.0;
    return reference(t, 0.0, a, length);
}

// coordinate() of the last few points asked for: the point where two overlaps
// meet is an end of both, on the same sub-interval, and its quotient is
// taken once. The same function of the same doubles: the same bits.
class Coordinates {
public:
    DoubleDouble at(double t, double a, double b, DoubleDouble length)
    {
        const Key key{std::bit_cast<std::uint64_t>(t), std::bit_cast<std::uint64_t>(a),
                      std::bit_cast<std::uint64_t>(b)};
        for (const Kept& kept : kept_) {
            if (kept.valid && kept.key == key) return kept.value;
        }
        const DoubleDouble value = coordinate(t, a, b, length);
        kept_[next_] = {true, key, value};
        next_ = (next_ + 1) % kept_.size();
        return value;
    }

private:
    struct Key {
        std::uint64_t t;
        std::uint64_t a;
        std::uint64_t b;
        bool operator==(const Key&) const = default;
    };
    struct Kept {
        bool valid = false;
        Key key{};
        DoubleDouble value;
    };
    std::array<Kept, 4> kept_{};
    std::size_t next_ = 0;
};

// hi + lo accumulated by error-free sums of the high parts, the errors and low parts gathered in lo:
// as accurate as a double-double sum, for half its operations.
struct Accumulator {
    double hi = 0.0;
    double lo = 0.0;

    void add(DoubleDouble term) noexcept { add(term.hi, term.lo); }

    void add(double term_hi, double term_lo) noexcept
    {
        const double s = hi + term_hi;
        const double bb = s - hi;
        lo += ((hi - (s - bb)) + (term_hi - bb)) + term_lo;
        hi = s;
    }

    DoubleDouble value() const noexcept { return DoubleDouble(hi) + DoubleDouble(lo); }
};

// A double-double factor with its high part split once (Veltkamp), for the products of the innermost loop.
struct SplitFactor {
    double hi;
    double lo;
    double big;
    double small;
    bool dekker;  // within [2^-480, 2^480] or zero: Dekker's product is exact, as in two_product

    explicit SplitFactor(DoubleDouble a) noexcept : hi(a.hi), lo(a.lo)
    {
        const double c = 134217729.0 * hi;  // 2^27 + 1
        big = c - (c - hi);
        small = hi - big;
        const double f = std::fabs(hi);
        dekker = f == 0.0 || (f >= 0x1p-480 && f <= 0x1p+480);
    }
};

// acc += a * b: the double-double product's terms, unnormalised, straight into the accumulator.
inline void add_product(Accumulator& acc, const SplitFactor& a, const SplitFactor& b) noexcept
{
    if (!(a.dekker && b.dekker)) {
        acc.add(DoubleDouble(a.hi, a.lo) * DoubleDouble(b.hi, b.lo));
        return;
    }
    const double p = a.hi * b.hi;
    const double error = ((a.big * b.big - p) + a.big * b.small + a.small * b.big) + a.small * b.small;
    acc.add(p, error + (a.hi * b.lo + a.lo * b.hi));
}

template <class Index>
std::uint64_t fill_interpolation(const TransferShape& shape, std::span<const double> source,
                                 std::span<const double> target, const CsrRows<Index>& out)
{
    LocalValues values(shape.source);
    const std::vector<DoubleDouble> nodes = family_nodes(shape.target.family, functions(shape.target));
    const std::uint64_t ns = functions(shape.source);
    const std::uint64_t p = shape.target.degree;
    std::vector<DoubleDouble> u = reserved_vector<DoubleDouble>(ns);
    u.resize(ns);
    const std::uint64_t nk = shape.target_intervals;
    const std::uint64_t nm = shape.source_intervals;
    std::uint64_t m = 0;
    std::uint64_t nnz = 0;
    std::uint64_t r = 0;
    out.offsets[0] = 0;
    InterruptCountdown countdown;
    for (std::uint64_t k = 0; k < nk; ++k) {
        const DoubleDouble h = step(target, k);
        const std::uint64_t count = shape.target.continuous && k + 1 < nk ? p : p + 1;
        for (std::uint64_t j = 0; j < count; ++j) {
            const DoubleDouble tau = nodes[j];
            const bool left_end = tau.hi == -1.0 && tau.lo == 0.0;
            const bool right_end = tau.hi == 1.0 && tau.lo == 0.0;
            // The node's time is target[k] + offset; the ends are the grid points themselves.
            const DoubleDouble offset = left_end ? DoubleDouble(0.0) : right_end ? h : h * (tau + 1.0) * 0.5;
            DoubleDouble y = reference(target[k], offset, source[m], step(source, m));
            while (m + 1 < nm && (y.hi > 1.0 + on_point || (!right_end && std::fabs((y - 1.0).hi) <= on_point))) {
                ++m;
                y = reference(target[k], offset, source[m], step(source, m));
            }
            values.at(y, u, true);
            for (std::uint64_t l = 0; l < ns; ++l) {
                const double value = u[l].to_double();
                if (value == 0.0) continue;
                out.col_indices[nnz] = static_cast<Index>(column(shape.source, nm, m, l));
                out.values[nnz] = value;
                ++nnz;
            }
            out.offsets[++r] = static_cast<Index>(nnz);
            countdown.tick(ns * ns);
        }
    }
    check_equal(r, shape.nrows, "interpolation rows miscounted");
    return nnz;
}

class Projection {
public:
    Projection(const TransferShape& shape, std::span<const double> source, std::span<const double> target)
        : shape_(shape),
          source_(source),
          target_(target),
          nt_(functions(shape.target)),
          ns_(functions(shape.source)),
          block_(checked_mul(nt_, ns_)),
          rule_(reference_rule(QuadratureRule::gauss, checked_add(shape.source.degree, shape.target.degree) / 2 + 1)),
          target_values_(nt_),
          values_(shape.source),
          legendre_(reserved_vector<DoubleDouble>(nt_)),
          u_(reserved_vector<DoubleDouble>(ns_)),
          factor_(reserved_vector<DoubleDouble>(nt_))
    {
        legendre_.resize(nt_);
        u_.resize(ns_);
        split_u_ = reserved_vector<SplitFactor>(ns_);
        split_u_.resize(ns_, SplitFactor(DoubleDouble(0.0)));
        for (std::uint64_t i = 0; i < nt_; ++i) factor_.push_back(DoubleDouble::from_u64(2 * i + 1) * 0.5);
        u_bound_ = reserved_vector<double>(ns_);
        u_bound_.resize(ns_);
        legendre_operands_ = reserved_vector<Operand>(nt_);
        legendre_operands_.resize(nt_);
        factor_operands_ = reserved_vector<Operand>(nt_);
        for (const DoubleDouble& f : factor_) factor_operands_.emplace_back(f);
        node_operands_ = reserved_vector<Operand>(rule_.nodes.size());
        for (const DoubleDouble& g : rule_.nodes) node_operands_.emplace_back(g);
        weight_operands_ = reserved_vector<Operand>(rule_.weights.size());
        for (const DoubleDouble& w : rule_.weights) weight_operands_.emplace_back(w);
        prepare_taylor();
        if (!shape.target.legendre) {
            // The Legendre polynomials at the target's nodes: projection, then evaluation.
            const std::vector<DoubleDouble> nodes = family_nodes(shape.target.family, nt_);
            at_nodes_ = reserved_vector<DoubleDouble>(checked_mul(nt_, nt_));
            for (std::uint64_t a = 0; a < nt_; ++a) {
                target_values_.at(nodes[a], legendre_);
                at_nodes_.insert(at_nodes_.end(), legendre_.begin(), legendre_.end());
            }
        }
    }

    void prepare_taylor()
    {
        const std::uint64_t n = ns_;
        const std::uint64_t square = checked_mul(n, n);
        for (std::vector<DoubleDouble>* v : {&tau_, &power_legendre_}) {
            *v = reserved_vector<DoubleDouble>(square);
            v->resize(square);
        }
        tau_bound_ = reserved_vector<double>(square);
        tau_bound_.resize(square);
        for (std::vector<DoubleDouble>* v : {&powers_, &g_, &odd_, &even_}) {
            *v = reserved_vector<DoubleDouble>(n);
            v->resize(n);
        }
        g_bound_ = reserved_vector<double>(n);
        g_bound_.resize(n);
        for (std::uint64_t a = 0; a < n; ++a) {
            odd_[a] = DoubleDouble::from_u64(2 * a + 1) / DoubleDouble::from_u64(a + 1);
            even_[a] = DoubleDouble::from_u64(a) / DoubleDouble::from_u64(a + 1);
        }
        // L[m][i] by x P_i = ((i + 1) P_{i+1} + i P_{i-1}) / (2i + 1).
        power_legendre_[0] = 1.0;
        for (std::uint64_t m = 0; m + 1 < n; ++m) {
            for (std::uint64_t i = 0; i <= m; ++i) {
                const DoubleDouble l = power_legendre_[m * n + i];
                if (l.hi == 0.0) continue;
                const DoubleDouble odd = DoubleDouble::from_u64(2 * i + 1);
                power_legendre_[(m + 1) * n + i + 1] += l * DoubleDouble::from_u64(i + 1) / odd;
                if (i > 0) power_legendre_[(m + 1) * n + i - 1] += l * DoubleDouble::from_u64(i) / odd;
            }
        }
        if (shape_.source.legendre) return;
        // C[a][j], the Legendre coefficients of the source's Lagrange polynomials, by an exact Gauss rule.
        const ReferenceRule rule = reference_rule(QuadratureRule::gauss, n);
        const LegendreRecurrence recurrence(n);
        std::vector<DoubleDouble> p = reserved_vector<DoubleDouble>(n);
        p.resize(n);
        source_legendre_ = reserved_vector<DoubleDouble>(square);
        source_legendre_.resize(square);
        for (std::uint64_t q = 0; q < n; ++q) {
            recurrence.at(rule.nodes[q], p);
            values_.at(rule.nodes[q], u_, false);
            for (std::uint64_t a = 0; a < n; ++a) {
                const DoubleDouble wp = rule.weights[q] * p[a] * DoubleDouble::from_u64(2 * a + 1) * 0.5;
                for (std::uint64_t j = 0; j < n; ++j) source_legendre_[a * n + j] += wp * u_[j];
            }
        }
    }

    // The block by a Gauss rule on the overlap, x = x_mid + x_half g in the target, y alike in the source.
    void gauss(DoubleDouble x_mid, DoubleDouble x_half, DoubleDouble y_mid, DoubleDouble y_half)
    {
        const Operand x_scale(x_half);
        const Operand y_scale(y_half);
        for (std::uint64_t q = 0; q < rule_.nodes.size(); ++q) {
            const Operand& g = node_operands_[q];
            target_values_.at(x_mid + times(x_scale, g), legendre_, legendre_operands_.data());
            values_.at(y_mid + times(y_scale, g), u_, false);
            for (std::uint64_t j = 0; j < ns_; ++j) {
                split_u_[j] = SplitFactor(u_[j]);
                u_bound_[j] = 1.0 + std::fabs(u_[j].hi);
            }
            const DoubleDouble w = times(weight_operands_[q], x_scale);
            const Operand w_operand(w);
            for (std::uint64_t i = 0; i < nt_; ++i) {
                const DoubleDouble wv = times(Operand(times(w_operand, legendre_operands_[i])), factor_operands_[i]);
                // The basis values err by about 2^-104 absolutely, not relatively (the Gauss
                // nodes are the roots of a Legendre polynomial), hence the 1 + |value|.
                const double bound = std::fabs(w.hi) * factor_[i].hi * (1.0 + std::fabs(legendre_[i].hi));
                Accumulator* row = block_.value.data() + i * ns_;
                double* row_magnitude = block_.magnitude.data() + i * ns_;
                const SplitFactor split_wv(wv);
                for (std::uint64_t j = 0; j < ns_; ++j) {
                    add_product(row[j], split_wv, split_u_[j]);
                    row_magnitude[j] += bound * u_bound_[j];
                }
            }
        }
    }

    // The block of a target sub-interval at y = centre + slope x in the source, as in the modal
    // prolongation: the coefficient of P_i in P_a(centre + slope x) is
    //   G[i][a] = sum over m = i, i + 2, ... <= a of tau_a[m] slope^m L[m][i],
    // tau_a[m] = P_a^(m)(centre) / m!, L[m][i] the coefficient of P_i in x^m; all small like
    // slope^i, each to its own relative accuracy. The source functions are sum_a C[a][j] P_a.
    void taylor(DoubleDouble centre, DoubleDouble slope)
    {
        const std::uint64_t n = ns_;
        std::fill(tau_.begin(), tau_.end(), DoubleDouble(0.0));
        std::fill(tau_bound_.begin(), tau_bound_.end(), 0.0);
        tau_[0] = 1.0;
        tau_bound_[0] = 1.0;
        if (n > 1) {
            tau_[n] = centre;
            tau_[n + 1] = 1.0;
            tau_bound_[n] = std::fabs(centre.hi);
            tau_bound_[n + 1] = 1.0;
        }
        // (a + 1) Q_{a+1}(t) = (2a + 1)(centre + t) Q_a(t) - a Q_{a-1}(t) for Q_a(t) = P_a(centre + t).
        for (std::uint64_t a = 1; a + 1 < n; ++a) {
            for (std::uint64_t m = 0; m <= a + 1; ++m) {
                const DoubleDouble shifted = m > 0 ? tau_[a * n + m - 1] : DoubleDouble(0.0);
                const double shifted_bound = m > 0 ? tau_bound_[a * n + m - 1] : 0.0;
                tau_[(a + 1) * n + m] = odd_[a] * (centre * tau_[a * n + m] + shifted) -
                                        even_[a] * tau_[(a - 1) * n + m];
                tau_bound_[(a + 1) * n + m] = odd_[a].hi *
                                                  (std::fabs(centre.hi) * tau_bound_[a * n + m] + shifted_bound) +
                                              even_[a].hi * tau_bound_[(a - 1) * n + m];
            }
        }
        DoubleDouble power = 1.0;
        for (std::uint64_t m = 0; m < n; ++m) {
            powers_[m] = power;
            power = power * slope;
        }
        for (std::uint64_t i = 0; i < nt_; ++i) {
            for (std::uint64_t a = 0; a < n; ++a) {
                DoubleDouble g = 0.0;
                double g_bound = 0.0;
                for (std::uint64_t m = i; m <= a; m += 2) {
                    const DoubleDouble scale = powers_[m] * power_legendre_[m * n + i];
                    g += tau_[a * n + m] * scale;
                    g_bound += tau_bound_[a * n + m] * std::fabs(scale.hi);
                }
                g_[a] = g;
                g_bound_[a] = g_bound;
            }
            for (std::uint64_t j = 0; j < n; ++j) {
                Accumulator sum;
                double bound = 0.0;
                for (std::uint64_t a = i; a < n; ++a) {
                    const DoubleDouble c = source_legendre_.empty() ? DoubleDouble(a == j ? 1.0 : 0.0)
                                                                    : source_legendre_[a * n + j];
                    sum.add(g_[a] * c);
                    bound += g_bound_[a] * std::fabs(c.hi);
                }
                block_.value[i * n + j] = sum;
                block_.magnitude[i * n + j] = bound;
            }
        }
    }

    // The block of target sub-interval k and source m, row-major (target row, source function), with
    // the sums of the terms' absolute values that bound its rounding.
    void overlap(std::uint64_t k, std::uint64_t m, DoubleDouble* value, double* magnitude)
    {
        const double lo = std::max(target_[k], source_[m]);
        const double hi = std::min(target_[k + 1], source_[m + 1]);
        const DoubleDouble h = step(target_, k);
        const DoubleDouble length = step(source_, m);
        const DoubleDouble x0 = coordinates_.at(lo, target_[k], target_[k + 1], h);
        const DoubleDouble x1 = coordinates_.at(hi, target_[k], target_[k + 1], h);
        const DoubleDouble y0 = coordinates_.at(lo, source_[m], source_[m + 1], length);
        const DoubleDouble y1 = coordinates_.at(hi, source_[m], source_[m + 1], length);
        const DoubleDouble x_half = (x1 - x0) * 0.5;
        const DoubleDouble x_mid = (x1 + x0) * 0.5;
        const DoubleDouble y_half = (y1 - y0) * 0.5;
        const DoubleDouble y_mid = (y1 + y0) * 0.5;
        std::fill(block_.value.begin(), block_.value.end(), Accumulator{});
        std::fill(block_.magnitude.begin(), block_.magnitude.end(), 0.0);
        // A target sub-interval inside a much longer source one: its higher coefficients are
        // small like slope^i, below what a Gauss sum resolves against its terms of order 1.
        if (lo == target_[k] && hi == target_[k + 1] && nt_ > 1 &&
            std::pow(y_half.hi, static_cast<double>(nt_ - 1)) < 0x1p-40) {
            taylor(y_mid, y_half);
        } else {
            gauss(x_mid, x_half, y_mid, y_half);
        }
        if (shape_.target.legendre) {
            for (std::uint64_t e = 0; e < block_.value.size(); ++e) value[e] = block_.value[e].value();
            std::copy(block_.magnitude.begin(), block_.magnitude.end(), magnitude);
            return;
        }
        for (std::uint64_t a = 0; a < nt_; ++a) {
            for (std::uint64_t j = 0; j < ns_; ++j) {
                DoubleDouble sum = 0.0;
                double bound = 0.0;
                for (std::uint64_t i = 0; i < nt_; ++i) {
                    const DoubleDouble p = at_nodes_[a * nt_ + i];
                    sum += p * block_.value[i * ns_ + j].value();
                    bound += std::fabs(p.hi) * block_.magnitude[i * ns_ + j];
                }
                value[a * ns_ + j] = sum;
                magnitude[a * ns_ + j] = bound;
            }
        }
    }

private:
    struct Block {
        explicit Block(std::uint64_t entries)
            : value(reserved_vector<Accumulator>(entries)), magnitude(reserved_vector<double>(entries))
        {
            value.resize(entries);
            magnitude.resize(entries);
        }
        std::vector<Accumulator> value;
        std::vector<double> magnitude;
    };

    const TransferShape& shape_;
    std::span<const double> source_;
    std::span<const double> target_;
    std::uint64_t nt_;
    std::uint64_t ns_;
    Block block_;
    ReferenceRule rule_;
    LegendreRecurrence target_values_;
    LocalValues values_;
    std::vector<DoubleDouble> legendre_;
    std::vector<DoubleDouble> u_;
    std::vector<SplitFactor> split_u_;
    std::vector<double> u_bound_;  // 1 + |u_j|
    std::vector<DoubleDouble> factor_;
    // The operands of the Gauss sums, split once: the rule's nodes and weights, (2i + 1) / 2, and P_i at a node.
    std::vector<Operand> factor_operands_;
    std::vector<Operand> node_operands_;
    std::vector<Operand> weight_operands_;
    std::vector<Operand> legendre_operands_;
    std::vector<DoubleDouble> at_nodes_;
    // The Taylor path's tables and scratch.
    std::vector<DoubleDouble> tau_;
    std::vector<double> tau_bound_;
    std::vector<DoubleDouble> power_legendre_;
    std::vector<DoubleDouble> powers_;
    std::vector<DoubleDouble> g_;
    std::vector<double> g_bound_;
    std::vector<DoubleDouble> odd_;
    std::vector<DoubleDouble> even_;
    std::vector<DoubleDouble> source_legendre_;
    Coordinates coordinates_;
};

// Each row is written into a slot as long as the columns its sub-interval
// reaches (exact zeros included, as 0.0); consecutive rows in the output
// order have consecutive slots whatever the layout. One pass at the end
// drops the zeros, from the first row that has one.
template <class Index>
std::uint64_t fill_projection(const TransferShape& shape, std::span<const double> source,
                              std::span<const double> target, const CsrRows<Index>& out)
{
    Projection projection(shape, source, target);
    const std::uint64_t nt = functions(shape.target);
    const std::uint64_t ns = functions(shape.source);
    const std::uint64_t nk = shape.target_intervals;
    const std::uint64_t nm = shape.source_intervals;
    const bool polynomial_major = shape.target.legendre && !shape.target.interval_major;
    const bool legendre_columns = shape.source.legendre && !shape.source.interval_major;
    const bool shared = !shape.source.legendre && shape.source.continuous;
    const std::uint64_t block = nt * ns;
    std::vector<DoubleDouble> values = reserved_vector<DoubleDouble>(block);
    std::vector<double> magnitudes = reserved_vector<double>(block);
    std::uint64_t reached_before = 0;  // P_k: the slots of the sub-intervals before k, per row
    std::uint64_t first = 0;
    std::uint64_t first_zero = std::numeric_limits<std::uint64_t>::max();  // the lowest slot holding a zero
    InterruptCountdown countdown;
    for (std::uint64_t k = 0; k < nk; ++k) {
        const std::uint64_t last = last_overlapping(source, first, target[k + 1]);
        const std::uint64_t count = last - first + 1;
        values.resize(checked_mul(count, block));
        magnitudes.resize(count * block);
        for (std::uint64_t m = first; m <= last; ++m) {
            projection.overlap(k, m, values.data() + (m - first) * block, magnitudes.data() + (m - first) * block);
            countdown.tick(block * 4);
        }
        const std::uint64_t width = reached(shape.source, count);
        for (std::uint64_t i = 0; i < nt; ++i) {
            const std::uint64_t row = polynomial_major ? i * nk + k : k * nt + i;
            std::uint64_t slot = polynomial_major ? i * shape.reached_columns + reached_before
                                                  : nt * reached_before + i * width;
            out.offsets[row + 1] = static_cast<Index>(slot + width);
            const auto put = [&](std::uint64_t col, DoubleDouble value, double magnitude) {
                out.col_indices[slot] = static_cast<Index>(col);
                const double rounded = rounded_integral(value, magnitude);
                out.values[slot] = rounded;
                if (rounded == 0.0) first_zero = std::min(first_zero, slot);
                ++slot;
            };
            if (legendre_columns) {
                for (std::uint64_t j = 0; j < ns; ++j) {
                    for (std::uint64_t m = first; m <= last; ++m) {
                        const std::uint64_t e = (m - first) * block + i * ns + j;
                        put(j * nm + m, values[e], magnitudes[e]);
                    }
                }
            } else {
                for (std::uint64_t m = first; m <= last; ++m) {
                    for (std::uint64_t j = 0; j < ns; ++j) {
                        std::uint64_t e = (m - first) * block + i * ns + j;
                        if (shared && j + 1 == ns && m < last) {
                            // The node shared with the next sub-interval: both shares, rounded once.
                            const std::uint64_t next = e + block - j;
                            put(column(shape.source, nm, m, j), values[e] + values[next],
                                magnitudes[e] + magnitudes[next]);
                            continue;
                        }
                        if (shared && j == 0 && m > first) continue;
                        put(column(shape.source, nm, m, j), values[e], magnitudes[e]);
                    }
                }
            }
        }
        reached_before += width;
        first = next_first(source, last, target[k + 1]);
    }
    // Drop the zeros, row by row in order; the slots are contiguous, so offsets[r + 1] is the end of slot r.
    // Rows that end before the first zero stay where they are, their ends already their offsets.
    out.offsets[0] = 0;
    const std::uint64_t slots = nt * shape.reached_columns;
    check_equal(static_cast<std::uint64_t>(out.offsets[shape.nrows]), slots, "projection slots miscounted");
    if (first_zero == std::numeric_limits<std::uint64_t>::max()) return slots;
    std::uint64_t nnz = 0;
    std::uint64_t start = 0;
    for (std::uint64_t r = 0; r < shape.nrows; ++r) {
        const std::uint64_t end = static_cast<std::uint64_t>(out.offsets[r + 1]);
        if (end <= first_zero) {
            nnz = start = end;
            continue;
        }
        countdown.tick(end - start + 1);
        for (std::uint64_t e = start; e < end; ++e) {
            if (out.values[e] == 0.0) continue;
            out.col_indices[nnz] = out.col_indices[e];
            out.values[nnz] = out.values[e];
            ++nnz;
        }
        start = end;
        out.offsets[r + 1] = static_cast<Index>(nnz);
    }
    return nnz;
}

}  // namespace

TransferShape transfer_shape(Transfer kind, const TransferSpace& source, const TransferSpace& target,
                             std::span<const double> source_points, std::span<const double> target_points)
{
    if (source_points.size() < 2 || target_points.size() < 2) fail("time grid requires at least one interval");
    if (source_points.front() != target_points.front() || source_points.back() != target_points.back())
        fail("the two grids must cover the same span");
    for (const TransferSpace* s : {&source, &target}) {
        if (s->legendre) continue;
        if (s->family > 4) fail("unknown node family");
        if (s->continuous && (s->degree == 0 || !(s->family == 0 || s->family == 4)))
            fail("continuous Lagrange spaces need both ends among their nodes");
        if (s->family == 0 && s->degree == 0) fail("equispaced nodes need at least two");
    }
    const std::uint64_t nm = source_points.size() - 1;
    const std::uint64_t nk = target_points.size() - 1;
    TransferShape shape{kind, source, target, nm, nk, dimension(target, nk), dimension(source, nm), 0, 0};
    if (kind == Transfer::interpolation) {
        if (target.legendre) fail("interpolation needs a Lagrange target");
        shape.max_nnz = checked_mul(shape.nrows, functions(source));
        return shape;
    }
    if (!target.legendre && target.continuous) fail("projection onto a continuous Lagrange space needs a global solve");
    // One merge sweep to count the columns each target sub-interval reaches.
    std::uint64_t first = 0;
    std::uint64_t total = 0;
    for (std::uint64_t k = 0; k < nk; ++k) {
        const std::uint64_t last = last_overlapping(source_points, first, target_points[k + 1]);
        total = checked_add(total, reached(source, last - first + 1));
        first = next_first(source_points, last, target_points[k + 1]);
    }
    shape.reached_columns = total;
    shape.max_nnz = checked_mul(total, functions(target));
    return shape;
}

template <class Index>
std::uint64_t fill_transfer_rows(const TransferShape& shape, std::span<const double> source_points,
                                 std::span<const double> target_points, const CsrRows<Index>& out)
{
    check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    check_equal(source_points.size(), shape.source_intervals + 1, "source points do not match the shape");
    check_equal(target_points.size(), shape.target_intervals + 1, "target points do not match the shape");
    if (shape.kind == Transfer::interpolation) return fill_interpolation(shape, source_points, target_points, out);
    return fill_projection(shape, source_points, target_points, out);
}

template std::uint64_t fill_transfer_rows(const TransferShape&, std::span<const double>, std::span<const double>,
                                          const CsrRows<std::int32_t>&);
template std::uint64_t fill_transfer_rows(const TransferShape&, std::span<const double>, std::span<const double>,
                                          const CsrRows<std::int64_t>&);

}  // namespace zelk::time_operators
