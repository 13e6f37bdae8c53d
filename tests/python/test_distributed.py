"""Distributed building blocks: ownership, row ranges, preallocation, index types, and the MPI/PETSc example."""

import os
import platform
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
import scipy.sparse as sp

import zelk_arrays as za

ROOT = Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "distributed_space_time.py"


@pytest.mark.parametrize("size", [1, 2, 3, 4, 7])
@pytest.mark.parametrize("n", [0, 1, 5, 10, 23])
def test_ownership_is_petscs_split(n, size):
    ranges = [za.ownership(n, size, rank) for rank in range(size)]
    assert ranges[0][0] == 0 and ranges[-1][1] == n
    assert all(a[1] == b[0] for a, b in zip(ranges, ranges[1:]))
    sizes = [end - begin for begin, end in ranges]
    # PETSc: the first n mod size ranks hold one more than the others.
    assert sizes == [n // size + 1] * (n % size) + [n // size] * (size - n % size)


@pytest.mark.parametrize(
    ("args", "error"), [((5, 0, 0), ValueError), ((5, 2, 2), ValueError), ((5, 2, True), TypeError)]
)
def test_ownership_rejects_bad_ranks(args, error):
    with pytest.raises(error):
        za.ownership(*args)


SPACES = [
    za.LagrangeSpace(2, 7),
    za.LagrangeSpace(1, 7, nodes="gauss"),
    za.LegendreSpace(1, 7, layout="interval-major"),
]


@pytest.mark.parametrize("space", SPACES, ids=repr)
def test_row_ranges_partition_the_rows_the_builders_build(space):
    whole = za.time_mass_matrix(space, space)
    rows = [za.row_range(space, za.ownership(space.n_t, 3, rank)) for rank in range(3)]
    assert (
        [r.start for r in rows[1:]] == [r.stop for r in rows[:-1]] and rows[0].start == 0 and rows[-1].stop == space.dim
    )
    for rank, row in enumerate(rows):
        piece = za.time_mass_matrix(space, space, intervals=za.ownership(space.n_t, 3, rank))
        assert (piece != whole[row.start : row.stop]).nnz == 0 and piece.shape[0] == len(row)


def test_row_range_refuses_scattered_polynomial_major_rows():
    assert za.row_range(za.LegendreSpace(1, 4)) == range(8)
    with pytest.raises(ValueError, match="interval-major"):
        za.row_range(za.LegendreSpace(1, 4), (1, 2))


def laplacian_terms(n_t, m):
    time = za.LegendreSpace(1, n_t, layout="interval-major")
    lap = sp.diags_array([-np.ones(m - 1), 2.0 * np.ones(m), -np.ones(m - 1)], offsets=[-1, 0, 1], format="csr")
    dj = za.time_derivative_matrix(time, time) + za.time_jump_matrix(time, time)
    return [(dj, sp.eye_array(m, format="csr")), (za.time_mass_matrix(time, time), lap)]


@pytest.mark.parametrize(
    ("builder", "args", "intervals"),
    [
        (za.kron_sum, (laplacian_terms(6, 5),), (4, 8)),
        (za.time_jump_matrix, (za.LagrangeSpace(2, 6),) * 2, (2, 4)),
        (za.lagrange_prolongation_matrix, (3, 9, 2), (3, 7)),
    ],
)
def test_preallocation_counts_the_built_piece(builder, args, intervals):
    piece = builder(*args, intervals=intervals)
    n = piece.shape[1]
    for columns in [(0, n), (n // 3, 2 * n // 3), (n, n)]:
        d_nnz, o_nnz = za.preallocation(builder, *args, intervals=intervals, columns=columns)
        coo = piece.tocoo()
        inside = (coo.col >= columns[0]) & (coo.col < columns[1])
        np.testing.assert_array_equal(d_nnz, np.bincount(coo.row[inside], minlength=piece.shape[0]))
        np.testing.assert_array_equal(o_nnz, np.bincount(coo.row[~inside], minlength=piece.shape[0]))
    with pytest.raises(ValueError, match="columns"):
        za.preallocation(builder, *args, intervals=intervals, columns=(2, 1))


BUILDERS = [
    (za.time_mass_matrix, (za.LagrangeSpace(2, 5),) * 2, {}),
    (za.time_jump_matrix, (za.LegendreSpace(1, 5, layout="interval-major"),) * 2, {}),
    (za.lagrange_prolongation_matrix, (2, 5, 3), {}),
    (za.lagrange_to_legendre_basis_transformation, (2, 5), {}),
    (za.legendre_basis_matrix, (2, 3, 1.0, [0.1, 0.5, 0.9]), {}),
    (za.legendre_prolongation_matrix, (2, 5, 1), {}),
    (za.legendre_restriction_matrix, (), {"nt_coarse": 2, "nt_fine": 4, "degree": 1}),
    (za.kron_sum, (laplacian_terms(3, 4),), {}),
    (za.basis_matrix, (za.LagrangeSpace(2, za.TimeGrid([0.0, 0.25, 1.0])), [0.1, 0.5]), {}),
    (za.interpolation_matrix, (za.LegendreSpace(1, 3), za.LagrangeSpace(2, 4, nodes="gauss")), {}),
    (za.projection_matrix, (za.LagrangeSpace(2, 3), za.LegendreSpace(1, 5)), {}),
]


@pytest.mark.parametrize(("builder", "args", "kwargs"), BUILDERS, ids=lambda b: getattr(b, "__name__", ""))
def test_index_dtype_keeps_the_default_bits(builder, args, kwargs):
    default = builder(*args, **kwargs)
    assert default.indices.dtype == np.int32
    for dtype in (np.int32, np.int64):
        fixed = builder(*args, **kwargs, index_dtype=dtype)
        assert fixed.indices.dtype == fixed.indptr.dtype == dtype
        np.testing.assert_array_equal(fixed.indices, default.indices)
        np.testing.assert_array_equal(fixed.indptr, default.indptr)
        np.testing.assert_array_equal(fixed.data.view(np.uint64), default.data.view(np.uint64))


@pytest.mark.parametrize(("builder", "args", "kwargs"), BUILDERS, ids=lambda b: getattr(b, "__name__", ""))
def test_a_bad_index_dtype_is_refused_before_the_build(builder, args, kwargs, monkeypatch):
    def built(*_args):
        raise AssertionError("built before index_dtype was checked")

    for name in dir(za._native):
        if name.endswith(("_matrix", "_operator", "_layout", "kron_sum")):
            monkeypatch.setattr(za._native, name, built)
    with pytest.raises(ValueError, match="index_dtype must be"):
        builder(*args, **kwargs, index_dtype=np.float64)


def test_int32_overflow_names_the_largest_index():
    time = sp.csr_array(([2.0], ([0], [2**20 - 1])), shape=(1, 2**20))
    space = sp.csr_array(([3.0], ([0], [2**12 - 1])), shape=(1, 2**12))
    wide = za.kron_sum([(time, space)])
    assert wide.indices.dtype == np.int64 and wide.indices.tolist() == [2**32 - 1]
    with pytest.raises(OverflowError, match="4294967296"):
        za.kron_sum([(time, space)], index_dtype=np.int32)
    huge = za.LagrangeSpace(1, 3 * 10**9)
    assert za.time_mass_matrix(huge, huge, intervals=(0, 1)).indices.dtype == np.int64
    with pytest.raises(OverflowError, match="3000000001"):
        za.time_mass_matrix(huge, huge, intervals=(0, 1), index_dtype=np.int32)


def run(command, **env):
    return subprocess.run(
        command, capture_output=True, text=True, timeout=300, env={**os.environ, **env}, cwd=ROOT, check=False
    )


@pytest.mark.parametrize("ranks", [1, 2])
def test_example_under_mpi4py_builds_bit_identical_rows(ranks):
    mpiexec = Path(sys.executable).parent / "mpiexec"
    pytest.importorskip("mpi4py")
    if not mpiexec.exists():
        pytest.skip("no mpiexec next to this Python")
    result = run([str(mpiexec), "-n", str(ranks), sys.executable, str(EXAMPLE), "6", "20"])
    assert result.returncode == 0, result.stderr
    assert f"kron_sum: {ranks} ranks" in result.stdout and "bit-identical" in result.stdout


def test_example_fails_loudly_without_petsc4py():
    try:
        import petsc4py  # noqa: F401
    except ImportError:
        result = run([sys.executable, str(EXAMPLE), "--petsc", "4", "10"])
        assert result.returncode == 1
        assert result.stderr.strip().count("\n") == 0 and "petsc4py cannot be imported" in result.stderr
    else:
        pytest.skip("petsc4py is importable here")


def test_example_fails_loudly_under_a_foreign_launcher():
    # Open MPI's launcher variable, which mpi4py's own MPI (if any) does not read: it sees a world of one.
    result = run([sys.executable, str(EXAMPLE), "4", "10"], OMPI_COMM_WORLD_SIZE="2")
    assert result.returncode == 1
    assert "world of 1 rank" in result.stderr or "mpi4py is missing" in result.stderr


def debian_petsc(tmp_path):
    """Debian's Python with petsc4py and this build's zelk_arrays (alone) on its path, or a skip."""
    python, mpiexec = Path("/usr/bin/python3"), shutil.which("mpiexec", path="/usr/bin")
    petsc_dirs = sorted(Path("/usr/lib/petscdir").glob("petsc*/*-real")) if Path("/usr/lib/petscdir").exists() else []
    if not (python.exists() and mpiexec and petsc_dirs):
        pytest.skip("Debian's python3, mpiexec or PETSc is missing")
    # Under qemu the host's python3 is another machine's: it could not load this build's module.
    version = f"{sys.version_info[0]}.{sys.version_info[1]} {platform.machine()}"
    env = {"PETSC_DIR": str(petsc_dirs[0]), "PYTHONPATH": str(tmp_path)}
    code = "import platform, sys, petsc4py.PETSc, mpi4py.MPI; print('%d.%d' % sys.version_info[:2], platform.machine())"
    probe = run([str(python), "-c", code], **env)
    if probe.returncode != 0 or probe.stdout.strip() != version:
        pytest.skip("Debian's python3 lacks petsc4py or is not this Python's version and machine")
    (tmp_path / "zelk_arrays").symlink_to(Path(za.__file__).parent)
    return python, mpiexec, env


@pytest.mark.parametrize("ranks", [1, 2, 4])
def test_example_solves_with_petsc_like_scipy(tmp_path, ranks):
    python, mpiexec, env = debian_petsc(tmp_path)
    openmpi = {
        "OMPI_ALLOW_RUN_AS_ROOT": "1",
        "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM": "1",
        "OMPI_MCA_rmaps_base_oversubscribe": "1",
    }
    result = run([mpiexec, "-n", str(ranks), str(python), str(EXAMPLE), "--petsc", "8", "20"], **env, **openmpi)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "bit-identical" in result.stdout and "(ok)" in result.stdout
