# Checks of what a user gets: the demo's convergence orders, the type stubs
# against the built module, and a wheel that installs into a fresh venv.

PACKAGE_BUILD := build/package
WHEEL_DIR     := $(PACKAGE_BUILD)/wheel
WHEEL_VENV    := $(PACKAGE_BUILD)/wheel-venv
MYPY          := $(PY) -m mypy --cache-dir $(PACKAGE_BUILD)/mypy-cache

.PHONY: demo-quick typecheck wheel-check

TEST_STEPS += demo-quick typecheck wheel-check

# Fewer grids than `make demo`; exits non-zero when an order is off.
demo-quick: install
	$(PY) examples/demo.py --quick --output $(PACKAGE_BUILD)/demo

# The stubs are checked as installed, so this also proves that the install ships them.
typecheck: install
	$(PY) -m mypy.stubtest zelk
	$(MYPY) --strict examples/
	$(PY) -m mypy.stubtest zelk_arrays
	$(MYPY) --strict python/zelk_arrays

# The build tools come from .venv (no build isolation), so no download is needed;
# the fresh venv gets nothing but the wheel.
wheel-check: install
	rm -rf $(WHEEL_DIR) $(WHEEL_VENV)
	$(PY) -m pip wheel --quiet --disable-pip-version-check --no-build-isolation --no-deps . -w $(WHEEL_DIR)
	$(PYTHON) -m venv $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/python -m pip install --quiet --disable-pip-version-check --no-index --no-deps $(WHEEL_DIR)/zelk-*.whl
	cd $(WHEEL_VENV) && bin/python -c 'import zelk, importlib.metadata as md; \
	  assert zelk.__file__.startswith("$(abspath $(WHEEL_VENV))/"), zelk.__file__; \
	  assert zelk.get_lagrange_points(2, 2, 1.0) == [0.0, 0.25, 0.5, 0.75, 1.0]; \
	  files = {str(f) for f in md.files("zelk")}; \
	  assert "zelk-stubs/__init__.pyi" in files, sorted(files); \
	  assert {"zelk_arrays/__init__.py", "zelk_arrays/py.typed"} <= files, sorted(files); \
	  assert any(f.startswith("zelk_arrays/_native.") and f.endswith(".so") for f in files), sorted(files); \
	  print("wheel", md.version("zelk"), "imports from", zelk.__file__)'
	printf 'import zelk\npoints: list[float] = zelk.get_lagrange_points(2, 2, 1.0)\n' > $(PACKAGE_BUILD)/uses_stubs.py
	$(MYPY) --strict --python-executable $(WHEEL_VENV)/bin/python $(PACKAGE_BUILD)/uses_stubs.py
