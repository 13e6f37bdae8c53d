"""Time spaces and operators against exact rational integrals, row ranges, and error paths."""

import math
import pickle
from fractions import Fraction

import pytest

np = pytest.importorskip("numpy")
sparse = pytest.importorskip("scipy.sparse")

import zelk_arrays as za

# Exact polynomials on [-1, 1]: coefficient lists of Fractions, lowest degree first.


def multiply(p, q):
    out = [Fraction(0)] * (len(p) + len(q) - 1)
    for i, a in enumerate(p):
        for j, b in enumerate(q):
            out[i + j] += a * b
    return out


def derivative(p):
    return [i * c for i, c in enumerate(p)][1:] or [Fraction(0)]


def integral(p):
    """Integral over [-1, 1]."""
    return sum(Fraction(2, n + 1) * c for n, c in enumerate(p) if n % 2 == 0)


def value(p, x):
    return sum(c * x**n for n, c in enumerate(p))


def legendre(degree):
    polys = [[Fraction(1)], [Fraction(0), Fraction(1)]]
    for n in range(1, degree):
        a = multiply([Fraction(0), Fraction(2 * n + 1, n + 1)], polys[n])
        b = [Fraction(-n, n + 1) * c for c in polys[n - 1]] + [Fraction(0)] * 2
        polys.append([x + y for x, y in zip(a, b)])
    return polys[: degree + 1]


# The families' nodes on [-1, 1] where they are rational, by family and degree.
RATIONAL_NODES = {
    ("gauss", 0): [Fraction(0)],
    ("radau-left", 0): [Fraction(-1)],
    ("radau-right", 0): [Fraction(1)],
    ("radau-left", 1): [Fraction(-1), Fraction(1, 3)],
    ("radau-right", 1): [Fraction(-1, 3), Fraction(1)],
    ("lobatto", 1): [Fraction(-1), Fraction(1)],
    ("lobatto", 2): [Fraction(-1), Fraction(0), Fraction(1)],
}


def lagrange(degree, family="equispaced"):
    if family == "equispaced":
        nodes = [Fraction(-1) + Fraction(2 * j, degree) for j in range(degree + 1)]
    else:
        nodes = RATIONAL_NODES[family, degree]
    polys = []
    for j, xj in enumerate(nodes):
        p = [Fraction(1)]
        for m, xm in enumerate(nodes):
            if m != j:
                p = multiply(p, [-xm / (xj - xm), 1 / (xj - xm)])
        polys.append(p)
    return polys


def local_basis(space):
    return legendre(space.degree) if isinstance(space, za.LegendreSpace) else lagrange(space.degree, space.nodes)


def exact_matrix(kind, trial, test):
    """The global matrix assembled sub-interval by sub-interval in exact arithmetic."""
    points = test.grid.points
    if test.grid == za.TimeGrid.uniform(test.n_t, test.T) and test.grid.start == 0.0:
        steps = [Fraction(test.T) / test.n_t] * test.n_t
    else:
        steps = [Fraction(b) - Fraction(a) for a, b in zip(points[:-1].tolist(), points[1:].tolist())]
    u, v = local_basis(trial), local_basis(test)
    out = {}
    for k in range(test.n_t):
        for a, va in enumerate(v):
            for b, ub in enumerate(u):
                if kind == "mass":
                    entries = [(k, steps[k] / 2 * integral(multiply(ub, va)))]
                elif kind == "derivative":
                    entries = [(k, integral(multiply(derivative(ub), va)))]
                else:
                    left = value(va, -1)
                    entries = [(k, left * value(ub, -1))]
                    if k > 0:
                        entries.append((k - 1, -left * value(ub, 1)))
                for kk, x in entries:
                    key = (test.index(k, a), trial.index(kk, b))
                    out[key] = out.get(key, Fraction(0)) + x
    return out


BUILDERS = {"mass": za.time_mass_matrix, "derivative": za.time_derivative_matrix, "jump": za.time_jump_matrix}


def check_exact(kind, trial, test, ulps=2):
    got = BUILDERS[kind](trial, test)
    assert isinstance(got, sparse.csr_array) and got.shape == (test.dim, trial.dim)
    assert got.has_canonical_format
    exact = exact_matrix(kind, trial, test)
    dense = got.toarray()
    largest = max(abs(x) for x in exact.values())
    stored = set(zip(np.repeat(np.arange(got.shape[0]), np.diff(got.indptr)).tolist(), got.indices.tolist()))
    for (i, j), x in exact.items():
        if x == 0:
            assert abs(dense[i, j]) <= 2.0**-52 * largest, (kind, i, j)
        else:
            assert abs(Fraction(dense[i, j]) - x) <= ulps * math.ulp(float(x)), (kind, i, j, dense[i, j], x)
    # Nothing outside the sub-interval blocks.
    assert stored <= set(exact)


PAIRS = [
    (za.LagrangeSpace(1, 3, 3.0), za.LegendreSpace(0, 3, 3.0)),
    (za.LagrangeSpace(3, 3, 3.0), za.LegendreSpace(2, 3, 3.0)),
    (za.LagrangeSpace(2, 3, 3.0), za.LagrangeSpace(3, 3, 3.0)),
    (za.LegendreSpace(3, 3, 3.0), za.LegendreSpace(3, 3, 3.0)),
    (za.LegendreSpace(2, 3, 3.0), za.LagrangeSpace(2, 3, 3.0)),
]


@pytest.mark.parametrize("kind", BUILDERS)
@pytest.mark.parametrize("pair", PAIRS, ids=repr)
def test_entries_are_the_exact_integrals(kind, pair):
    check_exact(kind, *pair)


# Dyadic points, so that the exact steps and integrals are known.
GRID = za.TimeGrid([-0.75, -0.5, 0.25, 0.3125, 4.0])


@pytest.mark.parametrize("kind", BUILDERS)
@pytest.mark.parametrize("pair", PAIRS, ids=repr)
def test_entries_on_a_grid_of_any_points_are_rounded_once(kind, pair):
    trial, test = (type(space)(space.degree, GRID) for space in pair)
    # Each entry the exact value rounded once: within half an ulp, barring near-ties.
    check_exact(kind, trial, test, ulps=0.5)
    uniform = BUILDERS[kind](*(type(space)(space.degree, GRID.n_t) for space in pair))
    on_grid = BUILDERS[kind](trial, test)
    assert (on_grid.indices.tolist(), on_grid.indptr.tolist()) == (uniform.indices.tolist(), uniform.indptr.tolist())
    if kind != "mass":
        assert on_grid.data.tobytes() == uniform.data.tobytes()


@pytest.mark.parametrize("kind", BUILDERS)
@pytest.mark.parametrize("pair", PAIRS, ids=repr)
def test_uniform_grids_from_zero_give_the_same_bits(kind, pair):
    uniform = BUILDERS[kind](*pair)
    grid = za.TimeGrid(za.get_lagrange_points(1, 3, 3.0))
    on_grid = BUILDERS[kind](*(type(space)(space.degree, grid) for space in pair))
    for a, b in ((on_grid.data, uniform.data), (on_grid.indices, uniform.indices), (on_grid.indptr, uniform.indptr)):
        assert a.tobytes() == b.tobytes()


@pytest.mark.parametrize("kind", BUILDERS)
@pytest.mark.parametrize("intervals", [(0, 1), (1, 3), (2, 4), (4, 4)])
def test_grid_row_ranges_are_slices_of_the_whole(kind, intervals):
    for trial, test in ((za.LagrangeSpace(2, GRID), za.LagrangeSpace(3, GRID)), (za.LegendreSpace(2, GRID),) * 2):
        whole = BUILDERS[kind](trial, test)
        part = BUILDERS[kind](trial, test, intervals=intervals)
        rows = [r for r in range(test.dim) if any(r in test.local_dofs()[k] for k in range(*intervals))]
        if isinstance(test, za.LagrangeSpace):
            rows = [r for r in rows if r < intervals[1] * test.degree or intervals[1] == test.n_t]
            rows = [r for r in rows if r >= intervals[0] * test.degree]
        assert (part != whole[rows]).nnz == 0 and part.shape == (len(rows), trial.dim)


def test_mass_on_a_grid_of_huge_steps():
    # Steps near the top of the double range: the products are split without overflow.
    grid = za.TimeGrid([0.0, 2.0**1020, 2.0**1021 + 2.0**1020])
    mass = za.time_mass_matrix(za.LegendreSpace(1, grid), za.LegendreSpace(1, grid))
    np.testing.assert_array_equal(mass.diagonal(), [2.0**1020, 2.0**1021, 2.0**1020 / 3, 2.0**1021 / 3])


# Steps on both sides of 2^-480 and 2^480, where the products by a step are split one way or the other.
@pytest.mark.parametrize(
    "points",
    [[0.0, 2.0**-482, 2.0**-482 + 2.0**-479, 2.0**-478], [0.0, 2.0**478, 2.0**478 + 2.0**481, 2.0**482]],
    ids=["tiny", "huge"],
)
@pytest.mark.parametrize("nodes, degree", [("radau-right", 1), ("lobatto", 2)])
def test_node_family_mass_across_the_split_range(points, nodes, degree):
    grid = za.TimeGrid(points)
    space = za.LagrangeSpace(degree, grid, nodes=nodes, continuous=nodes == "lobatto")
    check_exact("mass", space, space, ulps=0.5)
    check_exact("mass", space, za.LegendreSpace(1, grid, layout="interval-major"), ulps=0.5)


# A long graded grid whose first steps lie below 2^-500, between 2^-500 and 2^-480, and then above: rows of
# in-range steps are written from a pattern settled once (in polynomial-major rows once enough steps missed the
# kept rows), the others as before.
LONG = za.TimeGrid([0.0, 2.0**-505, 2.0**-504, 2.0**-490, 2.0**-489, 2.0**-300, *(1e-3 * np.arange(1, 140) ** 2)])


# Pairs that take each fill a grid's mass has: the general rows (by sub-interval and polynomial-major), the
# one-pass grid rows with shared nodes, the interval-major ones.
LONG_PAIRS = [
    lambda g: (za.LagrangeSpace(1, g, nodes="radau-right"),) * 2,
    lambda g: (za.LagrangeSpace(2, g, nodes="lobatto"),) * 2,
    lambda g: (za.LagrangeSpace(2, g, nodes="lobatto"), za.LegendreSpace(1, g)),
    lambda g: (za.LegendreSpace(2, g), za.LagrangeSpace(1, g, nodes="radau-right")),
    lambda g: (za.LagrangeSpace(2, g), za.LagrangeSpace(3, g)),
    lambda g: (za.LegendreSpace(3, g, layout="interval-major"), za.LegendreSpace(2, g)),
]


def check_exact_and_ranges(kind, trial, test, ranges):
    check_exact(kind, trial, test, ulps=0.5)
    whole = BUILDERS[kind](trial, test)
    for intervals in ranges:
        part = BUILDERS[kind](trial, test, intervals=intervals)
        rows = sorted({int(r) for k in range(*intervals) for r in test.local_dofs()[k]})
        if isinstance(test, za.LagrangeSpace) and test.continuous and intervals[1] < test.n_t:
            rows = rows[:-1]  # the shared end node belongs to the next sub-interval
        expected = whole[rows]
        for a, b in zip((part.data, part.indices, part.indptr), (expected.data, expected.indices, expected.indptr)):
            assert a.tobytes() == b.astype(a.dtype).tobytes(), intervals


@pytest.mark.parametrize("kind", BUILDERS)
@pytest.mark.parametrize("make", LONG_PAIRS, ids=range(6))
def test_operators_on_a_long_grid_across_the_split_range(kind, make):
    check_exact_and_ranges(kind, *make(LONG), ((3, 4), (2, 90), (70, LONG.n_t)))


# Steps below 2^-480 and above 2^480 after hundreds inside: sub-intervals written many at a time meet them
# mid-way, and those written one by one (ranges that start near them) must give the same bits.
LATE = za.TimeGrid(
    [
        *(-1e-3 * np.arange(400, 0, -1) ** 2),
        *(-(2.0**-470), -(2.0**-489), 0.0, 2.0**-505, 2.0**-300),
        *(1e-3 * np.arange(1, 700) ** 2),
        *(2.0**479, 5 * 2.0**479, 5 * 2.0**479 + 2.0**470),
    ]
)


@pytest.mark.parametrize("make", LONG_PAIRS, ids=range(6))
def test_mass_on_a_long_grid_with_late_steps_outside_the_split_range(make):
    check_exact_and_ranges("mass", *make(LATE), ((399, 406), (120, 700), (600, LATE.n_t)))


@pytest.mark.parametrize("degree", [1, 2, 3, 4])
def test_lagrange_points_on_grids(degree):
    points = za.LagrangeSpace(degree, GRID).points
    grid = [Fraction(t) for t in GRID.points.tolist()]
    exact = [grid[k] + (grid[k + 1] - grid[k]) * j / degree for k in range(GRID.n_t) for j in range(degree)]
    exact.append(grid[-1])
    assert len(points) == len(exact) and not points.flags.writeable
    for computed, x in zip(points.tolist(), exact):
        # Exact where the dyadic steps divide exactly; else within an ulp.
        assert abs(Fraction(computed) - x) <= (0 if degree != 3 else math.ulp(float(x))), (computed, x)
    space = za.LagrangeSpace(degree, 7, 0.3)
    assert space.points.tobytes() == za.get_lagrange_points(degree, 7, 0.3).tobytes()
    assert (space.nodes, space.continuous) == ("equispaced", True)


def test_spaces_on_grids():
    space = za.LagrangeSpace(2, GRID)
    assert (space.grid, space.n_t, space.T, space.dim) == (GRID, 4, 4.0, 9)
    assert space == za.LagrangeSpace(2, za.TimeGrid(GRID.points)) and space != za.LagrangeSpace(2, 4, 4.0)
    assert hash(space) == hash(za.LagrangeSpace(2, za.TimeGrid(GRID.points)))
    assert pickle.loads(pickle.dumps(space)) == space
    uniform = za.LegendreSpace(1, za.TimeGrid.uniform(5, 2.0))
    assert uniform == za.LegendreSpace(1, 5, 2.0) and repr(uniform) == "LegendreSpace(degree=1, n_t=5, T=2.0)"
    assert za.LegendreSpace(1, 5, 2.0).grid == za.TimeGrid.uniform(5, 2.0)
    assert repr(space).startswith("LagrangeSpace(degree=2, grid=TimeGrid([-0.75")
    with pytest.raises(TypeError, match="not a grid and T"):
        za.LagrangeSpace(2, GRID, 1.0)
    with pytest.raises(ValueError, match="same grid"):
        za.time_mass_matrix(space, za.LagrangeSpace(2, 4, 4.0))
    # Told apart without making the points of a grid too large to hold.
    with pytest.raises(
        ValueError, match=r"same grid, got n_t=2305843009213693952, T=1.0 and n_t=2305843009213693952, T=2.0"
    ):
        za.time_jump_matrix(za.LegendreSpace(0, 2**61), za.LegendreSpace(0, 2**61, 2.0))


def interval_major(space):
    return (
        za.LegendreSpace(space.degree, space.grid, layout="interval-major")
        if isinstance(space, za.LegendreSpace)
        else space
    )


@pytest.mark.parametrize("kind", BUILDERS)
@pytest.mark.parametrize("grid", [za.TimeGrid.uniform(3, 3.0), GRID], ids=["uniform", "graded"])
@pytest.mark.parametrize("pair", PAIRS, ids=repr)
def test_interval_major_layout_renumbers_the_same_bits(kind, grid, pair):
    base = [type(space)(space.degree, grid) for space in pair]
    moved = [interval_major(space) for space in base]
    check_exact(kind, *moved)
    # The same entries at the renumbered places: M_im = M[order_test][:, order_trial].
    orders = [space.interval_major() for space in base]
    expected = BUILDERS[kind](*base).toarray()[np.ix_(orders[1], orders[0])]
    got = BUILDERS[kind](*moved)
    assert got.has_canonical_format and got.toarray().tobytes() == expected.tobytes()
    test = moved[1]
    for intervals in [(0, 1), (1, 3), (2, 2)]:
        part = BUILDERS[kind](*moved, intervals=intervals)
        if isinstance(test, za.LegendreSpace):
            rows = slice(intervals[0] * (test.degree + 1), intervals[1] * (test.degree + 1))
            np.testing.assert_array_equal(part.toarray(), got.toarray()[rows])
        columns = za.column_range(BUILDERS[kind], *moved, intervals=intervals)
        begin, end = columns.start, columns.stop
        if part.nnz:
            assert begin <= part.indices.min() and part.indices.max() < end
            # Tight where every function of the reached blocks is touched (P_0' = 0 is not).
            if isinstance(moved[0], za.LegendreSpace) and moved[0].degree <= test.degree and kind != "derivative":
                assert (begin, end) == (part.indices.min(), part.indices.max() + 1)


def general_pairs(grid):
    return [
        (za.LagrangeSpace(1, grid, nodes="radau-right"), za.LagrangeSpace(1, grid, nodes="radau-right")),
        (za.LagrangeSpace(0, grid, nodes="gauss"), za.LegendreSpace(1, grid)),
        (za.LegendreSpace(2, grid, layout="interval-major"), za.LagrangeSpace(1, grid, nodes="radau-left")),
        (za.LagrangeSpace(2, grid, continuous=False), za.LagrangeSpace(2, grid, nodes="lobatto")),
        (za.LagrangeSpace(2, grid, nodes="lobatto"), za.LagrangeSpace(0, grid, nodes="radau-right")),
    ]


@pytest.mark.parametrize("kind", BUILDERS)
@pytest.mark.parametrize("grid", [za.TimeGrid.uniform(3, 3.0), GRID], ids=["uniform", "graded"])
@pytest.mark.parametrize("index", range(5))
def test_any_node_family_and_continuity(kind, grid, index):
    trial, test = general_pairs(grid)[index]
    check_exact(kind, trial, test, ulps=0.5)
    whole = BUILDERS[kind](trial, test)
    for intervals in [(0, 1), (1, 3), (2, 2)]:
        part = BUILDERS[kind](trial, test, intervals=intervals)
        owned = [r for k in range(*intervals) for r in test.local_dofs()[k].tolist()]
        if isinstance(test, za.LagrangeSpace) and test.continuous:  # a shared node belongs to the later sub-interval
            owned = sorted(
                r
                for r in set(owned)
                if r >= intervals[0] * test.degree and (r < intervals[1] * test.degree or intervals[1] == test.n_t)
            )
        assert (part != whole[sorted(owned)]).nnz == 0
        columns = za.column_range(BUILDERS[kind], trial, test, intervals=intervals)
        assert not part.nnz or (columns.start <= part.indices.min() and part.indices.max() < columns.stop)


def test_gauss_nodes_make_a_diagonal_mass_matrix():
    # Two Gauss points integrate l_a l_b exactly: the mass is diag(h_k / 2), the rest exact zeros;
    # the derivative of l_b is -+ sqrt(3) / 2 and integral of l_a is 1.
    space = za.LagrangeSpace(1, GRID, nodes="gauss")
    mass = za.time_mass_matrix(space, space)
    assert mass.nnz == space.dim
    assert mass.diagonal().tolist() == np.repeat(GRID.steps / 2, 2).tolist()
    derivative = za.time_derivative_matrix(space, space).toarray()
    half_root = math.sqrt(3.0) / 2
    assert derivative[:2, :2].tolist() == [[-half_root, half_root], [-half_root, half_root]]


def test_lagrange_space_families():
    grid = za.TimeGrid([0.0, 1.0, 3.0])
    gauss = za.LagrangeSpace(0, grid, nodes="gauss")
    assert (gauss.dim, gauss.continuous, gauss.index(1, 0)) == (2, False, 1)
    np.testing.assert_array_equal(gauss.points, [0.5, 2.0])
    lobatto = za.LagrangeSpace(2, grid, nodes="lobatto")
    assert (lobatto.dim, lobatto.continuous) == (5, True)
    np.testing.assert_array_equal(lobatto.points, [0.0, 0.5, 1.0, 2.0, 3.0])
    broken = za.LagrangeSpace(1, grid, continuous=False)
    assert broken.dim == 4 and broken.index(1, 0) == 2 and broken.points.tolist() == [0.0, 1.0, 1.0, 3.0]
    assert broken != za.LagrangeSpace(1, grid) and pickle.loads(pickle.dumps(broken)) == broken
    assert repr(gauss) == "LagrangeSpace(degree=0, grid=TimeGrid([0.0, 1.0, 3.0]), nodes='gauss')"
    for call, error, match in [
        (
            lambda: za.LagrangeSpace(1, 2, nodes="gauss", continuous=True),
            ValueError,
            "needs nodes that include both ends",
        ),
        (lambda: za.LagrangeSpace(0, 2), ValueError, "degree must be at least 1"),
        (lambda: za.LagrangeSpace(0, 2, nodes="lobatto", continuous=False), ValueError, "degree must be at least 1"),
        (lambda: za.LagrangeSpace(1, 2, nodes="chebyshev"), ValueError, "nodes must be one of"),
        (lambda: za.LagrangeSpace(1, 2, continuous=1), TypeError, "continuous must be a bool"),
    ]:
        with pytest.raises(error, match=match):
            call()


def test_layout_of_a_legendre_space():
    space = za.LegendreSpace(2, 4, 1.0, layout="interval-major")
    np.testing.assert_array_equal(space.local_dofs(), np.arange(12).reshape(4, 3))
    np.testing.assert_array_equal(space.interval_major(), np.arange(12))
    assert space.layout == "interval-major" and za.LegendreSpace(2, 4).layout == "polynomial-major"
    assert space != za.LegendreSpace(2, 4, 1.0) and pickle.loads(pickle.dumps(space)) == space
    assert repr(space) == "LegendreSpace(degree=2, n_t=4, T=1.0, layout='interval-major')"
    assert hash(space) != hash(za.LegendreSpace(2, 4, 1.0))
    with pytest.raises(ValueError, match="layout must be one of"):
        za.LegendreSpace(2, 4, layout="time-major")
    with pytest.raises(TypeError, match="layout must be a string"):
        za.LegendreSpace(2, 4, layout=None)


@pytest.mark.parametrize("kind", ["mass", "derivative"])
def test_entries_stay_exact_up_to_degree_twelve(kind):
    check_exact(kind, za.LagrangeSpace(12, 2, 0.75), za.LegendreSpace(11, 2, 0.75))
    check_exact(kind, za.LagrangeSpace(12, 2, 0.75), za.LagrangeSpace(12, 2, 0.75))


def test_dg_matrices_keep_only_structural_entries():
    space = za.LegendreSpace(3, 5, 1.0)
    mass = za.time_mass_matrix(space, space)
    # Orthogonal polynomials: the mass matrix is diagonal with h / (2i + 1).
    assert mass.nnz == space.dim
    np.testing.assert_allclose(mass.diagonal(), np.repeat([0.2 / (2 * i + 1) for i in range(4)], 5), rtol=4.5e-16)
    # The jump of a continuous trial function vanishes except at t = 0.
    jump = za.time_jump_matrix(za.LagrangeSpace(2, 5), space)
    assert set(jump.indices.tolist()) == {0}


def modal_rows(space, k_begin, k_end):
    return [i * space.n_t + k for i in range(space.degree + 1) for k in range(k_begin, k_end)]


def nodal_rows(space, k_begin, k_end):
    rows = list(range(k_begin * space.degree, k_end * space.degree))
    return rows + ([space.dim - 1] if k_end == space.n_t and k_begin < k_end else [])


@pytest.mark.parametrize("kind", BUILDERS)
@pytest.mark.parametrize(
    "trial, test",
    [
        (za.LagrangeSpace(2, 7), za.LegendreSpace(1, 7)),
        (za.LegendreSpace(2, 7), za.LegendreSpace(2, 7)),
        (za.LegendreSpace(1, 7), za.LagrangeSpace(3, 7)),
    ],
)
def test_row_ranges_are_the_whole_matrix_bit_for_bit(kind, trial, test):
    builder = BUILDERS[kind]
    whole = builder(trial, test)
    rows_of = modal_rows if isinstance(test, za.LegendreSpace) else nodal_rows
    cuts = [0, 1, 3, 3, 7]
    pieces = []
    for k_begin, k_end in zip(cuts, cuts[1:]):
        piece = builder(trial, test, intervals=(k_begin, k_end))
        rows = rows_of(test, k_begin, k_end)
        assert piece.shape == (len(rows), trial.dim)
        columns = za.column_range(builder, trial, test, intervals=(k_begin, k_end))
        assert set(piece.indices.tolist()) <= set(columns)
        expected = whole[rows]
        np.testing.assert_array_equal(piece.indptr, expected.indptr)
        np.testing.assert_array_equal(piece.indices, expected.indices)
        assert piece.data.tobytes() == expected.data.tobytes()
        pieces.append(rows)
    assert sorted(sum(pieces, [])) == list(range(test.dim))


def test_spaces():
    lagrange_space, legendre_space = za.LagrangeSpace(3, 4, 2.0), za.LegendreSpace(2, 4, 2.0)
    assert (lagrange_space.dim, legendre_space.dim) == (13, 12)
    assert lagrange_space.index(1, 3) == lagrange_space.index(2, 0) == 6
    assert legendre_space.index(3, 2) == 11
    np.testing.assert_array_equal(lagrange_space.local_dofs()[1], [3, 4, 5, 6])
    order = legendre_space.interval_major()
    assert order.dtype == np.int64
    np.testing.assert_array_equal(order[3:6], [1, 5, 9])
    assert sorted(order.tolist()) == list(range(12))
    assert legendre_space == za.LegendreSpace(2, 4, 2) and hash(legendre_space) == hash(za.LegendreSpace(2, 4, 2))
    assert legendre_space != za.LegendreSpace(2, 4, 1.0) and lagrange_space != legendre_space
    assert repr(lagrange_space) == "LagrangeSpace(degree=3, n_t=4, T=2.0)"


@pytest.mark.parametrize(
    "call, error, match",
    [
        (lambda: za.LagrangeSpace(0, 4), ValueError, "degree"),
        (lambda: za.LegendreSpace(1, 0), ValueError, "n_t"),
        (lambda: za.LegendreSpace(1.5, 2), TypeError, "degree"),
        (lambda: za.LegendreSpace(1, 2, float("nan")), ValueError, "T"),
        (lambda: za.LegendreSpace(1, 2, "1"), TypeError, "T"),
        (lambda: za.LegendreSpace(1, 2).index(2, 0), ValueError, "k"),
        (lambda: za.LegendreSpace(1, 2).index(0, 2), ValueError, "i"),
        (lambda: za.time_mass_matrix(za.LegendreSpace(1, 2), za.LegendreSpace(1, 3)), ValueError, "same grid"),
        (lambda: za.time_jump_matrix(za.LegendreSpace(1, 2), za.LegendreSpace(1, 2, 2.0)), ValueError, "same grid"),
        (lambda: za.time_derivative_matrix(za.LegendreSpace(1, 2), "space"), TypeError, "test"),
        (
            lambda: za.time_mass_matrix(za.LegendreSpace(1, 2), za.LegendreSpace(1, 2), intervals=(1, 3)),
            ValueError,
            "intervals",
        ),
        (
            lambda: za.time_mass_matrix(za.LegendreSpace(1, 2), za.LegendreSpace(1, 2), intervals=2),
            TypeError,
            "intervals",
        ),
        (
            lambda: za.column_range(
                za.time_jump_matrix, za.LegendreSpace(1, 2), za.LegendreSpace(1, 2), intervals=(2, 1)
            ),
            ValueError,
            "intervals",
        ),
    ],
)
def test_errors_name_the_argument(call, error, match):
    with pytest.raises(error, match=match):
        call()


def test_memory_error_comes_before_any_work():
    space = za.LegendreSpace(0, 2**40)
    with pytest.raises(MemoryError):
        za.time_jump_matrix(space, space)


@pytest.mark.parametrize("degree", [1, 2])
def test_agrees_with_scikit_fem_assembly(degree):
    skfem = pytest.importorskip("skfem")
    n_t, T = 6, 1.5
    element = {1: skfem.ElementLineP1, 2: skfem.ElementLineP2}[degree]()
    basis = skfem.Basis(skfem.MeshLine(np.linspace(0.0, T, n_t + 1)), element)
    order = np.argsort(basis.doflocs[0], kind="stable")  # skfem's dofs in our node order
    space = za.LagrangeSpace(degree, n_t, T)
    forms = {
        za.time_mass_matrix: skfem.BilinearForm(lambda u, v, _: u * v),
        za.time_derivative_matrix: skfem.BilinearForm(lambda u, v, _: u.grad[0] * v),
    }
    for builder, form in forms.items():
        reference = form.assemble(basis).toarray()[np.ix_(order, order)]
        np.testing.assert_allclose(builder(space, space).toarray(), reference, rtol=0, atol=1e-14)


@pytest.mark.parametrize("builder", [za.time_mass_matrix, za.time_derivative_matrix])
def test_builders_release_the_gil_during_their_degree_dependent_work(builder):
    import threading
    import time

    ticks, done = [0], threading.Event()

    def count():
        while not done.is_set():
            ticks[0] += 1
            time.sleep(0.001)

    counter = threading.Thread(target=count)
    counter.start()
    try:
        # The local blocks of degree 250 with a nodal side take a while (a
        # Gauss rule's sums); then the 2**40 sub-intervals' storage cannot be
        # had. All of the call's work lies before that MemoryError, so a
        # builder holding the GIL for it would let the counter tick once per
        # switch interval at most.
        trial, test = za.LagrangeSpace(250, 2**40), za.LegendreSpace(250, 2**40)
        before = ticks[0]
        with pytest.raises(MemoryError):
            builder(trial, test)
        progress = ticks[0] - before
    finally:
        done.set()
        counter.join()
    assert progress >= 20, progress


# Steps drawn from a few values: far sub-intervals share their steps' bits, so rows are reused across them.
REPEATING = za.TimeGrid(np.concatenate([[0.0], np.cumsum(np.random.default_rng(5).choice([0.25, 0.5, 0.3], 11))]))


@pytest.mark.parametrize("kind", BUILDERS)
@pytest.mark.parametrize(
    "grid",
    [za.TimeGrid.uniform(11, 2.0), REPEATING, za.TimeGrid((np.arange(12) / 11) ** 2)],
    ids=["uniform", "repeating steps", "graded"],
)
@pytest.mark.parametrize(
    "make",
    [
        lambda g: (za.LagrangeSpace(3, g, nodes="radau-right"), za.LagrangeSpace(3, g, nodes="radau-right")),
        lambda g: (za.LegendreSpace(2, g, layout="interval-major"), za.LagrangeSpace(2, g, nodes="lobatto")),
        lambda g: (za.LagrangeSpace(1, g, nodes="gauss"), za.LegendreSpace(2, g)),
        lambda g: (za.LegendreSpace(3, g, layout="interval-major"), za.LegendreSpace(3, g, layout="interval-major")),
        lambda g: (za.LegendreSpace(2, g), za.LegendreSpace(1, g, layout="interval-major")),
        lambda g: (za.LagrangeSpace(2, g), za.LegendreSpace(2, g, layout="interval-major")),
        lambda g: (za.LegendreSpace(2, g, layout="interval-major"), za.LagrangeSpace(3, g)),
    ],
    ids=range(7),
)
def test_rows_of_every_sub_interval_are_those_it_builds_alone(kind, grid, make):
    # Rows of later sub-intervals are moved or reused from earlier ones; built on their own they are computed afresh.
    trial, test = make(grid)
    whole = BUILDERS[kind](trial, test)
    for k in range(grid.n_t):
        part = BUILDERS[kind](trial, test, intervals=(k, k + 1))
        rows = test.local_dofs()[k].tolist()
        if isinstance(test, za.LagrangeSpace) and test.continuous and k + 1 < grid.n_t:
            rows = rows[:-1]  # the shared end node belongs to the next sub-interval
        expected = whole[rows]
        assert part.shape == expected.shape and part.has_canonical_format
        for a, b in ((part.data, expected.data), (part.indices, expected.indices), (part.indptr, expected.indptr)):
            assert a.tobytes() == b.astype(a.dtype).tobytes(), k
