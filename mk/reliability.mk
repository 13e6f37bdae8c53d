# Reliability checks: the C++ tests and the pytest suite under ASan+UBSan, the
# fuzz harness of tests/fuzz (plain and sanitized), and the C++ tests under
# valgrind's memcheck.
#
#   make test-sanitize            sanitized build; C++ tests, 60 s fuzzing, pytest
#   make fuzz [FUZZ_SECONDS=600]  fuzz the installed module (corpus kept in build/)
#   make fuzz-sanitize [FUZZ_SECONDS=600]   the same against the sanitized build
#   make fuzz FUZZ_INPUT=<file>   replay one input, e.g. a crash-* file a run left
#   make test-valgrind            C++ tests under memcheck, zero errors, no leaks
# `make test` runs 60 s of fuzzing (fuzz-smoke) and test-sanitize before pytest.

SAN_BUILD   := build/sanitize
VG_BUILD    := build/valgrind
FUZZ_DIR    := build/reliability-fuzz
REL_TOOLS   := $(VENV)/.reliability-tools-installed
FUZZ_SECONDS ?= 600
SMOKE_FUZZ_SECONDS := 60
# The sanitizer runtimes must be the ones of the compiler that builds the code.
REL_CXX     ?= g++
CMAKE_GEN   := -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja -DCMAKE_CXX_COMPILER=$(REL_CXX)

# Both tools replace operator new with one that ends the process when memory
# cannot be had; the preloaded shim turns that back into std::bad_alloc (see
# tests/reliability/throwing_operator_new.cpp), so the MemoryError tests run.
SHIM_SRC    := tests/reliability/throwing_operator_new.cpp
SAN_SHIM    := $(abspath $(SAN_BUILD))/libthrowing_operator_new.so
VG_SHIM     := $(abspath $(VG_BUILD))/libthrowing_operator_new.so

# allocator_may_return_null lets the shim see a failed allocation;
# max_allocation_size_mb makes any request above 16 GiB (more than the
# machine can give) such a failure; the shim is preloaded before the ASan
# runtime, which is harmless as it defines no malloc of its own.
ASAN_BASE   := allocator_may_return_null=1:max_allocation_size_mb=16384:verify_asan_link_order=0:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
SAN_ENV     := UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
SAN_CPP_ENV := $(SAN_ENV) ASAN_OPTIONS=$(ASAN_BASE):detect_leaks=1 LD_PRELOAD=$(SAN_SHIM)
# The interpreter itself keeps objects alive until exit by design, so leak
# detection is off for it; PYTHONMALLOC=malloc lets ASan see every Python
# object, so a reference-count fault becomes a use-after-free report.
SAN_PY_ENV   = $(SAN_ENV) ASAN_OPTIONS=$(ASAN_BASE):detect_leaks=0 \
  LD_PRELOAD="$(SAN_SHIM) $$($(REL_CXX) -print-file-name=libasan.so)" \
  PYTHONMALLOC=malloc PYTHONPATH=$(abspath $(SAN_BUILD))

# somalloc=nouserintercepts: valgrind replaces the allocators of libc and
# libstdc++ only, not the shim's operator new, which calls its nothrow form.
VALGRIND    := valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
  --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
  --track-origins=yes --soname-synonyms=somalloc=nouserintercepts --trace-children=yes

.PHONY: test-sanitize sanitize-build sanitize-probe sanitize-cpp-test sanitize-fuzz-smoke sanitize-python-test \
  fuzz fuzz-sanitize fuzz-smoke test-valgrind valgrind-tool

# The sanitized run is part of `make test`, so CI (which runs only `make test`) covers it.
TEST_STEPS += fuzz-smoke test-sanitize

$(REL_TOOLS): requirements-reliability.txt $(TOOLS)
	flock $(VENV)/.pip.lock $(PY) -m pip install --quiet --disable-pip-version-check -r requirements-reliability.txt
	touch $@

# valgrind also brings valgrind.h, which the shim needs to run under it.
valgrind-tool: gtest
	@if ! command -v valgrind >/dev/null || [ ! -f /usr/include/valgrind/valgrind.h ]; then \
	  echo "installing valgrind"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind >/dev/null; \
	fi

# ---- sanitizers ------------------------------------------------------------

test-sanitize: sanitize-cpp-test sanitize-fuzz-smoke sanitize-python-test

# -O1 with line tables only: the sanitizers' usual level, where reports still
# name file and line; it compiles in half the time of -O2 -g, most of this stage.
SAN_OPT := "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"

# A configure that changes the compiler drops the cache and with it our
# options; so the options are checked, and a wrong cache starts over.
SAN_OPTIONS_SET := ZELK_SANITIZE:BOOL=ON ZELK_BUILD_TESTS:BOOL=ON ZELK_BUILD_EXTENSION:BOOL=ON
sanitize-build: $(REL_TOOLS) gtest
	@for option in $(SAN_OPTIONS_SET); do \
	  grep -qx "$$option" $(SAN_BUILD)/CMakeCache.txt 2>/dev/null || { rm -rf $(SAN_BUILD); break; }; \
	done
	$(VENV)/bin/cmake -S . -B $(SAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(SAN_OPT) -DZELK_SANITIZE=ON \
	  -DZELK_BUILD_TESTS=ON -DZELK_BUILD_EXTENSION=ON -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	@for option in $(SAN_OPTIONS_SET); do \
	  grep -qx "$$option" $(SAN_BUILD)/CMakeCache.txt || { echo "$(SAN_BUILD): $$option did not take"; exit 1; }; \
	done
	$(VENV)/bin/cmake --build $(SAN_BUILD) -j $(JOBS)
	$(REL_CXX) -std=c++20 -O2 -Wall -Wextra -Werror -shared -fPIC -Wl,-soname,libthrowing_operator_new.so \
	  $(SHIM_SRC) -o $(SAN_SHIM) -ldl

# Fails loudly, before any test, if the suite would not test the sanitized
# build or if an impossible allocation would end the process instead of raising.
sanitize-probe: sanitize-build
	$(SAN_PY_ENV) $(PY) tests/reliability/sanitized_probe.py $(abspath $(SAN_BUILD))

sanitize-cpp-test: sanitize-probe
	$(SAN_CPP_ENV) $(SAN_BUILD)/zelk_core_tests --gtest_brief=1

sanitize-fuzz-smoke: sanitize-probe
	@$(call run_fuzz,$(SAN_PY_ENV),$(SMOKE_FUZZ_SECONDS),$(FUZZ_DIR)/sanitize-smoke,)

sanitize-python-test: sanitize-probe
	$(SAN_PY_ENV) $(PY) -m pytest -q -rs -p no:cacheprovider tests/python

# ---- fuzzing ---------------------------------------------------------------

# run_fuzz(env, seconds, work dir, corpus dir): libFuzzer's own output and the
# module's fault diagnostics go to a log; on a finding its tail is shown.
define run_fuzz
mkdir -p $(3) $(4); \
echo "fuzzing for $(2) s, log in $(3)/fuzz.log"; \
if $(1) $(PY) tests/fuzz/fuzz_zelk.py -max_total_time=$(2) -timeout=60 -rss_limit_mb=4096 \
     -malloc_limit_mb=4096 -print_final_stats=1 -artifact_prefix=$(abspath $(3))/ $(4) \
     >$(3)/fuzz.log 2>&1; then \
  grep -E '^(fuzzing |Done |stat::number_of_executed_units|stat::peak_rss_mb)' $(3)/fuzz.log; \
else \
  echo "FUZZ FINDING (exit $$?): last lines of $(3)/fuzz.log:"; tail -n 60 $(3)/fuzz.log; exit 1; \
fi
endef

fuzz-smoke: install $(REL_TOOLS)
	@$(call run_fuzz,,$(SMOKE_FUZZ_SECONDS),$(FUZZ_DIR)/smoke,)

# FUZZ_INPUT=<crash file> replays one input instead of fuzzing the corpus.
FUZZ_CORPUS = $(or $(FUZZ_INPUT),$(FUZZ_DIR)/corpus)

fuzz: install $(REL_TOOLS)
	@$(call run_fuzz,,$(FUZZ_SECONDS),$(FUZZ_DIR)/plain,$(FUZZ_CORPUS))

fuzz-sanitize: sanitize-probe
	@$(call run_fuzz,$(SAN_PY_ENV),$(FUZZ_SECONDS),$(FUZZ_DIR)/sanitize,$(FUZZ_CORPUS))

# ---- valgrind --------------------------------------------------------------

# The shim is preloaded through env so that only the tested program loads it.
test-valgrind: valgrind-tool $(TOOLS)
	$(VENV)/bin/cmake -S . -B $(VG_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DZELK_BUILD_TESTS=ON -DZELK_BUILD_EXTENSION=OFF >/dev/null
	$(VENV)/bin/cmake --build $(VG_BUILD) -j $(JOBS)
	$(REL_CXX) -std=c++20 -O2 -Wall -Wextra -Werror -shared -fPIC -Wl,-soname,libthrowing_operator_new.so \
	  $(SHIM_SRC) -o $(VG_SHIM) -ldl
	rm -f $(VG_BUILD)/memcheck.*.log
	$(VALGRIND) --log-file=$(VG_BUILD)/memcheck.%p.log env LD_PRELOAD=$(VG_SHIM) $(VG_BUILD)/zelk_core_tests \
	  --gtest_brief=1 || { cat $(VG_BUILD)/memcheck.*.log; exit 1; }
	@grep -h -E 'ERROR SUMMARY|in use at exit|definitely lost' $(VG_BUILD)/memcheck.*.log
