"""kron_sum: bit for bit scipy's sum of Kronecker products, row ranges, index types and input checks."""

import numpy as np
import pytest
import scipy.sparse as sp

import zelk_arrays as za


def random_factor(rng, shape):
    """Values from a small set: products cancel across terms, and explicit zeros (of both signs) are stored."""
    dense = rng.choice([1.0, -1.0, 0.5, 0.0, -0.0, 3.0], size=shape) * (rng.random(shape) < 0.5)
    stored = rng.random(shape) < 0.6
    rows, cols = np.nonzero(stored)
    return sp.csr_array((dense[rows, cols], (rows, cols)), shape=shape)


def scipy_rows(terms, r_begin, r_end):
    whole = sum(sp.kron(t, s, format="csr") for t, s in terms)
    m = terms[0][1].shape[0]
    a, b = whole.indptr[r_begin * m], whole.indptr[r_end * m]
    return whole.indptr[r_begin * m : r_end * m + 1] - a, whole.indices[a:b], whole.data[a:b]


def assert_same_bits(piece, expected):
    indptr, indices, data = expected
    np.testing.assert_array_equal(piece.indptr, indptr)
    np.testing.assert_array_equal(piece.indices, indices)
    np.testing.assert_array_equal(piece.data.view(np.uint64), data.view(np.uint64))


@pytest.mark.parametrize("index_dtype", [None, np.int32, np.int64])
@pytest.mark.parametrize("n_terms", [1, 2, 3])
def test_random_factors_give_scipys_rows_bit_for_bit(n_terms, index_dtype):
    rng = np.random.default_rng(n_terms)
    terms = [(random_factor(rng, (6, 5)), random_factor(rng, (4, 7))) for _ in range(n_terms)]
    for r_begin, r_end in [(0, 6), (2, 5), (3, 3), (5, 6)]:
        piece = za.kron_sum(terms, intervals=(r_begin, r_end), index_dtype=index_dtype)
        assert piece.shape == ((r_end - r_begin) * 4, 35)
        assert piece.indices.dtype == piece.indptr.dtype == (index_dtype or np.int32)
        assert_same_bits(piece, scipy_rows(terms, r_begin, r_end))
        columns = za.column_range(za.kron_sum, terms, intervals=(r_begin, r_end))
        assert set(piece.indices.tolist()) <= set(columns)


def test_cancellation_drops_entries_and_a_single_term_keeps_its_zeros():
    t = sp.csr_array([[1.0, 0.0], [2.0, 3.0]])
    s = sp.csr_array(([0.0, 2.0], ([0, 1], [0, 1])), shape=(2, 2))
    single = za.kron_sum([(t, s)])
    assert single.nnz == sp.kron(t, s, format="csr").nnz == 6  # explicit zeros stay
    assert za.kron_sum([(t, s), (t, -s)]).nnz == 0
    assert_same_bits(za.kron_sum([(t, s), (t, s), (-t, s)]), scipy_rows([(t, s), (t, s), (-t, s)], 0, 2))


def test_space_time_operator_is_scipys_with_unsorted_and_dense_factors():
    time = za.LegendreSpace(1, 5, layout="interval-major")
    dj = za.time_derivative_matrix(time, time) + za.time_jump_matrix(time, time)
    mass = za.time_mass_matrix(time, time)
    lap = sp.diags_array([-np.ones(5), 2.0 * np.ones(6), -np.ones(5)], offsets=[-1, 0, 1], format="csr")
    eye = np.eye(6)
    terms = [(dj, sp.csr_array(eye)), (mass, lap)]
    unsorted = lap.copy()
    unsorted.indices[:2] = unsorted.indices[1::-1].copy()
    unsorted.data[:2] = unsorted.data[1::-1].copy()
    unsorted.has_sorted_indices = False
    assert_same_bits(za.kron_sum([(dj, eye), (mass, unsorted)], intervals=(2, 6)), scipy_rows(terms, 2, 6))


@pytest.mark.parametrize(
    ("terms", "kwargs", "error"),
    [
        ([], {}, ValueError),
        ("ab", {}, TypeError),
        ([(sp.eye_array(2),)], {}, TypeError),
        ([(sp.eye_array(2), "x")], {}, TypeError),
        ([(sp.eye_array(2), sp.eye_array(2)), (sp.eye_array(3), sp.eye_array(2))], {}, ValueError),
        ([(sp.eye_array(2, dtype=complex), sp.eye_array(2))], {}, TypeError),
        ([(sp.eye_array(2), sp.eye_array(2))], {"intervals": (1, 3)}, ValueError),
        ([(sp.eye_array(2), sp.eye_array(2))], {"index_dtype": np.float64}, ValueError),
        ([(sp.eye_array(2), sp.eye_array(2))], {"index_dtype": "nonsense"}, TypeError),
    ],
)
def test_bad_input_is_a_clear_error(terms, kwargs, error):
    with pytest.raises(error):
        za.kron_sum(terms, **kwargs)
