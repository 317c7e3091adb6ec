# internetsetup_add_fuzzer(NAME SOURCES ... LIBS ... [ARGS ...]): one libFuzzer target and one ctest entry
# (label "fuzz") that runs it for INTERNETSETUP_FUZZ_SECONDS with a fixed seed, starting from the committed
# corpus tests/fuzz/corpus/NAME. New inputs go to a scratch folder in the build tree, never into the
# committed corpus; a crash leaves its input in build/fuzz/artifacts.

set(INTERNETSETUP_FUZZ_SECONDS 8 CACHE STRING "Seconds each fuzz target runs under ctest")
set(INTERNETSETUP_FUZZ_SEED 1 CACHE STRING "libFuzzer -seed of the ctest runs")

if(NOT TARGET fuzzers)
  add_custom_target(fuzzers)
endif()

function(internetsetup_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ARGS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  internetsetup_headers(${name} PRIVATE tests/fuzz)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzzers ${name})

  set(corpus ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
  if(NOT IS_DIRECTORY ${corpus})
    message(FATAL_ERROR "fuzz target ${name} has no committed corpus at ${corpus}")
  endif()
  add_test(NAME fuzz.${name}
    COMMAND ${PROJECT_SOURCE_DIR}/cmake/run-fuzzer.sh $<TARGET_FILE:${name}> ${corpus}
            ${CMAKE_BINARY_DIR}/fuzz-scratch/${name} ${CMAKE_BINARY_DIR}/artifacts
            -max_total_time=${INTERNETSETUP_FUZZ_SECONDS} -seed=${INTERNETSETUP_FUZZ_SEED} ${ARG_ARGS})
  math(EXPR timeout "${INTERNETSETUP_FUZZ_SECONDS} * 4 + 60")
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT ${timeout})
endfunction()
