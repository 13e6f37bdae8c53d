"""One argument contract for every entry point of zelk_arrays: counts, T, intervals, the transfers' order,
and the messages of the size errors."""

import copy
import math
import pickle

import pytest

np = pytest.importorskip("numpy")
pytest.importorskip("scipy.sparse")

import zelk_arrays as za

LAG, LEG = za.LagrangeSpace, za.LegendreSpace
COEFFICIENTS = np.arange(8.0)

# Every entry point with its counts and T as keywords: the defaults make a valid call.
ENTRIES = {
    "get_lagrange_points": (lambda degree=1, n_t=4, T=1.0: za.get_lagrange_points(degree, n_t, T)),
    "lagrange_prolongation_matrix": (
        lambda nt_coarse=2, nt_fine=4, degree=1: za.lagrange_prolongation_matrix(nt_coarse, nt_fine, degree)
    ),
    "lagrange_to_legendre_basis_transformation": (
        lambda degree=1, n_t=4: za.lagrange_to_legendre_basis_transformation(degree, n_t)
    ),
    "legendre_basis_matrix": (lambda degree=1, n_t=4, T=1.0: za.legendre_basis_matrix(degree, n_t, T, [0.5])),
    "LegendreExpansion": (lambda degree=1, n_t=4, T=1.0: za.LegendreExpansion(degree, n_t, T, COEFFICIENTS)),
    "legendre_prolongation_matrix": (
        lambda nt_coarse=2, nt_fine=4, degree=1: za.legendre_prolongation_matrix(nt_coarse, nt_fine, degree)
    ),
    "legendre_restriction_matrix": (
        lambda nt_coarse=2, nt_fine=4, degree=1: za.legendre_restriction_matrix(
            nt_coarse=nt_coarse, nt_fine=nt_fine, degree=degree
        )
    ),
    "time_quadrature": (lambda n_points=2, n_t=4, T=1.0: za.time_quadrature(n_points, n_t, T)),
    "LagrangeSpace": (lambda degree=1, n_t=4, T=1.0: LAG(degree, n_t, T)),
    "LegendreSpace": (lambda degree=1, n_t=4, T=1.0: LEG(degree, n_t, T)),
    "LegendreSpace.index": (lambda k=1, i=1: LEG(1, 4).index(k, i)),
}


def arguments(entry):
    return ENTRIES[entry].__code__.co_varnames[: ENTRIES[entry].__code__.co_argcount]


COUNTS = [(entry, name) for entry in ENTRIES for name in arguments(entry) if name != "T"]
WITH_T = [entry for entry in ENTRIES if "T" in arguments(entry)]


@pytest.mark.parametrize(
    "value, error, match",
    [
        (True, TypeError, "must be an integer, not 'bool'"),
        (np.True_, TypeError, "must be an integer, not 'bool"),
        (2.0, TypeError, "must be an integer, not 'float'"),
        ("2", TypeError, "must be an integer, not 'str'"),
        (-1, ValueError, "must be (non-negative|at least)"),
        (2**63, OverflowError, r"must be at most 2\*\*63 - 1"),
        (-(2**64), ValueError, "must be (non-negative|at least)"),
    ],
)
@pytest.mark.parametrize("entry, name", COUNTS)
def test_counts(entry, name, value, error, match):
    with pytest.raises(error, match=f"^{name} {match}"):
        ENTRIES[entry](**{name: value})


@pytest.mark.parametrize("entry, name", COUNTS)
def test_numpy_integers_are_counts(entry, name):
    default = ENTRIES[entry].__defaults__[arguments(entry).index(name)]
    assert type(ENTRIES[entry](**{name: np.int64(default)})) is type(ENTRIES[entry]())


# T <= 0, inf and nan were taken by the expansion, the basis matrix and the points, and a subnormal step gave
# all-zero grids; a range of intervals was unpacked as a pair and a set or dict taken as one; the coefficients
# could be made writeable. Each of those cases below failed before.
@pytest.mark.parametrize(
    "T, error, match",
    [
        (0.0, ValueError, "T must be positive and finite"),
        (-1.0, ValueError, "T must be positive and finite"),
        (math.inf, ValueError, "T must be positive and finite"),
        (math.nan, ValueError, "T must be positive and finite"),
        (5e-324, ValueError, "must be a normal double"),
        (math.nextafter(4 * 2.0**-1022, 0), ValueError, "must be a normal double"),  # T / 4 just subnormal
        ("1.0", TypeError, "T must be a real number"),
    ],
)
@pytest.mark.parametrize("entry", WITH_T)
def test_end_time(entry, T, error, match):
    with pytest.raises(error, match=match):
        ENTRIES[entry](T=T)


@pytest.mark.parametrize("entry", WITH_T)
def test_the_smallest_normal_step_is_accepted(entry):
    ENTRIES[entry](T=4 * 2.0**-1022)  # T / n_t (and T / (n_t * degree), degree 1) is 2**-1022


def builders():
    """Every builder that takes intervals, with arguments of n_t = 4 row sub-intervals."""
    return [
        (za.lagrange_prolongation_matrix, (2, 4, 2), {}),
        (za.lagrange_to_legendre_basis_transformation, (2, 4), {}),
        (za.legendre_prolongation_matrix, (2, 4, 1), {}),
        (za.legendre_restriction_matrix, (), {"nt_coarse": 4, "nt_fine": 8, "degree": 1}),
        (za.time_mass_matrix, (LAG(2, 4), LEG(1, 4)), {}),
        (za.time_derivative_matrix, (LEG(2, 4), LAG(1, 4)), {}),
        (za.time_jump_matrix, (LEG(1, 4), LEG(2, 4)), {}),
    ]


@pytest.mark.parametrize(("builder", "args", "kwargs"), builders())
def test_intervals(builder, args, kwargs):
    pair = builder(*args, **kwargs, intervals=(1, 3))
    for same in [range(1, 3), [1, 3], np.array([1, 3]), (np.int32(1), np.int64(3))]:
        piece = builder(*args, **kwargs, intervals=same)
        assert piece.shape == pair.shape and piece.data.tobytes() == pair.data.tobytes()
        assert za.column_range(builder, *args, **kwargs, intervals=same) == za.column_range(
            builder, *args, **kwargs, intervals=(1, 3)
        )
    for wrong, error in [
        ({1, 3}, TypeError),
        ({1: 0, 3: 0}, TypeError),
        ((1.0, 3.0), TypeError),
        ((True, 3), TypeError),
        ((1, 2, 3), TypeError),
        ("13", TypeError),
        (range(0, 4, 2), ValueError),
        (range(3, 1), ValueError),
        ((2, 5), ValueError),
    ]:
        with pytest.raises(error, match="intervals"):
            builder(*args, **kwargs, intervals=wrong)
        with pytest.raises(error, match="intervals"):
            za.column_range(builder, *args, **kwargs, intervals=wrong)


def test_restriction_takes_keywords_only_and_matches_the_prolongation():
    with pytest.raises(TypeError, match="positional"):
        za.legendre_restriction_matrix(4, 2, 1)
    with pytest.raises(TypeError, match="positional"):
        za.column_range(za.legendre_restriction_matrix, 4, 2, 1)
    P = za.legendre_prolongation_matrix(nt_coarse=2, nt_fine=4, degree=1)
    R = za.legendre_restriction_matrix(nt_coarse=2, nt_fine=4, degree=1)
    assert R.shape == P.T.shape == (4, 8)


@pytest.mark.parametrize("copied", [lambda f: f, copy.deepcopy, lambda f: pickle.loads(pickle.dumps(f))])
def test_coefficients_cannot_be_made_writeable(copied):
    f = copied(za.LegendreExpansion(1, 2, 1.0, np.arange(4.0)))
    c = f.coefficients
    for array in (c, c.base):
        with pytest.raises(ValueError, match="WRITEABLE"):
            array.flags.writeable = True
    assert f.coefficients.tolist() == [0.0, 1.0, 2.0, 3.0]


@pytest.mark.parametrize(
    "call, error, match",
    [
        (
            lambda: za.get_lagrange_points(2**31, 2**20, 1.0),
            MemoryError,
            r"^Unable to allocate 16 PiB \(18014398509481992 bytes\) "
            r"for the points of get_lagrange_points\(degree, n_t\)$",
        ),
        (
            lambda: za.time_mass_matrix(LEG(0, 2**40), LEG(0, 2**40)),
            MemoryError,
            r"^Unable to allocate [\d.]+ TiB \(\d+ bytes\) for the matrix of time_mass_matrix\(trial, test\)$",
        ),
        (
            lambda: za.get_lagrange_points(2**62, 4, 1.0),
            OverflowError,
            r"^capacity overflow: the points of get_lagrange_points\(degree, n_t\) does not fit the address space$",
        ),
    ],
)
def test_size_errors_name_the_bytes_and_the_result(call, error, match):
    with pytest.raises(error, match=match):
        call()
