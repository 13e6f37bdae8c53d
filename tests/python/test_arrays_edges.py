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
