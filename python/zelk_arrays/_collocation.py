"""Collocation on the reference interval [0, 1]: integration matrices and their triangular approximations."""

from __future__ import annotations

from typing import TYPE_CHECKING, Final, NamedTuple

import numpy as np

from . import _native
from ._nodes import RULES, _choice, rule_code
from ._results import _owned
from ._validation import _count

if TYPE_CHECKING:
    from ._validation import FloatArray

_KINDS: Final = ("implicit-euler", "explicit-euler", "lu")


class Collocation(NamedTuple):
    """What :func:`collocation_matrices` returns: nodes, weights, Q and S on [0, 1].

    A named tuple: it unpacks as ``nodes, weights, Q, S``, and each field is
    also an attribute.

    See Also
    --------
    collocation_matrices : Builds it for a rule and a number of nodes.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> nodes, weights, Q, S = za.collocation_matrices(2, "gauss")
    >>> weights
    array([0.5, 0.5])
    >>> bool(abs(Q.sum(axis=1) - nodes).max() < 1e-15)  # the l_j sum to 1: rows integrate 1 up to tau_m
    True
    """

    nodes: FloatArray
    """The ``M`` ascending nodes tau_m in [0, 1]."""
    weights: FloatArray
    """The quadrature weights: ``weights @ f(nodes)`` integrates f over [0, 1]."""
    Q: FloatArray
    """``Q[m, j]``: the integral of the Lagrange polynomial l_j over [0, tau_m]."""
    S: FloatArray
    """``S[m, j]``: the integral of l_j over [tau_{m-1}, tau_m], with tau_{-1} = 0."""


def _collocation(n_nodes: object, rule: object) -> Collocation:
    code = rule_code(rule)
    n = _count(n_nodes, "n_nodes", minimum=2 if rule == "lobatto" else 1)
    nodes, weights, q, s = _native.collocation_matrices(n, code)
    return Collocation(
        _owned(nodes, np.float64),
        _owned(weights, np.float64),
        _owned(q, np.float64).reshape(n, n),
        _owned(s, np.float64).reshape(n, n),
    )


def collocation_matrices(n_nodes: int, rule: str) -> Collocation:
    """The collocation matrices of an ``n_nodes``-point rule on [0, 1].

    With tau_m the rule's nodes and l_j their Lagrange polynomials, the
    collocation solution of ``u' = f(t, u)`` on a step from ``t_0`` of
    length ``h`` has the node values ``U = u_0 + h Q F(U)``, and
    ``S = diff(Q)`` gives the same node to node.

    Parameters
    ----------
    n_nodes : int
        Number of nodes M: at least 1, at least 2 for ``"lobatto"``.
    rule : {"gauss", "radau-left", "radau-right", "lobatto"}
        The node family, as for :func:`time_quadrature`.

    Returns
    -------
    Collocation
        A named tuple ``(nodes, weights, Q, S)`` of float64 arrays of shapes
        ``(M,)``, ``(M,)``, ``(M, M)`` and ``(M, M)``: the nodes and weights
        of ``time_quadrature(M, 1, 1.0, rule)``; ``Q[m, j]``, the integral of
        l_j over [0, tau_m]; ``S[m, j]``, over [tau_{m-1}, tau_m] (row 0 is
        Q's row 0). Every value is the double nearest (within 2 ulps) to the
        exact one. Where tau_0 = 0, Q's first row is zero.

    Raises
    ------
    TypeError
        If ``n_nodes`` is not an integer or ``rule`` not a string.
    ValueError
        If ``rule`` is unknown or ``n_nodes`` too small.
    OverflowError
        If ``n_nodes`` is negative or ``M * M`` exceeds the address space.

    See Also
    --------
    q_delta : Lower-triangular approximations of Q for sweeps.
    reference_nodes : The nodes alone, of any family.
    time_quadrature : The same rule on every sub-interval of a grid.

    Notes
    -----
    Q and S take ``O(M**2)`` work each in double-double arithmetic and
    ``16 M**2`` bytes; nodes and weights come from the rule's own solver.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> c = za.collocation_matrices(2, "radau-right")
    >>> c.nodes
    array([0.33333333, 1.        ])
    >>> c.Q * 12
    array([[ 5., -1.],
           [ 9.,  3.]])
    >>> c.S[1] == c.Q[1] - c.Q[0]
    array([ True,  True])
    """
    return _collocation(n_nodes, rule)


def q_delta(n_nodes: int, rule: str, kind: str) -> FloatArray:
    """A lower-triangular approximation Q_delta of Q for spectral deferred corrections.

    A sweep solves ``U^{k+1} = u_0 + h Q_delta F(U^{k+1}) + h (Q - Q_delta) F(U^k)``
    node by node, and its fixed point is the collocation solution.

    Parameters
    ----------
    n_nodes : int
        Number of nodes M, as for :func:`collocation_matrices`.
    rule : {"gauss", "radau-left", "radau-right", "lobatto"}
        The node family.
    kind : {"implicit-euler", "explicit-euler", "lu"}
        ``"implicit-euler"``: ``Q_delta[m, j] = tau_j - tau_{j-1}`` for
        ``j <= m`` (tau_{-1} = 0), the backward Euler steps from node to node;
        ``"explicit-euler"``: ``Q_delta[m, j] = tau_{j+1} - tau_j`` for
        ``j < m``; ``"lu"``: ``U^T`` for ``Q^T = L U`` factorised without
        pivoting (L unit lower triangular), whose sweeps converge fast for
        stiff problems. Where the rule has a node at 0 (``"radau-left"``,
        ``"lobatto"``), Q's first row is zero: the factorisation is of the
        rest, and Q_delta's first row and column stay zero.

    Returns
    -------
    numpy.ndarray
        float64, shape ``(M, M)``, lower triangular.

    Raises
    ------
    TypeError
        If ``n_nodes`` is not an integer or ``rule`` or ``kind`` not a string.
    ValueError
        If ``rule`` or ``kind`` is unknown, or ``n_nodes`` too small.

    See Also
    --------
    collocation_matrices : Q, S and the nodes and weights of the rule.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> za.q_delta(2, "radau-right", "implicit-euler") * 3
    array([[1., 0.],
           [1., 2.]])
    >>> za.q_delta(2, "radau-right", "lu") * 12
    array([[5. , 0. ],
           [9. , 4.8]])
    """
    _choice(rule, "rule", tuple(RULES))
    kind = _choice(kind, "kind", _KINDS)
    colloc = _collocation(n_nodes, rule)
    tau = colloc.nodes
    n = tau.size
    if kind == "implicit-euler":
        steps = np.diff(tau, prepend=0.0)
        return np.tril(np.broadcast_to(steps, (n, n)))
    if kind == "explicit-euler":
        steps = np.diff(tau)
        out = np.zeros((n, n))
        for m in range(1, n):
            out[m, :m] = steps[:m]
        return out
    skip = 1 if tau[0] == 0.0 else 0
    out = np.zeros((n, n))
    out[skip:, skip:] = _upper_factor(colloc.Q[skip:, skip:].T).T
    return out


def _upper_factor(a: FloatArray) -> FloatArray:
    """U of ``a = L U`` without pivoting, L unit lower triangular (Doolittle)."""
    u = np.array(a, dtype=np.float64)
    n = u.shape[0]
    for i in range(n - 1):
        # The rules' leading minors of Q^T are non-zero, so no pivot vanishes.
        factors = u[i + 1 :, i] / u[i, i]
        u[i + 1 :, i:] -= factors[:, None] * u[i, i:]
    return np.triu(u)
