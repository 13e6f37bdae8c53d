# The oldest numpy and scipy that pyproject.toml's `arrays` extra allows, tested.
#
#   make test-oldest   a step of `make test`: the zelk_arrays tests in a venv of
#                      their own with numpy and scipy pinned to the floors of the
#                      `arrays` extra (numpy>=X becomes numpy==X), against a wheel
#                      of the build that `make install` already did (pip wheel
#                      reuses build/{wheel_tag}: nothing is compiled anew)
#
# The pinned venv is made once per change of pyproject.toml. Those numpy and
# scipy releases have wheels up to CPython 3.11; with another $(PYTHON) the
# step is skipped with a line saying why.

OLDEST_BUILD := build/oldest
OLDEST_VENV  := $(OLDEST_BUILD)/venv
# Recursive (=): read only when the step runs.
OLDEST_PINS   = $(shell $(PYTHON) -c 'import tomllib; extras = tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]; print(" ".join(r.replace(">=", "==") for r in extras["arrays"]))')
OLDEST_PYTHON = $(shell $(PYTHON) -c 'import sys; print("%d.%d" % sys.version_info[:2])')
OLDEST_TESTS := test_arrays.py test_arrays_batches.py test_arrays_edges.py test_contract.py test_ranges.py \
  test_time_operators.py test_time_operator_exactness.py test_time_transfers.py test_derivatives_near_ends.py \
  test_vector_levels.py

.PHONY: test-oldest

TEST_STEPS += test-oldest

$(OLDEST_VENV)/.installed: pyproject.toml mk/oldest.mk
	rm -rf $(OLDEST_VENV)
	$(PYTHON) -m venv $(OLDEST_VENV)
	$(OLDEST_VENV)/bin/python -m pip install --quiet --disable-pip-version-check $(OLDEST_PINS) pytest
	touch $@

test-oldest: install
	@if [ "$(OLDEST_PYTHON)" != 3.11 ]; then \
	  echo "test-oldest: SKIPPED: $(OLDEST_PINS) have no wheels for Python $(OLDEST_PYTHON)"; \
	else \
	  $(MAKE) --no-print-directory $(OLDEST_VENV)/.installed && \
	  rm -rf $(OLDEST_BUILD)/wheel && \
	  $(PY) -m pip wheel --quiet --disable-pip-version-check --no-build-isolation --no-deps -w $(OLDEST_BUILD)/wheel . && \
	  $(OLDEST_VENV)/bin/python -m pip install --quiet --disable-pip-version-check --no-deps --force-reinstall \
	    $(OLDEST_BUILD)/wheel/zelk-*.whl && \
	  $(OLDEST_VENV)/bin/python -c 'import numpy, scipy; print("test-oldest: numpy", numpy.__version__, "scipy", scipy.__version__)' && \
	  cd tests/python && $(abspath $(OLDEST_VENV))/bin/python -m pytest -q -p no:cacheprovider $(OLDEST_TESTS); \
	fi
