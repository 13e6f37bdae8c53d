"""preallocation: the count-only passes of kron_sum and the time operators against the built piece."""

import re
import types

import numpy as np
import pytest
import scipy.sparse as sp

import zelk_arrays as za
from zelk_arrays._preallocation import built_counts


def counted(piece, c_begin, c_end):
    """d_nnz and o_nnz of a built piece, row by row."""
    d, o = [], []
    for row in range(piece.shape[0]):
        columns = piece.indices[piece.indptr[row] : piece.indptr[row + 1]]
        inside = int(np.count_nonzero((columns >= c_begin) & (columns < c_end)))
        d.append(inside)
        o.append(columns.size - inside)
    return d, o


def random_factor(rng, shape):
    """Values from a small set, so that sums of products cancel; explicit zeros are stored too."""
    dense = rng.choice([1.0, -1.0, 0.5, 0.0, 2.0], size=shape)
    rows, cols = np.nonzero(rng.random(shape) < 0.6)
    return sp.csr_array((dense[rows, cols], (rows, cols)), shape=shape)


@pytest.mark.parametrize("index_dtype", [None, np.int32, np.int64])
@pytest.mark.parametrize("n_terms", [1, 3])
def test_kron_sum_counts_are_the_built_pieces(n_terms, index_dtype):
    rng = np.random.default_rng(7 + n_terms)
    terms = [(random_factor(rng, (5, 6)), random_factor(rng, (4, 3))) for _ in range(n_terms)]
    for intervals, columns in [((0, 5), (0, 18)), ((1, 4), (4, 11)), ((2, 2), (0, 0)), ((4, 5), range(9, 18))]:
        piece = za.kron_sum(terms, intervals=intervals, index_dtype=index_dtype)
        ends = (columns.start, columns.stop) if isinstance(columns, range) else columns
        d_nnz, o_nnz = za.preallocation(
            za.kron_sum, terms, intervals=intervals, columns=columns, index_dtype=index_dtype
        )
        assert d_nnz.dtype == o_nnz.dtype == piece.indptr.dtype
        assert (d_nnz.tolist(), o_nnz.tolist()) == counted(piece, *ends)


def test_kron_sum_counts_leave_out_cancelled_sums():
    t = sp.csr_array([[1.0, 2.0], [0.0, 3.0]])
    s = sp.csr_array([[1.0, -1.0], [0.0, 2.0]])
    d_nnz, o_nnz = za.preallocation(za.kron_sum, [(t, s), (t, -s), (t, s)], columns=(1, 3))
    assert (d_nnz.tolist(), o_nnz.tolist()) == counted(za.kron_sum([(t, s), (t, -s), (t, s)]), 1, 3)
    d_nnz, o_nnz = za.preallocation(za.kron_sum, [(t, s), (t, -s)], columns=(1, 3))
    assert d_nnz.tolist() == o_nnz.tolist() == [0, 0, 0, 0]


@pytest.mark.parametrize("layout", ["interval-major", "polynomial-major", None])
@pytest.mark.parametrize("builder", [za.time_mass_matrix, za.time_derivative_matrix, za.time_jump_matrix])
def test_time_operator_counts_are_the_built_pieces(builder, layout):
    space = za.LegendreSpace(2, 6, layout=layout) if layout else za.LagrangeSpace(2, 6)
    piece = builder(space, space, intervals=(2, 5))
    d_nnz, o_nnz = za.preallocation(builder, space, space, intervals=(2, 5), columns=(5, 11))
    assert (d_nnz.tolist(), o_nnz.tolist()) == counted(piece, 5, 11)


@pytest.mark.parametrize(
    ("kwargs", "error"),
    [
        ({"columns": (3, 2)}, ValueError),
        ({"columns": (0, 99)}, ValueError),
        ({"columns": range(0, 4, 2)}, TypeError),
        ({"columns": (0, 4), "intervals": (1, 9)}, ValueError),
        ({"columns": (0, 4), "index_dtype": np.float64}, ValueError),
    ],
)
def test_kron_sum_counts_reject_what_kron_sum_rejects(kwargs, error):
    terms = [(sp.eye_array(2, format="csr"), sp.eye_array(2, format="csr"))]
    with pytest.raises(error):
        za.preallocation(za.kron_sum, terms, **kwargs)


GRIDS = {
    "uniform": 7,
    "tiny uniform": za.TimeGrid.uniform(7, 7 * 2.0**-1022),  # the uniform builders, subnormal mass entries
    "graded": za.TimeGrid(np.linspace(0.0, 1.0, 8) ** 3),
    # Steps that make scaled entries underflow (the mass of the first two) or come near overflow.
    "extreme": za.TimeGrid([0.0, 5e-324, 1e-310, 1e-300, 1e-10, 1.0, 1e300, 1e308]),
}

PAIRS = {
    "dG Legendre": lambda g: (za.LegendreSpace(2, g), za.LegendreSpace(2, g)),
    "dG interval-major": lambda g: (za.LegendreSpace(1, g, layout="interval-major"),) * 2,
    "mixed layouts": lambda g: (za.LegendreSpace(2, g, layout="interval-major"), za.LegendreSpace(1, g)),
    "cG Lagrange": lambda g: (za.LagrangeSpace(2, g), za.LagrangeSpace(2, g)),
    "cG(1)-dG(0)": lambda g: (za.LagrangeSpace(1, g), za.LegendreSpace(0, g, layout="interval-major")),
    "Legendre / Lagrange": lambda g: (za.LegendreSpace(1, g, layout="interval-major"), za.LagrangeSpace(3, g)),
    "gauss": lambda g: (za.LagrangeSpace(2, g, nodes="gauss"),) * 2,
    "lobatto / radau": lambda g: (za.LagrangeSpace(3, g, nodes="lobatto"), za.LagrangeSpace(1, g, nodes="radau-left")),
    "radau / Legendre": lambda g: (za.LagrangeSpace(2, g, nodes="radau-right"), za.LegendreSpace(2, g)),
    "discontinuous equispaced": lambda g: (za.LagrangeSpace(2, g, continuous=False), za.LagrangeSpace(1, g)),
}

TIME_OPERATORS = [za.time_mass_matrix, za.time_derivative_matrix, za.time_jump_matrix]


def ranges(trial, test):
    """(intervals, columns, index_dtype) of a few ranks, an empty range and blocks that cut rows included."""
    n, dim = test.n_t, trial.dim
    return [
        (None, (dim // 3, 2 * dim // 3), None),
        ((0, 1), range(1, dim // 2), np.int32),
        ((2, 5), (3, dim - 2), np.int64),
        ((n - 1, n), (dim - 1, dim), None),
        ((3, 3), (0, 0), np.int32),
    ]


@pytest.mark.parametrize("pair", PAIRS)
@pytest.mark.parametrize("grid", GRIDS)
@pytest.mark.parametrize("builder", TIME_OPERATORS, ids=lambda b: b.__name__)
def test_time_operator_counts_match_every_piece(builder, grid, pair):
    trial, test = PAIRS[pair](GRIDS[grid])
    for intervals, columns, index_dtype in ranges(trial, test):
        piece = builder(trial, test, intervals=intervals, index_dtype=index_dtype)
        d_nnz, o_nnz = za.preallocation(
            builder, trial, test, intervals=intervals, columns=columns, index_dtype=index_dtype
        )
        ends = (columns.start, columns.stop) if isinstance(columns, range) else columns
        assert d_nnz.dtype == o_nnz.dtype == piece.indptr.dtype
        assert (d_nnz.tolist(), o_nnz.tolist()) == counted(piece, *ends)


def test_extreme_steps_thin_some_pieces_and_not_others():
    """What the counts rely on: the general build drops a mass entry that underflows, the grid build keeps it."""
    grid = GRIDS["extreme"]
    gauss = za.LagrangeSpace(1, grid, nodes="gauss")
    assert za.time_mass_matrix(gauss, gauss, intervals=(0, 1)).nnz == 0
    assert za.time_mass_matrix(gauss, gauss, intervals=(2, 3)).nnz == 2  # Gauss nodes: a diagonal mass
    legendre = za.LegendreSpace(1, grid)
    kept = za.time_mass_matrix(legendre, legendre, intervals=(0, 1))
    assert kept.nnz == 2 and kept.data.tolist() == [5e-324, 0.0]


def test_time_operator_counts_do_not_build(monkeypatch):
    cases = [
        (builder, *PAIRS[pair](GRIDS[grid]))
        for builder in TIME_OPERATORS
        for grid in ("uniform", "graded")
        for pair in ("dG Legendre", "dG interval-major", "cG Lagrange", "gauss")
    ]
    expected = [counted(builder(trial, test), 2, 9) for builder, trial, test in cases]

    def built(*_args):
        raise AssertionError("the piece was built")

    for name in dir(za._native):
        if name.endswith(("_matrix", "_operator", "_layout")):
            monkeypatch.setattr(za._native, name, built)
    for (builder, trial, test), counts in zip(cases, expected, strict=True):
        d_nnz, o_nnz = za.preallocation(builder, trial, test, columns=(2, 9))
        assert (d_nnz.tolist(), o_nnz.tolist()) == counts


def test_weighted_mass_counts_are_the_built_pieces():
    space = za.LegendreSpace(2, GRIDS["graded"])
    weight = types.SimpleNamespace(space=za.LegendreSpace(1, GRIDS["graded"]), coefficients=np.arange(14.0) % 3)
    piece = za.time_mass_matrix(space, space, intervals=(1, 6), weight=weight)
    d_nnz, o_nnz = za.preallocation(za.time_mass_matrix, space, space, intervals=(1, 6), columns=(4, 15), weight=weight)
    assert (d_nnz.tolist(), o_nnz.tolist()) == counted(piece, 4, 15)


REJECTED = [
    {"test": za.LegendreSpace(1, 6)},
    {"test": "space"},
    {"intervals": (2, 9)},
    {"intervals": range(0, 4, 2)},
    {"index_dtype": np.float64},
]
# Equispaced entries beyond the double range (the jump holds only end values).
HUGE = {"trial": za.LagrangeSpace(600, 5), "test": za.LagrangeSpace(600, 5)}


@pytest.mark.parametrize(
    ("builder", "kwargs"),
    [(builder, kwargs) for builder in TIME_OPERATORS for kwargs in REJECTED]
    + [(za.time_mass_matrix, HUGE), (za.time_derivative_matrix, HUGE)],
)
def test_time_operator_counts_reject_what_the_builder_rejects(builder, kwargs):
    arguments = {"trial": za.LagrangeSpace(2, 5), "test": za.LagrangeSpace(1, 5)} | kwargs
    trial, test = arguments.pop("trial"), arguments.pop("test")
    with pytest.raises(Exception) as built:
        builder(trial, test, **arguments)
    with pytest.raises(type(built.value), match=re.escape(str(built.value))):
        za.preallocation(builder, trial, test, columns=(0, 0), **arguments)


@pytest.mark.parametrize(
    "space",
    [za.LegendreSpace(1, 70_000, layout="interval-major"), za.LegendreSpace(1, 70_000), za.LagrangeSpace(2, 40_000)],
)
def test_long_runs_of_moved_rows_are_counted_in_pieces(space):
    """More moved rows than the counting does between two polls for interrupts."""
    columns = (space.dim // 3, space.dim // 3 + 5)
    piece = za.time_jump_matrix(space, space)
    d_nnz, o_nnz = za.preallocation(za.time_jump_matrix, space, space, columns=columns)
    expected = built_counts(piece, columns)
    assert np.array_equal(d_nnz, expected[0]) and np.array_equal(o_nnz, expected[1])
