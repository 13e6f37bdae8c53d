# The quick loop while editing, and the habits of the code: lint, format, static analysis.
#
#   make check     lint and format checks (ruff, clang-format), clang-tidy on the core's sources changed since
#                  its last clean pass, the type check, the C++ tests and the fast pytest tests; rewrites
#                  nothing (under 3 minutes once .venv and build/ exist)
#   make format    rewrite the tree in place: ruff's safe fixes (import order, stale suppressions), ruff
#                  format, clang-format
#   make lint      the lint and format checks alone; `make tidy` clang-tidy alone
#
# The tools are pinned in requirements-dev.txt and run from .venv; their settings are in pyproject.toml
# (ruff), .clang-format and .clang-tidy. .pre-commit-config.yaml runs the same on the files of a commit.

RUFF         := $(VENV)/bin/ruff
CLANG_FORMAT := $(VENV)/bin/clang-format
CLANG_TIDY   := $(VENV)/bin/clang-tidy
CXX_FILES     = $(shell git ls-files '*.cpp' '*.hpp' '*.h')
# The numeric core (the zelk_core library), checked against build/cpp's compile database. The other
# platforms' memory limits are compiled only there, so they are left to those builds.
TIDY_BUILD   := build/tidy
TIDY_SOURCES  = $(filter-out %_apple.cpp %_windows.cpp %_other.cpp,$(wildcard $(addprefix src/,$(addsuffix /*.cpp,\
  fault linear_algebra sparse_matrix_tools piecewise_polynomials time_operators vector_units))))
TIDY_HEADERS  = $(wildcard src/*/*.hpp)
# The pytest files that take longest: the leak loops (two thirds of the suite's time), the interpreter-exit and
# Ctrl-C scenarios in subprocesses, and the SDC example's convergence; `make test` runs them all.
SLOW_TESTS := test_leaks.py test_interpreter_exit.py test_interrupts.py test_collocation_sdc.py

.PHONY: check format lint tidy python-fast

check: lint tidy typecheck cpp-test python-fast

lint: $(TOOLS)
	$(RUFF) check --no-fix .
	$(RUFF) format --check .
	@echo "clang-format --dry-run -Werror (every C++ file)"
	@$(CLANG_FORMAT) --dry-run -Werror $(CXX_FILES)

format: $(TOOLS)
	$(RUFF) check --fix-only --quiet .
	$(RUFF) format .
	@echo "clang-format -i (every C++ file)"
	@$(CLANG_FORMAT) -i $(CXX_FILES)

# One stamp per source: a source is checked again when it, a header of src/ or the settings change.
tidy: $(addprefix $(TIDY_BUILD)/,$(TIDY_SOURCES:.cpp=.ok))

$(CPP_BUILD)/compile_commands.json: CMakeLists.txt | $(TOOLS)
	$(VENV)/bin/cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	  -DZELK_BUILD_TESTS=ON -DZELK_BUILD_EXTENSION=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null

# The compile database is order-only: cpp-test's configure rewrites it on every run, with the same commands.
$(TIDY_BUILD)/%.ok: %.cpp $(TIDY_HEADERS) .clang-tidy | $(CPP_BUILD)/compile_commands.json
	$(CLANG_TIDY) -p $(CPP_BUILD) --quiet $<
	@mkdir -p $(@D) && touch $@

python-fast: install
	$(PY) -m pytest -q -x $(addprefix --ignore=tests/python/,$(SLOW_TESTS)) tests/python
