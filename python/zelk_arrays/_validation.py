"""The argument contract of every entry point of the package, in one place.

- counts: integers (bool is not one); ValueError below their minimum (so
  for a negative count), OverflowError beyond the int64 range;
- T: a real number, positive and finite, whose grid step is a normal double;
- ``intervals``: a pair of integers or a ``range`` of step 1.
"""

from __future__ import annotations

import math
import operator
from fractions import Fraction
from typing import Any, Final

import numpy as np
import numpy.typing as npt

FloatArray = npt.NDArray[np.float64]

COUNT_MAX: Final = 2**63 - 1
# The smallest normal double: a step below it has lost bits of its relative precision, or is 0.
_SMALLEST_STEP: Final = Fraction(2) ** -1022
_SMALLEST_NORMAL: Final = 2.0**-1022


def _index(value: object, name: str) -> int:
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__!r}")
    try:
        return operator.index(value)  # type: ignore[arg-type]  # any object; index() raises for the wrong ones
    except TypeError as error:
        # A failing __index__ of the argument's own type is kept as the cause.
        cause = error if hasattr(type(value), "__index__") else None
        raise TypeError(f"{name} must be an integer, not {type(value).__name__!r}") from cause


def _count(value: object, name: str, minimum: int = 0) -> int:
    """A count in [minimum, 2**63 - 1], checked in the order type, minimum (sign), range."""
    count = _index(value, name)
    if count < minimum:
        raise ValueError(f"{name} must be {'non-negative' if minimum == 0 else f'at least {minimum}'}, got {count}")
    if count > COUNT_MAX:
        raise OverflowError(f"{name} must be at most 2**63 - 1, got {count}")
    return count


def _real(value: object, name: str) -> float:
    if not isinstance(value, (str, bytes, bytearray)):
        try:
            return float(value)  # type: ignore[arg-type]  # any object; float() raises for the wrong ones
        except TypeError:
            pass
        except (OverflowError, ValueError) as error:  # 10**400, Decimal('sNaN')
            kind = OverflowError if isinstance(error, OverflowError) else ValueError
            raise kind(f"{name}: {error}") from error
    raise TypeError(f"{name} must be a real number, not {type(value).__name__!r}")


def _end_time(value: object, *divisors: int) -> float:
    """T, positive and finite, with T / (product of the nonzero divisors) a normal double.

    The divisors are the number of grid steps, n_t (times the degree for
    the Lagrange points); a step below 2**-1022 underflows or loses bits.
    """
    T = _real(value, "T")
    if not (math.isfinite(T) and T > 0.0):
        raise ValueError(f"T must be positive and finite, got {T!r}")
    steps = math.prod(d for d in divisors if d > 0)
    # Rounding is monotone, so a rounded quotient above the bound means an exact one at least at it; only
    # the rest (and steps that a double does not hold exactly) need exact arithmetic.
    if steps <= 2**53 and T / steps > _SMALLEST_NORMAL:
        return T
    if Fraction(T) < _SMALLEST_STEP * steps:
        raise ValueError(f"T / {steps} must be a normal double (at least 2**-1022), got T = {T!r}")
    return T


def _intervals(intervals: object, n_t: int) -> tuple[int, int]:
    """``intervals`` as (k_begin, k_end) with 0 <= k_begin <= k_end <= n_t; None means all."""
    if intervals is None:
        return 0, n_t
    ends: Any
    if isinstance(intervals, range):
        if intervals.step != 1:
            raise ValueError(f"intervals as a range must have step 1, got {intervals!r}")
        ends = (intervals.start, intervals.stop)
    elif isinstance(intervals, (tuple, list)) or (isinstance(intervals, np.ndarray) and intervals.ndim == 1):
        ends = intervals
    else:
        ends = ()
    if len(ends) != 2:
        raise TypeError(f"intervals must be a pair (k_begin, k_end) or a range of step 1, got {intervals!r}")
    k_begin = _index(ends[0], "intervals' k_begin")
    k_end = _index(ends[1], "intervals' k_end")
    if not 0 <= k_begin <= k_end <= n_t:
        raise ValueError(f"intervals must satisfy 0 <= k_begin <= k_end <= {n_t}, got ({k_begin}, {k_end})")
    return k_begin, k_end


INT32_MAX: Final = 2**31 - 1


def _index_width(index_dtype: object) -> int:
    """``index_dtype`` as the native modules take it: 0 for scipy's choice, else 4 or 8 bytes."""
    if index_dtype is None:
        return 0
    try:
        dtype = np.dtype(index_dtype)  # type: ignore[call-overload]
    except TypeError:
        raise TypeError(f"index_dtype must be numpy.int32, numpy.int64 or None, not {index_dtype!r}") from None
    if dtype == np.int32:
        return 4
    if dtype == np.int64:
        return 8
    raise ValueError(f"index_dtype must be numpy.int32, numpy.int64 or None, got {dtype}")


def _flag(value: object, name: str) -> bool:
    """A bool or numpy bool, as numpy's own flags take it; anything else is a TypeError."""
    if isinstance(value, (bool, np.bool_)):
        return bool(value)
    raise TypeError(f"{name} must be a bool, not {type(value).__name__!r}")


def _unmasked(values: object, name: str) -> object:
    if isinstance(values, np.ma.MaskedArray):
        raise TypeError(f"{name} must not be a masked array: fill or compress it first")
    return values


def _float_array(values: object, name: str) -> FloatArray:
    """values as a C-contiguous float64 array of the same shape (a view if it already is one)."""
    if isinstance(values, (str, bytes, bytearray)):
        raise TypeError(f"{name} must be real numbers, not {type(values).__name__!r}")
    array = np.asarray(values)
    kind = array.dtype.kind
    if kind == "O":
        # Item by item as float() converts: astype would turn None into nan.
        try:
            flat = [_real(item, name) for item in array.flat]
        except TypeError:
            raise TypeError(f"{name} must be real numbers") from None
        array = np.array(flat, dtype=np.float64).reshape(array.shape)
    elif kind not in "biuf":
        raise TypeError(f"{name} must be real numbers, not an array of {array.dtype}")
    # ascontiguousarray turns 0-d into 1-d, so keep the shape to restore it.
    return np.ascontiguousarray(array, dtype=np.float64).reshape(array.shape)


def _times(values: object) -> FloatArray:
    """``times`` as a one-dimensional float64 array; a single number is one time."""
    array = _float_array(_unmasked(values, "times"), "times")
    if array.ndim == 0:
        array = array.reshape(1)
    if array.ndim != 1:
        raise ValueError(f"times must be a number or one-dimensional, got {array.ndim} dimensions")
    return array
