# The built programs as other folders use them: the setup program's definition, and the one way a target
# takes another folder's program or DLL as a file (scripts/check-deps.py tells these apart from code).

# internetsetup_uses_built(TARGET [DEFINES NAME BUILT ...] [BUILDS BUILT ...]): TARGET needs the files of
# the BUILT targets, which may be defined in any folder, before or after it: each NAME becomes the
# definition NAME="path of BUILT's file", and every BUILT is built before TARGET.
function(internetsetup_uses_built target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "DEFINES;BUILDS")
  set(built ${arg_BUILDS})
  while(arg_DEFINES)
    list(POP_FRONT arg_DEFINES name program)
    target_compile_definitions(${target} PRIVATE ${name}="$<TARGET_FILE:${program}>")
    list(APPEND built ${program})
  endwhile()
  add_dependencies(${target} ${built})
endfunction()

if(WIN32)
  # internetsetup_add_setup_program(TARGET OUTPUT_NAME [UPDATE_KEY PEM] [ENDPOINT_HOST HOST:PORT]): the
  # program, checking its version replies with the public key in the PEM file UPDATE_KEY (none when
  # empty), asking ENDPOINT_HOST (INTERNETSETUP_ENDPOINT_HOST when not given). Every copy links the one
  # compiled program (is_app, app/CMakeLists.txt) and compiles only its key and its endpoint.
  function(internetsetup_add_setup_program target output_name)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "UPDATE_KEY;ENDPOINT_HOST" "")
    add_executable(${target} WIN32 ${PROJECT_SOURCE_DIR}/app/program_endpoint.cpp)
    # The resources are objects of their own: an object library's objects reach only the targets that
    # link it directly, so each program links them itself.
    target_link_libraries(${target} PRIVATE is_app is_resources)
    internetsetup_headers(${target} PRIVATE app)
    # Sections aligned to pages in the file let the loader map the 14 MB image instead of copying it.
    target_link_options(${target} PRIVATE -municode -mwindows -Wl,--file-alignment=4096)
    # Only Windows' KnownDLLs are imported at start; the others come from the system folder at first use.
    # shell32, ole32 and oleaut32 are KnownDLLs, delay-imported only to keep their own dependencies out
    # of the start before the window shows.
    internetsetup_delay_load(${target} DLLS version urlmon wininet msimg32 oleacc bcrypt shell32 ole32 oleaut32)
    internetsetup_check_imports(${target} ALLOW ${INTERNETSETUP_KNOWN_DLLS})
    add_test(NAME ${target}_carries_the_installer COMMAND installer-tags show $<TARGET_FILE:${target}>)
    set_tests_properties(${target}_carries_the_installer PROPERTIES
                         PASS_REGULAR_EXPRESSION "InternetSetup program; embedded installer RT_RCDATA 2")
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output_name} RUNTIME_OUTPUT_DIRECTORY
                                               ${CMAKE_BINARY_DIR})
    internetsetup_add_update_key(${target} "${arg_UPDATE_KEY}")
    if(arg_ENDPOINT_HOST)
      target_compile_definitions(${target} PRIVATE "INTERNETSETUP_PROGRAM_ENDPOINT_HOST_W=L\"${arg_ENDPOINT_HOST}\"")
    endif()
  endfunction()
endif()
