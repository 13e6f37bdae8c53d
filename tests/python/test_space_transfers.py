"""interpolation_matrix and projection_matrix: legacy bits, exact fractions on dyadic grids, reproduction, errors."""

from __future__ import annotations

import math
from fractions import Fraction

import numpy as np
import pytest

import zelk_arrays as za


def same_bits(a, b):
    return (
        a.shape == b.shape
        and np.array_equal(a.indptr, b.indptr)
        and np.array_equal(a.indices, b.indices)
        and np.array_equal(a.data.view(np.uint64), b.data.view(np.uint64))
    )


# Exact piecewise polynomials: coefficient lists in t, lowest power first, of Fractions.
def mul(p, q):
    out = [Fraction(0)] * (len(p) + len(q) - 1)
    for i, a in enumerate(p):
        for j, b in enumerate(q):
            out[i + j] += a * b
    return out


def value(p, t):
    return sum((c * t**n for n, c in enumerate(p)), Fraction(0))


def integral(p, a, b):
    return sum((c * (b ** (n + 1) - a ** (n + 1)) / (n + 1) for n, c in enumerate(p)), Fraction(0))


def legendre(i, a, b):
    """P_i of x = (2t - a - b) / (b - a) as a polynomial in t."""
    x = [-(a + b) / (b - a), 2 / (b - a)]
    polys = [[Fraction(1)], x]
    for n in range(1, i):
        nxt = [Fraction(2 * n + 1, n + 1) * c for c in mul(x, polys[n])]
        prev = polys[n - 1] + [Fraction(0)] * 2
        polys.append([c - Fraction(n, n + 1) * prev[e] for e, c in enumerate(nxt)])
    return polys[i]


def local_basis(space, a, b):
    """The local functions of a Lagrange (equispaced) or Legendre space on [a, b]."""
    if isinstance(space, za.LegendreSpace):
        return [legendre(i, a, b) for i in range(space.degree + 1)]
    p = space.degree
    nodes = [a + (b - a) * Fraction(j, p) for j in range(p + 1)]
    basis = []
    for j, tj in enumerate(nodes):
        poly = [Fraction(1)]
        for m, tm in enumerate(nodes):
            if m != j:
                poly = mul(poly, [-tm / (tj - tm), 1 / (tj - tm)])
        basis.append(poly)
    return basis


def pieces(space):
    """(a, b, global index, local polynomial) for every local function."""
    points = [Fraction(t) for t in space.grid.points]
    for k in range(space.grid.n_t):
        for j, poly in enumerate(local_basis(space, points[k], points[k + 1])):
            yield points[k], points[k + 1], space.index(k, j), poly


def exact_projection(source, target):
    matrix = [[Fraction(0)] * source.dim for _ in range(target.dim)]
    for a, b, row, i in ((a, b, r, r_i) for a, b, r, r_i in _target_rows(target)):
        weight = Fraction(2 * i + 1) / (b - a)
        for c, d, col, u in pieces(source):
            lo, hi = max(a, c), min(b, d)
            if lo < hi:
                matrix[row][col] += weight * integral(mul(u, legendre(i, a, b)), lo, hi)
    return matrix


def _target_rows(target):
    points = [Fraction(t) for t in target.grid.points]
    for k in range(target.grid.n_t):
        for i in range(target.degree + 1):
            yield points[k], points[k + 1], target.index(k, i), i


def within_one_ulp(matrix, exact):
    dense = matrix.toarray()
    assert np.count_nonzero(matrix.data == 0.0) == 0
    for row, exact_row in zip(dense, exact, strict=True):
        for got, want in zip(row, exact_row, strict=True):
            assert (got == 0.0) == (want == 0)
            assert abs(Fraction(got) - want) <= Fraction(math.ulp(float(want)))


DYADIC = [
    ([0.0, 0.25, 0.75, 1.0], [0.0, 0.5, 0.625, 1.0]),
    ([-1.0, 0.5, 2.0], [-1.0, -0.75, 0.0, 0.125, 2.0]),
    ([3.0, 3.5, 5.0], [3.0, 5.0]),
    # Target sub-intervals 2**30 times shorter than the source's: coefficients of order 2**-60 exact too.
    ([0.0, 1.0], [0.0, 2.0**-30, 2.0**-29, 1.0]),
]


@pytest.mark.parametrize(("source_points", "target_points"), DYADIC)
@pytest.mark.parametrize(
    ("source_kind", "target_layout"),
    [
        ((za.LagrangeSpace, 2, {}), "polynomial-major"),
        ((za.LegendreSpace, 3, {}), "interval-major"),
        ((za.LagrangeSpace, 3, {"continuous": False}), "interval-major"),
        ((za.LegendreSpace, 1, {}), "polynomial-major"),
    ],
)
def test_projection_is_exact_on_dyadic_grids(source_points, target_points, source_kind, target_layout):
    kind, degree, options = source_kind
    source = kind(degree, za.TimeGrid(source_points), **options)
    target = za.LegendreSpace(2, za.TimeGrid(target_points), layout=target_layout)
    within_one_ulp(za.projection_matrix(source, target), exact_projection(source, target))


@pytest.mark.parametrize(("source_points", "target_points"), DYADIC)
@pytest.mark.parametrize("source_kind", [(za.LagrangeSpace, 3), (za.LegendreSpace, 2)])
def test_interpolation_is_exact_on_dyadic_grids(source_points, target_points, source_kind):
    source = source_kind[0](source_kind[1], za.TimeGrid(source_points))
    target = za.LagrangeSpace(2, za.TimeGrid(target_points), continuous=False)
    exact = [[Fraction(0)] * source.dim for _ in range(target.dim)]
    times = [Fraction(t) for t in target.points]  # equispaced nodes of a dyadic grid at degree 2: exact
    for r, t in enumerate(times):
        # In the source sub-interval on the right of a source point, on the left for a sub-interval's right end.
        right_end = r % 3 == 2
        for a, b, col, u in pieces(source):
            if (a < t <= b) if right_end else (a <= t < b):
                exact[r][col] = value(u, t)
    within_one_ulp(za.interpolation_matrix(source, target), exact)


@pytest.mark.parametrize(("nt_coarse", "nt_fine", "degree"), [(2, 4, 1), (3, 6, 2), (4, 8, 4), (3, 5, 2), (5, 3, 3)])
def test_uniform_spaces_give_the_legacy_bits(nt_coarse, nt_fine, degree):
    coarse, fine = za.LagrangeSpace(degree, nt_coarse, 2.0), za.LagrangeSpace(degree, nt_fine, 2.0)
    assert same_bits(za.interpolation_matrix(coarse, fine), za.lagrange_prolongation_matrix(nt_coarse, nt_fine, degree))
    lc, lf = za.LegendreSpace(degree, nt_coarse, 2.0), za.LegendreSpace(degree, nt_fine, 2.0)
    if nt_fine % nt_coarse == 0:
        assert same_bits(za.projection_matrix(lc, lf), za.legendre_prolongation_matrix(nt_coarse, nt_fine, degree))
        restriction = za.legendre_restriction_matrix(nt_coarse=nt_coarse, nt_fine=nt_fine, degree=degree)
        assert same_bits(za.projection_matrix(lf, lc), restriction)
    transformation = za.lagrange_to_legendre_basis_transformation(degree, nt_fine)
    assert same_bits(za.projection_matrix(fine, lf), transformation)


@pytest.mark.parametrize(("nt_source", "nt_target", "degree"), [(2, 4, 1), (4, 8, 3), (3, 8, 2), (8, 3, 3), (8, 2, 5)])
def test_shifted_dyadic_grids_give_the_legacy_modal_bits(nt_source, nt_target, degree):
    # The same relative positions on [8, 32], steps 24 / n exact: the general sweep rounds the same exact values.
    source = za.LegendreSpace(degree, za.TimeGrid(8.0 + np.arange(nt_source + 1) * (24 // nt_source)))
    target = za.LegendreSpace(degree, za.TimeGrid(8.0 + np.arange(nt_target + 1) * (24 // nt_target)))
    legacy = za.legendre_prolongation_matrix(nt_source, nt_target, degree)
    assert same_bits(za.projection_matrix(source, target), legacy)


FAMILIES = ["equispaced", "gauss", "radau-left", "radau-right", "lobatto"]


@pytest.mark.parametrize("nodes", FAMILIES)
@pytest.mark.parametrize("target_kind", ["legendre", "lagrange"])
def test_projection_reproduces_polynomials_of_the_target_degree(nodes, target_kind):
    def f(t):
        return t**3 - 2.0 * t + 0.5

    source = za.LagrangeSpace(3, za.TimeGrid([0.5, 0.8, 1.3, 1.4, 2.0]), nodes=nodes)
    grid = za.TimeGrid([0.5, 0.6, 1.1, 1.7, 2.0])
    if target_kind == "legendre":
        target = za.LegendreSpace(3, grid, layout="interval-major")
        coefficients = (za.projection_matrix(source, target) @ f(source.points)).reshape(4, 4)
        times = np.linspace(0.5, 2.0, 37)
        k = np.clip(np.searchsorted(grid.points, times, side="right") - 1, 0, 3)
        x = 2 * (times - grid.points[k]) / grid.steps[k] - 1
        got = sum(coefficients[k, i] * np.polynomial.legendre.Legendre.basis(i)(x) for i in range(4))
        np.testing.assert_allclose(got, f(times), rtol=0, atol=1e-13)
    else:
        target = za.LagrangeSpace(3, grid, nodes=nodes, continuous=False)
        projected = za.projection_matrix(source, target) @ f(source.points)
        np.testing.assert_allclose(projected, f(target.points), atol=1e-13)
        # On its own grid, interpolation is the identity: each node hits itself exactly.
        identity = za.interpolation_matrix(source, source)
        assert identity.nnz == source.dim and np.array_equal(identity.toarray(), np.eye(source.dim))


@pytest.mark.parametrize(("nodes", "bound"), [("lobatto", 100.0), ("gauss", 100.0), ("equispaced", None)])
def test_nodal_to_modal_conditioning_at_degree_32(nodes, bound):
    block = za.projection_matrix(za.LagrangeSpace(32, 1, nodes=nodes), za.LegendreSpace(32, 1)).toarray()
    inverse = za.interpolation_matrix(za.LegendreSpace(32, 1), za.LagrangeSpace(32, 1, nodes=nodes)).toarray()
    np.testing.assert_allclose(block @ inverse, np.eye(33), atol=1e-12 if bound else 1e-5)
    condition = np.linalg.cond(block)
    assert condition < bound if bound else condition > 1e6


def test_errors():
    line = za.LagrangeSpace(1, za.TimeGrid([0.0, 1.0]))
    modal = za.LegendreSpace(1, 2)
    for function in (za.interpolation_matrix, za.projection_matrix):
        with pytest.raises(TypeError, match="source must be a LagrangeSpace or a LegendreSpace"):
            function(za.TimeGrid([0.0, 1.0]), line)
        with pytest.raises(TypeError, match="target must be"):
            function(line, 3)
        with pytest.raises(ValueError, match=r"same span, got \[0.0, 1.0\] and \[0.0, 2.0\]"):
            function(line, za.LagrangeSpace(1, za.TimeGrid([0.0, 2.0]), continuous=False))
    with pytest.raises(TypeError, match="use projection_matrix"):
        za.interpolation_matrix(line, modal)
    with pytest.raises(ValueError, match=r"global solve.*nodes='lobatto', continuous=False"):
        za.projection_matrix(modal, za.LagrangeSpace(2, 3, nodes="lobatto"))
    big = za.LegendreSpace(3000, za.TimeGrid.uniform(10**6, 2.0, start=1.0))
    with pytest.raises(MemoryError, match="bytes"):
        za.projection_matrix(big, za.LegendreSpace(3000, za.TimeGrid([1.0, 1.5, 2.0])))
    with pytest.raises(MemoryError, match="bytes"):
        za.interpolation_matrix(big, za.LagrangeSpace(3000, big.grid, continuous=False))
