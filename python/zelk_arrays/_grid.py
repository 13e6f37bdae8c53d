"""TimeGrid: the points t_0 < t_1 < ... < t_n of a time grid, uniform or not, with any start."""

from __future__ import annotations

import math
from typing import TYPE_CHECKING, Any

import numpy as np

from . import _native
from ._results import _owned
from ._validation import _count, _float_array, _real

if TYPE_CHECKING:
    from ._validation import FloatArray


def _read_only(array: FloatArray) -> FloatArray:
    array.flags.writeable = False
    return array


class TimeGrid:
    """The points ``t_0 < t_1 < ... < t_n`` of a time grid, with ``n_t = n`` sub-intervals.

    A grid is immutable and compares, hashes and pickles by its points.
    :meth:`uniform` makes equal sub-intervals; a uniform grid that starts at 0
    has exactly the points of ``get_lagrange_points(1, n_t, T)``, so the
    spaces and operators built on it give the same numbers as their
    ``(n_t, T)`` forms.

    Parameters
    ----------
    points : array_like
        At least two strictly increasing, finite real numbers.

    Raises
    ------
    TypeError
        If ``points`` are not real numbers.
    ValueError
        If ``points`` is not one-dimensional, has fewer than two points, a
        point is not finite or not above its predecessor, or a step
        overflows; the message names the first bad index.

    See Also
    --------
    LagrangeSpace, LegendreSpace : Spaces on a grid.
    time_quadrature : A rule on every sub-interval of a grid.

    Notes
    -----
    A grid holds its points and steps, 16 bytes per sub-interval; spaces and
    operators built on it share them and store nothing per degree of freedom.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> grid = za.TimeGrid([0.5, 0.75, 1.0, 2.0])
    >>> grid.n_t, grid.start, grid.end
    (3, 0.5, 2.0)
    >>> grid.steps
    array([0.25, 0.25, 1.  ])
    >>> za.TimeGrid.uniform(4, 1.0).points
    array([0.  , 0.25, 0.5 , 0.75, 1.  ])
    """

    __slots__ = ("_hash", "_points", "_steps", "_uniform")

    def __init__(self, points: object) -> None:
        array = np.array(_float_array(points, "points"), dtype=np.float64, copy=True)
        if array.ndim != 1:
            raise ValueError(f"points must be one-dimensional, got shape {array.shape}")
        if array.size < 2:
            raise ValueError(f"a grid needs at least two points, got {array.size}")
        bad = ~np.isfinite(array)
        bad[1:] |= ~(array[1:] > array[:-1])
        if bad.any():
            index = int(np.argmax(bad))
            value = float(array[index])
            if not math.isfinite(value):
                raise ValueError(f"points[{index}] must be finite, got {value!r}")
            raise ValueError(
                f"points must be strictly increasing: points[{index}] = {value!r} "
                f"is not above points[{index - 1}] = {float(array[index - 1])!r}"
            )
        with np.errstate(over="ignore"):  # an overflowing step is reported below
            steps = np.diff(array)
        if not np.isfinite(steps).all():
            index = int(np.argmin(np.isfinite(steps))) + 1
            raise ValueError(f"points[{index}] - points[{index - 1}] overflows: the steps must be finite")
        array += 0.0  # -0.0 becomes 0.0, so equal grids have equal bits
        self._points = _read_only(array)
        self._steps: FloatArray | None = None
        self._hash: int | None = None
        # Whether the uniform builders' own points: then the (n_t, T) code paths serve this grid.
        self._uniform = bool(array[0] == 0.0) and bool(
            np.array_equal(array, _native_uniform(array.size - 1, float(array[-1])))
        )

    @classmethod
    def uniform(cls, n_t: int, T: float, start: float = 0.0) -> TimeGrid:
        """``n_t`` equal sub-intervals of [start, T].

        The points are ``start + k (T - start) / n_t`` with the last one ``T``
        itself; for ``start = 0`` exactly those of
        ``get_lagrange_points(1, n_t, T)``.

        Raises
        ------
        TypeError
            If ``n_t`` is not an integer or ``T`` or ``start`` not a real number.
        ValueError
            If ``n_t`` < 1, ``T`` or ``start`` is not finite, or the points are
            not strictly increasing (``T <= start``, or steps too small to
            tell apart in double precision).
        OverflowError
            If ``n_t`` is negative or 2**64 or more.

        Examples
        --------
        >>> import zelk_arrays as za
        >>> za.TimeGrid.uniform(2, 3.0, start=1.0)
        TimeGrid([1.0, 2.0, 3.0])
        """
        n_t = _count(n_t, "n_t", minimum=1)
        end = _real(T, "T")
        first = _real(start, "start")
        for name, value in (("start", first), ("T", end)):
            if not math.isfinite(value):
                raise ValueError(f"{name} must be finite, got {value!r}")
        if not end > first:
            raise ValueError(f"T must be above start, got T={end!r} and start={first!r}")
        if first == 0.0:
            return cls(_native_uniform(n_t, end))
        step = (end - first) / n_t
        points = first + step * np.arange(n_t + 1, dtype=np.float64)
        points[-1] = end
        return cls(points)

    @property
    def points(self) -> FloatArray:
        """The ``n_t + 1`` points, a read-only float64 array."""
        return self._points

    @property
    def n_t(self) -> int:
        """Number of sub-intervals."""
        return self._points.size - 1

    @property
    def start(self) -> float:
        """The first point t_0."""
        return float(self._points[0])

    @property
    def end(self) -> float:
        """The last point t_n."""
        return float(self._points[-1])

    @property
    def steps(self) -> FloatArray:
        """The ``n_t`` lengths ``t_{k+1} - t_k`` (each rounded once), a read-only float64 array."""
        if self._steps is None:
            self._steps = _read_only(np.diff(self._points))
        return self._steps

    def __repr__(self) -> str:
        if self._points.size <= 6:
            return f"TimeGrid({[float(t) for t in self._points]!r})"
        if self._uniform:
            return f"TimeGrid.uniform(n_t={self.n_t}, T={self.end!r})"
        return f"<TimeGrid of {self.n_t} sub-intervals of [{self.start!r}, {self.end!r}]>"

    def __eq__(self, other: object) -> bool:
        if type(other) is not TimeGrid:
            return NotImplemented
        assert isinstance(other, TimeGrid)
        return self is other or bool(np.array_equal(self._points, other._points))

    def __hash__(self) -> int:
        if self._hash is None:  # once: the spaces on a grid hash it too
            self._hash = hash(self._points.tobytes())
        return self._hash

    def __reduce__(self) -> tuple[Any, ...]:
        return TimeGrid, (self._points,)


def _native_uniform(n_t: int, T: float) -> FloatArray:
    return _owned(_native.lagrange_points(1, n_t, T), np.float64)


def checked_grid(grid: object, name: str = "grid") -> TimeGrid:
    if not isinstance(grid, TimeGrid):
        raise TypeError(f"{name} must be a TimeGrid, not {type(grid).__name__!r}")
    return grid


def is_uniform_from_zero(grid: TimeGrid) -> bool:
    """Whether the grid's points are those of the uniform ``(n_t, T)`` builders."""
    return grid._uniform  # noqa: SLF001 - the package's own flag
