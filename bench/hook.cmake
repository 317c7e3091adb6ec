# Read by project() in the bench presets (CMAKE_PROJECT_InternetSetup_INCLUDE): defines the benchmark
# targets at the end of the top-level directory, once every library of the tree exists, so the tree
# itself needs no switch for them.
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL include ${CMAKE_SOURCE_DIR}/bench/targets.cmake)
