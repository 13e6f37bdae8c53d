# The C++ timing of the core that benchmarks/bench_legendre.py takes as its
# floor; built apart from the extension (which never contains it), with the
# same release flags.
#
#   make bench                       report every figure and goal, exit 0
#   make bench BENCH_FLAGS=--check   exit non-zero when a goal is missed

BENCH_BUILD := build/bench
BENCH_FLAGS ?=
CORE_TIMING := $(abspath $(BENCH_BUILD))/zelk_core_timing

.PHONY: bench-core

bench-core: $(TOOLS)
	$(VENV)/bin/cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	  -DCMAKE_BUILD_TYPE=Release -DZELK_BUILD_BENCHMARKS=ON -DZELK_BUILD_EXTENSION=OFF >/dev/null
	$(VENV)/bin/cmake --build $(BENCH_BUILD) --target zelk_core_timing -j $(JOBS)
