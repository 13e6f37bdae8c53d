"""The unsigned-integer, float and float-sequence conversions, and how their failures are reported."""

import array
import math
import re
from fractions import Fraction

import pytest

import zelk

points = zelk.get_lagrange_points


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("value, expected", [(True, 1), (False, 0), (Index(2), 2), (2**64 - 1, 2**64 - 1)])
def test_unsigned_accepts(value, expected):
    assert zelk.sum_as_string(value, 0) == str(expected)


@pytest.mark.parametrize(
    "value, error, named",
    [
        (-1, OverflowError, False),
        (2**64, OverflowError, False),
        (Index(-5), OverflowError, False),
        (1.5, TypeError, True),
        (2.0, TypeError, True),
        ("3", TypeError, True),
        (None, TypeError, True),
    ],
)
def test_unsigned_rejects(value, error, named):
    with pytest.raises(error) as caught:
        points(value, 1, 1.0)
    assert type(caught.value) is error
    assert str(caught.value).startswith("argument 'degree': ") == named


def test_float_int_message_is_the_interpreters():
    with pytest.raises(TypeError) as caught:
        points(1.5, 1, 1.0)
    assert str(caught.value) == "argument 'degree': 'float' object cannot be interpreted as an integer"


class Floaty:
    def __float__(self):
        return 0.5


class FloatSub(float):
    pass


@pytest.mark.parametrize(
    "value, expected",
    [
        (2, 2.0),
        (True, 1.0),
        (FloatSub(0.25), 0.25),
        (Floaty(), 0.5),
        (Fraction(1, 4), 0.25),
        (Index(3), 3.0),
        (-1.0, -1.0),
    ],
)
def test_float_accepts(value, expected):
    assert points(0, 1, value) == [expected]


def test_float_passes_non_finite():
    assert math.isnan(points(0, 1, float("nan"))[0])
    assert points(0, 1, -math.inf) == [-math.inf]


@pytest.mark.parametrize(
    "value, error, named", [("1.0", TypeError, True), (None, TypeError, True), (10**400, OverflowError, False)]
)
def test_float_rejects(value, error, named):
    with pytest.raises(error) as caught:
        zelk.LegendreBasis(1, 1, 1.0).evaluate_all_basis_functions(value)
    assert str(caught.value).startswith("argument 't': ") == named


class LenRaises:
    def __init__(self, items):
        self.items = items

    def __len__(self):
        raise RuntimeError("no length")

    def __getitem__(self, i):
        return self.items[i]


class LyingLen(LenRaises):
    def __len__(self):
        return 2**62


def gen():
    yield 1.0


@pytest.mark.parametrize(
    "values",
    [
        [1.0, 2.0, 3.0, 4.0],
        (1.0, 2.0, 3.0, 4.0),
        [1, 2, 3, 4],
        range(1, 5),
        b"\x01\x02\x03\x04",
        array.array("d", [1, 2, 3, 4]),
        LenRaises([1.0, 2.0, 3.0, 4.0]),
        LyingLen([1.0, 2.0, 3.0, 4.0]),
        [1.0, 2, FloatSub(3.0), Fraction(4)],
    ],
)
def test_sequence_accepts(values):
    evaluator = zelk.LegendreBasisEvaluator(1, 2, 1.0)
    evaluator.set_dofs(values)
    assert evaluator.evaluate_at(0.75) == 2.0  # a(1, 0) = 2 at x = 0
    assert zelk.LegendreBasis(1, 2, 1.0).evaluate_at(0.75, values) == 2.0


@pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit, "panic"])
def test_sequence_len_that_raises_a_base_exception_ends_the_call(error, panic_type):
    expected = panic_type if error == "panic" else error

    class Interrupted(LenRaises):
        def __len__(self):
            raise panic_type("from __len__") if error == "panic" else error

    evaluator = zelk.LegendreBasisEvaluator(1, 2, 1.0)
    for call in (evaluator.set_dofs, lambda v: zelk.LegendreBasis(1, 2, 1.0).evaluate_at(0.75, v)):
        with pytest.raises(expected):
            call(Interrupted([1.0, 2.0, 3.0, 4.0]))
    assert evaluator.evaluate_at(0.75) == 0.0


def test_numpy_array_is_a_sequence():
    numpy = pytest.importorskip("numpy")
    evaluator = zelk.LegendreBasisEvaluator(1, 2, 1.0)
    evaluator.set_dofs(numpy.array([1.0, 2.0, 3.0, 4.0]))
    assert evaluator.evaluate_at(0.75) == 2.0


@pytest.mark.parametrize(
    "values, message",
    [
        ({1.0, 2.0}, "argument 'legendre_vals': 'set' object cannot be converted to 'Sequence'"),
        ({0: 1.0}, "argument 'legendre_vals': 'dict' object cannot be converted to 'Sequence'"),
        (gen(), "argument 'legendre_vals': 'generator' object cannot be converted to 'Sequence'"),
        (5, "argument 'legendre_vals': 'int' object cannot be converted to 'Sequence'"),
        ("1234", None),
        ([1.0, "2"], None),
    ],
)
def test_sequence_rejects(values, message):
    with pytest.raises(TypeError) as caught:
        zelk.LegendreBasisEvaluator(1, 2, 1.0).set_dofs(values)
    assert type(caught.value) is TypeError
    assert str(caught.value).startswith("argument 'legendre_vals': ")
    if message is not None:
        assert str(caught.value) == message


def test_item_error_other_than_type_error_passes_unchanged():
    class Bad:
        def __float__(self):
            raise ValueError("bad item")

    with pytest.raises(ValueError, match="^bad item$"):
        zelk.LegendreBasisEvaluator(1, 2, 1.0).set_dofs([1.0, Bad(), 3.0, 4.0])


def test_type_error_keeps_its_cause_and_unprintable_text():
    cause = KeyError("inner")

    class Bad:
        def __float__(self):
            raise TypeError("with cause") from cause

    with pytest.raises(TypeError) as caught:
        zelk.LegendreBasis(1, 1, 1.0).evaluate_all_basis_functions(Bad())
    assert str(caught.value) == "argument 't': with cause"
    assert caught.value.__cause__ is cause

    class Unprintable(TypeError):
        pass

    class Subclassed:
        def __float__(self):
            raise Unprintable("sub")

    # A subclass of TypeError is not renamed: it passes unchanged.
    with pytest.raises(Unprintable, match="^sub$"):
        zelk.LegendreBasis(1, 1, 1.0).evaluate_all_basis_functions(Subclassed())


def test_type_error_whose_text_cannot_be_read(monkeypatch):
    reported = []
    monkeypatch.setattr("sys.unraisablehook", reported.append)

    class NoStr:
        def __str__(self):
            raise RuntimeError("no str")

    class Bad:
        def __float__(self):
            raise TypeError(NoStr())

    with pytest.raises(TypeError) as caught:
        zelk.LegendreBasis(1, 1, 1.0).evaluate_all_basis_functions(Bad())
    assert str(caught.value) == "argument 't': <unprintable TypeError object>"
    assert [type(r.exc_value) for r in reported] == [RuntimeError]


def test_item_float_that_mutates_the_list_is_safe():
    values = [1.0, 2.0, 3.0, 4.0]

    class Shrinker:
        def __float__(self):
            values.clear()
            return 9.0

    values[1] = Shrinker()
    evaluator = zelk.LegendreBasisEvaluator(1, 2, 1.0)
    with pytest.raises(BaseException) as caught:
        evaluator.set_dofs(values)
    # Two values were read before the list emptied: the length check reports it.
    assert re.search(r"left: 2\n right: 4$", str(caught.value))
    assert evaluator.evaluate_at(0.75) == 0.0
