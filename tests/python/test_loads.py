"""Load vectors against exact integrals, and ranges of them and of the quadrature against the whole, bit for bit."""

from fractions import Fraction

import numpy as np
import pytest

import zelk_arrays as za

GRID = za.TimeGrid([0.25, 0.5, 1.125, 1.5, 2.0])


def bits(a):
    return np.ascontiguousarray(a, dtype=np.float64).view(np.uint64)


def poly_mul(a, b):
    out = [Fraction(0)] * (len(a) + len(b) - 1)
    for i, x in enumerate(a):
        for j, y in enumerate(b):
            out[i + j] += x * y
    return out


def shifted_legendre(i):
    """P_i(2s - 1) as coefficients in s."""
    previous, current = [Fraction(1)], [Fraction(-1), Fraction(2)]
    if i == 0:
        return previous
    for n in range(1, i):
        x_current = poly_mul([Fraction(-1), Fraction(2)], current)
        padded = previous + [Fraction(0)] * (len(x_current) - len(previous))
        previous, current = current, [((2 * n + 1) * a - n * b) / (n + 1) for a, b in zip(x_current, padded)]
    return current


def equispaced_lagrange(p, j):
    out = [Fraction(1)]
    for m in range(p + 1):
        if m != j:
            out = poly_mul(out, [Fraction(-m, p), Fraction(1)])
            out = [c / Fraction(j - m, p) for c in out]
    return out


def local_basis(space, a):
    if isinstance(space, za.LegendreSpace):
        return shifted_legendre(a)
    return equispaced_lagrange(space.degree, a)


def integral01(poly):
    return sum(c / (m + 1) for m, c in enumerate(poly))


def in_s(coefficients, start, step):
    """f(t) = sum c_m t^m as a polynomial in s for t = start + step s."""
    out = [Fraction(0)]
    power = [Fraction(1)]
    for c in coefficients:
        term = [c * x for x in power]
        out = [x + y for x, y in zip(out + [Fraction(0)] * len(term), term + [Fraction(0)] * len(out))]
        power = poly_mul(power, [start, step])
    return out


def range_rows(space, k_begin, k_end):
    """The global rows that the builders give for intervals=(k_begin, k_end), in their order."""
    if isinstance(space, za.LegendreSpace) and space.layout == "polynomial-major":
        return [i * space.n_t + k for i in range(space.degree + 1) for k in range(k_begin, k_end)]
    count = za.time_mass_matrix(space, space, intervals=(k_begin, k_end)).shape[0]
    start = space.local_dofs()[k_begin, 0] if k_begin < space.n_t else space.dim
    return list(range(start, start + count))


SPACES = [
    lambda g: za.LegendreSpace(2, g),
    lambda g: za.LegendreSpace(1, g, layout="interval-major"),
    lambda g: za.LagrangeSpace(2, g),
    lambda g: za.LagrangeSpace(3, g, continuous=False),
]


@pytest.mark.parametrize("make", SPACES)
@pytest.mark.parametrize("rule", ["gauss", "radau-right", "lobatto"])
def test_default_points_integrate_polynomials_of_the_test_degree_exactly(make, rule):
    space = make(GRID)
    f_coefficients = [Fraction(3, 4), Fraction(-2), Fraction(5, 8), Fraction(1, 3)][: space.degree + 1]
    # Two columns: f and 2 f + 1, to check the trailing axis.
    load = za.load_vector(
        space,
        lambda t: np.stack([sum(float(c) * t**m for m, c in enumerate(f_coefficients))] * 2, axis=-1) * [1, 2] + [0, 1],
        rule=rule,
    )
    assert load.shape == (space.dim, 2)
    exact = [Fraction(0)] * space.dim
    ones = [Fraction(0)] * space.dim
    dofs = space.local_dofs()
    points = [Fraction(t) for t in GRID.points]
    for k in range(GRID.n_t):
        step = points[k + 1] - points[k]
        f_s = in_s(f_coefficients, points[k], step)
        for a in range(space.degree + 1):
            v = local_basis(space, a)
            exact[dofs[k, a]] += step * integral01(poly_mul(f_s, v))
            ones[dofs[k, a]] += step * integral01(v)
    # f comes from numpy's powers, which may differ by an ulp between numpy builds: each column is held to
    # a few ulps of its own largest value.
    for column, values in enumerate((exact, [2 * x + y for x, y in zip(exact, ones)])):
        expected = [float(x) for x in values]
        scale = max(abs(x) for x in expected)
        np.testing.assert_allclose(load[:, column], expected, rtol=0, atol=(4e-16, 1e-15)[column] * scale)


@pytest.mark.parametrize("make", [*SPACES, lambda g: za.LagrangeSpace(2, g, nodes="lobatto")])
@pytest.mark.parametrize("grid", [GRID, za.TimeGrid.uniform(4, 3.0)], ids=["graded", "uniform"])
@pytest.mark.parametrize("intervals", [(0, 2), (1, 3), (2, 4), (3, 3)])
def test_range_is_the_same_entries_of_the_whole_and_f_sees_only_its_times(make, grid, intervals):
    space = make(grid)
    seen = []

    def f(t):
        seen.append(t.copy())
        return np.cos(t)[:, None] * [1.0, -3.0]

    whole = za.load_vector(space, f, n_points=4)
    part = za.load_vector(space, f, n_points=4, intervals=intervals)
    np.testing.assert_array_equal(bits(part), bits(whole[range_rows(space, *intervals)]))
    k_begin, k_end = intervals
    first = (
        max(k_begin - 1, 0) if isinstance(space, za.LagrangeSpace) and space.continuous and k_end > k_begin else k_begin
    )
    times, _ = za.time_quadrature(4, grid, intervals=(first, k_end))
    assert len(seen) == 2
    np.testing.assert_array_equal(bits(seen[1]), bits(times))


@pytest.mark.parametrize("rule", ["gauss", "radau-left", "radau-right", "lobatto"])
@pytest.mark.parametrize("grid", [(13, 2.5), (7, 1e-300), (5, 1e300), (GRID,), (za.TimeGrid.uniform(6, 3.0),)], ids=str)
@pytest.mark.parametrize("intervals", [(0, 1), (2, 4), (4, 4), range(1, 4)])
def test_quadrature_range_is_the_same_entries_of_the_whole(rule, grid, intervals):
    n = 3
    whole = za.time_quadrature(n, *grid, rule)
    part = za.time_quadrature(n, *grid, rule, intervals=intervals)
    k_begin, k_end = (intervals.start, intervals.stop) if isinstance(intervals, range) else intervals
    for got, full in zip(part, whole):
        np.testing.assert_array_equal(bits(got), bits(full[k_begin * n : k_end * n]))


def test_load_vector_and_quadrature_errors():
    space = za.LegendreSpace(1, 3)
    with pytest.raises(TypeError, match="test must be"):
        za.load_vector("space", np.sin)
    with pytest.raises(TypeError, match="f must be callable"):
        za.load_vector(space, 1.0)
    with pytest.raises(ValueError, match="rule must be one of"):
        za.load_vector(space, np.sin, rule="simpson")
    with pytest.raises(ValueError, match="n_points must be at least 2"):
        za.load_vector(space, np.sin, rule="lobatto", n_points=1)
    with pytest.raises(ValueError, match=r"shape \(6,\) \+ trailing, got shape \(5,\)"):
        za.load_vector(space, lambda t: t[1:])
    with pytest.raises(ValueError, match=r"got shape \(\)"):
        za.load_vector(space, lambda t: 1.0)
    with pytest.raises(TypeError, match="real numbers"):
        za.load_vector(space, lambda t: t.astype(complex))
    with pytest.raises(ValueError, match="intervals must satisfy"):
        za.load_vector(space, np.sin, intervals=(2, 4))
    with pytest.raises(ValueError, match="intervals must satisfy"):
        za.time_quadrature(2, 3, 1.0, intervals=(0, 4))
    with pytest.raises(TypeError, match="intervals must be a pair"):
        za.time_quadrature(2, GRID, intervals=3)


@pytest.mark.parametrize("weights_per_interval", [False, True])
def test_one_point_contraction_has_the_general_loops_bits(weights_per_interval):
    # Degree 0 with one point takes a straight loop; a second column sends the same values through the general one.
    from zelk_arrays import _native

    rng = np.random.default_rng(7)
    values = rng.normal(size=1001) * np.exp(rng.uniform(-300, 300, size=1001))
    weights = rng.uniform(0.1, 3.0, size=1001 if weights_per_interval else 1)
    basis = np.array([1.0 - 2.0**-40])
    alone = np.frombuffer(_native.load_contraction(weights, values, 1, basis, 1))
    paired = np.frombuffer(_native.load_contraction(weights, np.repeat(values, 2), 2, basis, 1))
    np.testing.assert_array_equal(bits(alone), bits(paired[::2]))
    np.testing.assert_array_equal(bits(alone), bits((weights * values) * basis[0]))
