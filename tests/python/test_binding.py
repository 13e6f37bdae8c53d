"""Binding of positional and keyword arguments, and the exact binding messages."""

import re

import pytest

import zelk

points = zelk.get_lagrange_points


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: points(1, 2, 1.0, 4), "get_lagrange_points() takes 3 positional arguments but 4 were given"),
        (
            lambda: zelk.LegendreBasisEvaluator(1, 1, 1.0).evaluate_at(0.5, 1),
            "LegendreBasisEvaluator.evaluate_at() takes 1 positional arguments but 2 were given",
        ),
        (lambda: points(1, 2, 1.0, x=5), "get_lagrange_points() got an unexpected keyword argument 'x'"),
        (lambda: points(1, 2, degree=3), "get_lagrange_points() got multiple values for argument 'degree'"),
        (lambda: points(), "get_lagrange_points() missing 3 required positional arguments: 'degree', 'n_t', and 'T'"),
        (
            lambda: zelk.LegendreBasis(1),
            "LegendreBasis.__new__() missing 2 required positional arguments: 'n_t' and 'T'",
        ),
        (
            lambda: zelk.LegendreBasisEvaluator(1, 1, 1.0).set_dofs(),
            "LegendreBasisEvaluator.set_dofs() missing 1 required positional argument: 'legendre_vals'",
        ),
        # Too many positional wins over an unexpected keyword, which is not looked at.
        (lambda: points(1, 2, 3, 4, bogus=1), "get_lagrange_points() takes 3 positional arguments but 4 were given"),
        # The first unexpected keyword in call order is named.
        (lambda: points(1, 2, 1.0, zz=1, aa=2), "get_lagrange_points() got an unexpected keyword argument 'zz'"),
        (
            lambda: zelk.LegendreBasis(1, 2, 1.0, 4),
            "LegendreBasis.__new__() takes 3 positional arguments but 4 were given",
        ),
        (lambda: zelk.LegendreBasis(1, 2, 1.0, T=1.0), "LegendreBasis.__new__() got multiple values for argument 'T'"),
        (lambda: zelk.sum_as_string(1, 2, 3), "sum_as_string() takes 2 positional arguments but 3 were given"),
        (
            lambda: zelk.LegendreBasis(1, 1, 1.0).evaluate_all_basis_functions(1, 2),
            "LegendreBasis.evaluate_all_basis_functions() takes 1 positional arguments but 2 were given",
        ),
        # Keyword names are compared byte for byte, case-sensitively.
        (lambda: points(1, 2, t=1.0), "get_lagrange_points() got an unexpected keyword argument 't'"),
        (
            lambda: zelk.LegendreBasis(1, 2, **{"\udc80": 1}),
            "LegendreBasis.__new__() got an unexpected keyword argument '\udc80'",
        ),
    ],
)
def test_binding_messages(call, message):
    with pytest.raises(TypeError) as error:
        call()
    assert type(error.value) is TypeError
    assert str(error.value) == message


def test_one_given_says_was():
    with pytest.raises(TypeError, match=re.escape("takes 1 positional arguments but 2 were given")):
        zelk.LegendreBasisEvaluator(1, 1, 1.0).evaluate_at(1, 2)
    # A too-many message with exactly one given cannot arise for a non-empty signature, but the
    # missing message does use the singular.
    with pytest.raises(TypeError, match=re.escape("missing 1 required positional argument: 't'")):
        zelk.LegendreBasisEvaluator(1, 1, 1.0).evaluate_at()


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((2, 3, 1.0), {}),
        ((), {"T": 1.0, "n_t": 3, "degree": 2}),
        ((2,), {"T": 1.0, "n_t": 3}),
        ((2, 3), {"T": 1.0}),
    ],
)
def test_keyword_and_positional_calls_bind_alike(args, kwargs):
    assert points(*args, **kwargs) == points(2, 3, 1.0)
    assert zelk.LegendreBasis(*args, **kwargs).evaluate_all_basis_functions(t=0.5) == (
        zelk.LegendreBasis(2, 3, 1.0).evaluate_all_basis_functions(0.5)
    )


def test_method_keywords():
    basis = zelk.LegendreBasis(1, 2, 1.0)
    assert basis.evaluate_at(legendre_vals=[1.0, 2.0, 3.0, 4.0], t=0.75) == 2.0
    evaluator = zelk.LegendreBasisEvaluator(1, 2, 1.0)
    assert evaluator.set_dofs(legendre_vals=[1.0, 2.0, 3.0, 4.0]) is None
    assert evaluator.evaluate_at(t=0.75) == 2.0
    assert evaluator.evaluate_derivative_at(t=0.75) == 16.0


def test_unbound_method_with_foreign_receiver():
    with pytest.raises(TypeError):
        zelk.LegendreBasis.evaluate_all_basis_functions(5, 0.5)
    with pytest.raises(TypeError):
        zelk.LegendreBasisEvaluator.evaluate_at(zelk.LegendreBasis(1, 1, 1.0), 0.5)
