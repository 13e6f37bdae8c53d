"""Import, registration, stored documentation and the class definitions."""

import subprocess
import sys
import sysconfig
import textwrap
import weakref

import pytest

import zelk

NAMES = [
    "sum_as_string",
    "lagrange_to_legendre_basis_transformation",
    "lagrange_prolongation_matrix",
    "get_lagrange_points",
    "LegendreBasis",
    "LegendreBasisEvaluator",
]


def test_all_lists_the_registered_names_in_order():
    assert zelk.__all__ == NAMES


def test_reimport_returns_the_same_module_without_duplicates():
    before = {name: getattr(zelk, name) for name in NAMES}
    del sys.modules["zelk"]
    import zelk as again

    assert again is zelk
    assert again.__all__ == NAMES
    assert all(getattr(again, name) is obj for name, obj in before.items())


@pytest.mark.parametrize(
    "name, signature, doc",
    [
        ("sum_as_string", "(a, b)", "Formats the sum of two numbers as string."),
        ("get_lagrange_points", "(degree, n_t, T)", None),
        ("lagrange_prolongation_matrix", "(nt_coarse, nt_fine, degree)", None),
        ("lagrange_to_legendre_basis_transformation", "(degree, n_t)", None),
    ],
)
def test_function_signatures_and_docs(name, signature, doc):
    function = getattr(zelk, name)
    assert function.__text_signature__ == signature
    assert function.__doc__ == doc
    assert function.__module__ == "zelk"
    assert function.__self__ is zelk
    assert function.__name__ == name


@pytest.mark.parametrize("cls", [zelk.LegendreBasis, zelk.LegendreBasisEvaluator])
def test_class_definitions(cls):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    assert cls.__text_signature__ == "(degree, n_t, T)"
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    instance = cls(1, 2, 1.0)
    with pytest.raises(AttributeError):
        instance.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(instance)
    cls.class_level_attribute = 1  # heap types stay mutable
    del cls.class_level_attribute


def test_class_docs_and_method_signatures():
    assert zelk.LegendreBasisEvaluator.__doc__ == (
        "Class to evaluate legendre basis more often without copying the dofs from python each time"
    )
    assert zelk.LegendreBasis.evaluate_at.__text_signature__ == "($self, t, legendre_vals)"
    assert zelk.LegendreBasis.evaluate_all_basis_functions.__text_signature__ == "($self, t)"
    assert zelk.LegendreBasis.evaluate_all_basis_function_derivatives.__text_signature__ == "($self, t)"
    assert zelk.LegendreBasisEvaluator.set_dofs.__text_signature__ == "($self, legendre_vals)"
    assert zelk.LegendreBasisEvaluator.evaluate_at.__text_signature__ == "($self, t)"
    assert zelk.LegendreBasisEvaluator.evaluate_derivative_at.__text_signature__ == "($self, t)"


def test_instances_made_around_the_constructor_are_refused():
    # Replacing __new__ damages the class for the rest of the process: run it apart.
    code = textwrap.dedent(
        """
        import zelk
        calls = {
            zelk.LegendreBasis: [("evaluate_at", 0.5, [1.0]), ("evaluate_all_basis_functions", 0.5),
                                 ("evaluate_all_basis_function_derivatives", 0.5)],
            zelk.LegendreBasisEvaluator: [("set_dofs", [1.0]), ("evaluate_at", 0.5),
                                          ("evaluate_derivative_at", 0.5)],
        }
        for cls, methods in calls.items():
            made = cls(0, 1, 1.0)
            cls.__new__ = staticmethod(lambda c, *a: object.__new__(c))
            bare = cls(0, 1, 1.0)
            for name, *args in methods:
                try:
                    getattr(bare, name)(*args)
                except TypeError as error:
                    print(error)
            print(made.evaluate_at(0.5, [2.0]) if cls is zelk.LegendreBasis else made.evaluate_at(0.5))
            del bare
        """
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines == 3 * [
        "LegendreBasis object was not initialized by its constructor LegendreBasis(degree, n_t, T)"
    ] + ["2.0"] + 3 * [
        "LegendreBasisEvaluator object was not initialized by its constructor LegendreBasisEvaluator(degree, n_t, T)"
    ] + ["0.0"]


def test_only_the_init_function_is_exported():
    nm = subprocess.run(["nm", "-D", "--defined-only", zelk.__file__], capture_output=True, text=True)
    if nm.returncode != 0:
        pytest.skip("nm is not available")
    symbols = [line.split()[-1] for line in nm.stdout.splitlines() if line.strip()]
    assert symbols == ["PyInit_zelk"]


# Runs in the sub-interpreter; its outcome is printed, as the ways errors leave one differ by version.
SUB_INTERPRETER_IMPORT = """
try:
    import zelk
except ImportError as error:
    print("ImportError:", error, flush=True)
else:
    print("imported", flush=True)
"""


def test_sub_interpreter_import_fails():
    # A sub-interpreter sharing the main GIL, so that the module's own check refuses it: CPython itself
    # refuses single-phase modules in interpreters with a GIL of their own.
    code = textwrap.dedent(
        """
        import sys
        import zelk
        try:
            import _interpreters as interpreters
            interp = interpreters.create("legacy")
        except ImportError:
            import _xxsubinterpreters as interpreters
            interp = interpreters.create(isolated=False)
        interpreters.run_string(interp, sys.argv[1])
        """
    )
    result = subprocess.run(
        [sys.executable, "-c", code, SUB_INTERPRETER_IMPORT], capture_output=True, text=True, timeout=60
    )
    assert result.returncode == 0, result.stderr
    refusals = ["ImportError: zelk does not support sub-interpreters"]
    if sysconfig.get_config_var("Py_GIL_DISABLED"):
        # The free-threaded build refuses even a legacy interpreter before the module runs.
        refusals.append("ImportError: module zelk does not support loading in subinterpreters")
    assert result.stdout.startswith(tuple(refusals)), result.stdout


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((1, 2), {}, "3"),
        ((), {"b": 2, "a": 1}, "3"),
        ((True, 2), {}, "3"),
        ((0, 0), {}, "0"),
        # Exact sums past 2^64: never wrapped.
        ((2**64 - 1, 1), {}, "18446744073709551616"),
        ((2**64 - 1, 2**64 - 1), {}, "36893488147419103230"),
    ],
)
def test_sum_as_string(args, kwargs, expected):
    assert zelk.sum_as_string(*args, **kwargs) == expected


def test_sum_as_string_conversion_errors():
    with pytest.raises(OverflowError) as error:
        zelk.sum_as_string(-1, 2)
    assert "'a'" not in str(error.value)
    with pytest.raises(OverflowError):
        zelk.sum_as_string(2**64, 0)
    with pytest.raises(TypeError, match=r"^argument 'a': "):
        zelk.sum_as_string(1.0, 2)
    with pytest.raises(TypeError, match=r"^sum_as_string\(\) missing 1 required positional argument: 'b'$"):
        zelk.sum_as_string(1)
