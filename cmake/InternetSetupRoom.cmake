# internetsetup_room(LIB [DEPS ...] [WIN32_LIBS ...] [POSIX_LIBS ...]): the static library of one room of the tree.
# Portable sources are foo.cpp; Win32 ones foo_win.cpp (cross build only); stand-ins off Windows
# foo_posix.cpp (native build only). Tests beside them follow the same rule: foo_test.cpp runs on both
# sides, foo_win_test.cpp under Wine only, foo_posix_test.cpp natively only. main*.cpp belong to programs.
# The room's headers are seen by the room and by what links it, nothing else (internetsetup_headers).
function(internetsetup_room lib)
  cmake_parse_arguments(ARG "" "" "DEPS;WIN32_LIBS;POSIX_LIBS;TEST_LIBS" ${ARGN})
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(sources ${all})
  list(FILTER sources EXCLUDE REGEX "(_test\\.cpp|/main[^/]*\\.cpp)$")
  set(tests ${all})
  list(FILTER tests INCLUDE REGEX "_test\\.cpp$")
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")
    list(FILTER tests EXCLUDE REGEX "_posix_test\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
    list(FILTER tests EXCLUDE REGEX "_win_test\\.cpp$")
  endif()
  add_library(${lib} STATIC ${sources})
  target_link_libraries(${lib} PUBLIC ${ARG_DEPS})
  internetsetup_headers(${lib} PUBLIC)
  if(WIN32 AND ARG_WIN32_LIBS)
    target_link_libraries(${lib} PUBLIC ${ARG_WIN32_LIBS})
  endif()
  if(NOT WIN32 AND ARG_POSIX_LIBS)
    target_link_libraries(${lib} PUBLIC ${ARG_POSIX_LIBS})
  endif()
  foreach(test IN LISTS tests)
    get_filename_component(name ${test} NAME_WE)
    internetsetup_add_test(${name} SOURCES ${test} LIBS ${lib} ${ARG_TEST_LIBS})
  endforeach()
endfunction()

# internetsetup_headers(TARGET SCOPE [FOLDER]): TARGET (and, PUBLIC or INTERFACE, whatever links it) may
# include FOLDER's headers as "FOLDER/x.h"; FOLDER defaults to the current source folder. Each folder has
# an include root of its own in the build tree holding one link to it, and no target gets the source
# root, so a room that includes a folder it does not link (one above it) fails to compile.
function(internetsetup_headers target scope)
  if(ARGC GREATER 2)
    set(folder ${ARGV2})
  else()
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  string(REPLACE "/" "." root_name ${folder})
  set(root ${CMAKE_BINARY_DIR}/include-roots/${root_name})
  if(NOT IS_SYMLINK ${root}/${folder})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${root})
endfunction()
