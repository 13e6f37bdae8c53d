# Checks of what a user gets: the examples' convergence orders, the type stubs
# against the built module, the release files (make dist) and the released
# wheel installed into a fresh venv.
#
#   make dist   sdist + manylinux wheel in dist/: twine check, auditwheel show and repair

PACKAGE_BUILD := build/package
WHEEL_VENV    := $(PACKAGE_BUILD)/wheel-venv
MYPY          := $(PY) -m mypy --cache-dir $(PACKAGE_BUILD)/mypy-cache

.PHONY: demo-quick typecheck wheel-check dist dist-exact-bits

TEST_STEPS += demo-quick typecheck wheel-check

# Fewer grids than `make demo`; each example exits non-zero when an order
# (or, for the space-time heat example, a multigrid factor) is off.
demo-quick: install
	$(PY) examples/demo.py --quick --output $(PACKAGE_BUILD)/demo
	$(PY) examples/space_time_heat.py --quick --output $(PACKAGE_BUILD)/demo

# The stubs are checked as installed, so this also proves that the install ships them.
typecheck: install
	$(PY) -m mypy.stubtest zelk
	$(MYPY) --strict examples/ tests/typing/
	$(PY) -m mypy.stubtest zelk_arrays
	$(MYPY) --strict python/zelk_arrays

# Release files. The wheel is built twice: against the system's libstdc++
# and libgcc, and with both linked in statically (ZELK_STATIC_RUNTIME, in a
# build directory of its own so that the development build keeps its
# options). auditwheel reports the manylinux tag each qualifies for; the one
# with the broader tag (the older glibc; on a tie the dynamic one) is repaired
# to it and goes to dist/, its tag to build/package/dist/platform-tag. Static
# linking can also narrow the tag: the static runtime brings its own calls
# into the newest glibc. No file name of an extension is assumed.
DIST_DIR     := dist
DIST_BUILD   := $(PACKAGE_BUILD)/dist
AUDITWHEEL   := PATH=$(abspath $(VENV))/bin:$$PATH $(VENV)/bin/auditwheel
STATIC_FLAGS := -C cmake.define.ZELK_STATIC_RUNTIME=ON -C build-dir=build/dist-static-{wheel_tag}
WHEEL_BUILD  := $(PY) -m pip wheel --quiet --disable-pip-version-check --no-build-isolation --no-deps

dist: install
	rm -rf $(DIST_BUILD) $(DIST_DIR)
	mkdir -p $(DIST_BUILD)/dynamic $(DIST_BUILD)/static $(DIST_DIR)
	$(PY) -m build --sdist --no-isolation --outdir $(DIST_DIR) . >$(DIST_BUILD)/sdist.log
	$(WHEEL_BUILD) . -w $(DIST_BUILD)/dynamic
	$(WHEEL_BUILD) $(STATIC_FLAGS) . -w $(DIST_BUILD)/static
	$(PY) -m twine check --strict $(DIST_DIR)/*.tar.gz $(DIST_BUILD)/*/*.whl
	@for runtime in dynamic static; do \
	  $(AUDITWHEEL) show $(DIST_BUILD)/$$runtime/*.whl >$(DIST_BUILD)/$$runtime/show.txt 2>&1; \
	  tr '\n' ' ' <$(DIST_BUILD)/$$runtime/show.txt | grep -o 'platform tag: "manylinux_[^"]*"' | cut -d'"' -f2 \
	    >$(DIST_BUILD)/$$runtime/tag; \
	  test -s $(DIST_BUILD)/$$runtime/tag || { cat $(DIST_BUILD)/$$runtime/show.txt; echo "$$runtime: no manylinux tag"; exit 1; }; \
	  echo "auditwheel show, $$runtime libstdc++/libgcc: $$(cat $(DIST_BUILD)/$$runtime/tag)"; \
	done
	@glibc() { sed 's/^manylinux_2_\([0-9]*\)_.*/\1/' $(DIST_BUILD)/$$1/tag; }; \
	  if [ "$$(glibc static)" -lt "$$(glibc dynamic)" ]; then chosen=static; else chosen=dynamic; fi; \
	  echo $$chosen >$(DIST_BUILD)/chosen; cp $(DIST_BUILD)/$$chosen/tag $(DIST_BUILD)/platform-tag; \
	  echo "releasing the $$chosen-runtime wheel as $$(cat $(DIST_BUILD)/platform-tag)"
	$(AUDITWHEEL) repair --plat $$(cat $(DIST_BUILD)/platform-tag) -w $(DIST_DIR) \
	  $(DIST_BUILD)/$$(cat $(DIST_BUILD)/chosen)/*.whl >$(DIST_BUILD)/repair.log 2>&1 || { cat $(DIST_BUILD)/repair.log; exit 1; }
	$(PY) -m twine check --strict $(DIST_DIR)/*
	@for f in $(DIST_DIR)/*.whl; do unzip -l $$f | grep -q 'dist-info/licenses/LICENSE$$' || { echo "$$f lacks LICENSE"; exit 1; }; done
	@tar tzf $(DIST_DIR)/*.tar.gz | grep -q '^[^/]*/LICENSE$$' || { echo "the sdist lacks LICENSE"; exit 1; }
	@echo "dist: $$(cd $(DIST_DIR) && echo *) -- platform tag $$(cat $(DIST_BUILD)/platform-tag)"

# Both runtimes give the same bits: the exact-bit tests run against the
# released wheel and the static-runtime one, each unpacked.
EXACT_BIT_TESTS := $(abspath tests/python/test_legendre.py tests/python/test_points.py tests/python/test_matrices.py)
dist-exact-bits: dist
	@for wheel in $(DIST_DIR)/zelk-*.whl $(DIST_BUILD)/static/zelk-*.whl; do \
	  rm -rf $(DIST_BUILD)/unpacked && $(PY) -m zipfile -e $$wheel $(DIST_BUILD)/unpacked && \
	  echo "exact-bit tests against $$wheel" && \
	  (cd $(DIST_BUILD)/unpacked && PYTHONPATH=. $(abspath $(PY)) -c 'import zelk, os; assert zelk.__file__.startswith(os.getcwd())' && \
	   PYTHONPATH=. $(abspath $(PY)) -m pytest -q -p no:cacheprovider $(EXACT_BIT_TESTS)) || exit 1; \
	done

# The repaired release wheel goes into a fresh venv, which gets nothing else.
wheel-check: dist-exact-bits
	rm -rf $(WHEEL_VENV)
	$(PYTHON) -m venv $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/python -m pip install --quiet --disable-pip-version-check --no-index --no-deps $(DIST_DIR)/zelk-*.whl
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
