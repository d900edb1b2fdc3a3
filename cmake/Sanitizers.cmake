# The sanitizer builds. BRACKENVALE_SANITIZE builds every target with AddressSanitizer (leak
# checks included) and UndefinedBehaviorSanitizer; the first report ends the process, so a test
# that provokes one fails. BRACKENVALE_BUILD_FUZZ (clang only) adds libFuzzer's coverage
# instrumentation to the same build, for the fuzz targets under fuzz/.
#
# Included before any target is made, so that every library and program gets the same flags.

if(BRACKENVALE_BUILD_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "The fuzz targets need clang (libFuzzer); use the \"fuzz\" preset.")
endif()

if(BRACKENVALE_SANITIZE OR BRACKENVALE_BUILD_FUZZ)
  if(MSVC OR WIN32)
    message(FATAL_ERROR "The sanitizer builds are native POSIX builds.")
  endif()
  set(BV_SANITIZERS address,undefined)
  # -fno-sanitize-recover: an undefined operation stops the process instead of printing a line
  # that a passing test would hide. Frame pointers keep the reports' stacks whole.
  add_compile_options(-fsanitize=${BV_SANITIZERS} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${BV_SANITIZERS})
  # GCC's flow analysis sees the sanitizers' checks as paths on which a value may be unset, and
  # warns inside libstdc++ (<regex>, <functional>); the normal build keeps this warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  if(BRACKENVALE_BUILD_FUZZ)
    # Coverage for libFuzzer in every library; only the fuzz targets link libFuzzer's main().
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
endif()
