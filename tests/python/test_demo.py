"""The demo's workflow pieces and its order check, which `make test` relies on."""

import math

import numpy as np
import pytest


def polynomial(coefficients):
    return lambda t: sum(c * t**j for j, c in enumerate(coefficients))


def polynomial_derivative(coefficients):
    return lambda t: sum(j * c * t ** (j - 1) for j, c in enumerate(coefficients) if j > 0)


# A piecewise interpolant of degree d reproduces every polynomial of degree <= d:
# this fails if the transformation's rows and the evaluator's layout disagree.
@pytest.mark.parametrize("degree", [1, 2, 3, 4, 5])
@pytest.mark.parametrize("n_t", [1, 3])
def test_interpolant_reproduces_polynomials_of_its_degree(demo, degree, n_t):
    import zelk_arrays

    coefficients = [0.7, -1.3, 0.4, 2.1, -0.9, 0.25][: degree + 1]
    q, dq = polynomial(coefficients), polynomial_derivative(coefficients)
    points = zelk_arrays.get_lagrange_points(degree, n_t, demo.T_END)
    expansion = demo.interpolant(degree, n_t, q(points))
    # Includes sub-interval ends, where the derivative is one-sided but still exact.
    times = np.linspace(0.0, demo.T_END, 7 * n_t + 1)
    np.testing.assert_allclose(expansion(times), q(times), rtol=0, atol=1e-12)
    np.testing.assert_allclose(expansion.derivative(times), dq(times), rtol=0, atol=1e-9)


@pytest.mark.parametrize("degree", [1, 2, 4])
@pytest.mark.parametrize("nt_coarse, nt_fine", [(2, 4), (3, 2), (3, 5)])
def test_prolongation_reproduces_polynomials_of_its_degree(demo, degree, nt_coarse, nt_fine):
    import zelk_arrays

    q = polynomial([0.3, 1.1, -0.6, 0.8, 0.2][: degree + 1])
    coarse = zelk_arrays.get_lagrange_points(degree, nt_coarse, demo.T_END)
    fine = zelk_arrays.get_lagrange_points(degree, nt_fine, demo.T_END)
    np.testing.assert_allclose(demo.prolong(degree, nt_coarse, nt_fine, q(coarse)), q(fine), atol=1e-13)


@pytest.mark.parametrize("order", [1.0, 2.5, 5.0])
def test_observed_orders_recover_a_power_law(demo, order):
    n_ts = [4, 8, 16, 48]
    errors = [3.0 * n**-order for n in n_ts]
    assert demo.observed_orders(n_ts, errors) == pytest.approx([order] * 3)


@pytest.mark.parametrize("degree", [1, 2, 3, 4])
def test_order_check_accepts_the_measured_rates_and_rejects_wrong_ones(demo, degree):
    rows = [demo.measure(degree, n_t) for n_t in demo.QUICK_GRIDS]
    assert demo.order_failures(degree, rows) == []
    # The same table judged against the next degree is one order short everywhere.
    failures = demo.order_failures(degree + 1, rows)
    assert [f.split(":")[1].split()[0] for f in failures] == ["value", "derivative", "prolongation"]


def test_order_check_rejects_errors_that_give_no_order(demo):
    good = demo.Row(4, 1e-2, 1e-1, 1e-2)
    stalled = demo.Row(8, 0.0, math.nan, 1e-2 / 4)  # prolongation: order 2, as it should
    failures = demo.order_failures(1, [good, stalled])
    assert [f.split(":")[1].split()[0] for f in failures] == ["value", "derivative"]
    assert all(f.endswith("give no order") for f in failures)
    assert demo.order_failures(1, [good]) != []
