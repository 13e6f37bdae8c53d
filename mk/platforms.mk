# The bit-exact results on other toolchains and machines (`make test-platforms`,
# a step of `make test`):
#   clang++ with libc++ (the macOS toolchain): the core's GoogleTest suite. The
#     pytest suite on a clang++/libc++ extension is the release wheels' run (zig
#     links LLVM's libc++ in): `make platform-clang-python` repeats it with
#     Debian's clang, outside `make test`;
#   aarch64: the core's GoogleTest suite cross-built with GCC, run under qemu-user;
#   Windows x64: the same cross-built with mingw-w64, run under wine64;
#   macOS x86-64 and arm64: both extension modules compiled and linked with zig
#     (the wheels' compiler), not run; their exports are checked.
# Every build is warning-free (-Werror) with the project's own flags. Missing
# tools are installed with apt-get; one that cannot be had is skipped with a
# line saying why. GoogleTest is built from Debian's sources by each compiler.

PLAT_BUILD    := build/platforms
PLAT_GTEST    := /usr/src/googletest
PLAT_CLANG    := 19
PLAT_WINE     := /usr/lib/wine/wine64
# Off the tree: a wine prefix links z: to /, which tree walkers (the sdist) would follow.
PLAT_WINE_PREFIX := /var/cache/zelk/wine-prefix
PLAT_WINE_ENV := WINEPREFIX=$(PLAT_WINE_PREFIX) WINEDEBUG=-all
PLAT_CMAKE     = $(VENV)/bin/cmake -Wno-deprecated -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
  -DZELK_BUILD_TESTS=ON -DZELK_GTEST_SOURCE_DIR=$(PLAT_GTEST)
PLAT_LIBCXX   := -stdlib=libc++
# Debian's libc++ brings LLVM's libunwind, while glibc ends threads (pthread_exit
# at interpreter shutdown) through libgcc_s's unwinder: two unwinders in one
# process crash there. libgcc_s first among the extension's libraries makes it
# the one every library binds to.
PLAT_MODULE_LINK := $(PLAT_LIBCXX) -Wl,--push-state,--no-as-needed,-lgcc_s,--pop-state

.PHONY: test-platforms platform-clang platform-clang-python platform-aarch64 platform-windows platform-macos

TEST_STEPS += test-platforms

test-platforms: platform-clang platform-aarch64 platform-windows platform-macos

# platform_tools(name, check command, apt packages[, step]): true if the check passes,
# after installing the packages when it does not; otherwise says why (as `step`,
# test-platforms by default) and is false.
define platform_tools
{ { $(2); } >/dev/null 2>&1 || { \
    echo "installing $(3)"; \
    { apt-get update -qq -o DPkg::Lock::Timeout=900 && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        -o DPkg::Lock::Timeout=900 --no-install-recommends $(3); } >$(PLAT_BUILD)/apt-$(1).log 2>&1; \
    { $(2); } >/dev/null 2>&1; } || \
  { echo "$(or $(4),test-platforms): SKIPPED $(1): could not install $(3) (see $(PLAT_BUILD)/apt-$(1).log)"; false; }; }
endef

# platform_build(dir, cmake arguments): configure (once) and build the C++ tests there.
define platform_build
$(PLAT_CMAKE) -S . -B $(PLAT_BUILD)/$(1) $(2) >/dev/null && \
$(VENV)/bin/cmake --build $(PLAT_BUILD)/$(1) -j $(JOBS) --target zelk_core_tests
endef

$(PLAT_BUILD):
	mkdir -p $@

platform-clang: gtest $(TOOLS) | $(PLAT_BUILD)
	@if $(call platform_tools,clang,test -f /usr/lib/llvm-$(PLAT_CLANG)/include/c++/v1/source_location && \
	    command -v clang++-$(PLAT_CLANG),clang-$(PLAT_CLANG) libc++-$(PLAT_CLANG)-dev libc++abi-$(PLAT_CLANG)-dev); then \
	  set -e; \
	  $(call platform_build,clang,-DCMAKE_C_COMPILER=clang-$(PLAT_CLANG) -DCMAKE_CXX_COMPILER=clang++-$(PLAT_CLANG) \
	    "-DCMAKE_CXX_FLAGS=$(PLAT_LIBCXX) -Werror" -DCMAKE_EXE_LINKER_FLAGS=$(PLAT_LIBCXX) \
	    "-DCMAKE_MODULE_LINKER_FLAGS=$(PLAT_MODULE_LINK)" -DZELK_BUILD_EXTENSION=ON -DPython_EXECUTABLE=$(abspath $(PY))); \
	  echo "clang++-$(PLAT_CLANG) + libc++, x86-64:"; \
	  $(PLAT_BUILD)/clang/zelk_core_tests --gtest_brief=1; \
	fi

# The suite's subprocesses inherit PYTHONPATH, so they load the clang build too
# (zelk, and zelk_arrays with its native module); the probe fails if the
# interpreter would pick up any other. Without numpy the zelk_arrays tests skip.
platform-clang-python: platform-clang install
	@if [ -f $(PLAT_BUILD)/clang/build.ninja ]; then \
	  set -e; \
	  $(VENV)/bin/cmake --build $(PLAT_BUILD)/clang -j $(JOBS) --target zelk zelk_arrays_package; \
	  PYTHONPATH=$(abspath $(PLAT_BUILD))/clang $(PY) -c 'import sys, importlib, importlib.util; \
	    names = ["zelk"] + (["zelk_arrays._native"] if importlib.util.find_spec("numpy") else []); \
	    len(names) > 1 or print("zelk_arrays: numpy is missing, its tests skip"); \
	    files = [importlib.import_module(name).__file__ for name in names]; \
	    other = [f for f in files if not f.startswith("$(abspath $(PLAT_BUILD))/clang/")]; \
	    ok = not other and "libc++.so" in open("/proc/self/maps").read(); \
	    print("pytest against", *files) if ok else sys.exit(f"{other or files} not the clang++/libc++ build")'; \
	  PYTHONPATH=$(abspath $(PLAT_BUILD))/clang $(PY) -m pytest -q -p no:cacheprovider tests/python; \
	fi

platform-aarch64: gtest $(TOOLS) | $(PLAT_BUILD)
	@if $(call platform_tools,aarch64,command -v aarch64-linux-gnu-g++ && command -v qemu-aarch64,\
	    g++-aarch64-linux-gnu qemu-user); then \
	  set -e; \
	  $(call platform_build,aarch64,-DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
	    -DCMAKE_C_COMPILER=aarch64-linux-gnu-gcc -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++ -DCMAKE_CXX_FLAGS=-Werror); \
	  echo "g++ aarch64 under qemu-user:"; \
	  QEMU_LD_PREFIX=/usr/aarch64-linux-gnu qemu-aarch64 $(PLAT_BUILD)/aarch64/zelk_core_tests --gtest_brief=1; \
	fi

# Linked statically, so that wine needs none of the compiler's DLLs; the posix
# thread model gives GoogleTest its std::mutex.
platform-windows: gtest $(TOOLS) | $(PLAT_BUILD)
	@if $(call platform_tools,windows,command -v x86_64-w64-mingw32-g++-posix && test -x $(PLAT_WINE),\
	    g++-mingw-w64-x86-64 wine64); then \
	  set -e; \
	  $(call platform_build,windows,-DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=AMD64 \
	    -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix \
	    -DCMAKE_CXX_FLAGS=-Werror -DCMAKE_EXE_LINKER_FLAGS=-static); \
	  echo "mingw-w64 g++, Windows x64 under wine64:"; \
	  mkdir -p $(PLAT_WINE_PREFIX); \
	  $(PLAT_WINE_ENV) $(PLAT_WINE) $(PLAT_BUILD)/windows/zelk_core_tests.exe --gtest_brief=1; \
	  $(PLAT_WINE_ENV) /usr/lib/wine/wineserver -w; \
	fi

# Never run, so compiled without optimisation (build type None: no -O3), in about half the time; the
# warnings that -Werror turns into errors come from clang's front end at any level.
# Linked as dylibs (zig crashes on -bundle), with the host interpreter's headers (only the linking
# conventions differ on macOS). zig ignores the export list there, so libc++'s symbols stay exported beside
# PyInit_: macho_exports.py checks that nothing else of C++ is.
# The wheels' zig, kept outside the tree with its cache (mk/wheels/zig.sh).
PLAT_ZIG = $(shell mk/wheels/zig.sh $(VENV))
PLAT_ZIG_CACHE = $(if $(wildcard $(dir $(PLAT_ZIG))../zig-cache),$(abspath $(dir $(PLAT_ZIG))../zig-cache),$(abspath build/zig-cache))
platform-macos: $(TOOLS) | $(PLAT_BUILD)
	@set -e; for arch in x86_64 aarch64; do \
	  dir=$(PLAT_BUILD)/macos-$$arch; \
	  ZIG_GLOBAL_CACHE_DIR=$(PLAT_ZIG_CACHE) $(PLAT_CMAKE) -S . -B $$dir -DZELK_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=None \
	    -DCMAKE_TOOLCHAIN_FILE=$(abspath mk/wheels/zig-toolchain.cmake) -DZELK_ZIG=$(PLAT_ZIG) \
	    -DZELK_ZIG_TARGET=$$arch-macos -DCMAKE_CXX_FLAGS=-Werror -DZELK_BUILD_EXTENSION=ON \
	    -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null; \
	  ZIG_GLOBAL_CACHE_DIR=$(PLAT_ZIG_CACHE) $(VENV)/bin/cmake --build $$dir -j $(JOBS) --target zelk zelk_arrays_native; \
	  echo "zig c++, macOS $$arch (built and linked, not run):"; \
	  $(PY) mk/wheels/macho_exports.py $$dir/zelk*.so $$dir/zelk_arrays/_native*.so; \
	done
