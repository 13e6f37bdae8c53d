"""Slab blocks: summed slab by slab they are the global operators, bit for bit."""

from fractions import Fraction

import numpy as np
import pytest

import zelk_arrays as za

GRID = za.TimeGrid([0.5, 0.61, 0.9, 1.0 / 3.0 + 1.0, 2.0, 2.2])


def spaces(grid):
    return [
        za.LagrangeSpace(2, grid),
        za.LagrangeSpace(3, grid, nodes="lobatto"),
        za.LagrangeSpace(1, grid, nodes="gauss"),
        za.LagrangeSpace(2, grid, nodes="radau-right"),
        za.LagrangeSpace(1, grid, continuous=False),
        za.LegendreSpace(2, grid),
        za.LegendreSpace(1, grid, layout="interval-major"),
    ]


def bits(a):
    return np.ascontiguousarray(a, dtype=np.float64).view(np.uint64)


def assembled(trial, test):
    mass, derivative, jump = (np.zeros((test.dim, trial.dim)) for _ in range(3))
    for k in range(test.n_t):
        b = za.slab_blocks(trial, test, k)
        rows, columns = np.ix_(b.test_dofs, b.trial_dofs)
        mass[rows, columns] += b.mass
        derivative[rows, columns] += b.derivative
        jump[rows, columns] += b.jump
        jump[np.ix_(b.test_dofs, b.previous_trial_dofs)] += b.jump_previous
    return mass, derivative, jump


@pytest.mark.parametrize("grid", [GRID, za.TimeGrid.uniform(4, 3.0)], ids=["graded", "uniform"])
@pytest.mark.parametrize("trial", range(7))
@pytest.mark.parametrize("test", range(7))
def test_blocks_summed_in_slab_order_are_the_global_matrices(grid, trial, test):
    trial, test = spaces(grid)[trial], spaces(grid)[test]
    built = assembled(trial, test)
    for block_sum, builder in zip(built, (za.time_mass_matrix, za.time_derivative_matrix, za.time_jump_matrix)):
        np.testing.assert_array_equal(bits(block_sum), bits(builder(trial, test).toarray()), err_msg=builder.__name__)


@pytest.mark.parametrize("k", [0, 1, 4])
def test_rows_of_one_slab_are_the_global_rows(k):
    trial, test = za.LegendreSpace(2, GRID), za.LagrangeSpace(2, GRID)
    b = za.slab_blocks(trial, test, k)
    inner = b.test_dofs[1:-1]
    global_rows = za.time_mass_matrix(trial, test).toarray()[inner][:, b.trial_dofs]
    np.testing.assert_array_equal(bits(b.mass[1:-1]), bits(global_rows))
    assert b.jump_previous.shape == (3, 0 if k == 0 else 3)
    assert b.previous_trial_dofs.tolist() == ([] if k == 0 else (np.arange(3) * GRID.n_t + k - 1).tolist())


def test_reference_blocks_are_the_exact_integrals_on_the_unit_interval():
    # Equispaced quadratics on [0, 1]: the Simpson mass and the derivative (1/30 and 1/6 scaled).
    blocks = za.reference_blocks(za.LagrangeSpace(2, 1), za.LagrangeSpace(2, 1))
    exact_mass = [
        [Fraction(4, 30), Fraction(2, 30), Fraction(-1, 30)],
        [Fraction(2, 30), Fraction(16, 30), Fraction(2, 30)],
        [Fraction(-1, 30), Fraction(2, 30), Fraction(4, 30)],
    ]
    exact_derivative = [
        [Fraction(-1, 2), Fraction(2, 3), Fraction(-1, 6)],
        [Fraction(-2, 3), Fraction(0), Fraction(2, 3)],
        [Fraction(1, 6), Fraction(-2, 3), Fraction(1, 2)],
    ]
    assert blocks.mass.tolist() == [[float(x) for x in row] for row in exact_mass]
    assert blocks.derivative.tolist() == [[float(x) for x in row] for row in exact_derivative]
    assert blocks.jump.tolist() == [[1, 0, 0], [0, 0, 0], [0, 0, 0]]
    assert blocks.jump_previous.tolist() == [[0, 0, -1], [0, 0, 0], [0, 0, 0]]
    # A slab's mass is its step times the reference, each entry rounded once.
    grid = za.TimeGrid([0.0, 0.3, 1.0])
    slab = za.slab_blocks(za.LagrangeSpace(2, grid), za.LagrangeSpace(2, grid), 1)
    step = Fraction(1.0) - Fraction(0.3)
    assert slab.mass[1:, 1:].tolist() == [[float(x * step) for x in row[1:]] for row in exact_mass[1:]]


@pytest.mark.parametrize(
    ("args", "error", "match"),
    [
        ((za.LegendreSpace(1, 4), za.LegendreSpace(1, 4), 4), ValueError, "k must be below n_t = 4"),
        ((za.LegendreSpace(1, 4), za.LegendreSpace(1, 4), -1), ValueError, "non-negative"),
        ((za.LegendreSpace(1, 4), za.LegendreSpace(1, 4), 1.0), TypeError, "k must be an integer"),
        ((za.LegendreSpace(1, 4), za.LegendreSpace(1, 3), 0), ValueError, "same grid"),
        ((za.LegendreSpace(1, 4), "space", 0), TypeError, "test must be"),
    ],
)
def test_slab_blocks_errors(args, error, match):
    with pytest.raises(error, match=match):
        za.slab_blocks(*args)
    if isinstance(args[1], str):
        with pytest.raises(TypeError, match="test must be"):
            za.reference_blocks(*args[:2])
