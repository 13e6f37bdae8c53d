"""Randomized exact-rational check of the time operators and the modal transfers, degrees up to 12.

References: an entry of the mass matrix is the correctly rounded value of
h times the exact reference integrals it sums, for the double h = T / n_t
(``float(Fraction)`` rounds correctly); derivative and jump entries are their
exact values correctly rounded; transfer entries lie within 2 ulps of the
exact overlap integrals. Exact zeros are never stored.
"""

import functools
import math
import random
from fractions import Fraction

import pytest

np = pytest.importorskip("numpy")

from test_time_operators import exact_matrix, legendre, multiply

import zelk_arrays as za

SPACES = {"lagrange": (za.LagrangeSpace, 1), "legendre": (za.LegendreSpace, 0)}
BUILDERS = {"mass": za.time_mass_matrix, "derivative": za.time_derivative_matrix, "jump": za.time_jump_matrix}


def stored(matrix):
    rows = np.repeat(np.arange(matrix.shape[0]), np.diff(matrix.indptr))
    return dict(zip(zip(rows.tolist(), matrix.indices.tolist()), matrix.data.tolist()))


def check_entries(got, exact, ulps=0):
    for key, value in got.items():
        assert exact.get(key, 0) != 0, ("stored zero", key, value)
    for key, x in exact.items():
        if x == 0:
            continue
        assert key in got, ("missing", key)
        if ulps == 0:
            assert got[key] == float(x), (key, got[key].hex(), float(x).hex())
        else:
            assert abs(Fraction(got[key]) - x) <= ulps * Fraction(math.ulp(float(x))), (key, got[key], x)


@pytest.mark.parametrize("kind", BUILDERS)
@pytest.mark.parametrize("trial_kind", SPACES)
@pytest.mark.parametrize("test_kind", SPACES)
def test_operators_are_correctly_rounded_exact_values(kind, trial_kind, test_kind):
    rng = random.Random(f"{kind} {trial_kind} {test_kind}")
    for _ in range(6):
        n_t = rng.randint(1, 3)
        T = rng.choice([rng.uniform(0.1, 10.0), 7.0, 1e300 * rng.random()])
        (trial_space, trial_min), (test_space, test_min) = SPACES[trial_kind], SPACES[test_kind]
        trial = trial_space(rng.randint(trial_min, 12), n_t, T)
        test = test_space(rng.randint(test_min, 12), n_t, T)
        exact = exact_matrix(kind, trial, test)
        if kind == "mass":  # the exact integrals times the double h
            scale = Fraction(T / n_t) / (Fraction(T) / n_t)
            exact = {key: x * scale for key, x in exact.items()}
        check_entries(stored(BUILDERS[kind](trial, test)), exact)


@functools.cache
def legendre_poly(n):
    return tuple(legendre(n)[n])


@functools.cache
def shifted_legendre(j, a, b):
    """P_j(a + b x) as coefficients in x."""
    out = [Fraction(0)]
    for power, c in enumerate(legendre_poly(j)):
        term = [c]
        for _ in range(power):
            term = multiply(term, [a, b])
        out = [u + v for u, v in zip(out + [0] * len(term), term + [0] * len(out))]
    return tuple(out)


@functools.cache
def moments(i, x0, x1):
    """Integrals of x^m P_i(x) over [x0, x1], m = 0 ... 28."""
    p = legendre_poly(i)
    return tuple(
        sum(c * (x1 ** (m + n + 1) - x0 ** (m + n + 1)) / (m + n + 1) for n, c in enumerate(p)) for m in range(29)
    )


def overlap(i, j, nt_coarse, nt_fine, k, K):
    """Integral of P_i(x_fine) P_j(x_coarse) dx_fine over fine k and coarse K's overlap."""
    lo = max(Fraction(k, nt_fine), Fraction(K, nt_coarse))
    hi = min(Fraction(k + 1, nt_fine), Fraction(K + 1, nt_coarse))
    if hi <= lo:
        return Fraction(0)
    b = Fraction(nt_coarse, nt_fine)
    a = Fraction(2 * k + 1, nt_fine) * nt_coarse - 2 * K - 1
    x0, x1 = 2 * lo * nt_fine - 2 * k - 1, 2 * hi * nt_fine - 2 * k - 1
    return sum(c * m for c, m in zip(shifted_legendre(j, a, b), moments(i, x0, x1)))


def exact_transfers(nt_coarse, nt_fine, degree):
    prolongation, restriction = {}, {}
    for i in range(degree + 1):
        for j in range(degree + 1):
            for k in range(nt_fine):
                for K in range(nt_coarse):
                    J = overlap(i, j, nt_coarse, nt_fine, k, K)
                    prolongation[i * nt_fine + k, j * nt_coarse + K] = Fraction(2 * i + 1, 2) * J
                    restriction[j * nt_coarse + K, i * nt_fine + k] = (
                        Fraction(2 * j + 1, 2) * Fraction(nt_coarse, nt_fine) * J
                    )
    return prolongation, restriction


@pytest.mark.parametrize("seed", range(4))
def test_transfers_within_two_ulps(seed):
    rng = random.Random(seed)
    for _ in range(3):
        nt_coarse, nt_fine, degree = rng.randint(1, 4), rng.randint(1, 5), rng.randint(0, 12)
        prolongation, restriction = exact_transfers(nt_coarse, nt_fine, degree)
        check_entries(stored(za.legendre_prolongation_matrix(nt_coarse, nt_fine, degree)), prolongation, ulps=2)
        check_entries(
            stored(za.legendre_restriction_matrix(nt_coarse=nt_coarse, nt_fine=nt_fine, degree=degree)),
            restriction,
            ulps=2,
        )


@pytest.mark.parametrize("nt_coarse, nt_fine, k", [(1, 16, 15), (3, 5, 2)])
def test_high_degree_transfers_keep_small_entries_within_two_ulps(nt_coarse, nt_fine, k):
    # Degree 28 on fine sub-interval k: entries down to (nt_coarse / nt_fine)**28,
    # powers of two among them, which must come out exact.
    degree = 28
    prolongation = stored(za.legendre_prolongation_matrix(nt_coarse, nt_fine, degree, intervals=(k, k + 1)))
    restriction = stored(za.legendre_restriction_matrix(nt_coarse=nt_coarse, nt_fine=nt_fine, degree=degree))
    exact_rows, exact_columns = {}, {}
    for i in range(degree + 1):
        for j in range(degree + 1):
            for K in range(nt_coarse):
                J = overlap(i, j, nt_coarse, nt_fine, k, K)
                exact_rows[i, j * nt_coarse + K] = Fraction(2 * i + 1, 2) * J
                exact_columns[j * nt_coarse + K, i * nt_fine + k] = (
                    Fraction(2 * j + 1, 2) * Fraction(nt_coarse, nt_fine) * J
                )
    check_entries(prolongation, exact_rows, ulps=2)
    check_entries({key: x for key, x in restriction.items() if key[1] % nt_fine == k}, exact_columns, ulps=2)


@pytest.mark.parametrize("degree, T", [(200, 7.0), (1000, 0.3e300)])
def test_high_degree_legendre_operators_are_the_exact_integrals(degree, T):
    """Mass h / (2i + 1) on the diagonal, derivative 2 where j > i with j - i odd, correctly rounded."""
    space = za.LegendreSpace(degree, 2, T)
    h = Fraction(T / 2)
    mass = {(i * 2 + k, i * 2 + k): h / (2 * i + 1) for i in range(degree + 1) for k in range(2)}
    check_entries(stored(za.time_mass_matrix(space, space)), mass)
    i, j = np.indices((degree + 1, degree + 1))
    local = np.where((j > i) & ((j - i) % 2 == 1), 2.0, 0.0)
    derivative = za.time_derivative_matrix(space, space)
    np.testing.assert_array_equal(derivative.toarray(), np.kron(local, np.eye(2)))
    assert derivative.nnz == 2 * np.count_nonzero(local)


@pytest.mark.parametrize("kind", ["mass", "derivative"])
def test_mixed_pairings_beyond_degree_twelve(kind):
    for trial, test in [
        (za.LagrangeSpace(15, 1, 3.0), za.LegendreSpace(13, 1, 3.0)),
        (za.LegendreSpace(14, 1, 3.0), za.LagrangeSpace(16, 1, 3.0)),
    ]:
        check_entries(stored(BUILDERS[kind](trial, test)), exact_matrix(kind, trial, test))  # h = 3 is exact
