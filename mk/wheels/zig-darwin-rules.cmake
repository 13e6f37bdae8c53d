# Python modules on macOS from zig: linked as dylibs, since zig's Mach-O linker crashes on -bundle.
set(CMAKE_SHARED_MODULE_CREATE_C_FLAGS "-shared")
set(CMAKE_SHARED_MODULE_CREATE_CXX_FLAGS "-shared")
