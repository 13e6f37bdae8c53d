"""Run before the sanitized suites: they must test the sanitized build, and allocation failures must raise."""

import ctypes
import sys

import zelk
import zelk_arrays._native

build = sys.argv[1]
if not hasattr(ctypes.CDLL(None), "__asan_init"):
    sys.exit("the ASan runtime is not loaded")
for module in (zelk, zelk_arrays._native):
    if not module.__file__.startswith(build + "/"):
        sys.exit(f"imported {module.__file__}, not the sanitized build in {build}")
    with open(module.__file__, "rb") as library:
        if b"__asan_report_load" not in library.read():
            sys.exit(f"{module.__file__} is not instrumented by ASan")
for impossible in (zelk.get_lagrange_points, zelk_arrays._native.lagrange_points):
    try:
        impossible(10**6, 10**7, 1.0)
    except MemoryError:
        pass
    else:
        sys.exit(f"an impossible allocation in {impossible.__module__} did not raise MemoryError")
print(f"sanitized module {zelk.__file__}: impossible allocations raise MemoryError")
