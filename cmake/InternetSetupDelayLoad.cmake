# internetsetup_delay_load(TARGET DLLS name...): TARGET imports the named system DLLs only at their first
# use, through base/safe_dll_loading_win.cpp, which loads them from the system folder alone; the
# program's own folder, where anyone could drop a version.dll, is never searched for them.
#
# For each name, cmake/delay_load/NAME.def lists the functions the program takes from that DLL, and
# dlltool makes a delay-import library of it under the link name of the ordinary import library
# (libNAME.a). Its folder goes first on TARGET's library path, so every "-lNAME" on TARGET's link line,
# whichever room asked for it, links the delay-import library. A function missing from the .def shows
# as "undefined reference to __imp_Function" at link time: add it there.
#
# internetsetup_check_imports(TARGET ALLOW name...): a test that reads TARGET's import table with
# objdump and fails when it names a DLL outside ALLOW (case does not matter).

set(INTERNETSETUP_DELAY_LOAD_DIR ${CMAKE_CURRENT_LIST_DIR}/delay_load)

# The DLLs that Windows always maps from its own KnownDLLs list, never from a search, and ntdll, which
# the system maps into every process before any other: the only ones the program may import the
# ordinary way.
set(INTERNETSETUP_KNOWN_DLLS ntdll kernel32 user32 gdi32 msvcrt ole32 oleaut32 shell32 shlwapi advapi32 comdlg32
    imm32 rpcrt4 sechost setupapi shcore combase ws2_32 psapi)

function(internetsetup_delay_load target)
  cmake_parse_arguments(ARG "" "" "DLLS" ${ARGN})
  set(dir ${CMAKE_BINARY_DIR}/delay_load)
  set(libraries)
  foreach(dll IN LISTS ARG_DLLS)
    set(def ${INTERNETSETUP_DELAY_LOAD_DIR}/${dll}.def)
    if(NOT EXISTS ${def})
      message(FATAL_ERROR "internetsetup_delay_load: ${def} is missing (list the functions taken from ${dll}.dll)")
    endif()
    set(library ${dir}/lib${dll}.a)
    if(NOT TARGET internetsetup_delay_lib_${dll})
      add_custom_command(OUTPUT ${library}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        COMMAND ${INTERNETSETUP_DLLTOOL} --input-def ${def} --dllname ${dll}.dll --output-delaylib ${library}
        DEPENDS ${def}
        COMMENT "Delay-import library for ${dll}.dll"
        VERBATIM)
      add_custom_target(internetsetup_delay_lib_${dll} DEPENDS ${library})
    endif()
    add_dependencies(${target} internetsetup_delay_lib_${dll})
    list(APPEND libraries ${library})
  endforeach()
  target_link_directories(${target} BEFORE PRIVATE ${dir})
  # The hook that loads the DLLs from the system folder lives in is_base; pull it in by name, so that
  # the runtime's own hook (which calls plain LoadLibrary) can never be the one linked.
  target_link_libraries(${target} PRIVATE is_base ${ARG_DLLS})
  target_link_options(${target} PRIVATE -Wl,--undefined=__pfnDliNotifyHook2)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${libraries})
endfunction()

function(internetsetup_check_imports target)
  cmake_parse_arguments(ARG "" "" "ALLOW" ${ARGN})
  string(REPLACE ";" "," allowed "${ARG_ALLOW}")
  add_test(NAME ${target}_imports_only_known_dlls
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${INTERNETSETUP_OBJDUMP} -DFILE=$<TARGET_FILE:${target}>
            -DALLOWED=${allowed} -P ${INTERNETSETUP_DELAY_LOAD_DIR}/check_imports.cmake)
  set_tests_properties(${target}_imports_only_known_dlls PROPERTIES LABELS unit TIMEOUT 60)
endfunction()
