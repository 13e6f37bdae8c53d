import pathlib
import random
import shutil
import subprocess
import sys

import pytest

np = pytest.importorskip("numpy")
sparse = pytest.importorskip("scipy.sparse")

import zelk_arrays as za

prolongation = za.lagrange_prolongation_matrix
transformation = za.lagrange_to_legendre_basis_transformation

# (builder, positional arguments, number of sub-intervals of the row space, degree, modal rows)
GRIDS = [
    (prolongation, (3, 7, 3), 7, 3, False),
    (prolongation, (5, 2, 1), 2, 1, False),
    (prolongation, (1000, 3000, 2), 3000, 2, False),
    (prolongation, (7, 23, 6), 23, 6, False),
    (transformation, (1, 9), 9, 1, True),
    (transformation, (3, 40), 40, 3, True),
    (transformation, (6, 13), 13, 6, True),
]


def random_split(rng, n_t):
    """1-7 contiguous ranges covering [0, n_t), empty ones among them."""
    cuts = sorted(rng.randrange(n_t + 1) for _ in range(rng.randrange(7)))
    bounds = [0, *cuts, n_t]
    return list(zip(bounds, bounds[1:]))


def global_rows(k_begin, k_end, n_t, degree, modal):
    if not modal:
        return np.arange(k_begin * degree, k_end * degree + (k_begin < k_end == n_t))
    return (np.arange(degree + 1)[:, None] * n_t + np.arange(k_begin, k_end)).ravel()


def same_bits(a, b):
    return (
        a.shape == b.shape
        and np.array_equal(a.indptr, b.indptr)
        and np.array_equal(a.indices, b.indices)
        and np.array_equal(a.data.view(np.uint64), b.data.view(np.uint64))
    )


@pytest.mark.parametrize(("builder", "args", "n_t", "degree", "modal"), GRIDS)
def test_pieces_of_any_split_are_the_whole_matrix(builder, args, n_t, degree, modal):
    whole = builder(*args)
    rng = random.Random(n_t * 31 + degree)
    for _ in range(6):
        split = random_split(rng, n_t)
        pieces = [builder(*args, intervals=interval) for interval in split]
        rows = np.concatenate([global_rows(*interval, n_t, degree, modal) for interval in split])
        stacked = sparse.vstack(pieces, format="csr")
        # Back to global row order: the identity for the nodal layout.
        assert same_bits(stacked[np.argsort(rows, kind="stable")], whole)
        for interval, piece in zip(split, pieces):
            touched = za.column_range(builder, *args, intervals=interval)
            assert isinstance(touched, range)
            if piece.nnz:
                first, last = piece.indices.min(), piece.indices.max()
                # A bounding range, at most one local block wider on each side.
                assert touched.start <= first and last < touched.stop
                assert touched.stop - touched.start <= last - first + 1 + 2 * degree
            else:
                assert len(touched) == 0


@pytest.mark.parametrize("builder", [prolongation, transformation])
@pytest.mark.parametrize(
    ("intervals", "error"),
    [((2, 1), ValueError), ((-1, 2), ValueError), ((0, 10), ValueError), ((0,), TypeError), ((0, 1.5), TypeError)],
)
def test_invalid_ranges(builder, intervals, error):
    args = (3, 9, 2) if builder is prolongation else (2, 9)
    with pytest.raises(error, match="intervals"):
        builder(*args, intervals=intervals)
    with pytest.raises(error, match="intervals"):
        za.column_range(builder, *args, intervals=intervals)
    with pytest.raises(TypeError):
        builder(*args, (0, 1))


def test_columns_past_two_to_the_31_take_int64_indices():
    n_t = 2**31
    piece = transformation(2, n_t, intervals=(n_t - 2, n_t))
    small = transformation(2, 2)
    assert piece.indices.dtype == np.int64 and piece.indices.min() == 2 * n_t - 4
    assert np.array_equal(piece.indices - (2 * n_t - 4), small.indices)
    assert same_bits(piece[:, 2 * n_t - 4 :], small)
    assert za.column_range(transformation, 2, n_t, intervals=(n_t - 2, n_t)) == range(2 * n_t - 4, 2 * n_t + 1)
    # Equal grids: the identity, whose last rows sit beyond 2^31 columns too.
    ends = prolongation(n_t, n_t, 1, intervals=(n_t - 1, n_t))
    assert ends.indices.dtype == np.int64
    assert ends.indices.tolist() == [n_t - 1, n_t] and ends.data.tolist() == [1.0, 1.0]


def prolongation_rows(nt_coarse, nt_fine, degree, rows):
    """The barycentric rows in the documented operand order, independently of the native fill."""
    n = nt_fine * degree
    node = -1.0 + (2.0 * np.arange(degree + 1)) / degree
    others = [[m for m in range(degree + 1) if m != k] for k in range(degree + 1)]
    weight = np.array([1.0 / np.prod([node[k] - node[m] for m in ms]) for k, ms in enumerate(others)])
    s = (rows / float(n)) * float(nt_coarse)
    j = np.minimum(np.floor(s).astype(np.int64), nt_coarse - 1)
    d = s - j
    xi = (d + d) + (-1.0)
    with np.errstate(divide="ignore", invalid="ignore"):
        values = weight / (xi[:, None] - node)
        total = np.zeros(len(rows))
        for k in range(degree + 1):
            total = total + values[:, k]
        values = values / total[:, None]
    near = np.abs(xi[:, None] - node) < 1e-14
    hit = near.any(axis=1)
    values[hit] = np.where(np.arange(degree + 1) == near[hit].argmax(axis=1)[:, None], 1.0, 0.0)
    columns = j[:, None] * degree + np.arange(degree + 1)
    keep = values != 0.0
    return sparse.csr_array(
        (values[keep], columns[keep], np.concatenate([[0], np.cumsum(keep.sum(axis=1))])),
        shape=(len(rows), nt_coarse * degree + 1),
    )


@pytest.mark.parametrize(
    ("nt_coarse", "nt_fine", "degree", "intervals"),
    [
        (1000, 3000, 3, None),
        (7, 12, 2, None),
        (3, 7, 5, None),
        (2**20, 2**21, 3, (777, 3000)),
        (5 * 10**8, 10**9, 3, (10**9 - 2000, 10**9)),
        (999, 10**6, 4, (123456, 125000)),
    ],
)
def test_prolongation_rows_follow_the_barycentric_formula(nt_coarse, nt_fine, degree, intervals):
    """Rows whose local coordinate repeats reuse earlier weights: they must be the weights computed afresh."""
    k_begin, k_end = intervals or (0, nt_fine)
    rows = np.arange(k_begin * degree, k_end * degree + (k_end == nt_fine))
    piece = prolongation(nt_coarse, nt_fine, degree, intervals=intervals)
    assert same_bits(piece, prolongation_rows(nt_coarse, nt_fine, degree, rows))


def test_example_under_mpi_is_bit_identical():
    pytest.importorskip("mpi4py")
    mpiexec = shutil.which("mpiexec", path=str(pathlib.Path(sys.executable).parent))
    if mpiexec is None:
        pytest.skip("no mpiexec beside the interpreter")
    example = pathlib.Path(__file__).parents[2] / "examples" / "distributed_prolongation.py"
    # 3 ranks over 2 fine sub-intervals: one range is empty.
    for sizes in (["7", "23", "3"], ["5", "2", "1"]):
        run = subprocess.run(
            [mpiexec, "-n", "3", sys.executable, str(example), *sizes], capture_output=True, text=True, timeout=120
        )
        assert run.returncode == 0, run.stdout + run.stderr
        assert "bit-identical" in run.stdout
