# Cross toolchain: Windows x86_64 with mingw-w64 (posix thread model), tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${_triple}-gcc-posix)
find_program(CMAKE_CXX_COMPILER NAMES ${_triple}-g++-posix)
find_program(CMAKE_RC_COMPILER NAMES ${_triple}-windres)
# dlltool makes the delay-import libraries, objdump reads the import table back (cmake/InternetSetupDelayLoad.cmake).
find_program(INTERNETSETUP_DLLTOOL NAMES ${_triple}-dlltool)
find_program(INTERNETSETUP_OBJDUMP NAMES ${_triple}-objdump)
foreach(_tool CMAKE_C_COMPILER CMAKE_CXX_COMPILER CMAKE_RC_COMPILER INTERNETSETUP_DLLTOOL INTERNETSETUP_OBJDUMP)
  if(NOT ${_tool})
    message(FATAL_ERROR "mingw-w64 tool for ${_tool} not found: install g++-mingw-w64-x86-64-posix "
                        "and binutils-mingw-w64-x86-64 (the -posix variant is required for std::thread)")
  endif()
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the cross-built tests through this wrapper (it sets WINEPREFIX and WINEDEBUG).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
