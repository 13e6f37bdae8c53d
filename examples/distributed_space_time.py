"""An all-at-once space-time solve of convection-diffusion across MPI ranks: dG(1) in time, PETSc's GMRES.

    mpiexec -n 4 python examples/distributed_space_time.py --petsc [n_t n_x]

u_t + b u_x - eps u_xx = 0 on (0, 1) with u = 0 at both ends and a bump as
initial value, central differences on n_x inner points in space and dG(1)
in time on n_t sub-intervals of [0, 1]: the system

    (kron(D + J, I) + kron(M, A)) U = F

with the time derivative D, the upwind jump J and the mass M of the
interval-major Legendre space (sub-interval by sub-interval, so a range of
sub-intervals owns consecutive rows), and F the initial value's jump term.

Each rank takes PETSc's share of the sub-intervals (``ownership``), maps them
to its time rows (``row_range``), builds its block rows with ``kron_sum`` and
checks them bit for bit against the serial scipy matrix. With ``--petsc`` it
makes a PETSc AIJ matrix of them (``zelk_arrays.petsc``), solves with GMRES
and block Jacobi, and rank 0 compares the solution with scipy's serial solve
(relative difference at most 1e-12).

Fails with one line and status 1 where ``--petsc`` is given and petsc4py
cannot be imported, and where the launcher started several processes that
each see a world of one rank (an mpiexec of another MPI than mpi4py's).
"""

from __future__ import annotations

import importlib
import os
import sys
from typing import Any, NoReturn

import numpy as np
import scipy.sparse as sp
import scipy.sparse.linalg as spla

import zelk_arrays as za

TOLERANCE = 1e-12


def fail(message: str) -> NoReturn:
    print(f"distributed_space_time: {message}", file=sys.stderr)
    sys.exit(1)


def launched_ranks() -> int:
    """How many processes the launcher says it started (1 where no launcher says so)."""
    for name in ("OMPI_COMM_WORLD_SIZE", "PMI_SIZE", "PMIX_SIZE", "MPI_LOCALNRANKS"):
        value = os.environ.get(name, "")
        if value.isdigit():
            return int(value)
    return 1


def tridiagonal(n: int, lower: float, diagonal: float, upper: float) -> Any:
    """The n x n tridiagonal CSR matrix of constant diagonals (built from triplets, as every scipy can)."""
    i = np.arange(n)
    rows = np.concatenate([i[1:], i, i[:-1]])
    cols = np.concatenate([i[:-1], i, i[1:]])
    values = np.concatenate([np.full(n - 1, lower), np.full(n, diagonal), np.full(n - 1, upper)])
    return sp.csr_array((values, (rows, cols)), shape=(n, n))


def system(n_t: int, n_x: int) -> tuple[za.LegendreSpace, list[tuple[Any, Any]], Any]:
    """The time space, the terms of the space-time operator and the right-hand side."""
    time = za.LegendreSpace(1, n_t, layout="interval-major")
    h, b, eps = 1.0 / (n_x + 1), 1.0, 0.01
    diffusion, convection = eps / (h * h), b / (2.0 * h)
    space = tridiagonal(n_x, -diffusion - convection, 2.0 * diffusion, convection - diffusion)
    eye = sp.csr_array((np.ones(n_x), (np.arange(n_x), np.arange(n_x))), shape=(n_x, n_x))
    dj = za.time_derivative_matrix(time, time) + za.time_jump_matrix(time, time)
    terms = [(dj, eye), (za.time_mass_matrix(time, time), space)]
    x = h * np.arange(1, n_x + 1)
    u0 = np.exp(-100.0 * (x - 0.3) ** 2)
    # The jump's initial term v_i(0+) u0: P_i(-1) = (-1)^i on the first sub-interval.
    rhs = np.zeros(time.dim * n_x)
    rhs[:n_x] = u0
    rhs[n_x : 2 * n_x] = -u0
    return time, terms, rhs


def mat_mult_is_scipys(zpetsc: Any, comm: Any, local: Any, whole: Any, first: int, n_x: int, rank: int) -> bool:
    """PETSc's MatMult against scipy's product, bit for bit, with the columns owned one sub-interval to the left.

    Then no row of a rank reaches left of its first owned column, and PETSc
    adds each row left to right as scipy does (the layout of the docs).
    """
    width = 2 * n_x  # one sub-interval's columns: dG(1) has two polynomials per sub-interval
    begin = 0 if rank == 0 else first - width
    begins = comm.allgather(begin) if comm is not None else [begin]
    end = begins[rank + 1] if rank + 1 < len(begins) else whole.shape[1]
    x = np.sin(0.37 * np.arange(whole.shape[1])) + 0.5
    matrix = zpetsc.aij(local, columns=(begin, end))
    product = matrix.createVecLeft()
    matrix.mult(zpetsc.vec(x[begin:end]), product)
    serial = (whole @ x)[first : first + local.shape[0]]
    same = bool(np.array_equal(product.getArray().view(np.uint64), serial.view(np.uint64)))
    all_same = all(comm.allgather(same)) if comm is not None else same
    if rank == 0:
        print(
            f"PETSc MatMult, columns owned one sub-interval left: {'bit-identical' if all_same else 'DIFFERENT'} to scipy"
        )
    return all_same


def main() -> int:
    args = [a for a in sys.argv[1:] if a != "--petsc"]
    use_petsc = "--petsc" in sys.argv[1:]
    n_t, n_x = (int(a) for a in args[:2]) if len(args) >= 2 else (16, 50)

    petsc: Any = None
    zpetsc: Any = None
    if use_petsc:
        try:
            # Imported by name: petsc4py has no type information for the checker.
            importlib.import_module("petsc4py").init([sys.argv[0], "-mat_no_inode"])
            petsc = importlib.import_module("petsc4py.PETSc")
            zpetsc = importlib.import_module("zelk_arrays.petsc")
        except ImportError as error:
            fail(f"--petsc was given but petsc4py cannot be imported ({error}); see the distributed docs page")
    comm: Any = None
    try:
        comm = importlib.import_module("mpi4py.MPI").COMM_WORLD
    except ImportError:
        if launched_ranks() > 1:
            fail("mpi4py is missing, so the launched ranks cannot talk to each other")
    rank, size = (comm.Get_rank(), comm.Get_size()) if comm is not None else (0, 1)
    if size == 1 and launched_ranks() > 1:
        fail(
            f"the launcher started {launched_ranks()} processes but each sees a world of 1 rank: "
            "mpiexec belongs to another MPI than mpi4py's"
        )

    time, terms, rhs = system(n_t, n_x)
    intervals = za.ownership(n_t, size, rank)
    rows = za.row_range(time, intervals)
    local = za.kron_sum(terms, intervals=(rows.start, rows.stop))
    first, last = rows.start * n_x, rows.stop * n_x

    whole = sum(sp.kron(t, s, format="csr") for t, s in terms)
    a, b = whole.indptr[first], whole.indptr[last]
    same = (
        np.array_equal(local.indptr, whole.indptr[first : last + 1] - a)
        and np.array_equal(local.indices, whole.indices[a:b])
        and np.array_equal(local.data.view(np.uint64), whole.data[a:b].view(np.uint64))
    )
    all_same = all(comm.allgather(same)) if comm is not None else same
    if rank == 0:
        print(f"kron_sum: {size} ranks, rows {whole.shape[0]}, {'bit-identical' if all_same else 'DIFFERENT'} to scipy")
    failed = not all_same

    if petsc is not None:
        d_nnz, o_nnz = za.preallocation(za.kron_sum, terms, intervals=(rows.start, rows.stop), columns=(first, last))
        assert d_nnz.sum() + o_nnz.sum() == local.nnz
        failed = failed or not mat_mult_is_scipys(zpetsc, comm, local, whole, first, n_x, rank)
        matrix = zpetsc.aij(local, petsc.COMM_WORLD, columns=(first, last))
        solution, right = matrix.createVecs()
        right.setArray(rhs[first:last])
        ksp = petsc.KSP().create(petsc.COMM_WORLD)
        ksp.setOperators(matrix)
        ksp.setType("gmres")
        ksp.getPC().setType("bjacobi")
        ksp.setTolerances(rtol=1e-15, atol=1e-50, max_it=2000)
        ksp.setGMRESRestart(200)
        ksp.solve(right, solution)
        pieces = comm.gather(solution.getArray().copy(), root=0) if comm is not None else [solution.getArray()]
        if rank == 0 and pieces is not None:
            distributed = np.concatenate(pieces)
            serial = spla.spsolve(whole.tocsc(), rhs)
            difference = np.max(np.abs(distributed - serial)) / np.max(np.abs(serial))
            ok = difference <= TOLERANCE
            print(
                f"PETSc GMRES + block Jacobi: {size} ranks, {ksp.getIterationNumber()} iterations, "
                f"relative difference to scipy's serial solve {difference:.1e} ({'ok' if ok else 'TOO LARGE'})"
            )
            failed = failed or not ok
    elif rank == 0:
        print("solve skipped: pass --petsc to solve with PETSc")
    if comm is not None:
        failed = comm.bcast(failed, root=0)
    return int(failed)


if __name__ == "__main__":
    sys.exit(main())
