"""A prolongation built and applied across MPI ranks, each building only its own rows.

    mpiexec -n 4 python examples/distributed_prolongation.py [nt_coarse nt_fine degree]

Each rank takes a contiguous range of fine sub-intervals, builds the rows it
owns with ``intervals=``, asks ``column_range`` which coarse values those rows
read, gets them from the ranks that own them, and multiplies. Rank r owns the
coarse values from its rows' first column up to the next rank's first column,
so every row reads its own rank's values first and the others' after them, in
column order. Rank 0 checks the gathered product bit for bit against the
serial scipy product.

With petsc4py importable, the same local rows also become a distributed PETSc
AIJ matrix, multiplied with a distributed vector of the same ownership, and
checked the same way. PETSc's inode kernel groups the sums of rows with the
same pattern differently, so it is turned off (-mat_no_inode) for equal bits.

Exits with status 1 if a product differs.
"""

from __future__ import annotations

import importlib
import sys
from typing import Any

import numpy as np
import numpy.typing as npt
from mpi4py import MPI

import zelk_arrays as za

FloatArray = npt.NDArray[np.float64]


def petsc_module() -> Any:
    """petsc4py's PETSc, initialised without the inode kernel, or None where it is missing."""
    try:
        petsc4py = importlib.import_module("petsc4py")
    except ImportError:
        return None
    petsc4py.init([sys.argv[0], "-mat_no_inode"])
    return importlib.import_module("petsc4py.PETSc")


def coarse_values(ncols: int) -> FloatArray:
    """The coarse nodal values every rank can make for itself: a wiggly function, no round numbers."""
    values: FloatArray = np.sin(np.arange(ncols) * 0.7) + 0.25
    return values


def needed_values(comm: MPI.Comm, owned: FloatArray, owners: list[int], needs: list[tuple[int, int]]) -> FloatArray:
    """The coarse values [needs[rank]) from the ranks that own them; owners[r] is rank r's first value."""
    rank, size = comm.Get_rank(), comm.Get_size()
    my_first = owners[rank]
    my_end = owners[rank + 1]

    def overlap(first: int, end: int, begin: int, stop: int) -> tuple[int, int]:
        low = max(first, begin)
        return low, max(low, min(end, stop))

    sends = [overlap(my_first, my_end, *needs[r]) for r in range(size)]
    receives = [overlap(owners[r], owners[r + 1], *needs[rank]) for r in range(size)]
    send_counts = [end - begin for begin, end in sends]
    receive_counts = [end - begin for begin, end in receives]
    send = np.concatenate([owned[begin - my_first : end - my_first] for begin, end in sends])
    received = np.empty(sum(receive_counts))
    comm.Alltoallv([send, send_counts, MPI.DOUBLE], [received, receive_counts, MPI.DOUBLE])
    return received


def main() -> int:
    comm = MPI.COMM_WORLD
    rank, size = comm.Get_rank(), comm.Get_size()
    nt_coarse, nt_fine, degree = (int(a) for a in sys.argv[1:4]) if len(sys.argv) > 3 else (1000, 3001, 3)
    ncols = nt_coarse * degree + 1

    # This rank's fine sub-intervals, its rows, and the coarse columns they read.
    intervals = (nt_fine * rank // size, nt_fine * (rank + 1) // size)
    local = za.lagrange_prolongation_matrix(nt_coarse, nt_fine, degree, intervals=intervals)
    columns = za.column_range(za.lagrange_prolongation_matrix, nt_coarse, nt_fine, degree, intervals=intervals)

    # Ownership of the coarse vector: from the first column of this rank's rows onward.
    firsts = comm.allgather(0 if rank == 0 else columns.start)
    owners = [*firsts, ncols]
    needs = comm.allgather((columns.start, columns.stop))
    owned = coarse_values(ncols)[owners[rank] : owners[rank + 1]]

    x = needed_values(comm, owned, owners, needs)
    shifted = type(local)((local.data, local.indices - columns.start, local.indptr), shape=(local.shape[0], len(x)))
    y = shifted @ x
    products = {"mpi4py + scipy": y}

    petsc = petsc_module()
    if petsc is not None:
        nrows = nt_fine * degree + 1
        index = petsc.IntType
        matrix = petsc.Mat().createAIJ(
            size=((local.shape[0], nrows), (len(owned), ncols)),
            csr=(local.indptr.astype(index), local.indices.astype(index), local.data),
            comm=comm,
        )
        matrix.assemble()
        vector = petsc.Vec().createMPI((len(owned), ncols), comm=comm)
        vector.setArray(owned)
        result = matrix.createVecLeft()
        matrix.mult(vector, result)
        products["petsc4py AIJ"] = result.getArray().copy()

    failed = False
    serial = None
    if rank == 0:
        serial = za.lagrange_prolongation_matrix(nt_coarse, nt_fine, degree) @ coarse_values(ncols)
    for name, piece in products.items():
        pieces = comm.gather(piece, root=0)
        if rank == 0 and serial is not None and pieces is not None:
            product = np.concatenate(pieces)
            same = product.shape == serial.shape and np.array_equal(product.view(np.uint64), serial.view(np.uint64))
            print(f"{name}: {size} ranks, {len(product)} rows, {'bit-identical' if same else 'DIFFERENT'} to scipy")
            failed = failed or not same
    return int(comm.bcast(failed, root=0))


if __name__ == "__main__":
    sys.exit(main())
