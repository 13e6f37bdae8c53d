# Builds with the compiler of PyPI's ziglang, for a target given as ZELK_ZIG_TARGET (x86_64-linux-gnu.2.17,
# aarch64-linux-gnu.2.17, x86_64-macos, aarch64-macos): it brings every target's C library stubs and a C++
# runtime, so wheels built on this host load on glibc 2.17 and on other architectures.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=mk/wheels/zig-toolchain.cmake -DZELK_ZIG=<.../ziglang/zig> -DZELK_ZIG_TARGET=...
#         [-DZELK_ZIG_LIBGCC_S=<the target's libgcc_s.so.1>]    (Linux targets)
#
# CMake wants one program per tool, so each zig tool gets a small wrapper in the build directory.
set(ZELK_ZIG "" CACHE FILEPATH "The zig executable (ziglang's)")
set(ZELK_ZIG_TARGET "" CACHE STRING "zig's target triple, with the glibc version for Linux")
set(ZELK_ZIG_LIBGCC_S "" CACHE FILEPATH "The target's libgcc_s.so.1, the first link input on Linux")
if(NOT ZELK_ZIG OR NOT ZELK_ZIG_TARGET)
  message(FATAL_ERROR "the zig toolchain needs ZELK_ZIG and ZELK_ZIG_TARGET")
endif()
# try_compile projects read this file again: hand them the two settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZELK_ZIG ZELK_ZIG_TARGET ZELK_ZIG_LIBGCC_S)

string(REGEX MATCH "^[^-]+" ZELK_ZIG_ARCH "${ZELK_ZIG_TARGET}")
# For this machine's own architecture it is no cross build: FindPython then asks the interpreter for its
# headers and extension suffix, which it cannot do across (the free-threaded build's are not found otherwise).
if(ZELK_ZIG_TARGET MATCHES "-macos")
  set(CMAKE_SYSTEM_NAME Darwin)
  set(CMAKE_SYSTEM_PROCESSOR ${ZELK_ZIG_ARCH})
  set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/zig-darwin-rules.cmake)
elseif(NOT ZELK_ZIG_ARCH STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR ${ZELK_ZIG_ARCH})
endif()

# zig's own cache keys objects by the build folder, so each interpreter's wheel compiled the whole core
# again. The compiler cache goes in front instead, where there is one (the chroot has its own): it sees only
# the small wrappers below, so it hashes their content, which names zig's path, version and the target, and
# takes them for the clang they run.
unset(ENV{CMAKE_C_COMPILER_LAUNCHER})
unset(ENV{CMAKE_CXX_COMPILER_LAUNCHER})
find_program(ZELK_CCACHE ccache NO_CMAKE_FIND_ROOT_PATH)
set(ZELK_ZIG_LAUNCHER "")
if(ZELK_CCACHE)
  set(ZELK_ZIG_LAUNCHER env CCACHE_COMPILERTYPE=clang CCACHE_COMPILERCHECK=content ${ZELK_CCACHE})
endif()
set(CMAKE_C_COMPILER_LAUNCHER "${ZELK_ZIG_LAUNCHER}" CACHE STRING "" FORCE)
set(CMAKE_CXX_COMPILER_LAUNCHER "${ZELK_ZIG_LAUNCHER}" CACHE STRING "" FORCE)

set(ZELK_ZIG_WRAPPERS ${CMAKE_BINARY_DIR}/zig-tools)
foreach(tool cc c++ ar ranlib)
  set(target_flag "")
  if(tool MATCHES "^c")
    set(target_flag "-target ${ZELK_ZIG_TARGET}")
  endif()
  file(CONFIGURE OUTPUT ${ZELK_ZIG_WRAPPERS}/${tool} CONTENT "#!/bin/sh\nexec '${ZELK_ZIG}' ${tool} ${target_flag} \"$@\"\n")
  file(CHMOD ${ZELK_ZIG_WRAPPERS}/${tool} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
endforeach()
set(CMAKE_C_COMPILER ${ZELK_ZIG_WRAPPERS}/cc)
set(CMAKE_CXX_COMPILER ${ZELK_ZIG_WRAPPERS}/c++)
set(CMAKE_AR ${ZELK_ZIG_WRAPPERS}/ar CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB ${ZELK_ZIG_WRAPPERS}/ranlib CACHE FILEPATH "" FORCE)

if(NOT ZELK_ZIG_TARGET MATCHES "-macos")
  # zig's own unwinder and glibc's pthread_exit (which ends threads at interpreter exit through libgcc_s's) do
  # not mix: libgcc_s as the first link input makes its unwinder the one every library binds to. zig takes
  # neither -lgcc_s (it drops it) nor --push-state, so it is given as a file.
  if(NOT EXISTS "${ZELK_ZIG_LIBGCC_S}")
    message(FATAL_ERROR "a Linux target needs its libgcc_s.so.1 as ZELK_ZIG_LIBGCC_S")
  endif()
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "${ZELK_ZIG_LIBGCC_S}")
  set(CMAKE_MODULE_LINKER_FLAGS_INIT "${ZELK_ZIG_LIBGCC_S}")
endif()

# Headers and libraries of the target come from zig and the interpreter, never from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
