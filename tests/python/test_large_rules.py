"""Large quadrature rules against 60-digit references: every node of small rules, a sample of the large ones."""

import math
from decimal import Decimal, localcontext

import pytest

np = pytest.importorskip("numpy")

import zelk_arrays as za

DIGITS = 60
RULES = ("gauss", "radau-left", "radau-right", "lobatto")


def legendre_pair(m, x):
    """P_{m-1}(x), P_m(x) by the three-term recurrence."""
    before, value = Decimal(1), x
    for k in range(1, m):
        before, value = value, ((2 * k + 1) * x * value - k * before) / (k + 1)
    return before, value


def target(rule, n, x):
    """The function whose roots are the free nodes (Radau with -1), its derivative, and the weight there."""
    if rule == "gauss":
        before, p = legendre_pair(n, x)
        slope = n * (before - x * p) / (1 - x * x)
        return p, slope, 2 / ((1 - x * x) * slope * slope)
    if rule == "lobatto":
        before, p = legendre_pair(n - 1, x)
        slope = (n - 1) * (before - x * p) / (1 - x * x)
        return slope, (2 * x * slope - n * (n - 1) * p) / (1 - x * x), 2 / (n * (n - 1) * p * p)
    before, p = legendre_pair(n, x)
    slope = n * (before - x * p) / (1 - x * x)
    older = legendre_pair(n - 1, x)[0]
    slope_before = (n - 1) * (older - x * before) / (1 - x * x)
    return before + p, slope_before + slope, (1 - x) / (n * n * before * before)


def exact_node(rule, n, node):
    """The node of [0, 1] near `node` and its weight there (halved), at 60 digits."""
    with localcontext() as context:
        context.prec = DIGITS + 10
        sign = -1 if rule == "radau-right" else 1
        base = "radau-left" if rule == "radau-right" else rule
        x = sign * (2 * Decimal(float(node)) - 1)
        if rule != "gauss" and x == -1 or rule == "lobatto" and x == 1:
            scale = n * n if rule != "lobatto" else n * (n - 1)
            return (sign * x + 1) / 2, Decimal(1) / scale
        for _ in range(3):  # quadratic steps from a double: 10^-16, 10^-32, 10^-64
            f, df, _ = target(base, n, x)
            x -= f / df
        weight = target(base, n, x)[2]
        return (sign * x + 1) / 2, weight / 2


def ulps(computed, exact):
    return float(abs(Decimal(computed) - exact)) / math.ulp(float(exact))


def sample(n):
    """Every index of a small rule; the ends and a spread of the middle of a large one."""
    if n <= 100:
        return range(n)
    return sorted({0, 1, 2, n // 7, n // 2, n - n // 3, n - 2, n - 1}) if n <= 1000 else (0, 1, n // 3, n - 1)


@pytest.mark.parametrize("rule", RULES)
@pytest.mark.parametrize("n", [10, 100, 1000, 10000])
def test_nodes_and_weights_within_two_ulps(rule, n):
    times, weights = za.time_quadrature(n, 1, 1.0, rule)
    assert np.all(np.diff(times) > 0.0) and np.all(weights > 0.0)
    for i in sample(n):
        node, weight = exact_node(rule, n, times[i])
        assert ulps(times[i], node) <= 2.0, (i, times[i], node)
        assert ulps(weights[i], weight) <= 2.0, (i, weights[i], weight)
    assert math.fsum(weights) == pytest.approx(1.0, rel=1e-13)


@pytest.mark.parametrize("rule", ["gauss", "lobatto"])
def test_symmetric_rules_are_exactly_symmetric(rule):
    times, weights = za.time_quadrature(1001, 1, 2.0, rule)
    np.testing.assert_array_equal(weights, weights[::-1])
    assert times[500] == 1.0  # the middle node is 0 itself
