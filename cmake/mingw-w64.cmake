# Cross-compiling for 64-bit Windows with mingw-w64 on Debian. The posix thread model compilers
# are used: GoogleTest needs std::mutex and std::thread, which the win32 model lacks. Programs
# are linked statically, so they run without the compiler's DLLs beside them (under Wine too),
# and CTest runs them through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BV_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${BV_MINGW_TRIPLET}-windres)

# Libraries, headers and packages come from the mingw-w64 tree only; programs (the build's own
# tools) always from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${BV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test executables (and gtest_discover_tests) run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/wine)
