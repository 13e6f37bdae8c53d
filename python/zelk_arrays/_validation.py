"""Argument checks and conversions shared by every entry point of the package."""

from __future__ import annotations

import operator
from typing import Final

import numpy as np
import numpy.typing as npt

FloatArray = npt.NDArray[np.float64]

_COUNT_LIMIT: Final = 2**64


def _count(value: object, name: str, minimum: int = 0) -> int:
    """An unsigned 64-bit count, checked in the order type, sign, range, minimum."""
    try:
        count = operator.index(value)  # type: ignore[arg-type]
    except TypeError as error:
        # A failing __index__ of the argument's own type is kept as the cause.
        cause = error if hasattr(type(value), "__index__") else None
        raise TypeError(f"{name} must be an integer, not {type(value).__name__!r}") from cause
    if count < 0:
        raise OverflowError(f"{name} must be non-negative, got {count}")
    if count >= _COUNT_LIMIT:
        raise OverflowError(f"{name} must be below 2**64, got {count}")
    if count < minimum:
        raise ValueError(f"{name} must be at least {minimum}, got {count}")
    return count


def _real(value: object, name: str) -> float:
    if not isinstance(value, (str, bytes, bytearray)):
        try:
            return float(value)  # type: ignore[arg-type]
        except TypeError:
            pass
        except (OverflowError, ValueError) as error:  # 10**400, Decimal('sNaN')
            kind = OverflowError if isinstance(error, OverflowError) else ValueError
            raise kind(f"{name}: {error}") from error
    raise TypeError(f"{name} must be a real number, not {type(value).__name__!r}")


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
