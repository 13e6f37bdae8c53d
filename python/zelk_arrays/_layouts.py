"""The Legendre spaces' layouts: polynomial-major (i * n_t + k) and interval-major (k * (degree + 1) + i)."""

from __future__ import annotations

from typing import Final

POLYNOMIAL_MAJOR: Final = "polynomial-major"
INTERVAL_MAJOR: Final = "interval-major"
LAYOUTS: Final = (POLYNOMIAL_MAJOR, INTERVAL_MAJOR)
