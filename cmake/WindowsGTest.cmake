# GoogleTest for the Windows test programs, built from the sources Debian
# ships in /usr/src/googletest (package googletest) with the same cross
# compiler as qVORK.dll. Included from tests/CMakeLists.txt when WIN32, before
# it looks for GTest, so the targets GTest::gtest and GTest::gtest_main exist.
set(QVORK_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH
    "GoogleTest sources to cross-build for the Windows test programs")
if(NOT EXISTS "${QVORK_GTEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "No GoogleTest sources in ${QVORK_GTEST_SOURCE_DIR}: "
                      "install the Debian package googletest (scripts/windows-install.sh)")
endif()

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(BUILD_SHARED_LIBS OFF)

add_subdirectory("${QVORK_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)

# GoogleTest is not our code: its warnings are not ours to turn into errors,
# and its headers are system headers to the tests, as the installed ones are
# on Linux (so its macros raise no warnings such as -Wdangling-else there).
foreach(qvork_gtest_target gtest gtest_main gmock gmock_main)
  if(TARGET ${qvork_gtest_target})
    target_compile_options(${qvork_gtest_target} PRIVATE -Wno-error)
    get_target_property(qvork_gtest_includes ${qvork_gtest_target} INTERFACE_INCLUDE_DIRECTORIES)
    set_target_properties(${qvork_gtest_target} PROPERTIES
                          INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${qvork_gtest_includes}")
  endif()
endforeach()

# Test discovery would have to start each .exe under Wine while building;
# scripts/windows-tests.sh runs the programs itself, in a Wine prefix of its
# own, so ctest only lists the tests when it is run.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# The test programs (and GoogleTest) are built with light optimisation: they
# build much faster so, and what they test is qVORK.dll, which keeps the
# top-level Release flags. (A variable of this folder: tests/ and below.)
set(CMAKE_CXX_FLAGS_RELEASE "-O1 -DNDEBUG")
set(CMAKE_C_FLAGS_RELEASE "-O1 -DNDEBUG")

# Every test source includes gtest/gtest.h, the bulk of its compile time:
# each test program precompiles it once (about 40% off the tests' build).
target_precompile_headers(gtest INTERFACE <gtest/gtest.h>)
