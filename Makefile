# Set-up, build and test entry points. Everything the project needs is
# installed from here: a virtual environment in .venv with the Python tools,
# and GoogleTest from Debian's libgtest-dev for the C++ tests.

PYTHON ?= python3
VENV   := .venv
PY     := $(VENV)/bin/python
TOOLS  := $(VENV)/.tools-installed
CPP_BUILD := build/cpp
JOBS   ?= $(shell nproc 2>/dev/null || echo 2)
GTEST_HEADER ?= /usr/include/gtest/gtest.h

.PHONY: demo test install cpp-test python-test bench gtest clean

# Further checks that `make test` runs between the C++ tests and pytest
# (pytest stays last, so its summary closes the output); mk/*.mk add to it.
TEST_STEPS :=

demo: install
	$(PY) examples/demo.py
	$(PY) examples/space_time_heat.py
	$(PY) examples/collocation_sdc.py
	$(PY) examples/time_stepping.py

-include mk/*.mk

test: gtest install cpp-test $(TEST_STEPS) python-test

$(PY):
	$(PYTHON) -m venv $(VENV)

$(TOOLS): requirements-dev.txt | $(PY)
	$(PY) -m pip install --quiet --disable-pip-version-check -r requirements-dev.txt
	touch $@

# Builds the extension (incrementally, in build/) and installs it into .venv.
install: $(TOOLS)
	$(PY) -m pip install --quiet --disable-pip-version-check --no-build-isolation .

# Without root it cannot be installed from here: stop with one line saying how.
gtest:
	$(if $(wildcard $(GTEST_HEADER)),,$(if $(filter-out 0,$(shell id -u)),$(error GoogleTest is missing: \
	  install the Debian package libgtest-dev with: sudo apt-get install libgtest-dev)))
	@if [ ! -f $(GTEST_HEADER) ]; then \
	  echo "installing GoogleTest (libgtest-dev)"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=900 libgtest-dev >/dev/null; \
	fi

cpp-test: gtest $(TOOLS)
	$(VENV)/bin/cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	  -DZELK_BUILD_TESTS=ON -DZELK_BUILD_EXTENSION=OFF >/dev/null
	$(VENV)/bin/cmake --build $(CPP_BUILD) -j $(JOBS)
	$(VENV)/bin/ctest --test-dir $(CPP_BUILD) --output-on-failure -j $(JOBS)

python-test: install
	$(PY) -m pytest -q tests/python

bench: install bench-core
	@for b in benchmarks/*.py; do echo "== $$b"; ZELK_CORE_TIMING=$(CORE_TIMING) $(PY) $$b $(BENCH_FLAGS) || exit 1; done

clean:
	rm -rf build dist
