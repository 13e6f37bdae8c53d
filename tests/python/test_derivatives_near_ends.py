"""Legendre derivatives against exact rational arithmetic, up to and across the sub-interval ends."""

import math
from fractions import Fraction

import numpy as np
import pytest

import zelk
import zelk_arrays as za

DEGREE = 32  # P_0' ... P_32' in one sweep: each P_i' is the same for every degree >= i
SWITCH = 1.0 - 2.0**-6


def local_coordinates():
    xs = [float(x) for x in np.linspace(-1.0, 1.0, 257)]
    for k in range(1, 53):  # 1 - |x| = 2^-k, where the closed formula is worst next to its end
        xs += [1.0 - 2.0**-k, -1.0 + 2.0**-k]
    for edge in (SWITCH, -SWITCH):  # 1 ulp on each side of the switch
        xs += [math.nextafter(edge, -2.0), edge, math.nextafter(edge, 2.0)]
    return xs


def exact_derivatives(x):
    """P_0'(x) ... P_DEGREE'(x) in rational arithmetic."""
    x = Fraction(x)
    p = [Fraction(1), x]
    dp = [Fraction(0), Fraction(1)]
    for j in range(1, DEGREE):
        p.append(((2 * j + 1) * x * p[j] - j * p[j - 1]) / (j + 1))
        dp.append(dp[j - 1] + (2 * j + 1) * p[j])
    return dp


def test_every_derivative_path_is_accurate_up_to_the_ends():
    # On [0, 2] with n_t = 1, h = 2, so t = x + 1 and a time derivative is (P' + P') / 2 = P' exactly.
    times = np.array([x + 1.0 for x in local_coordinates()])
    # The x each time really lands on is P_1 there, read back for the oracle.
    xs = za.legendre_basis_matrix(DEGREE, 1, 2.0, times).toarray()[:, 1]
    rows = za.legendre_basis_matrix(DEGREE, 1, 2.0, times, derivative=True).toarray()
    basis = zelk.LegendreBasis(DEGREE, 1, 2.0)
    expansions = [za.LegendreExpansion(DEGREE, 1, 2.0, np.eye(DEGREE + 1)[i]) for i in range(DEGREE + 1)]
    by_expansion = np.stack([f.derivative(times) for f in expansions], axis=1)
    evaluators = [zelk.LegendreBasisEvaluator(DEGREE, 1, 2.0) for _ in range(DEGREE + 1)]
    for i, evaluator in enumerate(evaluators):
        evaluator.set_dofs(np.eye(DEGREE + 1)[i].tolist())
    scale = np.array([i * (i + 1) / 2 for i in range(DEGREE + 1)])  # max |P_i'| on [-1, 1]
    assert any(abs(x) == SWITCH for x in xs) and any(1 - 2.0**-40 < abs(x) < 1 for x in xs)
    for r, (t, x) in enumerate(zip(times, xs)):
        exact = np.array([float(d) for d in exact_derivatives(x)])
        worst = np.max(np.abs(rows[r] - exact) / np.maximum(scale, 1.0))
        assert worst <= 1e-13, f"x = {x!r}: error {worst:.2e} of max|P_i'|"
        assert rows[r].tolist() == basis.evaluate_all_basis_function_derivatives(t)
        assert by_expansion[r].tolist() == rows[r].tolist()
        assert [e.evaluate_derivative_at(t) for e in evaluators] == rows[r].tolist()


@pytest.mark.parametrize("t", [2.0 - 3e-8, 3e-8])
def test_quadratic_next_to_the_end(t):
    # d/dt P_2(t - 1) = 3 (t - 1) on [0, 2]; the closed formula gave 2.999999961182157 at 2 - 3e-8.
    got = za.LegendreExpansion(2, 1, 2.0, [0.0, 0.0, 1.0]).derivative(t)
    assert got == pytest.approx(3.0 * (t - 1.0), rel=1e-15)
