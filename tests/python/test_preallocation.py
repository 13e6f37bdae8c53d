"""preallocation: the count-only pass of kron_sum and the built-and-counted time operators against the piece."""

import numpy as np
import pytest
import scipy.sparse as sp

import zelk_arrays as za


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
