# Benchmarks: the payload routines against plain baselines natively (Google Benchmark) and under Wine
# (a small harness of our own), and the program's start and run against a minimal window program.
set(here ${CMAKE_CURRENT_LIST_DIR})
if(WIN32)
  # Google Benchmark comes from Debian only as a native library, so the Windows side has its own timer loop.
  add_executable(payload_bench_win ${here}/payload_bench_win.cpp ${here}/payload_fixture.cpp)
  target_link_libraries(payload_bench_win PRIVATE is_payload is_base is_resources psapi)
  target_link_options(payload_bench_win PRIVATE -municode)
  internetsetup_headers(payload_bench_win PRIVATE bench)

  add_executable(minimal_window WIN32 ${here}/minimal_window_win.cpp)
  target_link_options(minimal_window PRIVATE -municode -mwindows)

  # The same imports (delay-imported alike), resources, section alignment and start-up routines as
  # InternetSetup.exe around a minimal window; the second one makes none of the calls.
  add_executable(startup_stages WIN32 ${here}/startup_stages_win.cpp)
  add_executable(startup_imports_only WIN32 ${here}/startup_stages_win.cpp)
  target_compile_definitions(startup_imports_only PRIVATE BENCH_IMPORTS_ONLY)
  foreach(model IN ITEMS startup_stages startup_imports_only)
    target_link_libraries(${model} PRIVATE is_update is_payload is_base is_resources wininet urlmon shell32 ole32)
    target_link_options(${model} PRIVATE -municode -mwindows -Wl,--file-alignment=4096)
    internetsetup_delay_load(${model} DLLS version urlmon wininet shell32 ole32)
  endforeach()

  # Writes raw-data resource 2 to the temp folder and opens it with the shell: the offline road's yardstick,
  # with the program's resources and section alignment.
  add_executable(minimal_offline WIN32 ${here}/minimal_offline_win.cpp)
  target_link_libraries(minimal_offline PRIVATE is_resources shell32)
  target_link_options(minimal_offline PRIVATE -municode -mwindows -Wl,--file-alignment=4096)

  add_executable(run_timer_win ${here}/run_timer_win.cpp)
  target_link_libraries(run_timer_win PRIVATE urlmon ole32)
  target_link_options(run_timer_win PRIVATE -municode)
  internetsetup_headers(run_timer_win PRIVATE bench)

  set_target_properties(payload_bench_win minimal_window minimal_offline startup_stages startup_imports_only run_timer_win PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
else()
  find_package(benchmark REQUIRED)
  add_executable(payload_bench ${here}/payload_bench.cpp ${here}/payload_fixture.cpp)
  target_link_libraries(payload_bench PRIVATE is_payload is_base benchmark::benchmark)
  internetsetup_headers(payload_bench PRIVATE bench)
  # The baselines get the compiler's best (its vectorised byte sum needs -O3 with GCC 12), whatever
  # the preset's level for the routines.
  set_source_files_properties(${here}/payload_bench.cpp PROPERTIES COMPILE_OPTIONS -O3)
endif()
