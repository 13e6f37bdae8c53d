"""The weighted time mass matrix: every entry the exact rational integral of w u_j v_i, rounded once."""

from fractions import Fraction
from types import SimpleNamespace

import numpy as np
import pytest
from test_loads import integral01, local_basis, poly_mul, range_rows

import zelk_arrays as za

GRID = za.TimeGrid([0.25, 0.5, 1.125, 1.5, 2.0])


def bits(a):
    return np.ascontiguousarray(a, dtype=np.float64).view(np.uint64)


def exact_matrix(trial, test, weight_space, coefficients):
    exact = {}
    points = [Fraction(t) for t in test.grid.points]
    for k in range(test.n_t):
        step = points[k + 1] - points[k]
        w = [Fraction(0)]
        for c, index in enumerate(weight_space.local_dofs()[k]):
            term = [Fraction(float(coefficients[index])) * x for x in local_basis(weight_space, c)]
            w = [x + y for x, y in zip(w + [Fraction(0)] * len(term), term + [Fraction(0)] * len(w))]
        for a, row in enumerate(test.local_dofs()[k]):
            for b, column in enumerate(trial.local_dofs()[k]):
                value = step * integral01(poly_mul(poly_mul(w, local_basis(test, a)), local_basis(trial, b)))
                exact[row, column] = exact.get((row, column), Fraction(0)) + value
    out = np.zeros((test.dim, trial.dim))
    for (row, column), value in exact.items():
        out[row, column] = float(value)  # rounded once, to nearest
    return out


KINDS = [
    lambda g: za.LegendreSpace(2, g),
    lambda g: za.LegendreSpace(1, g, layout="interval-major"),
    lambda g: za.LagrangeSpace(2, g),
    lambda g: za.LagrangeSpace(1, g, continuous=False),
]


@pytest.mark.parametrize("trial", KINDS)
@pytest.mark.parametrize("test", KINDS)
@pytest.mark.parametrize("weight", [lambda g: za.LegendreSpace(3, g), lambda g: za.LagrangeSpace(2, g)])
def test_entries_are_the_exact_integrals_rounded_once(trial, test, weight):
    trial, test, weight_space = trial(GRID), test(GRID), weight(GRID)
    coefficients = np.random.default_rng(7).uniform(-2.0, 2.0, weight_space.dim)
    w = SimpleNamespace(space=weight_space, coefficients=coefficients)
    got = za.time_mass_matrix(trial, test, weight=w).toarray()
    np.testing.assert_array_equal(bits(got), bits(exact_matrix(trial, test, weight_space, coefficients)))
    part = za.time_mass_matrix(trial, test, weight=w, intervals=(1, 3)).toarray()
    np.testing.assert_array_equal(bits(part), bits(got[range_rows(test, 1, 3)]))


@pytest.mark.parametrize(
    "space",
    [za.LegendreSpace(2, 4, 3.0), za.LagrangeSpace(2, 4, 3.0), za.LagrangeSpace(2, GRID, nodes="lobatto")],
    ids=repr,
)
def test_a_weight_of_one_gives_the_unweighted_matrix(space):
    one = za.LegendreExpansion(0, space.n_t, space.T, np.ones(space.n_t)) if space.grid.start == 0 else None
    if one is None:
        one = SimpleNamespace(space=za.LegendreSpace(0, space.grid), coefficients=np.ones(space.n_t))
    weighted = za.time_mass_matrix(space, space, weight=one)
    plain = za.time_mass_matrix(space, space)
    np.testing.assert_array_equal(bits(weighted.toarray()), bits(plain.toarray()))
    assert weighted.nnz == plain.nnz


def test_weight_errors():
    space = za.LegendreSpace(1, GRID)
    with pytest.raises(ValueError, match="the weight must be on the spaces' grid"):
        za.time_mass_matrix(space, space, weight=SimpleNamespace(space=za.LegendreSpace(0, 4), coefficients=[1] * 4))
    with pytest.raises(ValueError, match="the weight needs 4 coefficients"):
        za.time_mass_matrix(space, space, weight=SimpleNamespace(space=za.LegendreSpace(0, GRID), coefficients=[1]))
    with pytest.raises(TypeError, match="weight must be an expansion"):
        za.time_mass_matrix(space, space, weight=np.ones(4))
    with pytest.raises(TypeError, match="coefficients must be real numbers"):
        za.time_mass_matrix(space, space, weight=SimpleNamespace(space=za.LegendreSpace(0, GRID), coefficients="abcd"))
