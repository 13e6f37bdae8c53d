"""LegendreBasis and LegendreBasisEvaluator: values, derivatives, layout, holds and numpy cross-checks."""

import math

import numpy as np
import pytest
from numpy.polynomial import legendre as npleg

import zelk

LB = zelk.LegendreBasis
LBE = zelk.LegendreBasisEvaluator
BELOW_ONE = math.nextafter(1.0, 0.0)


def test_all_basis_functions_layout():
    assert LB(2, 2, 1.0).evaluate_all_basis_functions(0.25) == [1.0, 0.0, 0.0, 0.0, -0.5, 0.0]
    # degree 1 on two sub-intervals: P_1 sits at k + 1 * n_t, scaled by 2 / h = 4.
    assert LB(1, 2, 1.0).evaluate_all_basis_function_derivatives(0.75) == [0.0, 0.0, 0.0, 4.0]
    assert LB(1, 2, 1.0).evaluate_all_basis_function_derivatives(0.25) == [0.0, 0.0, 4.0, 0.0]
    assert LB(0, 3, 1.0).evaluate_all_basis_functions(0.5) == [0.0, 1.0, 0.0]


def test_evaluate_at_reads_the_coefficient_layout():
    basis = LB(1, 2, 1.0)
    assert basis.evaluate_at(0.75, [1.0, 2.0, 3.0, 4.0]) == 2.0
    assert basis.evaluate_at(0.75, [1.0, 2.0, 3.0, 4.0, 99.0, 100.0]) == 2.0  # extra values are ignored
    assert basis.evaluate_at(0.75, (1, 2, 3, 4)) == 2.0


def test_evaluate_at_short_buffer(panic_type):
    with pytest.raises(panic_type, match=r"^Matrix view: input data buffer too small\.$"):
        LB(1, 2, 1.0).evaluate_at(0.75, [1.0, 2.0, 3.0])


@pytest.mark.parametrize(
    "t, expected",
    [
        (-1.0, 1.0 - 2.0),
        (-math.inf, 1.0 - 2.0),
        (0.0, 1.0 - 2.0),
        (1.0, 3.0 + 4.0),
        (7.0, 3.0 + 4.0),
        (math.inf, 3.0 + 4.0),
    ],
)
def test_times_outside_are_clamped_to_the_ends(t, expected):
    # a(0, i) = (1, 2), a(1, i) = (3, 4) in the layout [a00, a10, a01, a11]
    assert LB(1, 2, 1.0).evaluate_at(t, [1.0, 3.0, 2.0, 4.0]) == expected


def test_nan_time_and_zero_T():
    assert math.isnan(LB(1, 2, 1.0).evaluate_at(math.nan, [1.0, 3.0, 2.0, 4.0]))
    values = LB(1, 2, 0.0).evaluate_all_basis_functions(0.0)
    assert values[0] == 1.0 and math.isnan(values[2])
    assert LB(1, 2, 0.0).evaluate_at(1.0, [1.0, 3.0, 2.0, 4.0]) == 7.0


def test_evaluator_starts_at_zero_and_stores_dofs():
    evaluator = LBE(1, 2, 1.0)
    for t in (-1.0, 0.0, 0.3, 1.0, 5.0):
        assert evaluator.evaluate_at(t) == 0.0
        assert evaluator.evaluate_derivative_at(t) == 0.0
    assert evaluator.set_dofs([1.0, 2.0, 3.0, 4.0]) is None
    assert evaluator.evaluate_at(0.75) == 2.0
    assert evaluator.evaluate_derivative_at(0.75) == 16.0
    grouped = LBE(0, 3, 3.0)
    grouped.set_dofs([5, 6, 7])
    assert [grouped.evaluate_at(t) for t in (0.5, 1.5, 2.5)] == [5.0, 6.0, 7.0]


@pytest.mark.parametrize("values", [[1.0, 2.0, 3.0], [1.0, 2.0, 3.0, 4.0, 5.0], []])
def test_set_dofs_wrong_length_keeps_the_old_values(panic_type, values):
    evaluator = LBE(1, 2, 1.0)
    evaluator.set_dofs([1.0, 2.0, 3.0, 4.0])
    with pytest.raises(panic_type) as caught:
        evaluator.set_dofs(values)
    assert str(caught.value) == (
        "assertion `left == right` failed: LegendreBasisEvaluator: set_dofs: input vector has wrong length\n"
        f"  left: {len(values)}\n"
        " right: 4"
    )
    assert evaluator.evaluate_at(0.75) == 2.0
    evaluator.set_dofs([0.0, 1.0, 0.0, 0.0])
    assert evaluator.evaluate_at(0.75) == 1.0


class TestEndDerivatives:
    """Derivatives at and next to the sub-interval ends are the true ones."""

    def test_quadratic_end_values(self):
        evaluator = LBE(2, 1, 1.0)
        evaluator.set_dofs([0, 0, 1])  # P_2 on [0, 1]: d/dt P_2(2t - 1) = 2 * 3x
        assert evaluator.evaluate_derivative_at(1.0) == 6.0
        assert evaluator.evaluate_derivative_at(0.0) == -6.0
        assert evaluator.evaluate_derivative_at(7.0) == 6.0
        assert abs(evaluator.evaluate_derivative_at(BELOW_ONE) - 6.0) < 1e-9

    def test_all_derivatives_at_the_end(self):
        values = LB(3, 1, 2.0).evaluate_all_basis_function_derivatives(2.0)
        # P_i'(1) = i (i + 1) / 2, times 2 / h = 1
        assert values == [0.0, 1.0, 3.0, 6.0]

    @pytest.mark.parametrize("degree", [2, 3, 5, 8])
    def test_at_inner_nodes(self, degree):
        n_t, T = 4, 1.0
        rng = np.random.default_rng(degree)
        coefficients = rng.standard_normal(n_t * (degree + 1))
        evaluator = LBE(degree, n_t, T)
        evaluator.set_dofs(coefficients.tolist())
        h = T / n_t
        for k in range(1, n_t):
            # t = k * h belongs to sub-interval k, at x = -1
            local = coefficients[k::n_t]
            expected = npleg.legval(-1.0, npleg.legder(local)) * 2 / h
            assert evaluator.evaluate_derivative_at(k * h) == pytest.approx(expected, rel=1e-12, abs=1e-12)


def test_n_t_zero(panic_type):
    message = "^Legendre evaluation requires at least one time interval$"
    basis = LB(2, 0, 1.0)
    evaluator = LBE(2**64 - 1, 0, 1.0)  # m = 0 even for the largest degree
    evaluator.set_dofs([])
    for call in (
        lambda: basis.evaluate_at(0.5, []),
        lambda: basis.evaluate_all_basis_functions(0.5),
        lambda: basis.evaluate_all_basis_function_derivatives(0.5),
        lambda: evaluator.evaluate_at(0.5),
        lambda: evaluator.evaluate_derivative_at(0.5),
    ):
        with pytest.raises(panic_type, match=message):
            call()
    with pytest.raises(TypeError, match="^argument 't': "):
        evaluator.evaluate_at("x")  # arguments convert before the interval check


def test_sizes(panic_type):
    with pytest.raises(panic_type, match="^capacity overflow$"):
        LBE(2**63, 2, 1.0)
    with pytest.raises(panic_type, match="^capacity overflow$"):
        LBE(2**62, 1, 1.0)  # fits 64 bits, not the address space
    with pytest.raises(panic_type, match="^capacity overflow$"):
        LB(2**63, 2, 1.0).evaluate_all_basis_functions(0.5)
    with pytest.raises(panic_type, match="^capacity overflow$"):
        LB(2**63, 2, 1.0).evaluate_at(0.5, [])
    with pytest.raises(MemoryError):
        LBE(10**6, 10**7, 1.0)
    with pytest.raises(MemoryError):
        LB(10**6, 10**7, 1.0).evaluate_all_basis_functions(0.5)
    assert LBE(1, 1, 1.0).evaluate_at(0.5) == 0.0


def test_reentrant_float_during_set_dofs():
    evaluator = LBE(1, 2, 1.0)
    evaluator.set_dofs([1.0, 2.0, 3.0, 4.0])
    seen = []

    class Reentrant:
        def __float__(self):
            try:
                evaluator.evaluate_at(0.5)
            except RuntimeError as error:
                seen.append(str(error))
                raise
            return 1.0

    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        evaluator.set_dofs([1.0, Reentrant(), 3.0, 4.0])
    assert seen == ["Already mutably borrowed"]
    assert evaluator.evaluate_at(0.75) == 2.0
    evaluator.set_dofs([4.0, 3.0, 2.0, 1.0])
    assert evaluator.evaluate_at(0.75) == 3.0


def test_set_dofs_during_evaluation_conversion():
    evaluator = LBE(1, 2, 1.0)

    class T:
        def __float__(self):
            evaluator.set_dofs([1.0, 2.0, 3.0, 4.0])
            return 0.5

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        evaluator.evaluate_at(T())
    assert evaluator.evaluate_at(0.75) == 0.0


def test_nested_shared_holds_coexist():
    basis = LB(1, 2, 1.0)

    class T:
        def __float__(self):
            return basis.evaluate_at(0.75, [0.0, 0.25, 0.0, 0.0])

    assert basis.evaluate_all_basis_functions(T()) == [1.0, 0.0, 0.0, 0.0]  # t = 0.25: x = 0


@pytest.mark.parametrize("degree", [0, 1, 2, 3, 4, 6])
def test_cross_check_with_numpy(degree):
    rng = np.random.default_rng(100 + degree)
    n_t, T = 5, 2.5
    h = T / n_t
    coefficients = rng.standard_normal(n_t * (degree + 1))
    evaluator = LBE(degree, n_t, T)
    evaluator.set_dofs(coefficients.tolist())
    basis = LB(degree, n_t, T)
    # Interior times (|x| <= 0.9) and times next to the ends (1 - |x| < 2^-6).
    xs = np.concatenate([rng.uniform(-0.9, 0.9, 20), [-1 + 1e-12, 1 - 1e-12, -1 + 1e-9, 1 - 1e-9]])
    for k in range(n_t):
        local = coefficients[k::n_t]
        for x in xs:
            t = h * k + (x + 1) * h / 2
            tx = (t - (h * k + h * k + h) / 2) * 2 / h
            value = npleg.legval(tx, local)
            derivative = npleg.legval(tx, npleg.legder(local)) * 2 / h
            scale = np.abs(local).sum()
            assert evaluator.evaluate_at(t) == pytest.approx(value, rel=1e-12, abs=1e-12 * scale)
            assert evaluator.evaluate_derivative_at(t) == pytest.approx(
                derivative, rel=1e-11, abs=1e-11 * scale * (degree + 1) ** 2 / h
            )
            assert basis.evaluate_at(t, coefficients.tolist()) == evaluator.evaluate_at(t)
            all_values = basis.evaluate_all_basis_functions(t)
            assert np.dot(all_values, coefficients) == pytest.approx(value, rel=1e-12, abs=1e-12 * scale)


class _NoLength:
    """A sequence whose length is unknown up front, so its floats arrive one by one."""

    def __init__(self, values):
        self.values = values

    def __getitem__(self, i):
        return self.values[i]

    def __len__(self):
        raise TypeError("no length")


@pytest.mark.parametrize("n_t", [30, 31, 32, 69])
@pytest.mark.parametrize("wrap", [list, tuple, _NoLength], ids=["list", "tuple", "no_length"])
def test_evaluate_at_across_the_short_sequence_limit(n_t, wrap):
    # Up to 32 coefficients are converted on the stack, more on the heap; with
    # one surplus value these lists have 31, 32, 33 and 70. The evaluator's
    # stored vector gives the reference bits.
    coefficients = [math.sin(i + 0.5) for i in range(n_t)]
    evaluator = LBE(0, n_t, 1.0)
    evaluator.set_dofs(coefficients)
    for t in (0.0, 0.4321, 0.999):
        assert LB(0, n_t, 1.0).evaluate_at(t, wrap(coefficients + [1e300])) == evaluator.evaluate_at(t)
