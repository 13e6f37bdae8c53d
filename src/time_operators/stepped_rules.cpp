// Large quadrature rules: Bessel-zero guesses, Taylor series of the Jacobi equation from root to root, in double-double.
#include "time_operators/stepped_rules.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/split_product.hpp"

namespace zelk::time_operators {
namespace {

// y = P^(alpha, beta)_m up to a constant factor, and its equation
// (1 - x^2) y'' + (b - a x) y' + l y = 0 with a = alpha + beta + 2, b = beta - alpha, l = m (m + alpha + beta + 1).
struct Equation {
    QuadratureRule rule;
    std::uint64_t n;
    double alpha;
    double beta;
    std::uint64_t m;
    double a;
    double b;
    double l;  // exact: m below 2^26 keeps it below 2^53, and larger rules are out of reach anyway
};

Equation equation(QuadratureRule rule, std::uint64_t n)
{
    switch (rule) {
        case QuadratureRule::gauss:  // P_n
            return {rule, n, 0.0, 0.0, n, 2.0, 0.0, static_cast<double>(n) * static_cast<double>(n + 1)};
        case QuadratureRule::lobatto:  // P'_{n-1}, a multiple of P^(1,1)_{n-2}
            return {rule, n, 1.0, 1.0, n - 2, 4.0, 0.0, static_cast<double>(n - 2) * static_cast<double>(n + 1)};
        default:  // (P_{n-1} + P_n) / (1 + x) = P^(0,1)_{n-1}
            return {rule, n, 0.0, 1.0, n - 1, 3.0, 1.0, static_cast<double>(n - 1) * static_cast<double>(n + 1)};
    }
}

// A point on y: its place, y and y' there.
struct Point {
    DoubleDouble x;
    DoubleDouble y;
    DoubleDouble dy;
};

// y and y' at 0 from P_k(0) = -(k - 1) / k P_{k-2}(0) (zero for odd k) and
// P'_k(0) = k P_{k-1}(0), P''_k(0) = -k (k + 1) P_k(0) from Legendre's equation.
Point start_point(const Equation& e, InterruptCountdown& countdown)
{
    // even[j] stands for P_{2j}(0); the loop keeps the last value it needs.
    const auto legendre_at_zero = [&countdown](std::uint64_t k) {
        if (k % 2 == 1) return DoubleDouble(0.0);
        DoubleDouble value = 1.0;
        for (std::uint64_t j = 2; j <= k; j += 2) {
            countdown.tick();
            value = -(value * DoubleDouble::from_u64(j - 1)) / DoubleDouble::from_u64(j);
        }
        return value;
    };
    const std::uint64_t n = e.n;
    switch (e.rule) {
        case QuadratureRule::gauss:
            return {0.0, legendre_at_zero(n), DoubleDouble::from_u64(n) * legendre_at_zero(n - 1)};
        case QuadratureRule::lobatto: {
            const DoubleDouble eigenvalue = DoubleDouble::from_u64(n - 1) * DoubleDouble::from_u64(n);
            return {0.0, DoubleDouble::from_u64(n - 1) * legendre_at_zero(n - 2),
                    -(eigenvalue * legendre_at_zero(n - 1))};
        }
        default: {
            // y = f / (1 + x) with f = P_{n-1} + P_n, so y(0) = f(0) and y'(0) = f'(0) - f(0).
            const DoubleDouble before = legendre_at_zero(n - 1);
            const DoubleDouble last = legendre_at_zero(n);
            const DoubleDouble f = before + last;
            const DoubleDouble slope = DoubleDouble::from_u64(n - 1) * legendre_at_zero(n - 2) +
                                       DoubleDouble::from_u64(n) * before;
            return {0.0, f, slope - f};
        }
    }
}

// The k-th zero of the Bessel function J_order (order 0 or 1), by McMahon's expansion.
double bessel_zero(double order, std::uint64_t k)
{
    const double beta = (static_cast<double>(k) + order / 2.0 - 0.25) * std::numbers::pi;
    const double mu = 4.0 * order * order;
    const double e = 8.0 * beta;
    return beta - (mu - 1.0) / e - 4.0 * (mu - 1.0) * (7.0 * mu - 31.0) / (3.0 * e * e * e);
}

// The k-th root (k = 1 ... m, descending from 1) by the Bessel-zero
// approximation near the nearer end, theta = j / nu with x = cos theta.
double guess(const Equation& e, std::uint64_t k)
{
    const double m = static_cast<double>(e.m);
    const auto nu = [m](double near, double far) {
        const double v = m + (near + far + 1.0) / 2.0;
        return std::sqrt(v * v + (1.0 - near * near - 3.0 * far * far) / 12.0);
    };
    if (2 * k <= e.m) return std::cos(bessel_zero(e.alpha, k) / nu(e.alpha, e.beta));
    return -std::cos(bessel_zero(e.beta, e.m + 1 - k) / nu(e.beta, e.alpha));
}

// a b for a factor split once and used many times (the inner loops' products).
inline DoubleDouble times(DoubleDouble a, const SplitDoubleDouble& b) noexcept
{
    return split_product(SplitDoubleDouble(a), b);
}

// 1 / ((j + 1) (j + 2)) for the series' coefficients, filled as far as needed.
class Reciprocals {
public:
    const SplitDoubleDouble& operator[](std::size_t j)
    {
        while (table_.size() <= j) {
            const double s = static_cast<double>(table_.size());
            table_.emplace_back(DoubleDouble(1.0) / DoubleDouble((s + 1.0) * (s + 2.0)));
        }
        return table_[j];
    }

private:
    std::vector<SplitDoubleDouble> table_;
};

// More terms than any step needs: their terms fall faster than 10^-k / k! beyond about 50.
constexpr std::size_t max_terms = 4000;

class Stepper {
public:
    explicit Stepper(const Equation& e) : e_(e) { d_.reserve(128); }

    // The root near `target`, from the point `from`: Newton steps on y's Taylor series at `from`.
    Point step(const Point& from, double target, double spacing)
    {
        const double x0 = from.x.to_double();
        double h = target - x0;
        if (std::fabs(h) < 0.25 * spacing) h = h < 0.0 ? -0.25 * spacing : 0.25 * spacing;
        series(from, h);
        const double t = double_root((target - x0) / h);
        // One step of second order in double-double: p + p' s + p''/2 s^2 = 0.
        DoubleDouble p = d_.back();
        DoubleDouble dp = 0.0;
        DoubleDouble half_ddp = 0.0;
        const DoubleDouble dt(t);
        const SplitDoubleDouble split_t(dt);
        for (std::size_t j = d_.size() - 1; j-- > 0;) {
            half_ddp = times(half_ddp, split_t) + dp;
            dp = times(dp, split_t) + p;
            p = times(p, split_t) + d_[j];
        }
        const DoubleDouble first = -(p / dp);
        const DoubleDouble s = first - half_ddp * first * first / dp;
        const DoubleDouble hh(h);
        Point root;
        root.x = from.x + hh * (dt + s);
        root.y = p + (dp + half_ddp * s) * s;
        root.dy = (dp + DoubleDouble(2.0) * half_ddp * s) / hh;
        if (!(std::fabs(root.x.hi - target) < 0.3 * spacing) || !(std::fabs(root.x.hi) < 1.0)) {
            fail("a quadrature node strayed from its place");
        }
        return root;
    }

    std::size_t terms() const noexcept { return d_.size(); }

private:
    // d_j = y^(j)(x0) h^j / j!, until two terms in a row are negligible.
    void series(const Point& from, double h)
    {
        const DoubleDouble x0 = from.x;
        const DoubleDouble g = DoubleDouble(h) / ((DoubleDouble(1.0) - x0) * (DoubleDouble(1.0) + x0));
        const SplitDoubleDouble gx(g * x0);
        const SplitDoubleDouble gh(g * DoubleDouble(h));
        const SplitDoubleDouble split_g(g);
        d_.clear();
        d_.push_back(from.y);
        d_.push_back(from.dy * DoubleDouble(h));
        double largest = std::max(std::fabs(d_[0].hi), std::fabs(d_[1].hi));
        for (std::size_t j = 0;; ++j) {
            // (1 - x0^2)(j + 1)(j + 2) c_{j+2} = ((2j + a) x0 - b)(j + 1) c_{j+1} + (j (j - 1) + a j - l) c_j
            const double k = static_cast<double>(j);
            DoubleDouble slope = times((2.0 * k + e_.a) * (k + 1.0), gx);
            if (e_.b != 0.0) slope = slope - times(e_.b * (k + 1.0), split_g);
            const DoubleDouble value = times(k * (k - 1.0) + e_.a * k - e_.l, gh);
            const DoubleDouble next =
                times(times(d_[j + 1], SplitDoubleDouble(slope)) + times(d_[j], SplitDoubleDouble(value)),
                      reciprocals_[j]);
            d_.push_back(next);
            largest = std::max(largest, std::fabs(next.hi));
            if (j >= 4 && std::fabs(next.hi) + std::fabs(d_[j + 1].hi) <= largest * 0x1p-112) break;
            if (d_.size() >= max_terms) fail("a quadrature series did not converge");
        }
    }

    // Newton steps in double on the series' leading parts, from t.
    double double_root(double t) const
    {
        for (int iteration = 0; iteration < 40; ++iteration) {
            double p = d_.back().hi;
            double dp = 0.0;
            for (std::size_t j = d_.size() - 1; j-- > 0;) {
                dp = dp * t + p;
                p = p * t + d_[j].hi;
            }
            const double change = p / dp;
            t -= change;
            if (!(std::fabs(change) > 0x1p-52 * std::max(1.0, std::fabs(t)))) break;
        }
        return t;
    }

    const Equation& e_;
    std::vector<DoubleDouble> d_;
    Reciprocals reciprocals_;
};

// The weight of the free node x with y'(x) = dy.
DoubleDouble weight(const Equation& e, const Point& node)
{
    const DoubleDouble one(1.0);
    const DoubleDouble below = one - node.x;
    const DoubleDouble above = one + node.x;
    const DoubleDouble slope2 = node.dy * node.dy;
    switch (e.rule) {
        case QuadratureRule::gauss: return DoubleDouble(2.0) / (below * above * slope2);
        case QuadratureRule::lobatto: {
            const DoubleDouble sides = below * above;
            const DoubleDouble scale = DoubleDouble::from_u64(e.n) * DoubleDouble::from_u64(e.n - 1);
            return DoubleDouble(2.0) * scale / (sides * sides * slope2);
        }
        default: return DoubleDouble(4.0) / (below * above * above * slope2);
    }
}

}  // namespace

ReferenceRule stepped_rule(QuadratureRule rule, std::uint64_t n)
{
    if (n < 3) fail("stepped quadrature rules start at three points");
    const bool mirrored = rule == QuadratureRule::radau_right;
    const Equation e = equation(mirrored ? QuadratureRule::radau_left : rule, n);
    const std::uint64_t m = e.m;
    const bool symmetric = e.alpha == e.beta;
    InterruptCountdown countdown;

    std::vector<double> guesses = reserved_vector<double>(checked_add(m, 2));
    guesses.push_back(1.0);  // index 0: the end, for the spacing of the first root
    for (std::uint64_t k = 1; k <= m; ++k) guesses.push_back(guess(e, k));
    guesses.push_back(-1.0);
    const auto spacing = [&guesses](std::uint64_t k) {
        return std::min(guesses[k - 1] - guesses[k], guesses[k] - guesses[k + 1]);
    };

    // Roots by index k (descending x), found from the middle outwards.
    std::vector<Point> roots = reserved_vector<Point>(m + 1);
    roots.resize(m + 1);
    Stepper stepper(e);
    const Point origin = start_point(e, countdown);
    // The first index whose root is right of 0 (for a symmetric rule of odd m, 0 itself).
    std::uint64_t first = m / 2;
    if (symmetric && m % 2 == 1) {
        first = (m + 1) / 2;
        roots[first] = {0.0, 0.0, origin.dy};
    } else if (!symmetric) {
        first = 0;
        while (first < m && guesses[first + 1] > 0.0) ++first;
    }
    Point at = origin;
    if (symmetric && m % 2 == 1) at = roots[first];
    for (std::uint64_t k = symmetric && m % 2 == 1 ? first - 1 : first; k >= 1; --k) {
        countdown.tick(8 * stepper.terms());
        at = stepper.step(at, guesses[k], spacing(k));
        roots[k] = at;
    }
    if (!symmetric) {
        at = origin;
        for (std::uint64_t k = first + 1; k <= m; ++k) {
            countdown.tick(8 * stepper.terms());
            at = stepper.step(at, guesses[k], spacing(k));
            roots[k] = at;
        }
    } else {
        for (std::uint64_t k = (m + 1) / 2 + 1; k <= m; ++k) {
            const Point& twin = roots[m + 1 - k];
            roots[k] = {-twin.x, -twin.y, twin.dy};  // y is even or odd: y'^2 is the same
        }
    }

    ReferenceRule out{reserved_vector<DoubleDouble>(n), reserved_vector<DoubleDouble>(n)};
    const DoubleDouble nn = DoubleDouble::from_u64(n);
    if (rule != QuadratureRule::gauss) {
        out.nodes.push_back(-1.0);
        const DoubleDouble end_scale = rule == QuadratureRule::lobatto ? nn * DoubleDouble::from_u64(n - 1) : nn * nn;
        out.weights.push_back(DoubleDouble(2.0) / end_scale);
    }
    for (std::uint64_t k = m; k >= 1; --k) {
        out.nodes.push_back(roots[k].x);
        out.weights.push_back(weight(e, roots[k]));
    }
    if (rule == QuadratureRule::lobatto) {
        out.nodes.push_back(1.0);
        out.weights.push_back(out.weights.front());
    }
    if (mirrored) {
        std::reverse(out.nodes.begin(), out.nodes.end());
        std::reverse(out.weights.begin(), out.weights.end());
        for (DoubleDouble& x : out.nodes) x = -x;
    }
    return out;
}

}  // namespace zelk::time_operators
