"""basis_matrix, Expansion and trace_vector on every space: the uniform bits, exact values, limits, ranges, errors."""

import copy
import math
import pickle
from fractions import Fraction

import pytest

np = pytest.importorskip("numpy")
pytest.importorskip("scipy")

import zelk_arrays as za

FAMILIES = ["equispaced", "gauss", "radau-left", "radau-right", "lobatto"]
# Dyadic points: every exact value below is a rational the tests compute.
DYADIC = za.TimeGrid([-1.0, -0.5, 0.25, 0.375, 1.0, 3.0])


def bits(array):
    return np.ascontiguousarray(array, dtype=np.float64).view(np.uint64)


def same_csr(a, b):
    return (
        a.shape == b.shape
        and np.array_equal(bits(a.data), bits(b.data))
        and np.array_equal(a.indices, b.indices)
        and np.array_equal(a.indptr, b.indptr)
    )


def uniform_times(n_t, T, seed):
    rng = np.random.default_rng(seed)
    grid = za.get_lagrange_points(1, n_t, T)
    return np.concatenate([rng.uniform(0.0, T, 200), grid, np.nextafter(grid[1:], 0.0), [0.0, T]])


@pytest.mark.parametrize(("degree", "n_t", "T"), [(0, 3, 1.0), (1, 4, 2.0), (3, 7, 0.3), (6, 5, 1e3), (12, 2, 5.0)])
@pytest.mark.parametrize("derivative", [False, True])
def test_uniform_legendre_has_the_bits_of_the_uniform_functions(degree, n_t, T, derivative):
    times = uniform_times(n_t, T, degree)
    expected = za.legendre_basis_matrix(degree, n_t, T, times, derivative=derivative)
    for space in (za.LegendreSpace(degree, n_t, T), za.LegendreSpace(degree, za.TimeGrid.uniform(n_t, T))):
        assert same_csr(za.basis_matrix(space, times, derivative=derivative), expected)
    rng = np.random.default_rng(n_t)
    for shape in [(n_t * (degree + 1),), (n_t * (degree + 1), 3), (n_t * (degree + 1), 2, 2)]:
        c = rng.standard_normal(shape)
        old = za.LegendreExpansion(degree, n_t, T, c)
        new = za.Expansion(za.LegendreSpace(degree, n_t, T), c)
        evaluate = (lambda f: f.derivative) if derivative else (lambda f: f)
        assert np.array_equal(bits(evaluate(new)(times)), bits(evaluate(old)(times)))
        # Off the grid points both sides agree; the left limits take the general route.
        assert np.array_equal(bits(evaluate(new)(times[:200], side="left")), bits(evaluate(old)(times[:200])))
    inner = times[:200]
    left = za.basis_matrix(za.LegendreSpace(degree, n_t, T), inner, derivative=derivative, side="left")
    assert same_csr(left, za.legendre_basis_matrix(degree, n_t, T, inner, derivative=derivative))
    # The interval-major layout holds the same values, its columns permuted.
    space = za.LegendreSpace(degree, n_t, T, layout="interval-major")
    order = za.LegendreSpace(degree, n_t, T).interval_major()
    permuted = za.basis_matrix(space, times, derivative=derivative)[:, np.argsort(order)]
    assert np.array_equal(bits(permuted.toarray()), bits(expected.toarray()))


def exact_polynomial(coefficients, t):
    return sum(Fraction(a) * Fraction(t) ** m for m, a in enumerate(coefficients))


def exact_derivative(coefficients, t):
    return sum(m * Fraction(a) * Fraction(t) ** (m - 1) for m, a in enumerate(coefficients) if m)


def legendre_coefficients(coefficients, a, b):
    """Exact Legendre coefficients on [a, b] of the polynomial with these monomial coefficients."""
    a, b = Fraction(a), Fraction(b)
    mid, half = (a + b) / 2, (b - a) / 2
    n = len(coefficients)
    # The polynomial in the local coordinate x: sum_m c_m (mid + half x)^m.
    local = [Fraction(0)] * n
    for m, c in enumerate(coefficients):
        for j in range(m + 1):
            local[j] += Fraction(c) * math.comb(m, j) * mid ** (m - j) * half**j
    legendre = [[Fraction(1)], [Fraction(0), Fraction(1)]]
    for j in range(1, n):
        p = [Fraction(0)] + [(2 * j + 1) * c for c in legendre[j]]
        for i, c in enumerate(legendre[j - 1]):
            p[i] -= j * c
        legendre.append([c / (j + 1) for c in p])
    result = [Fraction(0)] * n
    for i in reversed(range(n)):
        result[i] = local[i] / legendre[i][i]
        for j, c in enumerate(legendre[i]):
            local[j] -= result[i] * c
    return result


def spaces_on_the_dyadic_grid(degree):
    for family in FAMILIES:
        if degree == 0 and family in ("equispaced", "lobatto"):
            continue
        yield za.LagrangeSpace(degree, DYADIC, nodes=family)
        if family in ("equispaced", "lobatto"):
            yield za.LagrangeSpace(degree, DYADIC, nodes=family, continuous=False)
    yield za.LegendreSpace(degree, DYADIC)
    yield za.LegendreSpace(degree, DYADIC, layout="interval-major")


def piece(space, k):
    """Monomial coefficients of the function on sub-interval k: one polynomial where the space is continuous."""
    shift = 0 if getattr(space, "continuous", False) else k
    return [(-1) ** m * (m + 1 + shift) for m in range(space.degree + 1)]


def coefficients_of(space):
    c = np.empty(space.dim)
    grid = space.grid.points
    for k in range(space.n_t):
        if isinstance(space, za.LegendreSpace):
            values = legendre_coefficients(piece(space, k), grid[k], grid[k + 1])
        else:
            values = [
                exact_polynomial(piece(space, k), space.points[space.index(k, i)]) for i in range(space.degree + 1)
            ]
        for i, value in enumerate(values):
            c[space.index(k, i)] = float(value)
    return c


@pytest.mark.parametrize("degree", [0, 1, 2, 3])
def test_exact_polynomials_and_both_limits_on_a_dyadic_grid(degree):
    grid = DYADIC.points
    inner = [grid[k] + (grid[k + 1] - grid[k]) * f for k in range(DYADIC.n_t) for f in (0.125, 0.5, 0.8125)]
    for space in spaces_on_the_dyadic_grid(degree):
        u = za.Expansion(space, coefficients_of(space))
        B = za.basis_matrix(space, grid[1:], side="left")
        for side, ks, times in [
            ("right", [k for k in range(DYADIC.n_t) for _ in range(3)] + list(range(DYADIC.n_t)) + [DYADIC.n_t - 1],
             inner + list(grid)),
            ("left", list(range(DYADIC.n_t)), list(grid[1:])),
        ]:  # fmt: skip
            values, slopes = u(np.array(times), side=side), u.derivative(np.array(times), side=side)
            for k, t, value, slope in zip(ks, times, values, slopes):
                exact = exact_polynomial(piece(space, k), t)
                assert abs(value - exact) <= 1e-13 * max(1, abs(exact)), (space, side, t)
                d = exact_derivative(piece(space, k), t)
                assert abs(slope - d) <= 1e-12 * max(1, abs(d)), (space, side, t)
        assert np.allclose(B @ u.coefficients, u(grid[1:], side="left"), rtol=1e-14, atol=1e-14)
        for k, t in enumerate(grid[1:]):
            assert np.array_equal(za.trace_vector(space, t, side="left"), B[[k]].toarray()[0])


@pytest.mark.parametrize("family", FAMILIES)
@pytest.mark.parametrize("continuous", [True, False])
def test_a_nodal_expansion_is_its_value_at_its_nodes(family, continuous):
    if continuous and family not in ("equispaced", "lobatto"):
        return
    for grid in (DYADIC, za.TimeGrid.uniform(7, 1.3)):
        space = za.LagrangeSpace(4, grid, nodes=family, continuous=continuous)
        c = np.random.default_rng(1).standard_normal((space.dim, 2))
        u = za.Expansion(space, c)
        last = [i == space.degree for k in range(space.n_t) for i in range(space.degree + 1)][: space.dim]
        if continuous:
            last = [False] + [True] * (space.dim - 1)  # a shared node gives its value from either side
        points = space.points
        assert np.array_equal(u(points[~np.array(last)]), c[~np.array(last)])
        assert np.array_equal(u(points[np.array(last)], side="left"), c[np.array(last)])
        B = za.basis_matrix(space, points[np.array(last)], side="left")
        assert np.array_equal(B.toarray(), np.eye(space.dim)[np.array(last)])
        # Next to a node the values and slopes stay those of the interpolant.
        nodes = points[1:-1]
        near = np.nextafter(nodes, np.inf)
        assert np.allclose(u(near), u(nodes), rtol=0, atol=1e-12)
        assert np.allclose(u.derivative(near), u.derivative(nodes), rtol=1e-9, atol=1e-9)


def range_dofs(space, k_begin, k_end):
    return np.unique([space.index(k, i) for k in range(k_begin, k_end) for i in range(space.degree + 1)])


@pytest.mark.parametrize(
    "space",
    [
        za.LegendreSpace(3, 6, 2.0),
        za.LegendreSpace(2, za.TimeGrid.uniform(6, 1.0, start=0.5), layout="interval-major"),
        za.LegendreSpace(2, za.TimeGrid([0.0, 0.1, 0.5, 0.7, 1.5, 1.75, 3.0])),
        za.LagrangeSpace(3, 6, 2.0),
        za.LagrangeSpace(2, za.TimeGrid([0.0, 0.1, 0.5, 0.7, 1.5, 1.75, 3.0]), nodes="radau-right"),
        za.LagrangeSpace(2, za.TimeGrid.uniform(6, 1.0, start=-2.0), nodes="lobatto", continuous=False),
    ],
)
@pytest.mark.parametrize(("k_begin", "k_end"), [(0, 2), (2, 5), (5, 6), (0, 6)])
def test_a_range_has_the_bits_of_the_whole(space, k_begin, k_end):
    rng = np.random.default_rng(k_begin)
    c = rng.standard_normal((space.dim, 2))
    whole = za.Expansion(space, c)
    part = za.Expansion(space, c[range_dofs(space, k_begin, k_end)], intervals=range(k_begin, k_end))
    assert part.intervals == (k_begin, k_end) and part.coefficients.shape == (len(range_dofs(space, k_begin, k_end)), 2)
    points = space.grid.points
    start, end = points[k_begin], points[k_end]
    times = np.concatenate([rng.uniform(start, end, 100), points[k_begin + 1 : k_end]])
    for side, extra in [("right", [start]), ("left", [end])]:
        t = np.concatenate([times, extra])
        for f, g in [(part, whole), (part.derivative, whole.derivative)]:
            assert np.array_equal(bits(f(t, side=side)), bits(g(t, side=side)))
    outside = []
    if k_begin > 0:
        outside += [(start, "left"), (np.nextafter(start, -np.inf), "right")]
    if k_end < space.n_t:
        outside += [(end, "right"), (np.nextafter(end, np.inf), "left")]
    for t, side in outside:
        with pytest.raises(ValueError, match=rf"outside the intervals \({k_begin}, {k_end}\) held"):
            part(t, side=side)


def test_pickles_copies_masks_and_read_only_coefficients():
    space = za.LagrangeSpace(2, DYADIC, nodes="gauss")
    c = np.arange(space.dim * 2, dtype=np.float64).reshape(space.dim, 2)
    u = za.Expansion(space, c[3:9], intervals=(1, 3))
    c[:] = 0.0  # the expansion holds its own copy
    times = np.array([-0.5, 0.1, 0.3])
    for v in [pickle.loads(pickle.dumps(u, protocol)) for protocol in range(pickle.HIGHEST_PROTOCOL + 1)] + [
        copy.deepcopy(u)
    ]:
        assert (v.space, v.intervals, repr(v)) == (space, (1, 3), repr(u))
        assert np.array_equal(bits(v(times)), bits(u(times)))
        assert not v.coefficients.flags.writeable
    with pytest.raises(ValueError):
        u.coefficients.flags.writeable = True
    masked = np.ma.masked_array([0.1, 99.0], mask=[False, True])
    result = u(masked, side="left")
    assert np.array_equal(result.mask, [[False, False], [True, True]]) and np.array_equal(result[0], u(0.1))
    assert repr(za.Expansion(za.LegendreSpace(0, 2), [1.0, 2.0])) == "Expansion(LegendreSpace(degree=0, n_t=2, T=1.0))"


SPACE = za.LegendreSpace(1, za.TimeGrid([1.0, 2.0, 4.0]))


@pytest.mark.parametrize(
    ("call", "error", "match"),
    [
        (lambda: za.basis_matrix(object(), [1.0]), TypeError, "space must be a LagrangeSpace or LegendreSpace"),
        (lambda: za.basis_matrix(SPACE, [[1.0]]), ValueError, "one-dimensional, got 2"),
        (lambda: za.basis_matrix(SPACE, np.ma.masked_array([1.0])), TypeError, "masked"),
        (lambda: za.basis_matrix(SPACE, ["a"]), TypeError, "real numbers"),
        (lambda: za.basis_matrix(SPACE, [1.0], derivative=1), TypeError, "derivative must be a bool"),
        (lambda: za.basis_matrix(SPACE, [1.0], side="up"), ValueError, "side must be one of 'right', 'left'"),
        (lambda: za.basis_matrix(SPACE, [1.0], side=0), TypeError, "side must be a string"),
        (
            lambda: za.basis_matrix(SPACE, [1.0, 0.5]),
            ValueError,
            r"times\[1\] = 0.5 lies outside the grid \[1.0, 4.0\]",
        ),
        (lambda: za.basis_matrix(SPACE, [4.5]), ValueError, "outside the grid"),
        (lambda: za.basis_matrix(za.LegendreSpace(1, 2), [1.5]), ValueError, r"outside the grid \[0.0, 1.0\]"),
        (lambda: za.basis_matrix(SPACE, [math.nan]), ValueError, "nan lies outside the grid"),
        (lambda: za.basis_matrix(SPACE, [2.0, 1.0], side="left"), ValueError, r"times\[1\] = 1.0 is the grid's start"),
        (lambda: za.basis_matrix(za.LegendreSpace(1, 2), 0.0, side="left"), ValueError, "no left limit"),
        (lambda: za.trace_vector(SPACE, [1.0]), TypeError, "t must be a real number"),
        (lambda: za.trace_vector(SPACE, 0.0), ValueError, "outside the grid"),
        (lambda: za.Expansion(3, [1.0]), TypeError, "space must be"),
        (lambda: za.Expansion(SPACE, [1.0, 2.0]), ValueError, "the space's dimension = 4 values along axis 0, got 2"),
        (lambda: za.Expansion(SPACE, 1.0), ValueError, "at least one dimension"),
        (lambda: za.Expansion(SPACE, ["x"] * 4), TypeError, "real numbers"),
        (lambda: za.Expansion(SPACE, [1.0] * 4, intervals=(1, 1)), ValueError, "at least one sub-interval"),
        (lambda: za.Expansion(SPACE, [1.0] * 4, intervals=(1, 3)), ValueError, "k_end <= 2"),
        (lambda: za.Expansion(SPACE, [1.0] * 4, intervals=(1, 2)), ValueError, "basis functions of intervals = 2"),
        (lambda: za.Expansion(SPACE, [1.0] * 4, intervals=1), TypeError, "intervals must be a pair"),
        (lambda: za.Expansion(SPACE, [1.0] * 4)(5.0), ValueError, r"times\[0\] = 5.0 lies outside the grid"),
        (lambda: za.Expansion(SPACE, [1.0] * 4).derivative(1.0, side="left"), ValueError, "no left limit"),
        (lambda: za.Expansion(SPACE, [1.0] * 4)(1.0, side=None), TypeError, "side must be a string"),
    ],
)
def test_errors(call, error, match):
    with pytest.raises(error, match=match):
        call()
