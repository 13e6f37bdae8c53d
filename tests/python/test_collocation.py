"""Node families and collocation matrices against 60-digit references, and q_delta's structure."""

import math
from decimal import Decimal, localcontext
from fractions import Fraction

import pytest

np = pytest.importorskip("numpy")

import zelk_arrays as za

DIGITS = 80


def legendre(n):
    """Exact coefficients (lowest degree first) of P_0 ... P_n."""
    polys = [[Fraction(1)], [Fraction(0), Fraction(1)]]
    for k in range(1, n):
        a = [Fraction(0)] + [Fraction(2 * k + 1, k + 1) * c for c in polys[k]]
        b = [Fraction(-k, k + 1) * c for c in polys[k - 1]] + [Fraction(0)] * 2
        polys.append([x + y for x, y in zip(a, b)])
    return polys[: n + 1]


def add(p, q):
    size = max(len(p), len(q))
    return [(p[i] if i < len(p) else 0) + (q[i] if i < len(q) else 0) for i in range(size)]


def derivative(p):
    return [i * c for i, c in enumerate(p)][1:] or [Fraction(0)]


def evaluate(p, x):
    out = Decimal(0)
    for c in reversed(p):
        out = out * x + Decimal(c.numerator) / Decimal(c.denominator)
    return out


def newton(p, guess):
    dp = derivative(p)
    x = Decimal(guess)
    for _ in range(200):
        step = evaluate(p, x) / evaluate(dp, x)
        x -= step
        if abs(step) < Decimal(10) ** -(DIGITS - 5):
            break
    return x


def exact_nodes(n, rule, guesses):
    """Nodes on [0, 1]: Newton at 80 digits on the Legendre combination, from the given guesses."""
    with localcontext() as context:
        context.prec = DIGITS
        p = legendre(n)
        if rule == "gauss":
            f, fixed = p[n], []
        elif rule == "lobatto":
            f, fixed = derivative(p[n - 1]), [-1, 1]
        else:  # Radau with -1 (mirrored for the right rule)
            f, fixed = add(p[n - 1], p[n]), [-1]
        sign = -1 if rule == "radau-right" else 1
        x = [sign * (2 * Decimal(float(g)) - 1) for g in guesses]
        roots = [Decimal(v) for v in fixed]
        roots += [newton(f, g) for g in x if all(abs(g - v) > Decimal("1e-6") for v in fixed)]
        roots = [sign * r for r in roots]
        return sorted((r + 1) / 2 for r in roots)


def exact_integrals(tau, ends):
    """[m][j]: the integral over [0, ends[m]] of the Lagrange polynomial l_j of tau, in 80-digit arithmetic."""
    with localcontext() as context:
        context.prec = DIGITS
        q = []
        basis = []
        for j, tj in enumerate(tau):
            poly = [Decimal(1)]
            for i, ti in enumerate(tau):
                if i != j:
                    scale = tj - ti
                    poly = [Decimal(0)] + poly
                    poly = [a - ti * b for a, b in zip(poly, poly[1:] + [Decimal(0)])]
                    poly = [c / scale for c in poly]
            basis.append(poly)
        for t in ends:
            q.append([sum(c * t ** (d + 1) / (d + 1) for d, c in enumerate(poly)) for poly in basis])
        return q


def ulps(computed, exact):
    """Distance in units of the exact value's last place; 0 only for an exact zero computed as zero."""
    if exact == 0:
        return 0.0 if computed == 0.0 else math.inf
    return float(abs(Decimal(computed) - exact)) / math.ulp(float(exact))


CASES = [
    (rule, n)
    for rule in ("gauss", "radau-left", "radau-right", "lobatto")
    for n in (1, 2, 3, 5, 8, 13)
    if n > 1 or rule != "lobatto"
]


@pytest.mark.parametrize(("rule", "n"), CASES)
def test_nodes_weights_q_and_s_are_within_two_ulps(rule, n):
    c = za.collocation_matrices(n, rule)
    tau = exact_nodes(n, rule, c.nodes)
    q = exact_integrals(tau, [*tau, Decimal(1)])
    assert len(tau) == n
    worst = 0.0
    for m in range(n):
        worst = max(worst, ulps(c.nodes[m], tau[m]), ulps(c.weights[m], q[n][m]))
        for j in range(n):
            s = q[m][j] - (q[m - 1][j] if m else 0)
            worst = max(worst, ulps(c.Q[m, j], q[m][j]), ulps(c.S[m, j], s))
    assert worst <= 2.0
    np.testing.assert_array_equal(c.nodes, za.reference_nodes(n, rule))
    np.testing.assert_array_equal(c.nodes, za.time_quadrature(n, 1, 1.0, rule)[0])
    np.testing.assert_array_equal(c.weights, za.time_quadrature(n, 1, 1.0, rule)[1])


@pytest.mark.parametrize("rule", ["gauss", "radau-left", "radau-right", "lobatto"])
@pytest.mark.parametrize("n", [2, 3, 6])
def test_q_delta_kinds(rule, n):
    c = za.collocation_matrices(n, rule)
    steps = np.diff(c.nodes, prepend=0.0)
    implicit = za.q_delta(n, rule, "implicit-euler")
    explicit = za.q_delta(n, rule, "explicit-euler")
    for m in range(n):
        np.testing.assert_array_equal(implicit[m], [*steps[: m + 1], *[0.0] * (n - m - 1)])
        np.testing.assert_array_equal(explicit[m], [*steps[1 : m + 1], *[0.0] * (n - m)])
    lu = za.q_delta(n, rule, "lu")
    assert np.array_equal(lu, np.tril(lu))
    skip = 1 if c.nodes[0] == 0.0 else 0
    assert not lu[:skip].any() and not lu[:, :skip].any()
    # Q^T = L U: L = Q^T U^-1 is unit lower triangular.
    lower = np.linalg.solve(lu[skip:, skip:], c.Q[skip:, skip:]).T
    np.testing.assert_allclose(lower, np.tril(lower), atol=1e-13)
    np.testing.assert_allclose(np.diag(lower), 1.0, rtol=1e-13)


@pytest.mark.parametrize(
    ("call", "error", "match"),
    [
        (lambda: za.collocation_matrices(3, "chebyshev"), ValueError, "rule must be one of"),
        (lambda: za.collocation_matrices(3, 1), TypeError, "rule must be a string"),
        (lambda: za.collocation_matrices(0, "gauss"), ValueError, "n_nodes must be at least 1"),
        (lambda: za.collocation_matrices(1, "lobatto"), ValueError, "n_nodes must be at least 2"),
        (lambda: za.collocation_matrices(-1, "gauss"), ValueError, "at least 1, got -1"),
        (lambda: za.collocation_matrices(True, "gauss"), TypeError, "n_nodes must be an integer"),
        (lambda: za.collocation_matrices(2.0, "gauss"), TypeError, "n_nodes must be an integer"),
        (lambda: za.collocation_matrices(2**40, "gauss"), OverflowError, "capacity overflow"),
        (lambda: za.q_delta(3, "gauss", "rk4"), ValueError, "kind must be one of"),
        (lambda: za.q_delta(3, "equispaced", "lu"), ValueError, "rule must be one of"),
        (lambda: za.q_delta(1, "lobatto", "lu"), ValueError, "n_nodes must be at least 2"),
        (lambda: za.reference_nodes(1, "equispaced"), ValueError, "n_nodes must be at least 2"),
        (lambda: za.reference_nodes(3, "uniform"), ValueError, "family must be one of"),
    ],
)
def test_errors(call, error, match):
    with pytest.raises(error, match=match):
        call()


@pytest.mark.parametrize("n", [2, 3, 7])
def test_equispaced_reference_nodes_are_rounded_once(n):
    nodes = za.reference_nodes(n, "equispaced")
    assert [Fraction(x) for x in nodes] == [Fraction(float(Fraction(j, n - 1))) for j in range(n)]
