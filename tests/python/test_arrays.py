import importlib.metadata
import random
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest

# numpy and scipy may be missing for some interpreters of the test matrix.
np = pytest.importorskip("numpy")
sparse = pytest.importorskip("scipy.sparse")

import zelk
import zelk_arrays as za
from zelk_arrays import _native

DEGREES = range(13)


def bits(values):
    return np.asarray(values, dtype=np.float64).view(np.uint64)


def owns_native_buffer(array):
    """True if the array's memory is a native Buffer: no copy was made on the way."""
    while isinstance(array, np.ndarray):
        array = array.base
    return isinstance(array, memoryview) and isinstance(array.obj, _native.Buffer)


def triplets(matrix):
    rows = np.repeat(np.arange(matrix.shape[0]), np.diff(matrix.indptr))
    return rows.tolist(), matrix.indices.tolist(), bits(matrix.data)


def grid_times(rng, n_t, T):
    """Sub-interval bounds, their neighbours, the ends, outside, nan and infinities."""
    h = T / n_t
    bounds = [h * k for k in range(n_t + 1)] + [T]
    times = bounds + [np.nextafter(b, np.inf) for b in bounds] + [np.nextafter(b, -np.inf) for b in bounds]
    times += [rng.uniform(-0.2, 1.2) * T for _ in range(8)] + [np.nan, np.inf, -np.inf, -1.0, 2.0 * abs(T) + 1]
    return np.array(times)


CASES = [(degree, n_t, T) for degree in DEGREES for n_t, T in [(1, 1.0), (3, 0.7), (7, 2.5), (5, 1e-300)]]


# zelk computes with any T; zelk_arrays refuses the ones without a grid of normal doubles.
@pytest.mark.parametrize(("n_t", "T"), [(5, -1.5), (3, 0.0), (3, -0.0), (1000, 1e-310)])
@pytest.mark.parametrize(
    "build",
    [
        lambda n_t, T: za.get_lagrange_points(2, n_t, T),
        lambda n_t, T: za.LegendreExpansion(2, n_t, T, np.zeros(3 * n_t)),
        lambda n_t, T: za.legendre_basis_matrix(2, n_t, T, [0.0]),
    ],
)
def test_grids_that_zelk_takes_are_refused(build, n_t, T):
    zelk.get_lagrange_points(2, n_t, T)
    with pytest.raises(ValueError, match="^T"):
        build(n_t, T)


def test_one_version_from_pyproject():
    with open(Path(__file__).resolve().parents[2] / "pyproject.toml", "rb") as f:
        declared = tomllib.load(f)["project"]["version"]
    assert za.__version__ == importlib.metadata.version("zelk") == declared
    assert "__version__" not in za.__all__


@pytest.mark.parametrize(("degree", "n_t", "T"), CASES + [(3, 0, 1.0), (0, 0, 2.0)])
def test_points_bit_identical(degree, n_t, T):
    points = za.get_lagrange_points(degree, n_t, T)
    assert points.dtype == np.float64 and owns_native_buffer(points)
    assert bits(points).tolist() == bits(zelk.get_lagrange_points(degree, n_t, T)).tolist()


@pytest.mark.parametrize("degree", range(1, 13))
def test_matrices_bit_identical(degree):
    rng = random.Random(degree)
    nt_coarse, nt_fine, n_t = (rng.randrange(1, 40, 2) for _ in range(3))
    for matrix, expected, shape in [
        (
            za.lagrange_prolongation_matrix(nt_coarse, nt_fine, degree),
            zelk.lagrange_prolongation_matrix(nt_coarse, nt_fine, degree),
            (nt_fine * degree + 1, nt_coarse * degree + 1),
        ),
        (
            za.lagrange_to_legendre_basis_transformation(degree, n_t),
            zelk.lagrange_to_legendre_basis_transformation(degree, n_t),
            ((degree + 1) * n_t, n_t * degree + 1),
        ),
    ]:
        assert isinstance(matrix, sparse.csr_array) and matrix.shape == shape
        assert matrix.indices.dtype == matrix.indptr.dtype == np.int32
        assert all(owns_native_buffer(a) for a in (matrix.data, matrix.indices, matrix.indptr))
        rows, cols, values = triplets(matrix)
        assert (rows, cols) == (expected[0], expected[1])
        assert values.tolist() == bits(expected[2]).tolist()


def test_int64_indices_where_int32_cannot_hold_them():
    matrix = za.lagrange_prolongation_matrix(2**31, 3, 1)
    assert matrix.shape == (4, 2**31 + 1) and matrix.indices.dtype == matrix.indptr.dtype == np.int64
    rows, cols, values = triplets(matrix)
    expected = zelk.lagrange_prolongation_matrix(2**31, 3, 1)
    assert (rows, cols, values.tolist()) == (expected[0], expected[1], bits(expected[2]).tolist())


@pytest.mark.parametrize(("degree", "n_t", "T"), CASES)
def test_evaluation_bit_identical(degree, n_t, T):
    rng = random.Random(degree * 100 + n_t)
    times = grid_times(rng, n_t, T)
    coefficients = [rng.uniform(-2, 2) for _ in range(n_t * (degree + 1))]
    f = za.LegendreExpansion(degree, n_t, T, coefficients)
    evaluator = zelk.LegendreBasisEvaluator(degree, n_t, T)
    evaluator.set_dofs(coefficients)
    assert bits(f(times)).tolist() == bits([evaluator.evaluate_at(t) for t in times]).tolist()
    assert bits(f.derivative(times)).tolist() == bits([evaluator.evaluate_derivative_at(t) for t in times]).tolist()

    basis = zelk.LegendreBasis(degree, n_t, T)
    for derivative, zelk_rows in [
        (False, basis.evaluate_all_basis_functions),
        (True, basis.evaluate_all_basis_function_derivatives),
    ]:
        matrix = za.legendre_basis_matrix(degree, n_t, T, times, derivative=derivative)
        assert matrix.shape == (len(times), n_t * (degree + 1)) and matrix.nnz == len(times) * (degree + 1)
        dense = np.zeros(matrix.shape)  # assigned, not added as toarray() does, so -0.0 stays
        dense[np.repeat(np.arange(len(times)), degree + 1), matrix.indices] = matrix.data
        assert bits(dense).tolist() == [bits(zelk_rows(t)).tolist() for t in times]


@pytest.mark.parametrize("degree", [1, 2, 3, 4, 5, 8])
@pytest.mark.parametrize("T", [1.0, 3.7, 1e-300])
def test_points_of_a_long_grid_follow_the_formula(degree, T):
    # Several blocks of sub-intervals and a remainder, in every vector lane.
    n_t = 1000
    h = T / n_t
    expected = []
    for k in range(n_t):
        a = h * k
        b = h + a
        expected += [a + ((b - a) * i) / degree for i in range(degree)]
    assert bits(za.get_lagrange_points(degree, n_t, T)).tolist() == bits(expected + [T]).tolist()


@pytest.mark.parametrize("degree", DEGREES)
@pytest.mark.parametrize("derivative", [False, True])
def test_basis_matrix_over_many_blocks_keeps_the_one_time_bits(degree, derivative):
    n_t, T = 300, 7.0
    times = grid_times(random.Random(degree), n_t, T)[::5]
    basis = zelk.LegendreBasis(degree, n_t, T)
    one_time = basis.evaluate_all_basis_function_derivatives if derivative else basis.evaluate_all_basis_functions
    matrix = za.legendre_basis_matrix(degree, n_t, T, times, derivative=derivative)
    assert np.array_equal(matrix.indptr, np.arange(len(times) + 1) * (degree + 1))
    expected = [
        np.asarray(one_time(t))[matrix.indices[r * (degree + 1) : (r + 1) * (degree + 1)]] for r, t in enumerate(times)
    ]
    assert bits(matrix.data).tolist() == bits(np.concatenate(expected)).tolist()
    k = np.minimum(np.floor(np.maximum(np.nan_to_num(times / (T / n_t), nan=0.0), 0.0)), n_t - 1)
    assert np.array_equal(matrix.indices[:: degree + 1], k)


def one_time_formulas(degree, n_t, T, c, t):
    """Value and derivative from zelk's basis vector (P_i, and x = P_1) by the one-time sums."""
    p_all = zelk.LegendreBasis(degree, n_t, T).evaluate_all_basis_functions(t)
    k = p_all[:n_t].index(1.0)
    p = [p_all[k + i * n_t] for i in range(degree + 1)]
    a = [c[k + i * n_t] for i in range(degree + 1)]
    x = p[1] if degree else 0.0
    dp = [0.0, 1.0][: degree + 1]
    for j in range(1, degree):
        if abs(x) > 1.0 - 2**-6:
            dp.append(dp[j - 1] + ((j + j) + 1.0) * p[j])
        else:
            dp.append(((x * p[j + 1] - p[j]) * (j + 1.0)) / ((x * x - 1.0) + 1e-15))
    value = derivative = -0.0
    for i in range(degree + 1):
        value = value + p[i] * a[i]
        derivative = derivative + dp[i] * a[i]
    return value, (derivative + derivative) / (T / n_t)


@pytest.mark.parametrize("degree", DEGREES)
@pytest.mark.parametrize(("n_t", "T"), [(5, 1.3), (300, 7.0)])
def test_blocked_evaluation_keeps_the_one_time_bits(degree, n_t, T):
    rng = random.Random(degree)
    c = [rng.uniform(-2, 2) for _ in range(n_t * (degree + 1))]
    times = grid_times(rng, n_t, T)[:-5]  # finite times: x is read back as P_1; many blocks for n_t = 300
    f = za.LegendreExpansion(degree, n_t, T, c)
    expected = [one_time_formulas(degree, n_t, T, c, t) for t in times]
    assert bits(f(times)).tolist() == bits([e[0] for e in expected]).tolist()
    assert bits(f.derivative(times)).tolist() == bits([e[1] for e in expected]).tolist()


# Blocks of times in one sub-interval read one coefficient row, others gather
# their rows (up to degree 15, from a row-major copy where the times outnumber the
# table's entries) or read the table in place: every way keeps the bits.
@pytest.mark.parametrize("degree", [0, 1, 2, 3, 5, 8, 11, 15, 16, 21])
def test_sorted_shuffled_and_columns_keep_the_bits(degree):
    n_t, T = 7, 3.0
    rng = np.random.default_rng(degree)
    times = np.concatenate([rng.uniform(-0.1, 1.1 * T, 2000), grid_times(random.Random(degree), n_t, T)])
    times = np.sort(times[~np.isnan(times)])  # a NaN's payload is outside the promise
    order = rng.permutation(len(times))
    c = rng.uniform(-2, 2, (n_t * (degree + 1), 2))
    f = za.LegendreExpansion(degree, n_t, T, c[:, 0])
    both = za.LegendreExpansion(degree, n_t, T, c)
    evaluator = zelk.LegendreBasisEvaluator(degree, n_t, T)
    evaluator.set_dofs(c[:, 0].tolist())
    for method, one_time in [("__call__", evaluator.evaluate_at), ("derivative", evaluator.evaluate_derivative_at)]:
        expected = bits([one_time(t) for t in times])
        assert np.array_equal(bits(getattr(f, method)(times)), expected)
        assert np.array_equal(bits(getattr(f, method)(times[order])), expected[order])
        assert np.array_equal(bits(getattr(both, method)(times[order])[:, 0]), expected[order])


def test_expansion_inputs_keep_their_shape():
    f = za.LegendreExpansion(3, 5, 2.0, np.linspace(-1, 1, 20))
    grid = np.linspace(-0.5, 2.5, 24)
    flat = f(grid)
    assert owns_native_buffer(flat)
    scalar = f(0.3)
    assert isinstance(scalar, np.ndarray) and scalar.shape == () and scalar == f([0.3])[0]
    assert f(np.float64(0.3)).shape == () and f(np.array(0.3)).shape == ()
    cube = grid.reshape(2, 3, 4)
    assert f(cube).shape == (2, 3, 4) and bits(f(cube)).ravel().tolist() == bits(flat).tolist()
    assert bits(f(grid[::3])).tolist() == bits(flat[::3]).tolist()
    assert bits(f(cube.transpose())).tolist() == bits(f(cube).transpose()).tolist()
    as32 = grid.astype(np.float32)
    assert f(as32).dtype == np.float64 and bits(f(as32)).tolist() == bits(f(as32.astype(np.float64))).tolist()
    assert f(np.arange(3)).tolist() == f([0.0, 1.0, 2.0]).tolist()
    assert f(np.empty((0, 3))).shape == (0, 3)
    assert f.coefficients.flags.writeable is False
    with pytest.raises(ValueError):
        f.coefficients[0] = 1.0


@pytest.mark.parametrize(
    ("call", "error", "match"),
    [
        (lambda: za.get_lagrange_points(1.5, 2, 1.0), TypeError, "degree must be an integer"),
        (lambda: za.get_lagrange_points(1, 2, "1.0"), TypeError, "T must be a real number"),
        (lambda: za.get_lagrange_points(1, -2, 1.0), ValueError, "n_t must be non-negative"),
        (lambda: za.get_lagrange_points(2**64, 1, 1.0), OverflowError, "degree must be at most 2"),
        (lambda: za.get_lagrange_points(2**62, 4, 1.0), OverflowError, "^capacity overflow: the points"),
        (lambda: za.get_lagrange_points(2**42, 1, 1.0), MemoryError, "^Unable to allocate 32 TiB"),
        (lambda: za.lagrange_prolongation_matrix(0, 0, 0), ValueError, "degree must be at least 1"),
        (lambda: za.lagrange_prolongation_matrix(0, 1, 1), ValueError, "nt_coarse must be at least 1"),
        (lambda: za.lagrange_prolongation_matrix(1, 0, 1), ValueError, "nt_fine must be at least 1"),
        (lambda: za.lagrange_prolongation_matrix(1, 2**62, 4), OverflowError, "^capacity overflow: the matrix"),
        (lambda: za.lagrange_prolongation_matrix(1, 2**40, 4), MemoryError, r"lagrange_prolongation_matrix\(nt_coarse"),
        (lambda: za.lagrange_to_legendre_basis_transformation(0, 3), ValueError, "degree must be at least 1"),
        (lambda: za.legendre_basis_matrix(2, 0, 1.0, [0.5]), ValueError, "n_t must be at least 1"),
        (lambda: za.legendre_basis_matrix(2, 1, 1.0, [[0.5]]), ValueError, "times must be a number or one-dim"),
        (lambda: za.legendre_basis_matrix(2, 1, 1.0, ["a"]), TypeError, "times must be real numbers"),
        (lambda: za.LegendreExpansion(1, 2, 1.0, [1.0, 2.0]), ValueError, "coefficients must hold n_t"),
        (lambda: za.LegendreExpansion(1, 1, 1.0, [[1.0, 2.0]]), ValueError, "2 values along axis 0, got 1"),
        (lambda: za.LegendreExpansion(1, 1, 1.0, None), TypeError, "coefficients must be real numbers"),
        (lambda: za.LegendreExpansion(0, 1, 1.0, [1.0])(1j), TypeError, "times must be real numbers"),
        (lambda: za.LegendreExpansion(0, 1, 1.0, [1.0]).derivative("0.5"), TypeError, "times must be real"),
        (lambda: _native.expansion_values(0, 1, 1.0, b"12345678", np.zeros(1), False), TypeError, "float64"),
        (lambda: _native.prolongation_matrix(1, 1, 0, 0, 1), ValueError, "requires polynomial degree at least 1"),
        (lambda: _native.lagrange_points(1, 1), TypeError, "takes 3 positional arguments"),
    ],
)
def test_errors_in_numpy_idiom_and_quiet(call, error, match, capfd):
    with pytest.raises(error, match=match):
        call()
    assert capfd.readouterr().err == ""


def test_missing_scipy_says_how_to_install(monkeypatch):
    monkeypatch.setitem(sys.modules, "scipy.sparse", None)
    with pytest.raises(ImportError, match="pip install scipy"):
        za.lagrange_to_legendre_basis_transformation(1, 1)


def test_only_the_init_function_is_exported():
    nm = subprocess.run(["nm", "-D", "--defined-only", _native.__file__], capture_output=True, text=True)
    if nm.returncode != 0:
        pytest.skip("nm is not available")
    assert [line.split()[-1] for line in nm.stdout.splitlines() if line.strip()] == ["PyInit__native"]
