"""Quadrature rules and modal grid transfers against high-precision and exact rational oracles."""

import math
from decimal import Decimal, localcontext
from fractions import Fraction

import pytest

np = pytest.importorskip("numpy")
sparse = pytest.importorskip("scipy.sparse")

from test_time_operators import legendre, multiply

import zelk_arrays as za


def legendre_at(n, x):
    """P_n(x), P_n'(x), P_{n-1}(x) in the working precision of x."""
    previous, current, previous_slope, slope = x * 0, x * 0 + 1, x * 0, x * 0
    for m in range(n):
        previous, current = current, ((2 * m + 1) * x * current - m * previous) / (m + 1)
        previous_slope, slope = slope, previous_slope + (2 * m + 1) * previous
    return current, slope, previous


def polished(rule, n, x):
    """Node x moved to the nearby exact root by Newton steps in 60 digits, and its weight."""
    if rule == "radau-right":
        node, weight = polished("radau-left", n, -x)
        return -node, weight
    if (rule != "gauss" and x == -1) or (rule == "lobatto" and x == 1):
        return x, Decimal(2) / (n * n if rule != "lobatto" else n * (n - 1))
    for _ in range(6):
        p, dp, q = legendre_at(n, x)
        if rule == "gauss":
            x -= p / dp
        elif rule == "radau-left":
            x -= (p + q) / (dp + legendre_at(n - 1, x)[1])
        else:  # roots of P'_{n-1}, with Legendre's equation for the second derivative
            r, dq, _ = legendre_at(n - 1, x)
            x -= dq * (1 - x * x) / (2 * x * dq - (n - 1) * n * r)
    p, dp, q = legendre_at(n, x)
    weight = {
        "gauss": 2 / ((1 - x * x) * dp * dp),
        "radau-left": (1 - x) / (n * n * q * q),
        "lobatto": Decimal(2) / (n * (n - 1) * q * q),
    }[rule]
    return x, weight


def within_ulps(got, exact, ulps=2):
    return abs(Decimal(got) - exact) <= ulps * Decimal(math.ulp(float(exact)))


@pytest.mark.parametrize("rule", ["gauss", "radau-left", "radau-right", "lobatto"])
@pytest.mark.parametrize("n", [2, 3, 8, 21])
def test_quadrature_nodes_and_weights_within_two_ulps(rule, n):
    n_t, T = 3, 0.7
    times, weights = za.time_quadrature(n, n_t, T, rule)
    assert times.shape == weights.shape == (n * n_t,) and times.dtype == np.float64
    with localcontext() as context:
        context.prec = 60
        h = Decimal(T) / n_t
        reference = za.time_quadrature(n, 1, 2.0, rule)[0] - 1.0  # nodes on [-1, 1], exact shift
        for i, x in enumerate(reference):
            node, weight = polished(rule, n, Decimal(x))
            for k in range(n_t):
                assert within_ulps(times[k * n + i], h * (k + (node + 1) / 2)), (k, i)
                assert within_ulps(weights[k * n + i], h * weight / 2), (k, i)
    if rule == "gauss":  # an independent oracle, which itself errs by about 1e-14
        nodes, w = np.polynomial.legendre.leggauss(n)
        np.testing.assert_allclose(times[:n], (nodes + 1) * T / (2 * n_t), rtol=1e-13)
        np.testing.assert_allclose(weights[:n], w * T / (2 * n_t), rtol=1e-13)
    # Distinct nodes exact to their degree: sum of weights * t^m on each sub-interval.
    top = {"gauss": 2 * n - 1, "lobatto": 2 * n - 3}.get(rule, 2 * n - 2)
    for m in (0, top):
        exact = ((np.arange(1, n_t + 1) * T / n_t) ** (m + 1) - (np.arange(n_t) * T / n_t) ** (m + 1)) / (m + 1)
        np.testing.assert_allclose((weights * times**m).reshape(n_t, n).sum(axis=1), exact, rtol=1e-12)


@pytest.mark.parametrize("rule", ["gauss", "radau-left", "lobatto"])
def test_many_point_rules_find_every_node(rule):
    # Deflated Newton from Chebyshev guesses lost a Radau node from 273 points on.
    times, weights = za.time_quadrature(300, 1, 2.0, rule)
    assert np.all(np.diff(times) > 0)
    np.testing.assert_allclose([weights.sum(), weights @ (times - 1) ** 200], [2.0, 2 / 201], rtol=1e-13)


@pytest.mark.parametrize(
    "args, error, match",
    [
        ((0, 2, 1.0, "gauss"), ValueError, "n_points"),
        ((1, 2, 1.0, "lobatto"), ValueError, "n_points"),
        ((2, 0, 1.0, "gauss"), ValueError, "n_t"),
        ((2, 2, -1.0, "gauss"), ValueError, "T"),
        ((2, 2, 1.0, "simpson"), ValueError, "rule"),
        ((2, 2, 1.0, None), TypeError, "rule"),
        ((2**40, 2**40, 1.0, "gauss"), OverflowError, "capacity overflow"),
    ],
)
def test_quadrature_errors(args, error, match):
    with pytest.raises(error, match=match):
        za.time_quadrature(*args)


def overlap_integral(i, j, nt_coarse, nt_fine, k, K):
    """Exact integral of P_i(x_fine) P_j(x_coarse) dx_fine over fine k and coarse K's overlap."""
    lo = max(Fraction(k, nt_fine), Fraction(K, nt_coarse))
    hi = min(Fraction(k + 1, nt_fine), Fraction(K + 1, nt_coarse))
    if hi <= lo:
        return Fraction(0)
    # x_coarse = a + b x_fine, the fine coordinate running over [x0, x1].
    b = Fraction(nt_coarse, nt_fine)
    a = (2 * Fraction(k, nt_fine) + Fraction(1, nt_fine)) * nt_coarse - 2 * K - 1
    x0, x1 = (2 * lo - Fraction(2 * k + 1, nt_fine)) * nt_fine, (2 * hi - Fraction(2 * k + 1, nt_fine)) * nt_fine
    composed = [Fraction(0)]
    for power, c in enumerate(legendre(j)[j]):
        term = [c]
        for _ in range(power):
            term = multiply(term, [a, b])
        composed = [u + v for u, v in zip(composed + [0] * len(term), term + [0] * len(composed))]
    product = multiply(legendre(i)[i], composed)
    return sum(c * (x1 ** (m + 1) - x0 ** (m + 1)) / (m + 1) for m, c in enumerate(product))


@pytest.mark.parametrize("nt_coarse, nt_fine, degree", [(2, 6, 3), (3, 5, 2), (4, 3, 1), (1, 1, 0)])
def test_transfers_are_the_exact_projections(nt_coarse, nt_fine, degree):
    prolongation = za.legendre_prolongation_matrix(nt_coarse, nt_fine, degree).toarray()
    restriction = za.legendre_restriction_matrix(nt_coarse=nt_coarse, nt_fine=nt_fine, degree=degree).toarray()
    assert prolongation.shape == restriction.T.shape == (nt_fine * (degree + 1), nt_coarse * (degree + 1))
    for i in range(degree + 1):
        for j in range(degree + 1):
            for k in range(nt_fine):
                for K in range(nt_coarse):
                    J = overlap_integral(i, j, nt_coarse, nt_fine, k, K)
                    for got, exact in [
                        (prolongation[i * nt_fine + k, j * nt_coarse + K], Fraction(2 * i + 1, 2) * J),
                        (
                            restriction[j * nt_coarse + K, i * nt_fine + k],
                            Fraction(2 * j + 1, 2) * Fraction(nt_coarse, nt_fine) * J,
                        ),
                    ]:
                        exact_decimal = Decimal(exact.numerator) / exact.denominator
                        assert got == 0 if exact == 0 else within_ulps(got, exact_decimal)


def test_nested_transfers_reproduce_and_project():
    rng = np.random.default_rng(5)
    degree, nt_coarse, nt_fine = 3, 4, 12
    P = za.legendre_prolongation_matrix(nt_coarse, nt_fine, degree)
    R = za.legendre_restriction_matrix(nt_coarse=nt_coarse, nt_fine=nt_fine, degree=degree)
    coarse = rng.standard_normal(nt_coarse * (degree + 1))
    times = rng.uniform(0, 1, 50)
    fine_values = za.LegendreExpansion(degree, nt_fine, 1.0, P @ coarse)(times)
    np.testing.assert_allclose(fine_values, za.LegendreExpansion(degree, nt_coarse, 1.0, coarse)(times), atol=1e-13)
    M_f = za.time_mass_matrix(za.LegendreSpace(degree, nt_fine), za.LegendreSpace(degree, nt_fine))
    M_c = za.time_mass_matrix(za.LegendreSpace(degree, nt_coarse), za.LegendreSpace(degree, nt_coarse))
    np.testing.assert_allclose(R.toarray(), sparse.linalg.spsolve(M_c.tocsc(), P.T @ M_f).toarray(), atol=1e-14)
    np.testing.assert_allclose((R @ P).toarray(), np.eye(nt_coarse * (degree + 1)), atol=1e-14)


@pytest.mark.parametrize("builder, n_rows", [(za.legendre_prolongation_matrix, 7), (za.legendre_restriction_matrix, 3)])
def test_transfer_row_ranges(builder, n_rows):
    grids = {"nt_coarse": 3, "nt_fine": 7, "degree": 2}
    whole = builder(**grids)
    for k_begin, k_end in [(0, 1), (1, n_rows - 1), (n_rows - 1, n_rows), (2, 2)]:
        piece = builder(**grids, intervals=(k_begin, k_end))
        rows = [i * n_rows + k for i in range(3) for k in range(k_begin, k_end)]
        assert (piece != whole[rows]).nnz == 0 and piece.data.tobytes() == whole[rows].data.tobytes()
        assert set(piece.indices.tolist()) <= set(za.column_range(builder, **grids, intervals=(k_begin, k_end)))


@pytest.mark.parametrize(
    "call, error, match",
    [
        (lambda: za.legendre_prolongation_matrix(0, 4, 1), ValueError, "nt_coarse"),
        (lambda: za.legendre_restriction_matrix(nt_coarse=4, nt_fine=0, degree=1), ValueError, "nt_fine"),
        (lambda: za.legendre_prolongation_matrix(2, 4, -1), ValueError, "degree"),
        (
            lambda: za.legendre_restriction_matrix(nt_coarse=2, nt_fine=4, degree=1, intervals=(0, 3)),
            ValueError,
            "intervals",
        ),
        (lambda: za.legendre_prolongation_matrix(2, 4, 1.0), TypeError, "degree"),
    ],
)
def test_transfer_errors(call, error, match):
    with pytest.raises(error, match=match):
        call()
