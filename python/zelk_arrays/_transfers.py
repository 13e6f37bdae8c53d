"""Transfers between spaces on two grids over the same span: interpolation at nodes and the L2 projection."""

from __future__ import annotations

from typing import TYPE_CHECKING

from . import _native
from ._layouts import POLYNOMIAL_MAJOR
from ._results import _csr
from ._spaces import LagrangeSpace, LegendreSpace, TimeSpace, _description, checked_spaces
from ._validation import _index_width

if TYPE_CHECKING:
    from scipy.sparse import csr_array


def _checked_spaces(source: object, target: object) -> tuple[TimeSpace, TimeSpace]:
    source, target = checked_spaces(source=source, target=target)
    a, b = source.grid, target.grid
    if (a.start, a.end) != (b.start, b.end):
        raise ValueError(
            f"source and target must cover the same span, got [{a.start!r}, {a.end!r}] and [{b.start!r}, {b.end!r}]"
        )
    return source, target


def _uniform_from_zero(space: TimeSpace) -> bool:
    return space._grid is None  # noqa: SLF001 - the package's own field: the (n_t, T) grids


def _nodal(space: TimeSpace) -> bool:
    """Today's nodal space: equispaced and continuous."""
    return isinstance(space, LagrangeSpace) and space.nodes == "equispaced" and space.continuous


def _modal(space: TimeSpace) -> bool:
    return isinstance(space, LegendreSpace) and space.layout == POLYNOMIAL_MAJOR


def _general(projection: bool, source: TimeSpace, target: TimeSpace, index_dtype: object) -> csr_array:
    return _csr(
        _native.space_transfer_matrix(
            projection, *_description(source), *_description(target), source.grid.points, target.grid.points
        ),
        index_dtype,
    )


def interpolation_matrix(
    source: LagrangeSpace | LegendreSpace, target: LagrangeSpace, *, index_dtype: object = None
) -> csr_array:
    """The source's basis functions at the target's nodes: nodal values on another grid.

    Row r holds the values of the source functions at node r of ``target``
    (its exact node, of which ``target.points[r]`` is the rounded time), so
    ``interpolation_matrix(source, target) @ u`` are the values at the
    target's nodes of the function with coefficients ``u`` in ``source``.
    The two grids must cover the same span; they need not nest, and the
    spaces may differ in degree, node family and continuity.

    Each target node is evaluated in the one source sub-interval that
    contains it. A node on a source grid point takes the sub-interval on its
    right, except the right end node of a target sub-interval, which takes
    the one on its left (a node shared by two sub-intervals of a continuous
    target counts as the left end of the later one). So a discontinuous
    target reads the values at each sub-interval's ends from inside it, and
    for a continuous source both choices agree.

    Parameters
    ----------
    source : LagrangeSpace or LegendreSpace
        The space of the coefficients; its functions number the columns.
    target : LagrangeSpace
        The nodal space whose nodes number the rows.

    index_dtype : numpy.int32, numpy.int64 or None, optional
        The index type of the result; None (the default) takes int32 where
        every index and size fits, as scipy does, else int64. int32 for a
        matrix it cannot index is an OverflowError naming the largest index.
    Returns
    -------
    scipy.sparse.csr_array
        float64, shape ``(target.dim, source.dim)``, at most
        ``source.degree + 1`` entries per row in the columns of one source
        sub-interval. Each value is computed in double-double arithmetic and
        rounded once; a node that is a source node gives the single entry
        1.0, and exact zeros are not stored. Where both spaces are
        equispaced and continuous, of the same degree, on ``n_t`` equal
        sub-intervals of [0, T], it is
        :func:`lagrange_prolongation_matrix`, bit for bit.

    Raises
    ------
    TypeError
        If ``source`` or ``target`` is not a space, or ``target`` is a
        :class:`LegendreSpace`, which has no nodes: use
        :func:`projection_matrix` for it.
    ValueError
        If the grids do not cover the same span (equal first and last
        points).
    OverflowError
        If the sizes exceed the address space.
    MemoryError
        If the matrix does not fit in memory; the message says how many
        bytes were requested.

    See Also
    --------
    projection_matrix : The L2 projection, for Legendre and discontinuous targets.
    lagrange_prolongation_matrix : The uniform, equispaced case by counts.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> coarse = za.LagrangeSpace(1, za.TimeGrid([0.0, 1.0]))
    >>> fine = za.LagrangeSpace(1, za.TimeGrid([0.0, 0.25, 1.0]))
    >>> za.interpolation_matrix(coarse, fine).toarray()
    array([[1.  , 0.  ],
           [0.75, 0.25],
           [0.  , 1.  ]])
    """
    source, space = _checked_spaces(source, target)
    if not isinstance(space, LagrangeSpace):
        raise TypeError("interpolation_matrix needs a LagrangeSpace target: for a LegendreSpace use projection_matrix")
    target = space
    _index_width(index_dtype)  # before a build that may be large
    if (
        _nodal(source)
        and _nodal(target)
        and source.degree == target.degree
        and _uniform_from_zero(source)
        and _uniform_from_zero(target)
    ):
        return _csr(_native.prolongation_matrix(source.n_t, target.n_t, source.degree, 0, target.n_t), index_dtype)
    return _general(False, source, target, index_dtype)


def projection_matrix(
    source: LagrangeSpace | LegendreSpace, target: LagrangeSpace | LegendreSpace, *, index_dtype: object = None
) -> csr_array:
    """The L2 projection onto ``target``: a function of ``source`` mapped to the nearest one of ``target``.

    For a :class:`LegendreSpace` target (either layout) the row of P_i on
    sub-interval k holds, for each source function u_j,
    ``(2i + 1) / (t_{k+1} - t_k)`` times the integral of ``u_j P_i`` over
    the sub-interval: the Legendre coefficients of the projection. The
    integrals are exact over every overlap of a target and a source
    sub-interval, found in one merge sweep of the two grids' points, which
    need not nest; each entry is summed in double-double arithmetic and
    rounded once. On the same grid and degree it is the nodal-to-modal
    conversion of the source's node family.

    A discontinuous :class:`LagrangeSpace` target gets the projection onto
    the Legendre space of its degree, evaluated at its nodes: still local to
    each sub-interval. A continuous Lagrange target would need the inverse
    of the mass matrix of the whole grid; it is refused, with a pointer to
    the discontinuous space of the same nodes.

    Parameters
    ----------
    source : LagrangeSpace or LegendreSpace
        The space of the coefficients; its functions number the columns.
    target : LegendreSpace or LagrangeSpace
        The space projected onto, discontinuous; it numbers the rows.

    index_dtype : numpy.int32, numpy.int64 or None, optional
        The index type of the result; None (the default) takes int32 where
        every index and size fits, as scipy does, else int64. int32 for a
        matrix it cannot index is an OverflowError naming the largest index.
    Returns
    -------
    scipy.sparse.csr_array
        float64, shape ``(target.dim, source.dim)``. Exact zeros are not
        stored. Between Legendre spaces of one degree in the
        polynomial-major layout on nested ``(n_t, T)`` grids (equal
        sub-intervals from 0, one count a multiple of the other), it is
        :func:`legendre_prolongation_matrix` (or
        :func:`legendre_restriction_matrix` where the target grid is the
        coarser), and from the equispaced continuous space onto the
        Legendre space of its degree on the same such grid,
        :func:`lagrange_to_legendre_basis_transformation`, bit for bit.

    Raises
    ------
    TypeError
        If ``source`` or ``target`` is not a space.
    ValueError
        If the grids do not cover the same span (equal first and last
        points), or ``target`` is a continuous :class:`LagrangeSpace`.
    OverflowError
        If the sizes exceed the address space.
    MemoryError
        If the matrix does not fit in memory; the message says how many
        bytes were requested.

    See Also
    --------
    interpolation_matrix : Values at the nodes of a Lagrange target.
    legendre_prolongation_matrix, legendre_restriction_matrix : The uniform cases by counts.

    Notes
    -----
    Each overlap of a target and a source sub-interval contributes at most
    ``(target.degree + 1) * (source.degree + 1)`` entries; two grids of
    ``n`` and ``m`` sub-intervals have at most ``n + m - 1`` overlaps, and a
    nested pair ``max(n, m)``.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> hat = za.LagrangeSpace(1, za.TimeGrid([0.0, 0.5, 1.0]))
    >>> line = za.LegendreSpace(1, za.TimeGrid([0.0, 1.0]))
    >>> za.projection_matrix(hat, line).toarray()
    array([[ 0.25,  0.5 ,  0.25],
           [-0.5 ,  0.  ,  0.5 ]])

    Projecting back onto a polynomial space that contains the function
    changes nothing:

    >>> dg = za.LagrangeSpace(1, za.TimeGrid([0.0, 0.5, 1.0]), continuous=False)
    >>> za.projection_matrix(line, dg) @ [1.0, 2.0]
    array([-1.,  1.,  1.,  3.])
    """
    source, target = _checked_spaces(source, target)
    if isinstance(target, LagrangeSpace) and target.continuous:
        raise ValueError(
            "projection onto a continuous LagrangeSpace needs a global solve with the mass matrix of the whole "
            f"grid; project onto the discontinuous space instead: LagrangeSpace({target.degree}, grid, "
            f"nodes={target.nodes!r}, continuous=False)"
        )
    _index_width(index_dtype)  # before a build that may be large
    if _modal(target) and source.degree == target.degree and _uniform_from_zero(source) and _uniform_from_zero(target):
        n_s, n_t, degree = source.n_t, target.n_t, target.degree
        # Nested grids only: the uniform builders tabulate few overlaps there, but on grids that do not
        # nest the sweep is the faster.
        if _modal(source) and n_t % n_s == 0:
            return _csr(_native.legendre_prolongation_matrix(n_s, n_t, degree, 0, n_t), index_dtype)
        if _modal(source) and n_s % n_t == 0:
            return _csr(_native.legendre_restriction_matrix(n_t, n_s, degree, 0, n_t), index_dtype)
        if _nodal(source) and source.n_t == target.n_t:
            return _csr(_native.transformation_matrix(target.degree, target.n_t, 0, target.n_t), index_dtype)
    return _general(True, source, target, index_dtype)
