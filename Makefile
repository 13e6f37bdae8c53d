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

# The stages of `make test`, run one after another in this order; the run closes with a table of each
# stage's wall and CPU time (mk/stage_clock.py), also when a stage fails.
TEST_STAGES = gtest install cpp-test $(TEST_STEPS) python-test
TEST_TIMES  := build/test-times.tsv
STAGE_CLOCK  = $(PYTHON) mk/stage_clock.py $(TEST_TIMES)

test:
	@mkdir -p build && rm -f $(TEST_TIMES)
	@$(MAKE) --no-print-directory test-stages; status=$$?; \
	  [ $$status -eq 0 ] || $(STAGE_CLOCK) mark "(the stage that failed)" $$$$; \
	  $(STAGE_CLOCK) table; exit $$status

# One make for all stages, so that what several need (install) is done once; each stage's mark waits for
# the one before it and for the stage, and takes make's clock ($$PPID is make).
.PHONY: test-stages stage-start $(addprefix stage-done-,$(TEST_STAGES))
stage-start:
	@$(STAGE_CLOCK) mark start $$PPID

define stage_rule
stage-done-$(2): $(1) $(2)
	@$$(STAGE_CLOCK) mark $(2) $$$$PPID
endef
$(foreach i,$(shell seq $(words $(TEST_STAGES))),$(eval $(call stage_rule,$(if $(filter 1,$(i)),stage-start,\
  stage-done-$(word $(shell expr $(i) - 1),$(TEST_STAGES))),$(word $(i),$(TEST_STAGES)))))

test-stages: stage-done-$(lastword $(TEST_STAGES))

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
	  -DZELK_BUILD_TESTS=ON -DZELK_BUILD_EXTENSION=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
	$(VENV)/bin/cmake --build $(CPP_BUILD) -j $(JOBS)
	$(VENV)/bin/ctest --test-dir $(CPP_BUILD) --output-on-failure -j $(JOBS)

python-test: install
	$(PY) -m pytest -q tests/python

bench: install bench-core
	@for b in benchmarks/*.py; do echo "== $$b"; ZELK_CORE_TIMING=$(CORE_TIMING) $(PY) $$b $(BENCH_FLAGS) || exit 1; done

clean:
	rm -rf build dist
