"""Lagrange spaces on the nodes of Gauss, Radau and Lobatto rules at high degree: entries within an ulp of 60 digits."""

from functools import cache

import numpy as np
import pytest

import zelk_arrays as za

# A development requirement: the release wheels' venvs hold only pytest, numpy and scipy.
mpmath = pytest.importorskip("mpmath")

mp = mpmath.mp.clone()
mp.dps = 60
RULES = ("gauss", "radau-left", "radau-right", "lobatto")


def legendre(n, x):
    """P_0 ... P_n at x, and their derivatives."""
    p, dp = [mp.mpf(1), x], [mp.mpf(0), mp.mpf(1)]
    for j in range(1, n):
        p.append(((2 * j + 1) * x * p[j] - j * p[j - 1]) / (j + 1))
        dp.append(dp[j - 1] + (2 * j + 1) * p[j])
    return p[: n + 1], dp[: n + 1]


def refined(rule, n, starts):
    """The n nodes of a rule to 60 digits: Newton steps from the doubles (the ends stay)."""
    nodes = []
    for start in starts:
        x = mp.mpf(start)
        for _ in range(4 if abs(start) != 1 else 0):  # quadratic steps from 1e-16
            p, dp = legendre(n, x)
            if rule == "lobatto":  # the roots of P'_{n-1}; P'' from Legendre's equation
                m = n - 1
                f, df = dp[m], (2 * x * dp[m] - m * (m + 1) * p[m]) / (1 - x * x)
            else:
                sign = {"gauss": 0, "radau-left": 1, "radau-right": -1}[rule]
                f, df = p[n] + sign * p[n - 1], dp[n] + sign * dp[n - 1]
            x -= f / df
        nodes.append(x)
    return nodes


def nodes(rule, n):
    """The rule's n nodes on [-1, 1] to 60 digits, from zelk's doubles on [0, 2]."""
    return refined(rule, n, za.time_quadrature(n, 1, 2.0, rule)[0] - 1.0)


@cache
def gauss(m):
    points = nodes("gauss", m)
    return points, [2 / ((1 - y * y) * legendre(m, y)[1][m] ** 2) for y in points]


@cache
def reference(rule, d, e):
    """Sampled Lagrange functions of the rule's d + 1 nodes and Legendre polynomials up to e: values and
    derivatives at an even Gauss rule exact for every product (0 is none of its points), and values at -1."""
    x = nodes(rule, d + 1)
    points, weights = gauss((max(d, e) + 3) // 2 * 2)
    lagrange_samples = sorted({0, 1, d // 3, d // 2, d - 1, d})
    legendre_samples = sorted({0, 1, d // 2, d - 1, d, e})
    barycentric = {j: 1 / mp.fprod(x[j] - x[k] for k in range(d + 1) if k != j) for j in lagrange_samples}

    def lagrange_at(y):
        if y in x:
            return {j: (mp.mpf(y == x[j]), None) for j in lagrange_samples}
        node = mp.fprod(y - xk for xk in x)
        slope = mp.fsum(1 / (y - xk) for xk in x)
        values = {j: node * barycentric[j] / (y - x[j]) for j in lagrange_samples}
        return {j: (v, v * (slope - 1 / (y - x[j]))) for j, v in values.items()}

    lagrange_values = [lagrange_at(y) for y in points]
    legendre_values = [legendre(e, y) for y in points]
    tables = {
        "lagrange": (lagrange_samples, lambda q, j, k: lagrange_values[q][j][k], lagrange_at(mp.mpf(-1))),
        "legendre": (legendre_samples, lambda q, i, k: legendre_values[q][k][i], None),
    }
    return weights, tables


def exact(op, weights, trial, b, test, a):
    if op == "jump":  # one interval: v_a(-1) u_b(-1)
        ends = [t[2][j][0] if t[2] else mp.mpf(-1) ** j for t, j in ((trial, b), (test, a))]
        return ends[0] * ends[1]
    derivative = op == "derivative"
    return mp.fsum(w * trial[1](q, b, derivative) * test[1](q, a, 0) for q, w in enumerate(weights))


@pytest.mark.parametrize("op", ["mass", "derivative", "jump"])
@pytest.mark.parametrize("kinds", [("lagrange", "lagrange"), ("lagrange", "legendre"), ("legendre", "lagrange")])
@pytest.mark.parametrize("d", [40, 250])  # the threshold, and well past it
@pytest.mark.parametrize("rule", RULES)
def test_entries_are_within_an_ulp_of_sixty_digits(rule, d, kinds, op):
    e = d + 2  # a Legendre side of another degree
    weights, tables = reference(rule, d, e)
    spaces = {
        "lagrange": za.LagrangeSpace(d, 1, 2.0, nodes=rule, continuous=False),
        "legendre": za.LegendreSpace(e, 1, 2.0),
    }
    build = {"mass": za.time_mass_matrix, "derivative": za.time_derivative_matrix, "jump": za.time_jump_matrix}[op]
    got = build(spaces[kinds[0]], spaces[kinds[1]]).toarray()
    trial, test = tables[kinds[0]], tables[kinds[1]]
    zeros = 0
    for a in test[0]:
        for b in trial[0]:
            value = exact(op, weights, trial, b, test, a)
            if abs(value) < mp.mpf(10) ** -45:  # an exact zero: not stored
                zeros += 1
                assert got[a, b] == 0.0, (a, b)
            else:
                assert abs(mp.mpf(float(got[a, b])) - value) <= np.spacing(abs(float(value))), (a, b, got[a, b], value)
    assert zeros < len(test[0]) * len(trial[0])
