# The Windows cross build: GoogleTest compiled from Debian's sources with the
# cross compiler, and test programs run under Wine through scripts/wine-run.
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
# The C runtime's reentrant time functions (localtime_r) are declared only on request.
add_compile_definitions(_POSIX_THREAD_SAFE_FUNCTIONS=200112L)
