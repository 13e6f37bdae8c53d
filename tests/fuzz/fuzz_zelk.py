"""Fuzz harness for zelk and zelk_arrays: every callable with fuzzer-chosen arguments and call shapes.

What must hold for every input: only TypeError, OverflowError, RuntimeError,
MemoryError and PanicException escape a zelk call, and only TypeError,
ValueError, OverflowError and MemoryError a zelk_arrays call (besides
exceptions that the harness's own callbacks raised, which pass through
unchanged); a binding fault is a TypeError naming the callable; results have
their documented shape and dtype; and instances stay usable, unchanged by
failed calls, with their holds released.

Run through `make fuzz FUZZ_SECONDS=...`, or directly:
    python tests/fuzz/fuzz_zelk.py -max_total_time=60 [corpus_dir]
"""

import ctypes
import math
import os
import sys
import warnings

import atheris
import numpy as np  # imported before instrumentation: only the harness is instrumented
import scipy.sparse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
with atheris.instrument_imports():
    import budget
    import values

import zelk
import zelk_arrays as za

warnings.simplefilter("ignore")  # e.g. __float__ returning a float subclass


def _panic_type():
    try:
        zelk.get_lagrange_points(2**62, 1, 1.0)
    except BaseException as error:  # noqa: BLE001 - the module does not export the type
        return type(error)
    raise SystemExit("a capacity overflow did not raise")


PANIC = _panic_type()
ALLOWED = (TypeError, OverflowError, RuntimeError, MemoryError, PANIC)
ARRAYS_ALLOWED = (TypeError, ValueError, OverflowError, MemoryError)
LB, LBE = zelk.LegendreBasis, zelk.LegendreBasisEvaluator

# A class call from Python copies the keyword dict; C code may hand over its own.
object_call = ctypes.pythonapi.PyObject_Call
object_call.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.py_object]
object_call.restype = ctypes.py_object
PROBE_T = 0.3


def _bare_instances():
    """Instances made around the constructor, by a replaced __new__ as a careless user might.

    Python cannot undo that replacement (the class's constructor slot stays
    broken), so the slot is saved and written back through ctypes afterwards.
    """
    get_slot = ctypes.pythonapi.PyType_GetSlot
    get_slot.argtypes, get_slot.restype = [ctypes.py_object, ctypes.c_int], ctypes.c_void_p
    bare = []
    for cls in (LB, LBE):
        new_slot = get_slot(cls, 65)  # Py_tp_new
        words = (ctypes.c_void_p * (type.__basicsize__ // 8)).from_address(id(cls))
        where = [i for i, word in enumerate(words) if word == new_slot]
        assert len(where) == 1, where
        original = cls.__dict__["__new__"]
        cls.__new__ = staticmethod(lambda c, *a: object.__new__(c))
        bare += [cls(1, 1, 1.0) for _ in range(2)]
        cls.__new__ = original
        words[where[0]] = new_slot
        ctypes.pythonapi.PyType_Modified(ctypes.py_object(cls))
        assert type(cls(1, 1, 1.0)) is cls
    return bare


BARE = _bare_instances()


def _through_callback(error):
    """True for zelk's own errors raised by a callback that re-entered zelk: zelk_arrays passes them on."""
    if type(error) not in ALLOWED:
        return False
    tb = error.__traceback__
    while tb is not None:
        if tb.tb_frame.f_code.co_filename == values.__file__:
            return True
        tb = tb.tb_next
    return False


class Finding(AssertionError):
    """A broken promise of the module; the fuzzer reports it with its input."""


def same_floats(a, b):
    return len(a) == len(b) and all(x == y or (math.isnan(x) and math.isnan(y)) for x, y in zip(a, b))


def same_float(a, b):
    return same_floats([a], [b])


def shape(fdp, full_name, params, vals):
    """Arguments for `vals` as (args, kwargs, binds): well formed, or with one binding fault."""
    n = len(params)
    mode = fdp.ConsumeIntInRange(0, 12)
    if mode <= 5:
        return list(vals), {}, True
    if mode == 6:  # all by keyword, in a fuzzer-chosen order
        order = list(range(n))
        for i in range(n - 1, 0, -1):
            j = fdp.ConsumeIntInRange(0, i)
            order[i], order[j] = order[j], order[i]
        return [], {params[i]: vals[i] for i in order}, True
    if mode == 7:  # positional, then keywords for the rest
        k = fdp.ConsumeIntInRange(0, n)
        return list(vals[:k]), {params[i]: vals[i] for i in range(k, n)}, True
    if mode == 8:  # one missing
        gone = fdp.ConsumeIntInRange(0, n - 1)
        k = fdp.ConsumeIntInRange(0, gone)
        return list(vals[:k]), {params[i]: vals[i] for i in range(k, n) if i != gone}, False
    if mode == 9:  # one too many positional, perhaps with a keyword as well
        kwargs = {"zz": 1} if fdp.ConsumeBool() else {}
        return list(vals) + [vals[0]], kwargs, False
    if mode == 10:  # an unknown keyword
        name = fdp.PickValueInList(
            [
                "x",
                params[0].upper(),
                params[0] + "\0",
                "d\u00e9gree",
                "\ud800",
                "",
                "self",
                params[-1] + " ",
                fdp.ConsumeUnicode(6),
            ]
        )
        if name in params:
            name += "_"
        return list(vals), {name: vals[0]}, False
    if mode == 11:  # the same parameter by position and by keyword
        k = fdp.ConsumeIntInRange(1, n)
        j = fdp.ConsumeIntInRange(0, k - 1)
        return list(vals[:k]), {params[j]: vals[j], **{params[i]: vals[i] for i in range(k, n)}}, False
    return [], {}, False


class Run:
    """One fuzz input: its instances, their expected state, and the calls made on them."""

    def __init__(self, data):
        self.fdp = atheris.FuzzedDataProvider(data)
        self.ctx = values.Context(zelk)
        self.ctx.allowed = ALLOWED
        self.gen = values.Values(self.fdp, self.ctx)
        self.bases = []  # (instance, degree, n_t, T, reference basis values or exception type)
        self.evaluators = []  # [instance, degree, n_t, T, known dofs]

    # ---- calling and judging -------------------------------------------------

    def call(self, full_name, function, args, kwargs, binds, direct=False, allowed=ALLOWED):
        """`direct` passes `kwargs` itself, not a copy, as C callers can."""
        self.ctx.raised.clear()
        self.ctx.kwargs = kwargs
        try:
            result = function(args, kwargs) if direct else function(*args, **kwargs)
        except BaseException as error:
            if any(error is raised for raised in self.ctx.raised):
                return error  # our own callback's exception, passed through unchanged
            if type(error) not in allowed and not (allowed is ARRAYS_ALLOWED and _through_callback(error)):
                raise Finding(f"{full_name}: {type(error).__name__} escaped: {error!r}") from error
            if not binds and (type(error) is not TypeError or not str(error).startswith(full_name)):
                raise Finding(f"{full_name}: binding fault reported as {error!r}") from error
            if type(error) is PANIC and not str(error):
                raise Finding(f"{full_name}: PanicException without a message") from error
            return error
        if not binds:
            raise Finding(f"{full_name}: call with a binding fault returned {result!r}")
        if any(isinstance(raised, values.CallbackInterrupt) for raised in self.ctx.raised):
            raise Finding(f"{full_name}: an interrupt raised by a callback was swallowed")
        return result

    def sizes(self, check, *pairs):
        """Replaces the size arguments by small ones when the budget refuses them."""
        if check(*(nominal for _, nominal in pairs)):
            return [obj for obj, _ in pairs], [nominal for _, nominal in pairs]
        small = [self.gen.small() for _ in pairs]
        return small, small

    # ---- instances -----------------------------------------------------------

    def make_instances(self):
        fdp = self.fdp
        for _ in range(fdp.ConsumeIntInRange(1, 2)):
            (d, n), (dn, nn) = self.sizes(budget.coefficients_ok, self.gen.integer(), self.gen.integer())
            T = fdp.PickValueInList(values.EDGE_FLOATS) if fdp.ConsumeBool() else 1.0
            basis = self.call("LegendreBasis.__new__()", LB, [d, n, T], {}, True)
            if type(basis) is LB:
                self.bases.append((basis, dn, nn, T, self.basis_values(basis)))
        for _ in range(fdp.ConsumeIntInRange(1, 2)):
            d, n = fdp.ConsumeIntInRange(0, 4), fdp.ConsumeIntInRange(1, 4)
            T = fdp.PickValueInList(values.EDGE_FLOATS) if fdp.ConsumeBool() else 1.0
            self.evaluators.append([LBE(d, n, T), d, n, T, [0.0] * (n * (d + 1))])
        self.ctx.instances = [b[0] for b in self.bases] + [e[0] for e in self.evaluators]
        self.ctx.known_dofs = lambda evaluator: next(e[4] for e in self.evaluators if e[0] is evaluator)

    @staticmethod
    def basis_values(basis):
        try:
            return basis.evaluate_all_basis_functions(PROBE_T)
        except ALLOWED as error:
            return type(error)

    def check_instances(self):
        """Every instance answers as before: failed calls changed nothing and released their holds."""
        for basis, d, n, T, reference in self.bases:
            now = self.basis_values(basis)
            same = (
                now is reference
                if isinstance(reference, type)
                else isinstance(now, list) and same_floats(now, reference)
            )
            if not same:
                raise Finding(f"LegendreBasis({d}, {n}, {T}) changed: {reference!r} -> {now!r}")
        for evaluator, d, n, T, dofs in self.evaluators:
            got = evaluator.evaluate_at(PROBE_T)
            want = LB(d, n, T).evaluate_at(PROBE_T, dofs)
            if not same_float(got, want):
                raise Finding(f"LegendreBasisEvaluator({d}, {n}, {T}) holds other dofs: {got!r} != {want!r}")
            evaluator.set_dofs(dofs)  # RuntimeError here would mean a hold was never released

    # ---- the twelve callables --------------------------------------------------

    def fuzz_function(self, which):
        g = self.gen
        if which == 0:
            a, b = g.integer(), g.integer()
            self.invoke(
                "sum_as_string()", zelk.sum_as_string, ["a", "b"], [a[0], b[0]], lambda r: self.check_sum(r, a[1], b[1])
            )
        elif which == 1:
            (d, n), (dn, nn) = self.sizes(budget.points_ok, g.integer(), g.integer())
            self.invoke(
                "get_lagrange_points()",
                zelk.get_lagrange_points,
                ["degree", "n_t", "T"],
                [d, n, g.real()],
                lambda r: self.check_points(r, dn, nn),
            )
        elif which == 2:
            sizes, _ = self.sizes(budget.prolongation_ok, g.integer(), g.integer(), g.integer())
            self.invoke(
                "lagrange_prolongation_matrix()",
                zelk.lagrange_prolongation_matrix,
                ["nt_coarse", "nt_fine", "degree"],
                sizes,
                self.check_triplets,
            )
        else:
            (d, n), _ = self.sizes(budget.transformation_ok, g.integer(), g.integer())
            self.invoke(
                "lagrange_to_legendre_basis_transformation()",
                zelk.lagrange_to_legendre_basis_transformation,
                ["degree", "n_t"],
                [d, n],
                self.check_triplets,
            )

    def fuzz_constructor(self, cls):
        g = self.gen
        (d, n), (dn, nn) = self.sizes(budget.coefficients_ok, g.integer(), g.integer())
        how = self.fdp.ConsumeIntInRange(0, 2)
        maker = [cls, lambda *a, **k: cls.__new__(cls, *a, **k), lambda a, k: object_call(cls, tuple(a), k or None)][
            how
        ]
        self.invoke(
            f"{cls.__name__}.__new__()",
            maker,
            ["degree", "n_t", "T"],
            [d, n, g.real()],
            lambda r: self.expect(type(r) is cls, f"{cls.__name__}() returned {r!r}"),
            direct=how == 2,
        )

    def fuzz_basis_method(self, which):
        if not self.bases:
            return
        basis, d, n, T, _ = self.bases[self.fdp.ConsumeIntInRange(0, len(self.bases) - 1)]
        self.ctx.target = basis
        m = n * (d + 1) if None not in (d, n) else None
        wanted = m if m is not None and m <= 4096 else None
        if which == 0:
            self.invoke(
                "LegendreBasis.evaluate_at()",
                basis.evaluate_at,
                ["t", "legendre_vals"],
                [self.gen.real(), self.gen.sequence(wanted)],
                self.check_float,
            )
        else:
            method = basis.evaluate_all_basis_functions if which == 1 else basis.evaluate_all_basis_function_derivatives
            self.invoke(
                f"LegendreBasis.{method.__name__}()",
                method,
                ["t"],
                [self.gen.real()],
                lambda r: self.check_float_list(r, m),
            )

    def fuzz_evaluator_method(self, which):
        if not self.evaluators:
            return
        entry = self.evaluators[self.fdp.ConsumeIntInRange(0, len(self.evaluators) - 1)]
        evaluator, d, n = entry[0], entry[1], entry[2]
        self.ctx.target = evaluator
        if which == 0:
            seq = self.gen.sequence(n * (d + 1))
            plain = type(seq) in (list, tuple) and all(type(x) is float for x in seq)
            expected = list(seq) if plain else None
            result = self.invoke(
                "LegendreBasisEvaluator.set_dofs()",
                evaluator.set_dofs,
                ["legendre_vals"],
                [seq],
                lambda r: self.expect(r is None, f"set_dofs returned {r!r}"),
            )
            if result is None:  # stored: what we know of the new dofs
                if expected is None:
                    evaluator.set_dofs(entry[4])  # unknown values: go back to known ones
                else:
                    entry[4] = expected
        else:
            method = evaluator.evaluate_at if which == 1 else evaluator.evaluate_derivative_at
            self.invoke(
                f"LegendreBasisEvaluator.{method.__name__}()", method, ["t"], [self.gen.real()], self.check_float
            )

    def fuzz_misuse(self):
        """Receivers of the wrong type, construction around __new__, subclassing."""
        fdp = self.fdp
        other = fdp.PickValueInList([1, None, "x"] + self.ctx.instances + BARE)
        bare = any(other is b for b in BARE)
        cases = [
            ("LegendreBasis.evaluate_at", lambda: LB.evaluate_at(other, 0.5, [1.0])),
            ("LegendreBasis.evaluate_all_basis_functions", lambda: LB.evaluate_all_basis_functions(other, 0.5)),
            # an evaluator gets the dofs it holds: the state stays known
            (
                "LegendreBasisEvaluator.set_dofs",
                lambda: LBE.set_dofs(other, self.ctx.known_dofs(other) if type(other) is LBE and not bare else [0.0]),
            ),
            ("LegendreBasisEvaluator.evaluate_at", lambda: LBE.evaluate_at(other, 0.5)),
            ("object.__new__", lambda: object.__new__(fdp.PickValueInList([LB, LBE]))),
            ("LegendreBasis.__new__", lambda: LB.__new__(LBE, 1, 1, 1.0)),
            ("LegendreBasisEvaluator.__new__", lambda: LBE.__new__(LB, 1, 1, 1.0)),
            ("subclass", lambda: type("Sub", (fdp.PickValueInList([LB, LBE]),), {})),
        ]
        name, action = cases[fdp.ConsumeIntInRange(0, len(cases) - 1)]
        # Only a receiver of the right class may get past the type check.
        # An instance that skipped the constructor is refused with TypeError.
        right = not bare and (
            (name.startswith("LegendreBasis.evaluate") and type(other) is LB)
            or (name.startswith("LegendreBasisEvaluator.") and "__new__" not in name and type(other) is LBE)
        )
        try:
            result = action()
        except TypeError:
            return
        except ALLOWED as error:
            if not right:
                raise Finding(f"{name} on {other!r} raised {error!r}, not TypeError") from error
            return
        if not right:
            raise Finding(f"{name} accepted {other!r}: {result!r}")

    # ---- zelk_arrays -------------------------------------------------------------

    def fuzz_arrays(self, which):
        """The same requests through zelk_arrays: arrays and sparse matrices, or its numpy-idiom errors."""
        g, fdp = self.gen, self.fdp
        if which == 0:
            (d, n), (dn, nn) = self.sizes(budget.points_ok, g.integer(), g.integer())
            want = None if None in (dn, nn) else (nn * dn + 1,)
            self.call_arrays(
                "get_lagrange_points()", za.get_lagrange_points, [d, n, g.real()], lambda r: self.check_array(r, want)
            )
        elif which == 1:
            sizes, _ = self.sizes(budget.prolongation_ok, g.integer(), g.integer(), g.integer())
            self.call_arrays("lagrange_prolongation_matrix()", za.lagrange_prolongation_matrix, sizes, self.check_csr)
        elif which == 2:
            (d, n), _ = self.sizes(budget.transformation_ok, g.integer(), g.integer())
            self.call_arrays(
                "lagrange_to_legendre_basis_transformation()",
                za.lagrange_to_legendre_basis_transformation,
                [d, n],
                self.check_csr,
            )
        elif which == 3:
            times = g.sequence()
            rows = len(times) if isinstance(times, (list, tuple, range, np.ndarray)) else 1
            (d, n), _ = self.sizes(lambda *s: budget.basis_matrix_ok(*s, rows), g.integer(), g.integer())
            derivative = fdp.PickValueInList([False, True, np.True_, "False", None])
            self.call_arrays(
                "legendre_basis_matrix()", za.legendre_basis_matrix, [d, n, g.real(), times, derivative], self.check_csr
            )
        else:
            d, n = fdp.ConsumeIntInRange(0, 4), fdp.ConsumeIntInRange(1, 4)
            m = n * (d + 1)
            coefficients = g.sequence(m)
            if fdp.ConsumeBool():  # a batch of expansions, or a plain array
                coefficients = np.arange(float(m * 2)).reshape(m, 2)
            f = self.call_arrays(
                "LegendreExpansion()", za.LegendreExpansion, [d, n, g.real(), coefficients], lambda r: None
            )
            if isinstance(f, za.LegendreExpansion):
                times = g.sequence() if fdp.ConsumeBool() else g.real()
                method = f if fdp.ConsumeBool() else f.derivative
                self.call_arrays("LegendreExpansion()()", method, [times], lambda r: self.check_array(r, None))

    def call_arrays(self, full_name, function, args, check):
        result = self.call(full_name, function, args, {}, True, allowed=ARRAYS_ALLOWED)
        if not isinstance(result, BaseException):
            check(result)
        return result

    def check_array(self, result, shape):
        self.expect(type(result) is np.ndarray and result.dtype == np.float64, f"expected float64 array: {result!r}")
        self.expect(shape is None or result.shape == shape, f"expected shape {shape}, got {result.shape}")

    def check_csr(self, result):
        self.expect(
            type(result) is scipy.sparse.csr_array and result.dtype == np.float64, f"expected csr_array: {result!r}"
        )
        self.expect(
            len(result.indptr) == result.shape[0] + 1 and len(result.indices) == len(result.data),
            "inconsistent CSR arrays",
        )
        self.expect(
            result.nnz == 0 or 0 <= result.indices.min() <= result.indices.max() < result.shape[1],
            "CSR column index out of range",
        )

    # ---- checks of results -----------------------------------------------------

    def invoke(self, full_name, function, params, vals, check, direct=False):
        args, kwargs, binds = shape(self.fdp, full_name, params, vals)
        result = self.call(full_name, function, args, kwargs, binds, direct)
        self.ctx.target = None
        if not isinstance(result, BaseException):
            check(result)
        return result

    @staticmethod
    def expect(condition, message):
        if not condition:
            raise Finding(message)

    def check_sum(self, result, a, b):
        self.expect(type(result) is str and result.isdigit(), f"sum_as_string returned {result!r}")
        if a is not None and b is not None:
            self.expect(int(result) in (a + b, (a + b) % 2**64), f"sum_as_string({a}, {b}) = {result}")

    def check_points(self, result, degree, n_t):
        self.check_float_list(result, None)
        if degree is not None and n_t is not None:
            self.expect(len(result) == n_t * degree + 1, f"{len(result)} points for ({degree}, {n_t})")

    def check_triplets(self, result):
        self.expect(type(result) is tuple and len(result) == 3, f"triplets: {result!r}")
        rows, cols, vals = result
        self.expect(len(rows) == len(cols) == len(vals), "triplet lists differ in length")
        self.expect(all(type(i) is int and i >= 0 for i in rows + cols), "triplet index not a natural number")
        self.check_float_list(vals, None)

    def check_float(self, result):
        self.expect(type(result) is float, f"expected a float, got {result!r}")

    def check_float_list(self, result, length):
        self.expect(type(result) is list and all(type(x) is float for x in result), "expected a list of floats")
        self.expect(length is None or len(result) == length, f"expected {length} values, got {len(result)}")


def test_one_input(data):
    run = Run(data)
    run.make_instances()
    for _ in range(run.fdp.ConsumeIntInRange(1, 4)):
        op = run.fdp.ConsumeIntInRange(0, 17)
        if op >= 13:
            run.fuzz_arrays(op - 13)
        elif op <= 3:
            run.fuzz_function(op)
        elif op <= 5:
            run.fuzz_constructor(LB if op == 4 else LBE)
        elif op <= 8:
            run.fuzz_basis_method(op - 6)
        elif op <= 11:
            run.fuzz_evaluator_method(op - 9)
        else:
            run.fuzz_misuse()
        run.check_instances()


def main():
    atheris.instrument_func(shape)
    for function in (
        Run.call,
        Run.sizes,
        Run.make_instances,
        Run.check_instances,
        Run.fuzz_function,
        Run.fuzz_constructor,
        Run.fuzz_basis_method,
        Run.fuzz_evaluator_method,
        Run.fuzz_misuse,
        Run.fuzz_arrays,
    ):
        atheris.instrument_func(function)
    print(f"fuzzing {zelk.__file__} and {za._native.__file__}", flush=True)
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
