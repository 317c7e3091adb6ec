# internetsetup_add_test(NAME SOURCES ... [LIBS ...] [LABELS ...]): one gtest executable, one ctest entry.
# Cross builds run it through CMAKE_CROSSCOMPILING_EMULATOR (Wine); only the NAME/COMMAND form gets it.

# The code under test keeps the build's optimisation; the tests' own code is compiled without it in the
# Release cross build, where it is most of the compile time and gains nothing by it. googletest keeps
# it: unoptimised, its thousands of separate function sections make every test's link take 3 s
# instead of 0.4 s.
if(CMAKE_CROSSCOMPILING)
  set(INTERNETSETUP_TEST_CODE_OPTIONS $<$<COMPILE_LANGUAGE:CXX>:-O0>)
else()
  set(INTERNETSETUP_TEST_CODE_OPTIONS "")
endif()

if(CMAKE_CROSSCOMPILING)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  endif()
  set(INTERNETSETUP_GTEST_LIBS gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  set(INTERNETSETUP_GTEST_LIBS GTest::gtest GTest::gtest_main)
endif()

# internetsetup_use_test_pch(TARGET): TARGET's files start from the one precompiled <gtest/gtest.h> of
# the build (is_test_pch, tests/support); parsing it is about a second of every test file's compile. The
# tests share the build's options, so the one header fits them all (a compiler that finds it does not
# fit reads the header instead).
function(internetsetup_use_test_pch target)
  target_precompile_headers(${target} REUSE_FROM is_test_pch)
endfunction()

function(internetsetup_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} is_test_headers ${INTERNETSETUP_GTEST_LIBS})
  target_compile_options(${name} PRIVATE ${INTERNETSETUP_TEST_CODE_OPTIONS})
  internetsetup_use_test_pch(${name})
  add_test(NAME ${name} COMMAND ${name})
  set(labels unit ${ARG_LABELS})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${ARG_TIMEOUT})
endfunction()
