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

# A compiler cache outside the tree, shared by every clone on the machine, so that a warm `make test` compiles
# only what changed: ccache (installed with GoogleTest), which CMake takes from the environment when it first
# configures a build folder. Paths below the tree are made relative, so that clones in other folders share
# the objects (the compiler maps the tree's path away, see CMakeLists.txt). The wheels' zig builds keep zig's
# own cache (mk/wheels/zig-toolchain.cmake).
ifneq ($(shell command -v ccache 2>/dev/null),)
export CMAKE_C_COMPILER_LAUNCHER := ccache
export CMAKE_CXX_COMPILER_LAUNCHER := ccache
ifndef CCACHE_DIR
CCACHE_DIR := $(if $(shell mkdir -p /var/cache/zelk/ccache 2>/dev/null && test -w /var/cache/zelk/ccache && echo y),$\
  /var/cache/zelk/ccache,$(CURDIR)/build/ccache)
endif
export CCACHE_DIR
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
endif

# Further checks that `make test` runs between the C++ tests and pytest on
# the development build; mk/*.mk add to it.
TEST_STEPS :=

demo: install
	$(PY) examples/demo.py
	$(PY) examples/space_time_heat.py
	$(PY) examples/collocation_sdc.py
	$(PY) examples/time_stepping.py

-include mk/*.mk

# The stages of `make test`: GoogleTest and the install first, then three lanes side by side, each running its
# stages one after another (mk/stage_clock.py). Lane A holds the host's interpreters, the checks of their
# wheels and pytest on the development build; lane C the chroot's interpreters, then the sanitizers; lane B
# the rest, the platforms (longest on a fresh machine) and then the fuzzing. The fuzzing and the sanitizers
# both install the reliability tools into .venv, one pip at a time (flock). The run ends with a table of each stage's wall and
# CPU time, also when a stage fails; each stage's output is in build/test-logs/.
# `make test TEST_STAGES="cpp-test typecheck"` runs a few of them, with the table.
TEST_STAGES = gtest install cpp-test $(TEST_STEPS) python-test
TEST_LANE_A = $(filter test-pythons-host wheel-check release-check python-test,$(TEST_STAGES))
TEST_LANE_C = $(filter test-pythons-chroot test-sanitize,$(TEST_STAGES))
TEST_LANE_B = $(filter-out gtest install $(TEST_LANE_A) $(TEST_LANE_C),$(TEST_STAGES))
TEST_TIMES  := build/test-times.tsv
STAGE_CLOCK  = $(PYTHON) mk/stage_clock.py

test:
	@mkdir -p build
	@$(STAGE_CLOCK) run --log $(TEST_TIMES) --make "$(MAKE) --no-print-directory" --first "gtest install" \
	  --lane "$(TEST_LANE_A)" --lane "$(TEST_LANE_B)" --lane "$(TEST_LANE_C)"

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
	@if ! command -v ccache >/dev/null && [ "$$(id -u)" = 0 ]; then \
	  echo "installing ccache"; \
	  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=900 ccache >/dev/null; } || \
	    echo "ccache could not be installed: every build compiles in full"; \
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
