"""Size budget: which combinations of size arguments the harness lets through.

A call is let through when its work is small, or when its first allocation is
so large that the allocator refuses it at once (MemoryError or a capacity
overflow fault). Anything in between is real work that only costs time and
memory, so the harness replaces such sizes with small ones.
"""

SMALL_WORK = 2**16  # elements or operations a fuzzed call may do
IMPOSSIBLE = 2**37  # doubles: 1 TiB, far above RAM and the sanitizer's allocation cap
U64 = 2**64


def _fast(first_alloc, work):
    return first_alloc >= IMPOSSIBLE or work <= SMALL_WORK


def _converts(*sizes):
    """True when every size converts to an unsigned 64-bit integer."""
    return all(s is not None and 0 <= s < U64 for s in sizes)


def points_ok(degree, n_t):
    if not _converts(degree, n_t):
        return True
    first = n_t * degree + 1
    return _fast(first, first)


def prolongation_ok(nt_coarse, nt_fine, degree):
    if not _converts(nt_coarse, nt_fine, degree) or 0 in (nt_coarse, nt_fine, degree):
        return True  # a conversion or an argument check fails first
    first = (nt_fine * degree + 1) * (degree + 1)
    return _fast(first, first + degree * degree)


def transformation_ok(degree, n_t):
    if not _converts(degree, n_t):
        return True
    first = n_t * degree + 1
    # the dense inverse is cubic in the degree, the blocks quadratic
    return _fast(first, first + (degree + 1) ** 3 + n_t * (degree + 1) ** 2)


def coefficients_ok(degree, n_t):
    """For both classes: n_t * (degree + 1) coefficients or basis entries."""
    if not _converts(degree, n_t):
        return True
    m = n_t * (degree + 1)
    return _fast(m, m)


def basis_matrix_ok(degree, n_t, rows):
    """zelk_arrays.legendre_basis_matrix: rows * (degree + 1) entries, as much recurrence work."""
    if not _converts(degree, n_t) or n_t == 0:
        return True
    if n_t * (degree + 1) >= 2**60:
        return True  # more columns than doubles fit the address space: capacity overflow
    entries = rows * (degree + 1)
    return _fast(entries, entries)
