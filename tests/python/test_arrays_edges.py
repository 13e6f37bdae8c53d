"""zelk_arrays at the edges: copies and pickles, flags, argument errors, oversized requests and NaN results."""

import copy
import math
import pickle
from decimal import Decimal

import numpy as np
import pytest

import zelk
import zelk_arrays as za


@pytest.mark.parametrize(
    "duplicate",
    [copy.copy, copy.deepcopy] + [lambda f, p=p: pickle.loads(pickle.dumps(f, protocol=p)) for p in range(6)],
    ids=["copy", "deepcopy"] + [f"pickle{p}" for p in range(6)],
)
def test_copies_keep_coefficients_read_only(duplicate):
    f = za.LegendreExpansion(1, 2, 1.0, np.arange(8.0).reshape(4, 2))
    g = duplicate(f)
    assert g.coefficients.flags.writeable is False and g.coefficients.shape == (4, 2)
    with pytest.raises(ValueError):
        g.coefficients[0] = 5.0
    assert (g.degree, g.n_t, g.T) == (1, 2, 1.0) and g(0.3).tolist() == f(0.3).tolist()


class RaisingIndex:
    def __index__(self):
        raise TypeError("the index's own message")


@pytest.mark.parametrize(
    ("call", "error", "match"),
    [
        (lambda: za.legendre_basis_matrix(1, 1, 1.0, [0.5], derivative="False"), TypeError, "derivative must be a"),
        (lambda: za.legendre_basis_matrix(1, 1, 1.0, [0.5], derivative=1), TypeError, "derivative must be a"),
        (lambda: za.LegendreExpansion(0, 1, 1.0, [1.0])([10**400]), OverflowError, "^times: "),
        (lambda: za.LegendreExpansion(0, 1, 1.0, [1.0])(Decimal("sNaN")), ValueError, "^times: "),
        (lambda: za.get_lagrange_points(1, 1, 10**400), OverflowError, "^T: "),
        (lambda: za.legendre_basis_matrix(1, 1, 1.0, np.ma.masked_array([0.5])), TypeError, "times must not be a"),
        (lambda: za.LegendreExpansion(0, 1, 1.0, np.ma.masked_array([1.0])), TypeError, "coefficients must not"),
        (lambda: za.LegendreExpansion(0, 1, 1.0, 1.0), ValueError, "at least one dimension"),
        # Indices beyond int64 name the size; a size within them that memory cannot hold is a MemoryError.
        (lambda: za.lagrange_prolongation_matrix(2**62, 1, 2), OverflowError, "9223372036854775809 columns"),
        (lambda: za.lagrange_to_legendre_basis_transformation(2**20, 2**20), MemoryError, "^Unable to allocate"),
    ],
)
def test_argument_errors(call, error, match):
    with pytest.raises(error, match=match):
        call()


def test_a_failing_index_is_kept_as_the_cause():
    with pytest.raises(TypeError, match="degree must be an integer") as raised:
        za.get_lagrange_points(RaisingIndex(), 1, 1.0)
    assert str(raised.value.__cause__) == "the index's own message"


def test_same_oversized_transformation_is_a_memory_error_in_zelk_too():
    with pytest.raises(MemoryError):
        zelk.lagrange_to_legendre_basis_transformation(2**20, 2**20)


def test_bool_flags_and_a_single_time():
    one = za.legendre_basis_matrix(2, 2, 1.0, 0.3, derivative=np.True_)
    many = za.legendre_basis_matrix(2, 2, 1.0, [0.3], derivative=True)
    assert one.shape == (1, 6) and one.toarray().tolist() == many.toarray().tolist()
    assert one.toarray().tolist() == [zelk.LegendreBasis(2, 2, 1.0).evaluate_all_basis_function_derivatives(0.3)]


@pytest.mark.parametrize("count", [1, 100])
def test_nan_coefficients_give_nan_in_both_packages(count):
    # Only the NaN-ness is promised, not its sign or payload.
    coefficients = [math.nan, math.inf]
    evaluator = zelk.LegendreBasisEvaluator(1, 1, 1.0)
    evaluator.set_dofs(coefficients)
    f = za.LegendreExpansion(1, 1, 1.0, coefficients)
    times = np.full(count, 0.5)
    assert math.isnan(evaluator.evaluate_at(0.5)) and math.isnan(evaluator.evaluate_derivative_at(0.5))
    assert np.isnan(f(times)).all() and np.isnan(f.derivative(times)).all()


@pytest.mark.parametrize("T", [1e308, 1.7976931348623157e308, 9e307])
@pytest.mark.parametrize("n_t", [1, 7, 1000])
def test_huge_end_times_locate_correctly(T, n_t):
    # Near T the midpoint of the last sub-interval overflows in zelk's steps;
    # zelk_arrays takes it from halves: x = 1 at T, about 0 half a step before
    # (within the rounding of t and of the ends, relative to T and so growing
    # with n_t: at the largest T the computed right end lies beyond T).
    coefficients = np.r_[np.zeros(n_t), np.ones(n_t)]  # the expansion is x
    times = np.array([T, T - T / n_t / 2])
    one = za.LegendreExpansion(1, n_t, T, coefficients)(times)
    two = za.LegendreExpansion(1, n_t, T, np.c_[coefficients, coefficients])(times)
    basis = za.legendre_basis_matrix(1, n_t, T, times).toarray()[:, n_t:].sum(axis=1)
    for x in (one, two[:, 0], two[:, 1], basis):
        tolerance = 1e-14 + 1e-15 * n_t
        assert abs(x[0] - 1.0) < tolerance and abs(x[1]) < tolerance, x
