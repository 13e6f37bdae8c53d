"""PETSc matrices and vectors over a rank's pieces; the one module of zelk_arrays that imports petsc4py.

A rank builds its rows with a builder's ``intervals=`` (or
:func:`zelk_arrays.kron_sum` with the rows of :func:`zelk_arrays.row_range`) and hands them to :func:`aij`; a vector
of its owned entries goes to :func:`vec`. The arrays are passed on as they
are wherever PETSc's index and scalar types match them.

MatMult of the matrix gives the bits of scipy's ``piece @ x`` when PETSc
runs without inodes (``-mat_no_inode``) and every stored column of the
rank's rows lies at or right of its first owned column ``c_begin``: PETSc
adds a row's entries in the owned column block first and then those right
of it, as scipy adds them in column order. Under the square default
(columns owned as rows), rows that reach back into columns of a previous
rank, such as the first rows of a time slab coupled to the one before by the
jump, add in another order and may differ in the last bit.
"""

from __future__ import annotations

import importlib
from typing import Any

import numpy as np

from ._preallocation import _column_block
from ._results import int32_overflow


def _petsc() -> Any:
    try:
        petsc = importlib.import_module("petsc4py.PETSc")
    except ImportError as error:
        raise ImportError(
            "zelk_arrays.petsc needs petsc4py (Debian: apt-get install python3-petsc4py, and PETSC_DIR set; "
            "see the distributed page of the docs)"
        ) from error
    return petsc


def _index_arrays(piece: Any, int_type: np.dtype[Any]) -> tuple[Any, Any]:
    indptr, indices = piece.indptr, piece.indices
    if int_type == np.int32 and indptr.dtype != np.int32:
        largest = max(*piece.shape, int(indptr[-1]))
        if largest > 2**31 - 1:
            # astype would wrap a column beyond 2**31 - 1 to a negative one, silently.
            raise int32_overflow(largest)
    return np.ascontiguousarray(indptr, dtype=int_type), np.ascontiguousarray(indices, dtype=int_type)


def aij(piece: Any, comm: Any = None, *, columns: tuple[int, int] | range) -> Any:
    """A PETSc AIJ matrix whose rows on this rank are ``piece``.

    Parameters
    ----------
    piece : scipy.sparse.csr_array
        This rank's consecutive rows of the global matrix, with global column
        indices: shape ``(local rows, global columns)``. The ranks' pieces,
        in rank order, are the global matrix.
    comm : petsc4py.PETSc.Comm, optional
        The communicator, or an mpi4py one (default ``PETSc.COMM_WORLD``).
    columns : tuple of two ints or range
        ``(c_begin, c_end)``: the columns this rank owns, the entries of the
        vectors the matrix multiplies (:func:`zelk_arrays.ownership` of the
        global column count for PETSc's default).

    Returns
    -------
    petsc4py.PETSc.Mat
        Assembled. On one rank it is a sequential AIJ matrix over the
        piece's own arrays, where their types are PETSc's (no copy); on more
        PETSc copies them into its diagonal and off-diagonal blocks.

    Raises
    ------
    ImportError
        If petsc4py cannot be imported.
    TypeError, ValueError
        If ``piece`` is not a CSR matrix or ``columns`` not a pair within
        its columns.
    OverflowError
        If PETSc's indices are 32-bit and the piece has an index or size
        beyond 2**31 - 1 (never a silent wrap).

    See Also
    --------
    zelk_arrays.preallocation : The counts PETSc's preallocation takes.
    vec : Vectors of the same layout.
    """
    from scipy import sparse

    petsc = _petsc()
    is_csr = bool(sparse.issparse(piece)) and getattr(piece, "format", None) == "csr"
    if not is_csr:
        raise TypeError(f"piece must be a scipy CSR matrix, not {type(piece).__name__!r}")
    nrows, ncols = piece.shape
    c_begin, c_end = _column_block(columns, ncols)
    indptr, indices = _index_arrays(piece, np.dtype(petsc.IntType))
    data = np.ascontiguousarray(piece.data, dtype=petsc.ScalarType)
    comm = petsc.COMM_WORLD if comm is None else comm
    matrix = petsc.Mat().createAIJWithArrays(
        ((nrows, petsc.DECIDE), (c_end - c_begin, ncols)), (indptr, indices, data), comm=comm
    )
    matrix.assemble()
    return matrix


def vec(array: Any, comm: Any = None) -> Any:
    """A PETSc vector whose entries on this rank are ``array``, without a copy where its type is PETSc's.

    Parameters
    ----------
    array : numpy.ndarray
        This rank's entries: one-dimensional, contiguous; its length is the
        rank's local size.
    comm : petsc4py.PETSc.Comm, optional
        The communicator, or an mpi4py one (default ``PETSc.COMM_WORLD``).

    Returns
    -------
    petsc4py.PETSc.Vec
        Over ``array``'s memory where it is contiguous of PETSc's scalar
        type: changes show in both.

    Raises
    ------
    ImportError
        If petsc4py cannot be imported.
    ValueError
        If ``array`` is not one-dimensional.

    See Also
    --------
    aij : The matrices these vectors multiply.
    """
    petsc = _petsc()
    values = np.ascontiguousarray(array, dtype=petsc.ScalarType)
    if values.ndim != 1:
        raise ValueError(f"array must be one-dimensional, got shape {values.shape}")
    comm = petsc.COMM_WORLD if comm is None else comm
    return petsc.Vec().createWithArray(values, size=(values.size, petsc.DECIDE), comm=comm)
