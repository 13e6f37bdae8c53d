# Checks of what a user gets: the examples' convergence orders, the type stubs
# against the built module, the release files (make dist) and the released
# wheel installed into a fresh venv.
#
#   make dist           sdist + manylinux2014 wheels (x86-64, aarch64; every CPython) in dist/, each checked
#   make release-check  what `make test` proves of them: every wheel built and checked, the aarch64 cp311 suite

PACKAGE_BUILD := build/package
WHEEL_VENV    := $(PACKAGE_BUILD)/wheel-venv
MYPY          := $(PY) -m mypy --cache-dir $(PACKAGE_BUILD)/mypy-cache

.PHONY: demo-quick typecheck wheel-check release-check gate-test dist

# wheel-check and release-check, which check test-pythons-host's wheels, are steps after it (mk/pythons.mk).
TEST_STEPS += demo-quick typecheck

# Fewer grids than `make demo`; each example exits non-zero when an order
# (or, for the space-time heat example, a multigrid factor; for the collocation
# example, the convergence of the SDC sweeps; for the time-stepping example, the
# slabs' agreement with the all-at-once solve and parareal's convergence) is off.
demo-quick: install
	$(PY) examples/demo.py --quick --output $(PACKAGE_BUILD)/demo
	$(PY) examples/space_time_heat.py --quick --output $(PACKAGE_BUILD)/demo
	$(PY) examples/collocation_sdc.py --quick
	$(PY) examples/time_stepping.py --quick

# The stubs are checked as installed, so this also proves that the install ships them.
typecheck: install
	$(PY) -m mypy.stubtest zelk
	$(MYPY) --strict examples/ tests/typing/
	$(PY) -m mypy.stubtest zelk_arrays
	$(MYPY) --strict python/zelk_arrays

# Release files: the sdist, and for every CPython at hand (mk/pythons/interpreters.sh) a manylinux2014
# (glibc 2.17) wheel for x86-64 and one for aarch64, built with zig and each put through the release checks
# (mk/wheels/gate.py). The aarch64 wheels are tested here, under qemu-user (mk/wheels/aarch64.sh); the
# x86-64 ones by test-pythons, a step of `make test`. One wheel is built again from a copy of the tree in
# another folder and must be the same bytes (mk/wheels/reproducible.sh).
DIST_DIR := dist
RELEASE_CHECK := $(PACKAGE_BUILD)/release-check

dist: install gate-test
	rm -rf $(DIST_DIR)
	mkdir -p $(PACKAGE_BUILD) $(DIST_DIR)
	$(PY) -m build --sdist --no-isolation --outdir $(DIST_DIR) . >$(PACKAGE_BUILD)/sdist.log
	mk/wheels/release.sh $(PYTHONS_CHROOT) $(abspath $(VENV)) $(DIST_DIR)
	$(PY) -m twine check --strict $(DIST_DIR)/*
	@for f in $(DIST_DIR)/*.whl; do unzip -l $$f | grep -q 'dist-info/licenses/LICENSE$$' || { echo "$$f lacks LICENSE"; exit 1; }; done
	@tar tzf $(DIST_DIR)/*.tar.gz | grep -q '^[^/]*/LICENSE$$' || { echo "the sdist lacks LICENSE"; exit 1; }
	mk/wheels/aarch64.sh $(abspath $(VENV)) $(DIST_DIR)
	mk/wheels/reproducible.sh $(abspath $(VENV)) $(DIST_DIR)
	@echo "old glibc: the wheels' suite is not run on Debian 11 (glibc 2.31): its python3 is 3.9, below Requires-Python 3.11, and no CPython >= 3.11 built for glibc <= 2.31 can be installed from Debian or PyPI; building one from source in a bullseye root would take about 15 more minutes"
	@echo "dist: $$(cd $(DIST_DIR) && echo *)"

# The part of `make dist` that `make test` runs, within its time budget: the cp311 wheels of both
# architectures built and put through the release checks (the x86-64 one is test-pythons-host's, as it is),
# and the aarch64 one under qemu-user: the development build's bits, and the test files of the numerics.
# `make dist` builds every CPython's wheels, imports each aarch64 one and runs the whole suite.
RELEASE_QEMU_TESTS := tests/python/test_legendre.py tests/python/test_arrays.py tests/python/test_time_operators.py \
  tests/python/test_time_operator_exactness.py tests/python/test_collocation.py tests/python/test_contract.py

release-check: test-pythons-host
	rm -rf $(RELEASE_CHECK)
	mkdir -p $(RELEASE_CHECK)
	mk/wheels/release.sh $(PYTHONS_CHROOT) $(abspath $(VENV)) $(RELEASE_CHECK) reuse 3.11
	ZELK_QEMU_TESTS="$(RELEASE_QEMU_TESTS)" mk/wheels/aarch64.sh $(abspath $(VENV)) $(RELEASE_CHECK) 3.11

# The gate's own test: it must flag a fused build and pass the double-double product (needs the aarch64
# disassembler, which release.sh installs too).
gate-test: install
	@command -v aarch64-linux-gnu-objdump >/dev/null || { apt-get update -qq -o DPkg::Lock::Timeout=900 && \
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=900 --no-install-recommends \
	  binutils-aarch64-linux-gnu >/dev/null; }
	$(PY) -m pytest -q -p no:cacheprovider tests/python/test_release_gate.py

# The 3.11 release wheel (built and tested by test-pythons-host) goes into a fresh venv, which gets nothing else.
wheel-check: test-pythons-host
	rm -rf $(WHEEL_VENV)
	$(PYTHON) -m venv $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/python -m pip install --quiet --disable-pip-version-check --no-index --no-deps \
	  build/pythons/host-3.11/repaired-x86_64/zelk-*.whl
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
