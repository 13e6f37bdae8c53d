"""TimeGrid: checks, uniform points as the uniform builders have them, value semantics, and quadrature on grids."""

import math
import pickle
from decimal import Decimal, localcontext

import pytest

np = pytest.importorskip("numpy")

import zelk_arrays as za


@pytest.mark.parametrize(("n_t", "T"), [(1, 1.0), (3, 1.0), (7, 0.3), (1000, 10.0), (12345, 3.7)])
def test_uniform_grid_from_zero_has_the_lagrange_points(n_t, T):
    grid = za.TimeGrid.uniform(n_t, T)
    expected = za.get_lagrange_points(1, n_t, T)
    assert grid.points.tobytes() == expected.tobytes()
    assert (grid.n_t, grid.start, grid.end) == (n_t, 0.0, T)
    assert za.TimeGrid(expected) == grid


@pytest.mark.parametrize(("n_t", "T", "start"), [(3, 2.0, 1.0), (10, -1.0, -3.5), (5, 1e-9, -1e-9)])
def test_uniform_grid_with_a_start(n_t, T, start):
    grid = za.TimeGrid.uniform(n_t, T, start=start)
    assert (grid.n_t, grid.start, grid.end) == (n_t, start, T)
    np.testing.assert_allclose(grid.steps, (T - start) / n_t, rtol=1e-12)


@pytest.mark.parametrize(
    ("points", "error", "match"),
    [
        ([0.0], ValueError, "at least two points, got 1"),
        ([[0.0, 1.0]], ValueError, "one-dimensional"),
        ([0.0, 1.0, 1.0], ValueError, r"points\[2\] = 1.0 is not above points\[1\]"),
        ([0.0, 2.0, 1.0, math.nan], ValueError, r"points\[2\] = 1.0"),
        ([0.0, math.nan, 1.0], ValueError, r"points\[1\] must be finite"),
        ([-math.inf, 1.0], ValueError, r"points\[0\] must be finite"),
        ([-1.7e308, 1e308, 1.5e308], ValueError, r"points\[1\] - points\[0\] overflows"),
        ("abc", TypeError, "real numbers"),
        ([0.0, None], TypeError, "real numbers"),
    ],
)
def test_bad_points(points, error, match):
    with pytest.raises(error, match=match):
        za.TimeGrid(points)


@pytest.mark.parametrize(
    ("args", "error", "match"),
    [
        ((0, 1.0), ValueError, "n_t must be at least 1"),
        ((2, 1.0, 1.0), ValueError, "T must be above start"),
        ((2, math.nan), ValueError, "T must be finite"),
        ((2, 1.0, -math.inf), ValueError, "start must be finite"),
        ((2, "1"), TypeError, "T must be a real number"),
        ((2.5, 1.0), TypeError, "n_t must be an integer"),
        ((3, 1.0 + 2**-52, 1.0), ValueError, "strictly increasing"),
    ],
)
def test_bad_uniform_grids(args, error, match):
    with pytest.raises(error, match=match):
        za.TimeGrid.uniform(*args)


def test_value_semantics():
    grid = za.TimeGrid([-0.0, 0.5, 2.0])
    assert grid.points.tobytes() == np.array([0.0, 0.5, 2.0]).tobytes()
    assert grid == za.TimeGrid([0, 0.5, 2]) and hash(grid) == hash(za.TimeGrid([0, 0.5, 2]))
    assert grid != za.TimeGrid([0, 0.5, 2.5]) and grid != [0.0, 0.5, 2.0]
    assert pickle.loads(pickle.dumps(grid)) == grid
    assert repr(grid) == "TimeGrid([0.0, 0.5, 2.0])"
    assert repr(za.TimeGrid.uniform(100, 2.0)) == "TimeGrid.uniform(n_t=100, T=2.0)"
    for array in (grid.points, grid.steps):
        with pytest.raises(ValueError, match="read-only"):
            array[0] = 1.0
    source = np.array([1.0, 2.0])
    copied = za.TimeGrid(source)
    source[1] = 5.0
    assert copied.end == 2.0


def exact_rule(n, rule):
    """Nodes on [-1, 1] and weights of small rules in closed form, at 60 digits."""
    with localcontext() as context:
        context.prec = 60
        third = Decimal(1) / 3
        table = {
            ("gauss", 2): ([-third.sqrt(), third.sqrt()], [Decimal(1), Decimal(1)]),
            ("radau-right", 2): ([-third, Decimal(1)], [Decimal("1.5"), Decimal("0.5")]),
            ("radau-left", 2): ([Decimal(-1), third], [Decimal("0.5"), Decimal("1.5")]),
            ("lobatto", 3): ([Decimal(-1), Decimal(0), Decimal(1)], [third, 4 * third, third]),
        }
        return table[(rule, n)]


@pytest.mark.parametrize(("rule", "n"), [("gauss", 2), ("radau-right", 2), ("radau-left", 2), ("lobatto", 3)])
def test_quadrature_on_a_dyadic_grid_is_rounded_once(rule, n):
    points = [-0.5, 0.25, 0.375, 2.0, 6.0, 6.0078125]
    times, weights = za.time_quadrature(n, za.TimeGrid(points), rule)
    nodes, ref_weights = exact_rule(n, rule)
    with localcontext() as context:
        context.prec = 60
        for k in range(len(points) - 1):
            a, h = Decimal(points[k]), Decimal(points[k + 1]) - Decimal(points[k])
            for i in range(n):
                exact_t, exact_w = a + h * (nodes[i] + 1) / 2, h * ref_weights[i] / 2
                # Half an ulp, and room for the 60-digit rounding of an exact 0.
                for computed, exact in ((times[k * n + i], exact_t), (weights[k * n + i], exact_w)):
                    assert abs(Decimal(computed) - exact) <= Decimal(math.ulp(float(exact))) / 2 + Decimal("1e-55")


@pytest.mark.parametrize("rule", ["gauss", "radau-left", "lobatto"])
@pytest.mark.parametrize(("n_t", "T"), [(3, 1.0), (7, 0.3), (1000, 10.0)])
def test_quadrature_on_a_uniform_grid_is_the_uniform_form(rule, n_t, T):
    on_grid = za.time_quadrature(4, za.TimeGrid.uniform(n_t, T), rule=rule)
    uniform = za.time_quadrature(4, n_t, T, rule)
    for a, b in zip(on_grid, uniform):
        assert a.tobytes() == b.tobytes()
    shifted = za.time_quadrature(4, za.TimeGrid(za.get_lagrange_points(1, n_t, T) + 1.0), rule)
    np.testing.assert_allclose(shifted[0], uniform[0] + 1.0, rtol=1e-15)


@pytest.mark.parametrize(
    ("args", "keywords", "error", "match"),
    [
        ((2, za.TimeGrid([0, 1]), "lobatto"), {"rule": "gauss"}, TypeError, "not also T"),
        ((2, 3), {}, TypeError, "needs T"),
        ((1, za.TimeGrid([0, 1]), "lobatto"), {}, ValueError, "n_points must be at least 2"),
        ((2, za.TimeGrid([0, 1]), "simpson"), {}, ValueError, "rule must be one of"),
        ((2, za.TimeGrid([0, 1]), 3), {}, TypeError, "rule must be a string"),
    ],
)
def test_quadrature_call_errors(args, keywords, error, match):
    with pytest.raises(error, match=match):
        za.time_quadrature(*args, **keywords)
