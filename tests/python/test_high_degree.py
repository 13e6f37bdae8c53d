"""Equidistant Lagrange operators past degree 170, where k! leaves the double range: exact rationals and overflow."""

from fractions import Fraction
from math import factorial

import numpy as np
import pytest

import zelk_arrays as za


def node_polynomial(d, j):
    """Integer coefficients (ascending) of the product of s - m over m = 0 ... d, m != j."""
    coefficients = [1]
    for m in range(d + 1):
        if m != j:
            shifted = [0, *coefficients]
            for n, c in enumerate(coefficients):
                shifted[n] -= m * c
            coefficients = shifted
    return coefficients


def moment(n, i):
    """The integral of u^n times the shifted Legendre polynomial P_i(2u - 1) over [0, 1]."""
    return Fraction(factorial(n) ** 2, factorial(n - i) * factorial(n + i + 1)) if n >= i else Fraction(0)


def exact_entry(kind, d, i, j):
    """Mass (mean over [-1, 1]) or derivative entry of trial l_j (nodes s = 0 ... d) against test P_i.

    With x = 2 s / d - 1 and s = d u: the mean of l_j P_i is the sum of N_n d^n mu(n, i) over
    the denominator, and the integral of l_j' P_i the sum of n N_n d^n mu(n - 1, i).
    """
    numerator = node_polynomial(d, j)
    denominator = (-1) ** (d - j) * factorial(j) * factorial(d - j)
    if kind == "mass":
        total = sum(c * d**n * moment(n, i) for n, c in enumerate(numerator) if n >= i)
    else:
        total = sum(n * c * d**n * moment(n - 1, i) for n, c in enumerate(numerator) if n >= i + 1)
    return total / denominator


BUILDERS = {"mass": za.time_mass_matrix, "derivative": za.time_derivative_matrix}


@pytest.mark.parametrize(
    ("kind", "lagrange_trial"), [("mass", True), ("mass", False), ("derivative", True), ("derivative", False)]
)
@pytest.mark.parametrize("d", [160, 171, 200])
def test_lagrange_against_legendre_past_factorial_range_meets_exact_rationals(kind, lagrange_trial, d):
    # 171! > 2^1024: the basis' denominators j! (d - j)! left the double range from there on.
    lagrange, legendre = za.LagrangeSpace(d, 1), za.LegendreSpace(d, 1)
    got = BUILDERS[kind](*((lagrange, legendre) if lagrange_trial else (legendre, lagrange))).toarray()
    assert np.isfinite(got).all()
    for j in (0, 1, d // 3, d // 2):
        # Double-double sums over a Gauss rule: within 2^-90 of the row or column's largest entry, and the
        # nearest double where the terms do not cancel (the low Legendre degrees).
        column = np.abs(got[:, j] if lagrange_trial else got[j, :]).max()
        for i in (0, 1, 2, d // 2, d // 2 + 1, d - 1, d):
            pair = (i, j) if lagrange_trial else (j, i)
            exact = exact_entry(kind, d, i, j)
            if kind == "derivative" and not lagrange_trial:
                # By parts: the integral of P_i' l_j is l_j(1) - (-1)^i l_j(-1) less that of l_j' P_i.
                exact = (j == d) - (j == 0) * (-1) ** i - exact
            assert abs(got[pair] - exact) <= column * 2.0**-90, pair
            if i <= 2:
                assert got[pair] == float(exact), pair


@pytest.mark.parametrize(("kind", "d"), [("mass", 1000), ("derivative", 600)])
def test_lagrange_entries_beyond_double_range_are_an_overflow_error(kind, d):
    # Lagrange against Lagrange grows like 4^d: past degree 535 no double holds the diagonal.
    space = za.LagrangeSpace(d, 1)
    with pytest.raises(OverflowError, match=f"degree {d}"):
        BUILDERS[kind](space, space)


def test_lagrange_mass_overflows_exactly_where_its_diagonal_passes_the_largest_double():
    # The largest mean, that of l_{d/2}^2, is 1.37e308 at degree 534 and four times that at 535.
    below = za.time_mass_matrix(za.LagrangeSpace(534, 1), za.LagrangeSpace(534, 1))
    assert np.isfinite(below.data).all() and np.abs(below.data).max() > np.finfo(float).max / 2
    with pytest.raises(OverflowError, match="degree 535"):
        za.time_mass_matrix(za.LagrangeSpace(535, 1), za.LagrangeSpace(535, 1))
